// Local time on Windows: the C runtime's local time, which follows TZ
// ("UTC", "EST5EDT", ...) when it is set and the system's time zone
// otherwise.
#include <time.h>

#include "platform/local_time.h"

namespace quire::platform {
namespace {

// Fills out with the calendar date and time of seconds since 1970 taken as
// they are (no zone applied).
void civil_time(int64_t seconds, CalendarTime* out) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  out->hour = static_cast<int>(rest / 3600);
  out->minute = static_cast<int>(rest / 60 % 60);
  out->second = static_cast<int>(rest % 60);
  out->weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  // Days to year, month and day in the proleptic Gregorian calendar, by
  // eras of 400 years starting on March 1st.
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t day_of_era = z - era * 146097;
  int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 is March
  out->day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  out->month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  out->year = static_cast<int>(year_of_era + era * 400 + (out->month <= 2 ? 1 : 0));
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar; a
// day past the end of its month counts on into the next.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t year_of_era = year - era * 400;
  int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468 + (day - 1);
}

}  // namespace

bool local_seconds_before_1970(int year, int month, int day, int hour, int minute, int64_t* seconds) {
  _tzset();
  int64_t t = days_from_civil(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + _timezone;
  if (t >= 0) return false;  // the runtime's own range, which refused it
  *seconds = t;
  return true;
}

bool system_local_time(int64_t seconds, std::tm* out) {
  // TZ is read again on every call, as localtime_r does elsewhere.
  _tzset();
  __time64_t t = static_cast<__time64_t>(seconds);
  return _localtime64_s(out, &t) == 0;
}

bool local_calendar_before_1970(int64_t seconds, CalendarTime* out) {
  // The runtime refuses times before 1970 (a time of -1 stands for "none"
  // and is written too): those are converted here, in standard time.
  if (seconds >= 0) return false;
  _tzset();
  civil_time(seconds - _timezone, out);  // _timezone: seconds west of UTC, set by _tzset
  return true;
}

}  // namespace quire::platform
