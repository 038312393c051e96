// Local time on POSIX systems: localtime_r under the TZ of the environment,
// for every time 32-bit seconds reach.
#include <time.h>

#include "platform/local_time.h"

namespace quire::platform {

bool system_local_time(int64_t seconds, std::tm* out) {
  time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, out) != nullptr;
}

bool local_calendar_before_1970(int64_t, CalendarTime*) { return false; }

bool local_seconds_before_1970(int, int, int, int, int, int64_t*) { return false; }

}  // namespace quire::platform
