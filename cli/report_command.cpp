// `quire KIND [host options] ARG...`: runs the report command dmp_KIND of the
// report library as a host would, with a host window that answers the
// progress message and the stop query, then tells on one line what the run
// did and ends with a status a script can trust.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "console.h"
#include "progress.h"
#include "quire/ascii.h"
#include "quire/date_option.h"
#include "quire/files/file_replacement.h"
#include "quire/files/file_system.h"
#include "quire/files/output_target.h"
#include "quire/plotbase.h"
#include "quire/quire.h"

namespace quire::cli {

// In the order the usage text lists them.
constexpr ReportKind kReportKinds[] = {
    {"mkhdr", dmp_mkhdr, "marker"}, {"mkpc", dmp_mkpc, "marker"},   {"mkov", dmp_mkov, "marker"},
    {"mksplice", dmp_mksplice, "marker"}, {"mkmc", dmp_mkmc, "marker"}, {"mkmod", dmp_mkmod, "marker"},
    {"model", dmp_model, "model"},  {"ordml", dmp_ordml, "order"},
};

std::span<const ReportKind> report_kinds() { return kReportKinds; }

namespace {

// What the standard output is called when it is the output path.
constexpr const char kStandardOutputPath[] = "/dev/stdout";

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

// Checks one of the command's own options (single dash) before the command
// sees it. Returns an empty text when it is good, else why it is not.
std::string check_report_option(const char* arg) {
  char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
  const char* value = arg + 2;
  switch (letter) {
    case 'S':
    case 'E': {
      // The library's own reading of the date, so that what passes here
      // passes there.
      int32_t bound = 0;
      if (quire::parse_date_time(value, &bound) != 0) return "";
      return std::string(arg) + ": not a date; expected YY/MM/DD[,HH:MM]";
    }
    case 'N':
      if (std::strcmp(value, "0") == 0 || std::strcmp(value, "1") == 0) return "";
      return std::string("-N takes 0 (metric) or 1 (imperial), not '") + value + "'";
    case 'L': {
      if (*value == '\0') return "-L needs a list file, attached: -Lnames.lst";
      std::error_code ec;
      auto status = std::filesystem::status(quire::platform::filesystem_path(value), ec);
      if (ec || !std::filesystem::exists(status))
        return std::string("list file ") + value + ": " +
               (ec ? ec.message() : std::strerror(ENOENT));
      // A pipe is read as it comes (opening it here would wait for its
      // writer); anything else but a regular file would read as no names.
      if (std::filesystem::is_fifo(status)) {
        if (access(value, R_OK) != 0) return std::string("list file ") + value + ": " + std::strerror(errno);
        return "";
      }
      if (!std::filesystem::is_regular_file(status))
        return std::string("list file ") + value + ": not a regular file or a pipe";
      std::FILE* f = std::fopen(value, "r");
      if (!f) return std::string("list file ") + value + ": " + std::strerror(errno);
      std::fclose(f);
      return "";
    }
    default:
      return std::string("unknown report option '") + arg + "' (the report options are -L, -S, -E and -N)";
  }
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

// The file names a run keeps for itself beside a table and in the current
// directory: no table may be written under them.
constexpr const char kOldTableName[] = "OLD.DAT";
constexpr const char kRunRecordSuffix[] = ".quire-run";

// Windows takes file names without regard to case, and drops dots and
// blanks at their end ("OLD.DAT." is OLD.DAT).
constexpr bool kNamesIgnoreCase = std::filesystem::path::preferred_separator == '\\';

// Where the file name of path starts, as the report library finds it when it
// puts OLD.DAT and the run record beside a table: after the last "/", "\"
// or, failing those, ":".
size_t file_name_start(const std::string& path) {
  size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) separator = path.rfind(':');
  return separator == std::string::npos ? 0 : separator + 1;
}

// True when the file name of path is name, as this system compares names.
bool file_name_is(const std::string& path, const char* name) {
  std::string_view file = std::string_view(path).substr(file_name_start(path));
  std::string_view wanted = name;
  if (!kNamesIgnoreCase) return file == wanted;
  while (!file.empty() && (file.back() == '.' || file.back() == ' ')) file.remove_suffix(1);
  if (file.size() != wanted.size()) return false;
  for (size_t i = 0; i < file.size(); ++i)
    if (ascii::to_lower(file[i]) != ascii::to_lower(wanted[i])) return false;
  return true;
}

// The path made absolute and normal, for comparing paths of files that do
// not exist yet (in the case Windows ignores folded).
std::string normal_path(const std::string& path) {
  std::string text;
  try {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(quire::platform::filesystem_path(path), ec);
    std::filesystem::path p = std::filesystem::weakly_canonical(absolute, ec);
    if (ec) p = absolute.lexically_normal();
    text = p.generic_string();
  } catch (const std::exception&) {
    text = path;  // a name the narrow code page cannot hold back: compared as given
  }
  if (kNamesIgnoreCase)
    for (char& c : text) c = ascii::to_lower(c);
  return text;
}

// True when a and b name one file: by its identity when both exist, by
// their normal paths when neither does.
bool same_path(const std::string& a, const std::string& b) {
  const bool a_exists = quire::platform::path_exists(a);
  const bool b_exists = quire::platform::path_exists(b);
  if (a_exists && b_exists) return quire::platform::same_file(a, b);
  if (a_exists || b_exists) return false;
  return normal_path(a) == normal_path(b);
}

// Checks the output path, and the change feed's path when there is one,
// against the files the run writes besides the feed. Returns an empty text
// when they are apart, else why not: the feed's block would land in the file
// the run replaces (the table, its run record, OLD.DAT) or in the change
// log, and a table named delta.lst or OLD.DAT would be taken for the log or
// the previous table.
std::string check_output_paths(const std::string& output, const char* changes) {
  if (file_name_is(output, kChangeLogName))
    return "the output path " + output + " is named as the change log " + kChangeLogName +
           "; give the table another name";
  if (file_name_is(output, kOldTableName))
    return "the output path " + output + " is named as the previous table " + kOldTableName +
           " kept beside a table; give the table another name";
  // A table written through a link replaces the link's target, and its run
  // record and OLD.DAT go beside the target.
  quire::platform::OutputTarget target = quire::platform::examine_output(output);
  std::string table = target.kind == quire::platform::OutputTarget::kFile ? target.path : output;
  if (same_path(table, kChangeLogName))
    return "the output path " + output + " is the change log " + kChangeLogName + "; give the table another name";
  if (!changes) return "";
  const std::string feed = changes;
  const std::string directory = table.substr(0, file_name_start(table));
  const std::string record = directory + "." + table.substr(directory.size()) + kRunRecordSuffix;
  const std::string old_table = directory + kOldTableName;
  if (same_path(feed, output) || same_path(feed, table))
    return "--changes " + feed + " is the output path; the changes would go into the table it replaces";
  if (same_path(feed, record))
    return "--changes " + feed + " is the run record of " + output + "; the changes would go into the record it replaces";
  if (same_path(feed, old_table))
    return "--changes " + feed + " is the previous table " + old_table + " of " + output +
           "; the changes would go into the table it replaces";
  if (same_path(feed, kChangeLogName))
    return "--changes " + feed + " is the change log " + kChangeLogName +
           " of the current directory; the feed needs a file of its own";
  return "";
}

std::string plural(int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
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
  for (const ReportKind& k : kReportKinds) {
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

  std::vector<char*> args;
  args.push_back(command_name.data());
  for (char* o : run.report_options) args.push_back(o);
  std::string area = run.area;
  args.push_back(area.data());
  std::string output_arg = run.output == "-" ? kStandardOutputPath : run.output;
  args.push_back(output_arg.data());
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
  print_run_figures(host, figures, seconds, run.shown_output.empty() ? run.output : run.shown_output, run.quiet);
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

  // Host options (two dashes) anywhere; the command's own options (one
  // dash) and its two arguments, the area and the output path.
  run.progress = standard_error_is_terminal();
  std::vector<char*> positional;
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
      if (!option) return usage_error(std::string("unknown option '") + a + "'");
      if (option->value && !value) {
        if (i + 1 >= argc) return usage_error(std::string(option->name) + " needs " + value_words(*option));
        value = argv[++i];
      }
      switch (option->id) {
        case HostOptionId::kHelp:
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
            return usage_error(std::string("--stop-after needs a positive number of items, not '") + value + "'");
          break;
        case HostOptionId::kChanges:
          if (*value == '\0') return usage_error("--changes needs a file name");
          run.changes = value;
          break;
      }
      continue;
    }
    if (!host_options_end && std::strcmp(a, "-h") == 0) {
      std::fputs(program_usage(), stdout);
      return 0;
    }
    if (positional.size() == 2)
      return usage_error(std::string("unexpected argument '") + a + "' after the output path " +
                         positional[1]);
    if (a[0] == '-' && a[1] != '\0') {
      std::string why = check_report_option(a);
      // A bad date is the command's own option: the command is named.
      bool date = ascii::to_upper(a[1]) == 'S' || ascii::to_upper(a[1]) == 'E';
      if (!why.empty()) return usage_error(why, date ? "quire " + kind_name : "quire");
      run.report_options.push_back(a);
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty()) return usage_error("the storage area and the output path are missing");
  if (positional.size() == 1) return usage_error("the output path is missing");
  run.area = positional[0];
  run.output = positional[1];
  // A table sent to standard output has no previous table and no changes.
  if (run.changes && run.output == "-")
    return usage_error("--changes needs an output file; a table written to standard output has no changes");
  if (run.output != "-") {
    if (std::string why = check_output_paths(run.output, run.changes); !why.empty()) return usage_error(why);
  }
  return run_report(run);
}

}  // namespace quire::cli
