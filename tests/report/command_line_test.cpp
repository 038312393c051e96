// The command line of a report command: options, messages and results.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "fake_report.h"
#include "report_test_support.h"
#include "support/test_support.h"
#include "quire/ascii.h"
#include "table/change_feed.h"

namespace quire {
namespace {

using testing::FakeReport;
using testing::FakePrints;
using testing::ScopedTimeZone;
using testing::TempStore;

const std::string kUsage =
    "Usage:\tDMP [-Syy/mm/dd[,hh:mm]] [-Eyy/mm/dd[,hh:mm]] [-Llistfile] s_area output_file\n\n"
    "Where\n  -Llistfile is a list of items, 1/line, to dump. default: all items.\n"
    "  -S:START DATE.  YY/MM/DD,HH:MM format.\n  -E:END DATE.  YY/MM/DD,HH:MM format.\n"
    "  -N:NOTATION. 0 metric, 1 imperial. default: the storage area's own\n";
const std::string kInvalidTime = "Error, invalid format time use: YY/MM/DD[,HH:MM].\n";
constexpr int32_t k20060715 = 1152921600;

// Runs parse_command_line on a fresh report with the given arguments after
// the command name.
struct Parsed {
  int result;
  std::string messages;
};

class CommandLine : public ::testing::Test {
 protected:
  Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "dmp_fake");
    argv_storage_ = args;
    argv_.clear();
    for (std::string& a : argv_storage_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    FakePrints captured;
    int r = report_.parse_command_line(static_cast<int>(argv_storage_.size()), argv_.data());
    return {r, captured.text()};
  }

  ScopedTimeZone tz_{"UTC"};
  TempStore store_;  // an empty store: every area name is unknown
  FakeReport report_;
  std::vector<std::string> argv_storage_;
  std::vector<char*> argv_;
};

TEST_F(CommandLine, TooFewOrRunOutArgumentsGiveTheUsageText) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"AREA"},
           {"-S06/07/15", "-N1"},          // options only
           {"-S06/07/15", "-N1", "AREA"},  // no output path
       }) {
    Parsed p = parse(args);
    EXPECT_EQ(p.result, 0) << args.size();
    EXPECT_EQ(p.messages, kUsage) << args.size();
  }
}

TEST_F(CommandLine, RejectedDateStopsAtOnce) {
  Parsed p = parse({"-S06/13/01", "-N1", "AREA", "out.csv"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.messages, kInvalidTime);
  EXPECT_EQ(report_.notation, -1);  // -N1 after it was never read
  EXPECT_EQ(report_.start_time, 0);

  p = parse({"-E38/01/19,03:15", "AREA", "out.csv"});  // beyond 32-bit seconds
  EXPECT_EQ(p.messages, kInvalidTime);
  EXPECT_EQ(report_.end_time, INT32_MAX);
}

TEST_F(CommandLine, UnknownAreaIsNamed) {
  Parsed p = parse({"NOPE", "out.csv"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.messages, "Unrecognized Storage Area: NOPE.\n");
  EXPECT_EQ(report_.output_path, nullptr);
}

// A table named as the change log or as the previous table would be taken
// for that file: refused before the area is looked up, in any directory.
TEST_F(CommandLine, OutputNamedAsTheChangeLogOrThePreviousTableIsRefused) {
  const struct {
    const char* output;
    const char* message;
  } cases[] = {
      {"delta.lst", "Output file delta.lst: delta.lst is kept for the change log; use another name.\n"},
      {"sub/OLD.DAT", "Output file sub/OLD.DAT: OLD.DAT is kept for the previous table; use another name.\n"},
      {"C:\\x\\OLD.DAT", "Output file C:\\x\\OLD.DAT: OLD.DAT is kept for the previous table; use another name.\n"},
  };
  for (const auto& c : cases) {
    Parsed p = parse({"NOPE", c.output});
    EXPECT_EQ(p.result, 0) << c.output;
    EXPECT_EQ(p.messages, c.message);
    EXPECT_EQ(report_.output_path, nullptr);
  }
  // Names that only contain them are the user's to choose.
  for (const char* output : {"delta.lst.csv", "sub/OLD.DAT.csv", "OLD.DAT/out.csv"}) {
    EXPECT_EQ(parse({"NOPE", output}).messages, "Unrecognized Storage Area: NOPE.\n") << output;
  }
}

// The change feed set for the run never names the table or another file the
// run replaces: its lines would be lost in that file.
TEST_F(CommandLine, FeedNamingAFileOfTheRunIsRefused) {
  table::set_change_feed_path("sub/../out.csv");
  Parsed p = parse({"NOPE", "out.csv"});
  EXPECT_EQ(p.messages,
            "the change feed sub/../out.csv is the output path; the changes would go into the table it replaces\n");
  table::set_change_feed_path("OLD.DAT");
  p = parse({"NOPE", "out.csv"});
  EXPECT_EQ(p.messages, "the change feed OLD.DAT is the previous table OLD.DAT of out.csv; the changes would go into "
                        "the table it replaces\n");
  table::set_change_feed_path("");
  EXPECT_EQ(report_.output_path, nullptr);
}

TEST_F(CommandLine, DateOptionsSetTheBounds) {
  parse({"-S06/07/01", "-s06-07-15", "-E06/07/15", "NOPE", "out.csv"});
  EXPECT_EQ(report_.start_time, k20060715);  // the last -S wins, either case
  EXPECT_EQ(report_.end_time, k20060715 + 86400);  // the whole end day

  parse({"-e06/07/15,10:30", "NOPE", "out.csv"});
  EXPECT_EQ(report_.end_time, k20060715 + 10 * 3600 + 30 * 60);

  parse({"-E38/01/19", "NOPE", "out.csv"});  // its day's end lies beyond 32 bits
  EXPECT_EQ(report_.end_time, INT32_MAX);
}

TEST_F(CommandLine, NotationOption) {
  parse({"-n1", "NOPE", "out.csv"});
  EXPECT_EQ(report_.notation, 1);
  parse({"-N1", "-N0", "NOPE", "out.csv"});
  EXPECT_EQ(report_.notation, 0);
}

// What the command does not take is refused with the reason, before the
// area is looked up: a line the user meant otherwise never runs as another.
TEST_F(CommandLine, OptionsItDoesNotTakeAreRefusedWithTheReason) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"-N2", "NOPE", "out.csv"}, "-N takes 0 (metric) or 1 (imperial), not '2'\n"},
      {{"-N", "NOPE", "out.csv"}, "-N takes 0 (metric) or 1 (imperial), not ''\n"},
      {{"-N01", "NOPE", "out.csv"}, "-N takes 0 (metric) or 1 (imperial), not '01'\n"},
      {{"-Q", "NOPE", "out.csv"}, "unknown report option '-Q' (the report options are -L, -S, -E and -N)\n"},
      {{"-L", "NOPE", "out.csv"}, "-L needs a list file, attached: -Lnames.lst\n"},
      {{"-", "NOPE", "out.csv"}, "unexpected argument 'out.csv' after the output path NOPE\n"},
      {{"NOPE", "out.csv", "-N1"}, "unexpected argument '-N1' after the output path out.csv\n"},
  };
  for (const auto& c : cases) {
    Parsed p = parse(c.args);
    EXPECT_EQ(p.result, 0) << c.message;
    EXPECT_EQ(p.messages, c.message);
    EXPECT_EQ(report_.output_path, nullptr);
  }
}

