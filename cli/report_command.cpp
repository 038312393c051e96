// `quire KIND [host options] ARG...`: runs the report command dmp_KIND of the
// report library as a host would, with a host window that answers the
// progress message and the stop query, then tells on one line what the run
// did and ends with a status a script can trust.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "count_text.h"
#include "progress.h"
#include "quire/ascii.h"
#include "quire/files/file_replacement.h"
#include "quire/plotbase.h"
#include "quire/quire.h"

namespace quire::cli {

std::span<const ReportKind> report_kinds() {
  // The library's table, in its order.
  static const std::vector<ReportKind> kKinds = [] {
    std::vector<ReportKind> kinds;
    for (int i = 0; const QuireReportKind* kind = quire_report_kind(i); ++i) kinds.push_back(*kind);
    return kinds;
  }();
  return kKinds;
}

namespace {

struct Host {
  std::string kind;           // as typed, in lower case
  const char* item_word = "item";  // the kind's ReportKind::item_word
  long stop_after = 0;        // 0: never stop on our own
  long items_done = 0;        // progress messages received
  long items_total = 0;       // the total the latest progress message gave
  std::unique_ptr<ProgressBar> bar;
};

intptr_t window_proc(QuireWindow, unsigned int message, uintptr_t wparam, intptr_t lparam,
                     void* context) {
  Host* host = static_cast<Host*>(context);
  switch (message) {
    case QUIRE_MSG_PROGRESS:
      ++host->items_done;
      host->items_total = static_cast<long>(wparam);
      if (host->bar) host->bar->item_done(static_cast<long>(lparam), static_cast<long>(wparam));
      return 0;
    case QUIRE_MSG_STOP_QUERY:
      if (InterruptWatch::stop_requested()) return 1;
      return host->stop_after > 0 && host->items_done >= host->stop_after ? 1 : 0;
    default:
      return 0;
  }
}

// Each text the library prints is one message and gets a line of its own.
// A one-line message is prefixed with the program and kind, and with the
// item being handled; the library's error line ("Error %d, %s(%d)") is
// followed by what failed. Texts of several lines (the usage text) go out
// as they are.
void print_message(const char* text, void* context) {
  Host* host = static_cast<Host*>(context);
  if (!text || !*text) return;
  if (host->bar) host->bar->clear();
  size_t length = std::strlen(text);
  bool ends_line = text[length - 1] == '\n';
  size_t body = ends_line ? length - 1 : length;
  bool one_line = std::memchr(text, '\n', body) == nullptr;
  if (one_line) {
    std::fprintf(stderr, "quire %s: ", host->kind.c_str());
    const char* item = quire_current_item();
    if (item && *item) std::fprintf(stderr, "%s %s: ", host->item_word, item);
  }
  std::fwrite(text, 1, body, stderr);
  const char* what = quire_printing_error();
  if (one_line && what && *what) std::fprintf(stderr, ": %s", what);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

// Reads a whole text as a positive count (leading white space allowed).
bool parse_count(const char* text, long* out) {
  if (!text) return false;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  ascii::ScannedInteger n = ascii::scan_integer(text);
  if (n.length == 0 || text[n.length] != 0 || n.out_of_range || n.value < 1) return false;
  *out = static_cast<long>(n.value);
  return true;
}

// What a host option's missing value is, for the usage error.
std::string value_words(const HostOption& option) {
  switch (option.id) {
    case HostOptionId::kStopAfter:
      return "a number of items";
    case HostOptionId::kChanges:
      return "a file name";
    default:
      return std::string("a value ") + option.value;
  }
}

// Checks the command's own arguments (options, area, output path) by the
// command's own reading of them, the whole line or (with
// QUIRE_OPTIONS_ARGUMENTS_ONLY) the arguments read so far. Returns -1 when
// they are good, else prints the usage error and returns its status: a date
// the command refuses is said by the command ("quire mkpc: ..."), anything
// else by the program.
int check_arguments(const std::string& kind, const std::vector<char*>& arguments, const char* changes, int flags) {
  std::string command_name = "dmp_" + kind;
  std::vector<char*> args;
  args.push_back(command_name.data());
  args.insert(args.end(), arguments.begin(), arguments.end());
  args.push_back(nullptr);
  // Room for a message naming two paths of the longest length.
  std::vector<char> why(3 * 4096 + 512);
  const int result = quire_check_report_options(kind.c_str(), static_cast<int>(args.size()) - 1, args.data(),
                                                changes, flags, why.data(), why.size());
  if (result == QUIRE_OPTIONS_ACCEPTED) return -1;
  return usage_error(why.data(), result == QUIRE_OPTIONS_BAD_DATE ? "quire " + kind : "quire");
}

// The lines printed after the run: values cut per column, then the summary.
void print_run_figures(const Host& host, const QuireRunFigures& f, double seconds,
                       const std::string& output, bool quiet) {
  const char* kind = host.kind.c_str();
  for (int i = 0; i < f.columns; ++i) {
    const char* name = "";
    char type = 'C';
    int width = 0;
    int64_t cut = quire_run_column(i, &name, &type, &width);
    if (cut <= 0) continue;
    if (type == 'C')
      std::fprintf(stderr, "quire %s: column %s: %s cut to %d characters\n", kind, name,
                   plural(cut, "value").c_str(), width);
    else
      std::fprintf(stderr, "quire %s: column %s: %s wider than %d characters, written as blanks\n",
                   kind, name, plural(cut, "value").c_str(), width);
  }
  if (quiet) return;
  // A run that stopped before the end says of how many: "10 of 52 markers",
  // the total being the one the progress messages gave.
  std::string items = plural(f.items_seen, host.item_word);
  if ((f.stopped || f.ended_early) && host.items_total > 0)
    items = std::to_string(f.items_seen) + " of " + plural(host.items_total, host.item_word);
  std::string line = "quire " + host.kind + ": " + items + ": " +
                     std::to_string(f.items_read) + " read, " + std::to_string(f.items_reused) +
                     " reused, " + plural(f.rows_written, "row") + ", " +
                     std::to_string(f.items_failed) + " failed";
  char time_text[32];
  std::snprintf(time_text, sizeof time_text, ", %.2f s -> ", seconds);
  line += time_text;
  line += output == "-" ? "standard output" : output;
  std::vector<std::string> why;
  if (f.stopped) why.push_back("stopped");
  if (f.ended_early) why.push_back("ended early");
  if (f.names_missing) why.push_back(plural(f.names_missing, "listed name") + " not in the area");
  if (f.log_lost) why.push_back("changes not logged");
  if (!why.empty()) {
    line += " (incomplete: ";
    for (size_t i = 0; i < why.size(); ++i) line += (i ? ", " : "") + why[i];
    line += ")";
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

int usage_error(const std::string& message, const std::string& who) {
  std::fprintf(stderr, "%s: %s\n", who.c_str(), message.c_str());
  std::fputs("Try 'quire --help' for more information.\n", stderr);
  return kExitUsage;
}

const ReportKind* find_kind(const std::string& name) {
  for (const ReportKind& k : report_kinds()) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

int run_report(const ReportRun& run) {
  Host host;
  host.kind = run.kind->name;
  host.item_word = run.kind->item_word;
  host.stop_after = run.stop_after;
  std::string command_name = std::string("dmp_") + run.kind->name;

  std::vector<std::string> arguments = run.arguments;
  std::vector<char*> args;
  args.push_back(command_name.data());
  for (std::string& a : arguments) args.push_back(a.data());
  args.push_back(nullptr);

  if (run.progress) host.bar = std::make_unique<ProgressBar>(stderr, enable_terminal_sequences());
  pb_set_print_handler(print_message, &host);
  QuireWindow window = quire_create_window(window_proc, &host);
  quire_set_change_feed(run.changes);

  int result = 0;
  double seconds = 0;
  {
    // First Ctrl-C: the next stop query answers "stop". Second: abort at
    // once; the output path still holds the previous table, since a table
    // replaces it only when complete, and the watch hands the signal on to
    // the file layer's handler, which removes the table's temporary file.
    // A caller that runs several kinds holds one watch over all of them.
    std::optional<InterruptWatch> watch;
    if (!run.interrupt_watched) {
      quire::platform::FileReplacement::remove_on_interrupt();
      watch.emplace();
    }
    auto start = std::chrono::steady_clock::now();
    result = run.kind->command(static_cast<int>(args.size()) - 1, args.data(), window, run.detailed);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  quire_destroy_window(window);
  pb_set_print_handler(nullptr, nullptr);
  if (host.bar) host.bar->finish();
  if (result != 1) return kExitFailed;

  QuireRunFigures figures{};
  quire_run_figures(&figures);
  print_run_figures(host, figures, seconds, run.shown_output, run.quiet);
  bool complete = !figures.stopped && !figures.ended_early && figures.names_missing == 0 &&
                  figures.items_failed == 0 && !figures.log_lost;
  return complete ? kExitComplete : kExitIncomplete;
}

int run_report_command_line(int argc, char** argv) {
  if (argc < 1 || !argv[0]) return usage_error("no report kind given");
  // Only options on the line: no word was left to be the kind.
  if (argv[0][0] == '-') {
    const char* attached = nullptr;
    if (std::strncmp(argv[0], "--", 2) == 0 && !find_host_option(argv[0], &attached))
      return usage_error(std::string("unknown option '") + argv[0] + "'");
    return usage_error("no report kind given");
  }
  std::string kind_name = argv[0];
  for (char& c : kind_name) c = ascii::to_lower(c);
  const ReportKind* kind = find_kind(kind_name);
  if (!kind) {
    std::string message = std::string("unknown report kind '") + argv[0] + "'";
    const char* near = nearest_command(kind_name.c_str());
    if (near) message += std::string("; did you mean ") + near + "?";
    return usage_error(message);
  }
  ReportRun run;
  run.kind = kind;

  // Host options (two dashes) anywhere; the command's own arguments (its
  // options of one dash, the area and the output path) in their order, for
  // the command to read. A host option that ends the line early (a usage
  // error, the help) is answered after the arguments before it: the first
  // fault on the line is the one said.
  run.progress = standard_error_is_terminal();
  std::vector<char*> arguments;
  auto fault_before = [&] { return check_arguments(kind_name, arguments, nullptr, QUIRE_OPTIONS_ARGUMENTS_ONLY); };
  auto usage_error_after = [&](const std::string& message) {
    const int status = fault_before();
    return status >= 0 ? status : usage_error(message);
  };
  bool host_options_end = false;
  for (int i = 1; i < argc; ++i) {
    char* a = argv[i];
    if (!host_options_end && std::strncmp(a, "--", 2) == 0) {
      if (std::strcmp(a, "--") == 0) {
        host_options_end = true;
        continue;
      }
      const char* value = nullptr;
      const HostOption* option = find_host_option(a, &value);
      if (!option) return usage_error_after(std::string("unknown option '") + a + "'");
      if (option->value && !value) {
        if (i + 1 >= argc) return usage_error_after(std::string(option->name) + " needs " + value_words(*option));
        value = argv[++i];
      }
      switch (option->id) {
        case HostOptionId::kHelp:
          if (const int status = fault_before(); status >= 0) return status;
          std::fputs(program_usage(), stdout);
          return 0;
        case HostOptionId::kDetailed:
          run.detailed = 1;
          break;
        case HostOptionId::kQuiet:
          run.quiet = true;
          break;
        case HostOptionId::kProgress:
          run.progress = true;
          break;
        case HostOptionId::kNoProgress:
          run.progress = false;
          break;
        case HostOptionId::kStopAfter:
          if (!parse_count(value, &run.stop_after))
            return usage_error_after(std::string("--stop-after needs a positive number of items, not '") + value +
                                     "'");
          break;
        case HostOptionId::kChanges:
          if (*value == '\0') return usage_error_after("--changes needs a file name");
          run.changes = value;
          break;
      }
      continue;
    }
    if (!host_options_end && std::strcmp(a, "-h") == 0) {
      if (const int status = fault_before(); status >= 0) return status;
      std::fputs(program_usage(), stdout);
      return 0;
    }
    arguments.push_back(a);
  }
  if (const int status = check_arguments(kind_name, arguments, run.changes, 0); status >= 0) return status;
  // An accepted line ends with its output path.
  run.shown_output = arguments.back();
  // A table sent to standard output has no previous table and no changes.
  if (run.changes && run.shown_output == "-")
    return usage_error("--changes needs an output file; a table written to standard output has no changes");
  run.arguments.assign(arguments.begin(), arguments.end());
  return run_report(run);
}

}  // namespace quire::cli
