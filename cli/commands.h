// The two command families of the quire program.
#ifndef QUIRE_CLI_COMMANDS_H_
#define QUIRE_CLI_COMMANDS_H_

#include <span>
#include <string>
#include <vector>

#include "quire/quire.h"

namespace quire::cli {

// A report kind of the report library (quire_report_kind): its name (lower
// case: "mkpc"), its command, and the word its messages use for one of its
// items ("marker"), which the program's messages and summary use too.
using ReportKind = QuireReportKind;

// Every report kind the program runs: the library's table, in its order,
// which is that of the usage text and of `quire all`. The usage text, the
// typing-slip hints and the column dictionary's script read it; tests hold
// the completion, the README and the column dictionary to it.
std::span<const ReportKind> report_kinds();

// The host options of `quire KIND`: two dashes, anywhere on the line.
enum class HostOptionId { kDetailed, kQuiet, kStopAfter, kChanges, kProgress, kNoProgress, kHelp };

// One host option as the parser, the usage text and the completion know it.
struct HostOption {
  HostOptionId id;
  const char* name;   // with its dashes: "--stop-after"
  const char* value;  // what its value is called ("N"), null for none
  // The usage's text for it; "" when the line of the option before covers
  // it too (listed there after a comma); null when the usage shows it
  // elsewhere.
  const char* help;
};

// Every host option, in the order of the usage text.
std::span<const HostOption> host_options();

// The host option that arg names: "--name", or "--name=VALUE" for one that
// takes a value (*attached then points at VALUE, else it is null). Null
// when arg names none.
const HostOption* find_host_option(const char* arg, const char** attached);

// Exit statuses of the program: the table (every table, for `quire all`) is
// complete; a command was rejected or a table could not be written; a usage
// error; a table was written but is not complete.
constexpr int kExitComplete = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

// The change log a report run appends to: delta.lst in its current
// directory, when there is one (the report library's name for it).
constexpr const char kChangeLogName[] = "delta.lst";

// Prints a usage error as who ("quire", or "quire mkpc" for what only that
// command takes) says it, with where to read more. Returns kExitUsage.
int usage_error(const std::string& message, const std::string& who = "quire");

// The report kind of the lower-case name, or null when there is none.
const ReportKind* find_kind(const std::string& name);

// One run of a report kind, as `quire KIND` and `quire all` make it.
struct ReportRun {
  const ReportKind* kind = nullptr;
  // The command's own arguments, checked already: its options, the area and
  // the output path ("-" for standard output), as it takes them.
  std::vector<std::string> arguments;
  std::string shown_output;  // the output path as the summary line names it
  int detailed = 0;
  bool quiet = false;        // no summary line
  bool progress = false;     // a progress bar on standard error
  long stop_after = 0;       // 0: never stop on our own
  const char* changes = nullptr;  // the change feed's path, or null
  // The caller holds the InterruptWatch (and has called
  // FileReplacement::remove_on_interrupt) for the whole of several runs.
  bool interrupt_watched = false;
};

// Runs one report kind through its command with the host window, progress
// bar, Ctrl-C handling and summary line of `quire KIND`. Returns the exit
// status of `quire KIND` (kExitComplete, kExitIncomplete or kExitFailed).
int run_report(const ReportRun& run);

// `quire all AREA FOLDER ...`; argv[0] is "all". Returns the worst exit
// status of the kinds run (kExitFailed over kExitIncomplete over
// kExitComplete), kExitFailed when the folder could not be taken, or
// kExitUsage.
int run_all_command(int argc, char** argv);

// `quire area SUBCOMMAND ...`; argv[0] is "area". Returns the exit status.
int run_area_command(int argc, char** argv);

// `quire KIND ARG...`; argv[0] is the kind ("mkpc", ...), host options may
// stand anywhere among ARG. Returns the exit status: 0 when the table is
// complete, 3 when it was written but is not complete (stopped, a listed name
// missing, an item that could not be read, changes not logged), 1 when the
// command was rejected or its table could not be written, 2 for a usage
// error.
int run_report_command_line(int argc, char** argv);

// The usage text of the whole program.
const char* program_usage();

// The version of the program, "MAJOR.MINOR.PATCH".
const char* program_version();

// The command word (a report kind or "area") nearest to word when it is
// close enough to be a typing slip, else null.
const char* nearest_command(const char* word);

// Of the count words, the one nearest to word when it is close enough to be
// a typing slip, else null.
const char* nearest_word(const char* word, const char* const* words, int count);

}  // namespace quire::cli

#endif  // QUIRE_CLI_COMMANDS_H_
