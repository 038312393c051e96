// The command line of a report command read into a value: the one reading
// of it, shared by the run (DumpReport::parse_command_line) and by a host
// that checks a command line before it runs one (quire_check_report_options).
#ifndef QUIRE_REPORT_REPORT_OPTIONS_H_
#define QUIRE_REPORT_REPORT_OPTIONS_H_

#include <cstdint>
#include <string>

#include "quire/status.h"

namespace quire {

// What is wrong with a command line that is refused. The run prints its
// own long-standing texts for the first three; the status's message says
// every one of them in a line a user can act on.
enum class OptionFault {
  kNone,
  kArguments,     // the storage area or the output path is missing
  kDate,          // -S or -E with a value that is not a date
  kReservedName,  // an output path named delta.lst or OLD.DAT
  kNotation,      // -N with a value other than 0 or 1
  kUnknownOption, // an option other than -L, -S, -E and -N
  kListFile,      // -L without a file, or one that cannot be read
  kExtraArgument, // an argument after the output path
  kOutputPaths,   // the output path or the change feed is another file of the run
};

// A report command's options and arguments. The texts point into the argv
// they were read from.
struct ReportOptions {
  const char* list_path = nullptr;  // the last -L value; null: every item
  int32_t start_time = 0;
  int32_t end_time = INT32_MAX;
  int notation = -1;  // 0 metric, 1 imperial, -1 the area's own
  const char* area = nullptr;
  const char* output = nullptr;  // as given; "-" is standard output
  bool standard_output = false;
};

// What parse_report_options reads of a command line.
enum class OptionScope {
  kWhole,      // the command line as a whole: every check
  kArguments,  // only the arguments given, each by itself: no check that
               // the area and the output path are there, nor of the paths
};

// Reads argv[1..argc) (argv[0] is the command's name; a null entry ends the
// line): options of one dash with their value attached (-Lfile, -Sdate,
// -Edate, -N0 or -N1; the last of each counts; any case) and, among them,
// the storage area and the output path, in that order. A lone "-" is an
// argument: as the output path it is standard output. Each argument is
// checked as it comes, the first fault ends the reading; then the paths:
// no table named as the change log or the previous table, and with
// change_feed (not null, not empty) the checks of check_output_paths.
// fault says what was refused (kNone when accepted).
Status parse_report_options(int argc, char** argv, OptionScope scope, const char* change_feed,
                            ReportOptions* options, OptionFault* fault);

// Checks that the table at output, its run record, the previous table
// beside it and the change log of the current directory are apart from
// each other and from the change feed (when not empty), by any path to
// them: a table written as the change log, or a feed appended to a file
// the run replaces, would lose one file's lines in another.
Status check_output_paths(const std::string& output, const std::string& change_feed);

}  // namespace quire

#endif  // QUIRE_REPORT_REPORT_OPTIONS_H_
