// Local time both ways through the C library: seconds to the calendar, and
// wall-clock time to seconds with mktime.
#include <ctime>

#include "platform/local_time.h"

namespace quire::platform {

bool local_calendar_time(int64_t seconds, CalendarTime* out) {
  std::tm tm;
  if (!system_local_time(seconds, &tm)) return local_calendar_before_1970(seconds, out);
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->weekday = tm.tm_wday;
  return true;
}

bool local_wall_clock_seconds(int year, int month, int day, int hour, int minute, int64_t* seconds) {
  auto convert = [&](int daylight, std::tm* tm) {
    *tm = std::tm{};
    tm->tm_year = year - 1900;
    tm->tm_mon = month - 1;
    tm->tm_mday = day;
    tm->tm_hour = hour;
    tm->tm_min = minute;
    tm->tm_isdst = daylight;
    return std::mktime(tm);
  };
  std::tm tm;
  std::time_t t = convert(-1, &tm);
  if (t == static_cast<std::time_t>(-1))
    return local_seconds_before_1970(year, month, day, hour, minute, seconds);
  // The same wall-clock time on summer time is the earlier of the two
  // where the clock went back over it.
  std::tm summer;
  std::time_t s = convert(1, &summer);
  if (s != static_cast<std::time_t>(-1) && s < t && summer.tm_isdst > 0 && summer.tm_mday == day &&
      summer.tm_hour == hour && summer.tm_min == minute)
    t = s;
  *seconds = static_cast<int64_t>(t);
  return true;
}

}  // namespace quire::platform
