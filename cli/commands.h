// The two command families of the quire program.
#ifndef QUIRE_CLI_COMMANDS_H_
#define QUIRE_CLI_COMMANDS_H_

#include <span>

#include "quire/quire.h"

namespace quire::cli {

// A report command of the report library.
using ReportCommand = int (*)(int argc, char** argv, QuireWindow hwnd, int detailed);

// A report kind as the program's command line names it, with its command
// and what one of the items it reports on is called.
struct ReportKind {
  const char* name;  // lower case: "mkpc"
  ReportCommand command;
  // The word the program's messages and summary use for one item ("marker");
  // the same word the command's own messages use.
  const char* item_word;
};

// Every report kind the program runs, in the order of the usage text. The
// one list of them: the usage text, the typing-slip hints and the column
// dictionary's script read it; tests hold the completion and the README to
// it.
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
