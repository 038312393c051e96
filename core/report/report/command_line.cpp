// The command line of a report command: its one reading into
// ReportOptions, the checks of its paths, and the date filter's dates.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/local_time.h"
#include "platform/text_input.h"
#include "quire/ascii.h"
#include "quire/files/file_system.h"
#include "quire/files/output_target.h"
#include "report/dump_report.h"
#include "report/report_options.h"
#include "table/change_feed.h"
#include "table/run_record.h"
#include "table/table_format.h"

namespace quire {

const char kUsageText[] =
    "Usage:\tDMP [-Syy/mm/dd[,hh:mm]] [-Eyy/mm/dd[,hh:mm]] [-Llistfile] s_area output_file\n"
    "\n"
    "Where\n"
    "  -Llistfile is a list of items, 1/line, to dump. default: all items.\n"
    "  -S:START DATE.  YY/MM/DD,HH:MM format.\n"
    "  -E:END DATE.  YY/MM/DD,HH:MM format.\n"
    "  -N:NOTATION. 0 metric, 1 imperial. default: the storage area's own\n";

namespace {

// The name the table layer writes standard output by.
constexpr const char kStandardOutputName[] = "/dev/stdout";

const char kInvalidTime[] = "Error, invalid format time use: YY/MM/DD[,HH:MM].\n";

const int kDaysPerMonth[2][13] = {
    {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

bool is_leap_year(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Reads a decimal integer the way a scanf "%d" conversion does: leading
// white space, an optional sign, then at least one digit. Values beyond the
// int range saturate (every check downstream rejects them). Returns false
// when no digit follows.
bool scan_int(const char*& p, int* out) {
  const char* q = p;
  while (std::isspace(static_cast<unsigned char>(*q))) ++q;
  ascii::ScannedInteger n = ascii::scan_integer(q);
  if (n.length == 0) return false;
  *out = static_cast<int>(std::clamp<int64_t>(n.value, INT_MIN, INT_MAX));
  p = q + n.length;
  return true;
}

// Matches "Y<sep>M<sep>D,H:M" and one more character, field by field, and
// returns how many fields were read before the first mismatch.
int scan_date_fields(const char* text, char separator, int fields[5], char* suffix) {
  const char* p = text;
  int count = 0;
  const char literals[5] = {0, separator, separator, ',', ':'};
  for (int i = 0; i < 5; ++i) {
    if (i > 0) {
      if (*p != literals[i]) return count;
      ++p;
    }
    if (!scan_int(p, &fields[i])) return count;
    ++count;
  }
  if (*p == 0) return count;
  *suffix = *p;
  return count + 1;
}

bool fits_32(long long v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace

int parse_date_time(const char* text, int32_t* bound, int32_t* day_end) {
  if (!text) return 0;
  int f[5] = {0, 0, 0, 0, 0};
  char suffix = 0;
  int count = scan_date_fields(text, '-', f, &suffix);
  if (count != 3 && count != 5 && count != 6) {
    count = scan_date_fields(text, '/', f, &suffix);
    if (count != 3 && count != 5 && count != 6) return 0;
  }
  int year = f[0], month = f[1], day = f[2], hour = f[3], minute = f[4];
  if (month < 1 || month > 12 || year < 0) return 0;
  if (year <= 69) year += 2000;
  else if (year <= 1900) year += 1900;
  if (day < 1 || day > kDaysPerMonth[is_leap_year(year) ? 1 : 0][month]) return 0;

  if (count >= 5) {
    if (hour > 24 || hour < 0 || minute > 59 || minute < 0) return 0;
    if (count == 6) {
      char c = ascii::to_upper(suffix);
      if (hour > 12 || (c != 'A' && c != 'P')) return 0;
      if (c == 'P') hour += 12;
    }
  } else {
    hour = minute = 0;
  }
  // An hour of 24 (also "12:30P") is carried into the next day.
  int64_t seconds = 0;
  if (!platform::local_wall_clock_seconds(year, month, day, hour, minute, &seconds)) return 0;
  if (!fits_32(seconds)) return 0;
  if (day_end != nullptr) {
    // The end of the date's day: the next midnight on the wall clock, 23 or
    // 25 hours on when the clock changes that day; beyond 32 bits it
    // saturates.
    int64_t end = 0;
    if (!platform::local_wall_clock_seconds(year, month, day + 1, 0, 0, &end)) end = seconds + 86400LL;
    *day_end = end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);
  }
  *bound = static_cast<int32_t>(seconds);
  return count;
}

namespace {

// Windows takes file names without regard to case, and drops dots and
// blanks at their end ("OLD.DAT." is OLD.DAT).
constexpr bool kNamesIgnoreCase = std::filesystem::path::preferred_separator == '\\';

// True when the file name of path (where the run finds it when it puts
// OLD.DAT and the run record beside a table) is name, as this system
// compares names.
bool file_name_is(std::string_view path, std::string_view name) {
  std::string_view file = path.substr(table::file_name_start(path));
  if (!kNamesIgnoreCase) return file == name;
  while (!file.empty() && (file.back() == '.' || file.back() == ' ')) file.remove_suffix(1);
  if (file.size() != name.size()) return false;
  for (size_t i = 0; i < file.size(); ++i)
    if (ascii::to_lower(file[i]) != ascii::to_lower(name[i])) return false;
  return true;
}

// The path made absolute and normal, for comparing paths of files that do
// not exist yet (in the case Windows ignores folded).
std::string normal_path(const std::string& path) {
  std::string text;
  try {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(platform::filesystem_path(path), ec);
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
  const bool a_exists = platform::path_exists(a);
  const bool b_exists = platform::path_exists(b);
  if (a_exists && b_exists) return platform::same_file(a, b);
  if (a_exists || b_exists) return false;
  return normal_path(a) == normal_path(b);
}

Status refused(OptionFault* fault, OptionFault what, std::string message) {
  *fault = what;
  return Status::failure(StatusCode::kInvalid, std::move(message));
}

// Checks the list file of -L: a regular file that can be read, or a pipe
// (read as it comes: opening it here would wait for its writer). Anything
// else would read as no names, or fail at the first read.
Status check_list_file(const char* path, OptionFault* fault) {
  const std::string prefix = std::string("list file ") + path + ": ";
  std::error_code ec;
  const auto status = std::filesystem::status(platform::filesystem_path(path), ec);
  if (ec || !std::filesystem::exists(status))
    return refused(fault, OptionFault::kListFile, prefix + (ec ? ec.message() : std::strerror(ENOENT)));
  if (std::filesystem::is_fifo(status)) return Status();
  if (!std::filesystem::is_regular_file(status))
    return refused(fault, OptionFault::kListFile, prefix + "not a regular file or a pipe");
  platform::ReadableFile file(platform::file_env());
  if (!file.open(path)) {
    const int error = file.status().ok() ? ENOENT : file.status().error();
    return refused(fault, OptionFault::kListFile, prefix + std::strerror(error));
  }
  return Status();
}

// Reads one option (argv text with its dash) into options.
Status read_option(const char* arg, ReportOptions* options, OptionFault* fault) {
  const char* value = arg + 2;
  switch (ascii::to_upper(arg[1])) {
    case 'S':
      if (parse_date_time(value, &options->start_time) != 0) return Status();
      break;
    case 'E': {
      int32_t end = options->end_time;
      int32_t day_end = options->end_time;
      const int fields = parse_date_time(value, &end, &day_end);
      if (fields == 0) break;
      // A date alone includes its whole day.
      options->end_time = fields == 3 ? day_end : end;
      return Status();
    }
    case 'N':
      if (std::strcmp(value, "0") == 0 || std::strcmp(value, "1") == 0) {
        options->notation = value[0] - '0';
        return Status();
      }
      return refused(fault, OptionFault::kNotation,
                     std::string("-N takes 0 (metric) or 1 (imperial), not '") + value + "'");
    case 'L':
      if (*value == '\0') return refused(fault, OptionFault::kListFile, "-L needs a list file, attached: -Lnames.lst");
      options->list_path = value;
      return check_list_file(value, fault);
    default:
      return refused(fault, OptionFault::kUnknownOption,
                     std::string("unknown report option '") + arg + "' (the report options are -L, -S, -E and -N)");
  }
  return refused(fault, OptionFault::kDate, std::string(arg) + ": not a date; expected YY/MM/DD[,HH:MM]");
}

}  // namespace

Status parse_report_options(int argc, char** argv, OptionScope scope, const char* change_feed,
                            ReportOptions* options, OptionFault* fault) {
  *options = ReportOptions();
  *fault = OptionFault::kNone;
  int arguments = 0;
  for (int i = 1; argv && i < argc && argv[i]; ++i) {
    const char* arg = argv[i];
    if (arguments == 2)
      return refused(fault, OptionFault::kExtraArgument,
                     std::string("unexpected argument '") + arg + "' after the output path " + options->output);
    if (arg[0] == '-' && arg[1] != '\0') {
      if (Status status = read_option(arg, options, fault); !status.ok()) return status;
    } else if (arguments++ == 0) {
      options->area = arg;
    } else {
      options->output = arg;
    }
  }
  if (scope == OptionScope::kArguments) return Status();
  if (arguments == 0) return refused(fault, OptionFault::kArguments, "the storage area and the output path are missing");
  if (arguments == 1) return refused(fault, OptionFault::kArguments, "the output path is missing");
  options->standard_output = std::strcmp(options->output, "-") == 0;
  if (options->standard_output) return Status();
  const std::string output = options->output;
  if (file_name_is(output, table::kChangeLogName))
    return refused(fault, OptionFault::kReservedName,
                   "the output path " + output + " is named as the change log " + table::kChangeLogName +
                       "; give the table another name");
  if (file_name_is(output, table::kOldTableName))
    return refused(fault, OptionFault::kReservedName,
                   "the output path " + output + " is named as the previous table " + table::kOldTableName +
                       " kept beside a table; give the table another name");
  Status status = check_output_paths(output, change_feed ? change_feed : "");
  if (!status.ok()) *fault = OptionFault::kOutputPaths;
  return status;
}

Status check_output_paths(const std::string& output, const std::string& feed) {
  auto refusal = [](std::string message) { return Status::failure(StatusCode::kInvalid, std::move(message)); };
  const std::string log = table::kChangeLogName;
  // A table written through a link replaces the link's target, and its run
  // record and OLD.DAT go beside the target.
  const platform::OutputTarget target = platform::examine_output(output);
  const std::string table = target.kind == platform::OutputTarget::kFile ? target.path : output;
  if (same_path(table, log))
    return refusal("the output path " + output + " is the change log " + log + "; give the table another name");
  if (feed.empty()) return Status();
  const std::string record = table::run_record_path(table);
  const std::string old_table = table::old_table_path(table);
  if (same_path(feed, output) || same_path(feed, table))
    return refusal("--changes " + feed + " is the output path; the changes would go into the table it replaces");
  if (same_path(feed, record))
    return refusal("--changes " + feed + " is the run record of " + output +
                   "; the changes would go into the record it replaces");
  if (same_path(feed, old_table))
    return refusal("--changes " + feed + " is the previous table " + old_table + " of " + output +
                   "; the changes would go into the table it replaces");
  if (same_path(feed, log))
    return refusal("--changes " + feed + " is the change log " + log +
                   " of the current directory; the feed needs a file of its own");
  return Status();
}

namespace {

// Prints why the command line was refused: the long-standing texts of the
// report commands where they have one, else the status's line.
void print_refusal(PrintFunction print, const Status& status, OptionFault fault, const ReportOptions& options) {
  switch (fault) {
    case OptionFault::kArguments:
      print("%s", kUsageText);
      return;
    case OptionFault::kDate:
      print("%s", kInvalidTime);
      return;
    case OptionFault::kReservedName: {
      const bool log = file_name_is(options.output, table::kChangeLogName);
      print("Output file %s: %s is kept for the %s; use another name.\n", options.output,
                log ? table::kChangeLogName : table::kOldTableName, log ? "change log" : "previous table");
      return;
    }
    case OptionFault::kOutputPaths: {
      // The messages name the feed as the program's option does; a host
      // sets it through quire_set_change_feed.
      constexpr std::string_view kOption = "--changes ";
      const std::string text = status.message();
      const bool named = std::string_view(text).substr(0, kOption.size()) == kOption;
      print(named ? "the change feed %s\n" : "%s\n", text.c_str() + (named ? kOption.size() : 0));
      return;
    }
    default:
      print("%s\n", status.message().c_str());
  }
}

}  // namespace

int DumpReport::parse_command_line(int argc, char** argv) {
  if (argc < 3 || !argv) {
    print()("%s", kUsageText);
    return 0;
  }
  notation = -1;
  reader_.connect();

  ReportOptions options;
  OptionFault fault = OptionFault::kNone;
  const Status status = parse_report_options(argc, argv, OptionScope::kWhole,
                                             table::change_feed_path().c_str(), &options, &fault);
  if (!status.ok()) {
    print_refusal(print(), status, fault, options);
    return 0;
  }
  start_time = options.start_time;
  end_time = options.end_time;
  if (options.notation >= 0) notation = reader_.set_notation(options.notation);
  if (options.list_path) {
    if (list_file) std::fclose(list_file);
    list_file = platform::open_text_input(options.list_path);
    list_path_ = options.list_path;
    if (!list_file) {
      print()("list file %s: %s\n", options.list_path, std::strerror(errno));
      return 0;
    }
  }
  const char* area_name = options.area;
  const Status found = reader_.lookup_area(area_name, area_record);
  if (found.code() == StatusCode::kNotFound) {
    print()("Unrecognized Storage Area: %s.\n", area_name);
    return 0;
  }
  if (!found.ok()) {
    report_failure(store_failure(found, "storage area lookup failed"));
    return 0;
  }
  area_name_ = area_name;
  if (notation == -1) notation = reader_.area_notation(area_record);
  output_path = options.standard_output ? kStandardOutputName : options.output;
  return 1;
}

}  // namespace quire
