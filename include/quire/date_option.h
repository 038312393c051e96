// The report commands' reading of a date option (-S, -E), exported by the
// report library so that a host checks a date exactly as a command reads it.
#ifndef QUIRE_DATE_OPTION_H_
#define QUIRE_DATE_OPTION_H_

#include <cstdint>

namespace quire {

// Reads a date option's value: "yy/mm/dd" or "yy-mm-dd", optionally followed
// by ",hh:mm" and an A or P suffix (either case), as local wall-clock time
// with daylight saving as the calendar has it on that date (the clock the
// tables print): in the autumn hour that occurs twice, the earlier one.
// Returns 3, 5 or 6 (the number of fields read) after storing the seconds in
// *bound, and in *day_end (when not null) the next midnight after the date
// (saturated to 32 bits), or 0 when the text is rejected (then both are
// left as they were), including any time that does not fit signed 32-bit
// seconds.
int parse_date_time(const char* text, int32_t* bound, int32_t* day_end = nullptr);

}  // namespace quire

#endif  // QUIRE_DATE_OPTION_H_
