// The time text of every time column and of the change stamp.
#include <cstdio>
#include <cstring>

#include "platform/local_time.h"
#include "report/dump_report.h"

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

}  // namespace

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
