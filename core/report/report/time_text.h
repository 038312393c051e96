// Time texts: the text of every time column and of the change stamp, the
// reading of such a text back into seconds, and the ISO 8601 text in UTC
// that the change feed gives.
#ifndef QUIRE_REPORT_TIME_TEXT_H_
#define QUIRE_REPORT_TIME_TEXT_H_

#include <cstdint>
#include <string_view>

namespace quire {

constexpr int kTimeTextSize = 32;     // a time text and its terminator
constexpr int kIsoTimeTextSize = 32;  // an ISO time text and its terminator

// The time text of t: with detailed, the 24-character calendar text in local
// time ("Thu Jan 01 00:00:00 1970", day of month with a leading zero);
// otherwise the 32-bit value in lower-case hexadecimal ("ffffffff" for -1).
// Writes into out (kTimeTextSize bytes) and returns out.
char* format_time_text(int32_t t, int detailed, char* out);

// Reads a time text of either form back into seconds since 1970-01-01 00:00
// UTC: one to eight hexadecimal digits in either case as the 32-bit value
// they give, or the calendar text as local time under the current TZ (in the
// autumn hour that occurs twice, the earlier one). False, with *seconds
// untouched, for any other text.
bool parse_time_text(std::string_view text, int64_t* seconds);

// "2026-12-07T21:52:36Z": seconds since 1970-01-01 00:00 UTC as ISO 8601
// date and time in UTC (years before 1 or after 9999 are not written as
// such: they are held to 0001 and 9999). Writes into out (kIsoTimeTextSize
// bytes) and returns out.
char* format_iso_utc_time(int64_t seconds, char* out);

}  // namespace quire

#endif  // QUIRE_REPORT_TIME_TEXT_H_
