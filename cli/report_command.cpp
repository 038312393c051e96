// `quire KIND [host options] ARG...`: runs the report command dmp_KIND of the
// report library as a host would, with a host window that answers the
// progress message and the stop query.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "quire/plotbase.h"
#include "quire/quire.h"

namespace quire::cli {
namespace {

using ReportCommand = int (*)(int, char**, QuireWindow, int);

volatile sig_atomic_t g_interrupts = 0;

// First Ctrl-C: the next stop query answers "stop". Second: abort at once;
// the output path still holds the previous table, since a table replaces it
// only when complete.
void on_interrupt(int) {
  if (g_interrupts > 0) {
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
    return;
  }
  g_interrupts = 1;
  static const char kMessage[] =
      "\nquire: stopping after the current item (Ctrl-C again to abort)\n";
  ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
}

struct Host {
  long stop_after = 0;  // 0: never stop on our own
  long items_done = 0;  // progress messages received
  std::unique_ptr<ProgressBar> bar;
  bool printed = false;      // a message went out
  bool ended_line = true;    // the last message ended its line
};

intptr_t window_proc(QuireWindow, unsigned int message, uintptr_t wparam, intptr_t lparam,
                     void* context) {
  Host* host = static_cast<Host*>(context);
  switch (message) {
    case QUIRE_MSG_PROGRESS:
      ++host->items_done;
      if (host->bar) host->bar->item_done(static_cast<long>(lparam), static_cast<long>(wparam));
      return 0;
    case QUIRE_MSG_STOP_QUERY:
      if (g_interrupts) return 1;
      return host->stop_after > 0 && host->items_done >= host->stop_after ? 1 : 0;
    default:
      return 0;
  }
}

// Messages of the library go to standard error, on a line of their own when
// the progress bar is showing.
void print_message(const char* text, void* context) {
  Host* host = static_cast<Host*>(context);
  if (!text || !*text) return;
  if (host->bar) host->bar->clear();
  std::fputs(text, stderr);
  std::fflush(stderr);
  host->printed = true;
  host->ended_line = text[std::strlen(text) - 1] == '\n';
}

int usage_error(const char* format, const char* value) {
  std::fputs("quire: ", stderr);
  std::fprintf(stderr, format, value);
  std::fputs("\n", stderr);
  std::fputs(program_usage(), stderr);
  return 2;
}

// Finds the report command of kind in the running program and its libraries.
ReportCommand find_command(const std::string& name) {
  void* self = dlopen(nullptr, RTLD_NOW);
  if (!self) return nullptr;
  void* symbol = dlsym(self, name.c_str());
  return reinterpret_cast<ReportCommand>(symbol);
}

bool parse_count(const char* text, long* out) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != 0 || v < 1) return false;
  *out = v;
  return true;
}

}  // namespace

int run_report_command_line(int argc, char** argv) {
  if (argc < 1 || !argv[0]) return usage_error("%s", "no report kind given");
  std::string kind = argv[0];
  bool valid = !kind.empty() && kind.size() <= 32;
  for (char& c : kind) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') valid = false;
  }
  std::string command_name = "dmp_" + kind;
  ReportCommand command = valid ? find_command(command_name) : nullptr;
  if (!command) return usage_error("unknown report kind '%s'", argv[0]);

  Host host;
  int detailed = 0;
  int progress = isatty(STDERR_FILENO) ? 1 : 0;
  int i = 1;
  for (; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strncmp(a, "--", 2) != 0) break;
    if (std::strcmp(a, "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(a, "--help") == 0) {
      std::fputs(program_usage(), stdout);
      return 0;
    }
    if (std::strcmp(a, "--detailed") == 0) {
      detailed = 1;
    } else if (std::strcmp(a, "--progress") == 0) {
      progress = 1;
    } else if (std::strcmp(a, "--no-progress") == 0) {
      progress = 0;
    } else if (std::strcmp(a, "--stop-after") == 0) {
      if (i + 1 >= argc) return usage_error("%s", "--stop-after needs a number of items");
      if (!parse_count(argv[++i], &host.stop_after))
        return usage_error("--stop-after needs a positive number of items, not '%s'", argv[i]);
    } else if (std::strncmp(a, "--stop-after=", 13) == 0) {
      if (!parse_count(a + 13, &host.stop_after))
        return usage_error("--stop-after needs a positive number of items, not '%s'", a + 13);
    } else {
      return usage_error("unknown option '%s' (report options such as -S come after the host "
                         "options, with a single dash)",
                         a);
    }
  }

  std::vector<char*> args;
  args.push_back(command_name.data());
  for (; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);

  if (progress) host.bar = std::make_unique<ProgressBar>(stderr);
  pb_set_print_handler(print_message, &host);
  QuireWindow window = quire_create_window(window_proc, &host);

  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESTART;  // a list file read from a pipe goes on after Ctrl-C
  sigemptyset(&action.sa_mask);
  g_interrupts = 0;
  sigaction(SIGINT, &action, &previous);

  int result = command(static_cast<int>(args.size()) - 1, args.data(), window, detailed);

  sigaction(SIGINT, &previous, nullptr);
  quire_destroy_window(window);
  pb_set_print_handler(nullptr, nullptr);
  if (host.bar) host.bar->finish();
  if (host.printed && !host.ended_line) std::fputc('\n', stderr);
  return result == 1 ? 0 : 1;
}

}  // namespace quire::cli
