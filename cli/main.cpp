// quire: report commands on storage areas, and `quire area` to manage them.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "commands.h"
#include "console.h"

namespace {

// Exit status of a program that failed (as a report or area command does).
constexpr int kExitFailed = 1;

int run_program(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(quire::cli::program_usage(), stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(quire::cli::program_usage(), stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("quire %s\n", quire::cli::program_version());
    return 0;
  }
  if (std::strcmp(argv[1], "area") == 0) return quire::cli::run_area_command(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "all") == 0) return quire::cli::run_all_command(argc - 1, argv + 1);
  // Options may come before the kind too: the kind is the first word that
  // is neither an option nor the value of a host option that takes one.
  std::vector<char*> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const char* attached = nullptr;
    const quire::cli::HostOption* option = quire::cli::find_host_option(args[i], &attached);
    if (option && option->value && !attached) {
      ++i;
      continue;
    }
    if (args[i][0] == '-') continue;
    char* kind = args[i];
    args.erase(args.begin() + static_cast<long>(i));
    args.insert(args.begin(), kind);
    // `quire --quiet all AREA FOLDER`: host options before `all` are its own.
    if (std::strcmp(kind, "all") == 0)
      return quire::cli::run_all_command(static_cast<int>(args.size()), args.data());
    break;
  }
  return quire::cli::run_report_command_line(static_cast<int>(args.size()), args.data());
}

}  // namespace

// What the program's own work throws (an allocation that fails, the
// command-line parser's setup) ends it with one line on standard error and
// the failure status, not with an abort.
int main(int argc, char** argv) {
  quire::cli::prepare_standard_streams();
  try {
    return run_program(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("quire: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quire: %s\n", e.what());
  } catch (...) {
    std::fputs("quire: an unexpected failure\n", stderr);
  }
  return kExitFailed;
}
