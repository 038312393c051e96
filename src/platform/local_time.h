// Local calendar time of the operating system.
#ifndef QUIRE_PLATFORM_LOCAL_TIME_H_
#define QUIRE_PLATFORM_LOCAL_TIME_H_

#include <cstdint>

namespace quire::platform {

// Broken-down local time.
struct CalendarTime {
  int year = 1970;  // full year, e.g. 2006
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;   // 0..59
  int second = 0;   // 0..60
  int weekday = 4;  // 0 Sunday .. 6 Saturday
};

// Converts seconds since 1970-01-01 00:00 UTC to local time under the
// current TZ. Returns false when the system cannot represent it.
bool local_calendar_time(int64_t seconds, CalendarTime* out);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_LOCAL_TIME_H_
