// Local calendar time of the operating system.
#ifndef QUIRE_PLATFORM_LOCAL_TIME_H_
#define QUIRE_PLATFORM_LOCAL_TIME_H_

#include <cstdint>
#include <ctime>

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

// Converts a local wall-clock date and time under the current TZ to seconds
// since 1970-01-01 00:00 UTC, with daylight saving as the calendar has it
// on that date (the clock local_calendar_time gives): in the autumn hour
// that occurs twice, the earlier one; in the spring hour that does not
// occur, the time an hour later. Hours from 24 on carry into the next day,
// days past the end of the month into the next month. Returns false when
// the system cannot represent the time.
bool local_wall_clock_seconds(int year, int month, int day, int hour, int minute, int64_t* seconds);

// What each system's half supplies to the two conversions above:
//
// the C library's local time of seconds (false when it refuses them);
bool system_local_time(int64_t seconds, std::tm* out);
// for a time before 1970 that the C library refuses, the conversions in
// standard time; false where the C library converts every time itself.
bool local_calendar_before_1970(int64_t seconds, CalendarTime* out);
bool local_seconds_before_1970(int year, int month, int day, int hour, int minute, int64_t* seconds);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_LOCAL_TIME_H_