// Options stand anywhere before the output path, as the program takes them.
TEST_F(CommandLine, OptionsMayFollowTheArea) {
  Parsed p = parse({"NOPE", "-N1", "-S06/07/15", "out.csv"});
  EXPECT_EQ(p.messages, "Unrecognized Storage Area: NOPE.\n");
  EXPECT_EQ(report_.notation, 1);
  EXPECT_EQ(report_.start_time, k20060715);
}

TEST_F(CommandLine, ListOptionOpensTheLastListFile) {
  testing::write_file(store_.path("a.lst"), "A\n");
  testing::write_file(store_.path("b.lst"), "B\n");
  parse({"-La.lst", "NOPE", "out.csv"});
  ASSERT_NE(report_.list_file, nullptr);
  parse({"-La.lst", "-lb.lst", "NOPE", "out.csv"});
  ASSERT_NE(report_.list_file, nullptr);
  char line[8] = {};
  ASSERT_NE(std::fgets(line, sizeof line, report_.list_file), nullptr);
  EXPECT_STREQ(line, "B\n");
  // A list that cannot be read is refused: the run would otherwise dump
  // every item for a list of a few. A directory opens but reads as empty.
  Parsed p = parse({"-La.lst", "-Lmissing.lst", "NOPE", "out.csv"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.messages, "list file missing.lst: No such file or directory\n");
  p = parse({"-La.lst", "-L.", "NOPE", "out.csv"});
  EXPECT_EQ(p.messages, "list file .: not a regular file or a pipe\n");
}

// The integer scanner every number of a command line or a previous table is
// read with: the sign, where reading stops, and the edges of the 64-bit range.
TEST(ScanInteger, ReadsSignAndDigitsAndHoldsTheRange) {
  struct Case {
    const char* text;
    size_t length;
    int64_t value;
    bool out_of_range;
  } cases[] = {
      {"", 0, 0, false},
      {"-", 0, 0, false},
      {"+-5", 0, 0, false},
      {" 5", 0, 0, false},
      {"12ab", 2, 12, false},
      {"-007", 4, -7, false},
      {"9223372036854775807", 19, INT64_MAX, false},
      {"9223372036854775808", 19, INT64_MAX, true},
      {"-9223372036854775808", 20, INT64_MIN, false},
      {"-9223372036854775809", 20, INT64_MIN, true},
      {"123456789012345678901234567890,", 30, INT64_MAX, true},
  };
  for (const Case& c : cases) {
    ascii::ScannedInteger n = ascii::scan_integer(c.text);
    EXPECT_EQ(n.length, c.length) << c.text;
    EXPECT_EQ(n.value, c.value) << c.text;
    EXPECT_EQ(n.out_of_range, c.out_of_range) << c.text;
  }
}

}  // namespace
}  // namespace quire
