// The time text of every time column and of the change stamp, read back,
// and the ISO text in UTC of the change feed.
#include "report/time_text.h"

#include <cstdio>
#include <cstring>

#include "platform/local_time.h"

namespace quire {
namespace {

const char kWeekdays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void put2(char* p, int v) {
  p[0] = static_cast<char>('0' + (v / 10) % 10);
  p[1] = static_cast<char>('0' + v % 10);
}

// Lower-case hexadecimal of the 32-bit value, no leading zeros.
char* hex_text(int32_t t, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  uint32_t v = static_cast<uint32_t>(t);
  char tmp[8];
  int n = 0;
  do {
    tmp[n++] = kDigits[v & 0xf];
    v >>= 4;
  } while (v != 0);
  for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  out[n] = 0;
  return out;
}

// The value of the hexadecimal digit c, or -1.
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The two decimal digits at p, or -1.
int two_digits(const char* p) {
  if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') return -1;
  return (p[0] - '0') * 10 + (p[1] - '0');
}

// Index of the three letters at p among names, or -1.
int name_index(const char* p, const char (*names)[4], int count) {
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(p, names[i], 3) == 0) return i;
  }
  return -1;
}

// The calendar text "Thu Jan 01 00:00:00 1970" as local time.
bool parse_calendar_text(std::string_view text, int64_t* seconds) {
  if (text.size() != 24 || text[3] != ' ' || text[7] != ' ' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || text[19] != ' ')
    return false;
  const char* p = text.data();
  const int month = name_index(p + 4, kMonths, 12) + 1;
  const int day = two_digits(p + 8);
  const int hour = two_digits(p + 11);
  const int minute = two_digits(p + 14);
  const int second = two_digits(p + 17);
  const int century = two_digits(p + 20);
  const int year_in_century = two_digits(p + 22);
  if (name_index(p, kWeekdays, 7) < 0 || month < 1 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60 || century < 0 || year_in_century < 0)
    return false;
  int64_t at_minute = 0;
  if (!platform::local_wall_clock_seconds(century * 100 + year_in_century, month, day, hour, minute, &at_minute))
    return false;
  *seconds = at_minute + second;
  return true;
}

// Year, month (1..12) and day (1..31) of a day counted from 1970-01-01 in
// the proleptic Gregorian calendar.
void civil_date(int64_t days, int64_t* year, int* month, int* day) {
  days += 719468;  // from 0000-03-01, so that a leap day ends its year
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 = March
  *day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  *month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  *year = year_of_era + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

bool parse_time_text(std::string_view text, int64_t* seconds) {
  if (text.empty()) return false;
  if (text.size() <= 8) {
    uint32_t v = 0;
    for (char c : text) {
      const int digit = hex_digit(c);
      if (digit < 0) return false;
      v = (v << 4) | static_cast<uint32_t>(digit);
    }
    *seconds = static_cast<int32_t>(v);
    return true;
  }
  return parse_calendar_text(text, seconds);
}

char* format_iso_utc_time(int64_t seconds, char* out) {
  constexpr int64_t kDay = 86400;
  // 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
  constexpr int64_t kFirst = -62135596800;
  constexpr int64_t kLast = 253402300799;
  if (seconds < kFirst) seconds = kFirst;
  if (seconds > kLast) seconds = kLast;
  int64_t days = seconds / kDay;
  int64_t in_day = seconds % kDay;
  if (in_day < 0) {
    in_day += kDay;
    --days;
  }
  int64_t year = 0;
  int month = 0;
  int day = 0;
  civil_date(days, &year, &month, &day);
  const int y = static_cast<int>(year);
  const int hour = static_cast<int>(in_day / 3600);
  const int minute = static_cast<int>(in_day / 60 % 60);
  put2(out, y / 100);
  put2(out + 2, y % 100);
  out[4] = '-';
  put2(out + 5, month);
  out[7] = '-';
  put2(out + 8, day);
  out[10] = 'T';
  put2(out + 11, hour);
  out[13] = ':';
  put2(out + 14, minute);
  out[16] = ':';
  put2(out + 17, static_cast<int>(in_day % 60));
  out[19] = 'Z';
  out[20] = 0;
  return out;
}

char* format_time_text(int32_t t, int detailed, char* out) {
  if (!detailed) return hex_text(t, out);
  platform::CalendarTime c;
  // Years outside 0..9999 cannot occur for 32-bit seconds; the hexadecimal
  // text stands in should the system refuse the conversion.
  if (!platform::local_calendar_time(t, &c) || c.year < 0 || c.year > 9999 || c.weekday < 0 ||
      c.weekday > 6 || c.month < 1 || c.month > 12)
    return hex_text(t, out);
  // "Thu Jan 01 00:00:00 1970": built here rather than with the C library's
  // calendar text, which pads the day with a space and follows the locale.
  std::memcpy(out, kWeekdays[c.weekday], 3);
  out[3] = ' ';
  std::memcpy(out + 4, kMonths[c.month - 1], 3);
  out[7] = ' ';
  put2(out + 8, c.day);
  out[10] = ' ';
  put2(out + 11, c.hour);
  out[13] = ':';
  put2(out + 14, c.minute);
  out[16] = ':';
  put2(out + 17, c.second);
  out[19] = ' ';
  put2(out + 20, c.year / 100);
  put2(out + 22, c.year % 100);
  out[24] = 0;
  return out;
}

}  // namespace quire
