// The command line of a report command and its date filter.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "platform/local_time.h"
#include "platform/text_input.h"
#include "report/dump_report.h"
#include "quire/ascii.h"

namespace quire {

const char kUsageText[] =
    "Usage:\tDMP [-Syy/mm/dd[,hh:mm]] [-Eyy/mm/dd[,hh:mm]] [-Llistfile] s_area output_file\n"
    "\n"
    "Where\n"
    "  -Llistfile is a list of items, 1/line, to dump. default: all items.\n"
    "  -S:START DATE.  YY/MM/DD,HH:MM format.\n"
    "  -E:END DATE.  YY/MM/DD,HH:MM format.\n"
    "  -N:NOTATION. 0 metric, 1 imperial, 2 p-user-environ(default)\n";

namespace {

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

// The names a run keeps for its change log and for the previous table beside
// a table, when path's file name is one of them (without regard to case, and
// to dots and blanks at the end, on Windows, as its file names are taken),
// else null. A table under such a name would be taken for that file.
const char* reserved_file_name(std::string_view path) {
  constexpr bool kIgnoreCase = std::filesystem::path::preferred_separator == '\\';
  size_t start = path.find_last_of("/\\");
  if (start == std::string_view::npos) start = path.rfind(':');
  std::string_view file = path.substr(start == std::string_view::npos ? 0 : start + 1);
  if (kIgnoreCase)
    while (!file.empty() && (file.back() == '.' || file.back() == ' ')) file.remove_suffix(1);
  for (const char* name : {"delta.lst", "OLD.DAT"}) {
    std::string_view wanted = name;
    if (file.size() != wanted.size()) continue;
    bool same = true;
    for (size_t i = 0; i < file.size() && same; ++i)
      same = kIgnoreCase ? ascii::to_lower(file[i]) == ascii::to_lower(wanted[i]) : file[i] == wanted[i];
    if (same) return name;
  }
  return nullptr;
}

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

int DumpReport::parse_command_line(int argc, char** argv) {
  if (argc < 3 || !argv) {
    print()("%s", kUsageText);
    return 0;
  }
  notation = -1;
  reader_.connect();

  int i = 1;
  for (; i < argc && argv[i] && argv[i][0] == '-'; ++i) {
    const char* arg = argv[i];
    char option = ascii::to_upper(arg[1]);
    const char* value = arg[1] ? arg + 2 : arg + 1;
    if (option == 'L') {
      if (list_file) std::fclose(list_file);
      // A list file that cannot be read as a file (a directory) counts as
      // one that cannot be opened: every item is dumped.
      list_file = platform::open_text_input(value);
      list_path_ = value;
    } else if (option == 'S') {
      if (parse_date_time(value, &start_time) == 0) {
        print()("%s", kInvalidTime);
        return 0;
      }
    } else if (option == 'E') {
      int32_t end = end_time;
      int32_t day_end = end_time;
      int fields = parse_date_time(value, &end, &day_end);
      if (fields == 0) {
        print()("%s", kInvalidTime);
        return 0;
      }
      // A date alone includes its whole day.
      end_time = fields == 3 ? day_end : end;
    } else if (option == 'N') {
      if (value[0] == '0') notation = reader_.set_notation(0);
      else if (value[0] == '1') notation = reader_.set_notation(1);
    }
  }

  // The storage-area name and the output path must both be there.
  if (i + 1 >= argc || !argv[i] || !argv[i + 1]) {
    print()("%s", kUsageText);
    return 0;
  }
  if (const char* reserved = reserved_file_name(argv[i + 1])) {
    print()("Output file %s: %s is kept for the %s; use another name.\n", argv[i + 1], reserved,
              reserved[0] == 'd' ? "change log" : "previous table");
    return 0;
  }
  const char* area_name = argv[i];
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
  output_path = argv[i + 1];
  return 1;
}

}  // namespace quire
