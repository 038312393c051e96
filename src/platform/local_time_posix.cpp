// Local time on POSIX systems: localtime_r under the TZ of the environment.
#include "platform/local_time.h"

#include <time.h>

namespace quire::platform {

bool local_calendar_time(int64_t seconds, CalendarTime* out) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return false;
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->weekday = tm.tm_wday;
  return true;
}

bool local_seconds_before_1970(int, int, int, int, int, int64_t*) {
  return false;  // mktime converts those too
}

}  // namespace quire::platform
