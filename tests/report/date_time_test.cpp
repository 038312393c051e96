// The date filter's value rules and the time texts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "report/dump_report.h"
#include "report_test_support.h"

namespace quire {
namespace {

using testing::ScopedTimeZone;

constexpr int32_t k20060715 = 1152921600;  // 2006-07-15 00:00:00 UTC
constexpr int32_t kDay = 86400;

struct Accepted {
  const char* text;
  int fields;
  int32_t seconds;
};

TEST(ParseDateTime, AcceptedDatesAndTimesInUtc) {
  ScopedTimeZone tz("UTC");
  const Accepted cases[] = {
      {"06/07/15", 3, k20060715},
      {"06-07-15", 3, k20060715},
      {"2006/07/15", 3, k20060715},
      {"06/07/15,10:30", 5, k20060715 + 10 * 3600 + 30 * 60},
      {"06-07-15,10:30", 5, k20060715 + 10 * 3600 + 30 * 60},
      {"06/07/15,10:30P", 6, k20060715 + 22 * 3600 + 30 * 60},
      {"06/07/15,10:30p", 6, k20060715 + 22 * 3600 + 30 * 60},
      {"06/07/15,10:30a", 6, k20060715 + 10 * 3600 + 30 * 60},
      {"06/07/15,12:30A", 6, k20060715 + 12 * 3600 + 30 * 60},
      {"06/07/15,12:30P", 6, k20060715 + kDay + 30 * 60},  // twelve hours on top of 12:30
      {"06/07/15,24:00", 5, k20060715 + kDay},
      {"06/07/15 trailing", 3, k20060715},  // text after the last field is ignored
      {"06/07/15,", 3, k20060715},
      {"04/02/29", 3, 1078012800},
      {"00/02/29", 3, 951782400},    // 2000 is a leap year
      {"100/02/29", 3, 951782400},   // 100 completes to 2000
      {"99/01/01", 3, 915148800},
      {"1901/12/14", 3, -2147472000},  // fits 32 bits, before 1970
      {"38/01/19,03:14", 5, 2147472000 + 3 * 3600 + 14 * 60},
  };
  for (const Accepted& c : cases) {
    int32_t bound = 12345;
    EXPECT_EQ(parse_date_time(c.text, &bound), c.fields) << c.text;
    EXPECT_EQ(bound, c.seconds) << c.text;
  }
}

TEST(ParseDateTime, RejectedTextsLeaveTheBound) {
  ScopedTimeZone tz("UTC");
  const char* cases[] = {
      "",
      "06/07",            // two fields
      "06/07/15,10",      // an hour without minutes
      "06/07-15",         // separators mixed
      "06/13/01", "06/00/01", "06/07/00", "06/07/32",
      "06/02/29",         // 2006 is no leap year
      "1900/02/29",       // completes to 3800: beyond 32 bits anyway
      "-1/07/15",         // negative year
      "06/07/15,13:00P",  // hour above 12 with a suffix
      "06/07/15,10:30X",
      "06/07/15,10:30 ",  // the suffix character is a space
      "06/07/15,25:00", "06/07/15,-1:00", "06/07/15,10:60", "06/07/15,10:-5",
      "38/01/19,03:15",   // one minute past the largest 32-bit time
      "38/01/20",
      "68/01/01",         // 2068
      "99999999999/01/01",
      "06/99999999999/01",
  };
  for (const char* text : cases) {
    int32_t bound = 12345;
    EXPECT_EQ(parse_date_time(text, &bound), 0) << text;
    EXPECT_EQ(bound, 12345) << text;
  }
}

TEST(ParseDateTime, DatesAreWallClockTimeOnBothSidesOfDaylightSaving) {
#ifdef _WIN32
  GTEST_SKIP() << "the C library here knows no zone rules by name";
#else
  // Paris in 2017: summer time from March 26, 02:00 (clocks to 03:00), to
  // October 29, 03:00 (clocks back to 02:00).
  ScopedTimeZone tz("Europe/Paris");
  struct Case {
    const char* text;
    int32_t seconds;
    int32_t day_end;
  };
  const Case cases[] = {
      {"17/04/24,15:50", 1493041800, 0},                // summer: 13:50 UTC
      {"17/01/10,12:00", 1484046000, 0},                // winter: 11:00 UTC
      {"17/10/29,02:30", 1509237000, 0},                // twice that night: the earlier, 00:30 UTC
      {"17/03/26,03:30", 1490491800, 0},                // the first summer hour
      {"17/03/26,02:30", 1490491800, 0},                // no such time: an hour later
      {"17/10/29", 1509228000, 1509318000},             // a 25-hour day
      {"17/03/26", 1490482800, 1490565600},             // a 23-hour day
  };
  for (const Case& c : cases) {
    int32_t bound = 0, day_end = 0;
    ASSERT_NE(parse_date_time(c.text, &bound, &day_end), 0) << c.text;
    EXPECT_EQ(bound, c.seconds) << c.text;
    if (c.day_end != 0) {
      EXPECT_EQ(day_end, c.day_end) << c.text;
    }
  }
#endif
}

// Dublin flags its winter (GMT) as the daylight-saving time and its summer
// (Irish Standard Time, an hour ahead) as standard time. A date read with
// the zone's own flag for that date is its wall-clock time there; read as
// "not daylight saving", a winter noon would come out an hour early, and
// -E17/01/10,12:00 would drop an item stamped at that noon.
TEST(ParseDateTime, ZonesWhoseWinterIsFlaggedAsDaylightTime) {
#ifdef _WIN32
  GTEST_SKIP() << "the C library here knows no zone rules by name";
#else
  ScopedTimeZone tz("Europe/Dublin");
  struct Case {
    const char* text;
    int32_t seconds;
    int32_t day_end;
  };
  const Case cases[] = {
      {"17/01/10,12:00", 1484049600, 0},         // winter: 12:00 UTC
      {"17/07/10,12:00", 1499684400, 0},         // summer: 11:00 UTC
      {"17/01/10", 1484006400, 1484092800},      // a winter day, midnight to midnight UTC
      {"17/03/26", 1490486400, 1490569200},      // clocks forward at 01:00: a 23-hour day
  };
  for (const Case& c : cases) {
    int32_t bound = 0, day_end = 0;
    ASSERT_NE(parse_date_time(c.text, &bound, &day_end), 0) << c.text;
    EXPECT_EQ(bound, c.seconds) << c.text;
    if (c.day_end != 0) {
      EXPECT_EQ(day_end, c.day_end) << c.text;
    }
  }
#endif
}

TEST(TimeText, ShortFormIsHexadecimalOf32Bits) {
  char out[kTimeTextSize];
  EXPECT_STREQ(format_time_text(0, 0, out), "0");
  EXPECT_STREQ(format_time_text(-1, 0, out), "ffffffff");
  EXPECT_STREQ(format_time_text(INT32_MIN, 0, out), "80000000");
  EXPECT_STREQ(format_time_text(INT32_MAX, 0, out), "7fffffff");
  EXPECT_STREQ(format_time_text(k20060715, 0, out), "44b83000");
  EXPECT_STREQ(format_time_text(15, 0, out), "f");
}

TEST(TimeText, DetailedFormIsCalendarTextWithTwoDigitDay) {
  ScopedTimeZone tz("UTC");
  char out[kTimeTextSize];
  EXPECT_STREQ(format_time_text(0, 1, out), "Thu Jan 01 00:00:00 1970");
  EXPECT_STREQ(format_time_text(k20060715 - 10 * kDay + 3723, 1, out), "Wed Jul 05 01:02:03 2006");
  EXPECT_STREQ(format_time_text(INT32_MAX, 1, out), "Tue Jan 19 03:14:07 2038");
  EXPECT_STREQ(format_time_text(-1, 1, out), "Wed Dec 31 23:59:59 1969");
  EXPECT_STREQ(format_time_text(INT32_MIN, 1, out), "Fri Dec 13 20:45:52 1901");
  EXPECT_EQ(std::strlen(format_time_text(k20060715, 1, out)), 24u);
}

TEST(TimeText, DetailedFormFollowsLocalTime) {
  ScopedTimeZone tz("EST5EDT,M3.2.0,M11.1.0");
  char out[kTimeTextSize];
  EXPECT_STREQ(format_time_text(0, 1, out), "Wed Dec 31 19:00:00 1969");
  EXPECT_STREQ(format_time_text(k20060715, 1, out), "Fri Jul 14 20:00:00 2006");  // daylight time
}

}  // namespace
}  // namespace quire
