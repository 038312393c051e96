// A report command's line as a host checks it before running it
// (quire_check_report_options), and as the program answers it: the first
// fault on the line is the one said, whatever stands after it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quire/quire.h"
#include "support/test_support.h"

namespace quire::testing {
namespace {

struct Checked {
  int result;
  std::string message;
};

Checked check(const char* kind, std::vector<std::string> args, const char* changes = nullptr, int flags = 0,
              size_t size = 256) {
  args.insert(args.begin(), std::string("dmp_") + kind);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char> message(size + 1, '#');
  const int result = quire_check_report_options(kind, static_cast<int>(args.size()), argv.data(), changes, flags,
                                                message.data(), size);
  EXPECT_EQ(message[size], '#') << "written past the message buffer";
  return {result, std::string(message.data(), strnlen(message.data(), size))};
}

TEST(ReportOptions, CheckAnswersAsTheCommandReads) {
  TempStore store;
  EXPECT_EQ(check("mkpc", {"-N1", "AREA", "out.csv"}).result, QUIRE_OPTIONS_ACCEPTED);
  EXPECT_EQ(check("mkpc", {"AREA", "-s06/07/15", "-"}).result, QUIRE_OPTIONS_ACCEPTED);

  Checked c = check("mkpc", {"-S06/13/01", "AREA", "out.csv"});
  EXPECT_EQ(c.result, QUIRE_OPTIONS_BAD_DATE);
  EXPECT_EQ(c.message, "-S06/13/01: not a date; expected YY/MM/DD[,HH:MM]");
  c = check("mkpc", {"-N2", "AREA", "out.csv"});
  EXPECT_EQ(c.result, QUIRE_OPTIONS_REFUSED);
  EXPECT_EQ(c.message, "-N takes 0 (metric) or 1 (imperial), not '2'");
  EXPECT_EQ(check("mkpc", {"AREA", "sub/OLD.DAT"}).message,
            "the output path sub/OLD.DAT is named as the previous table OLD.DAT kept beside a table; "
            "give the table another name");
  EXPECT_EQ(check("mkpc", {"AREA", "out.csv"}, ".out.csv.quire-run").message,
            "--changes .out.csv.quire-run is the run record of out.csv; the changes would go into the record it "
            "replaces");
  EXPECT_EQ(check("nosuch", {"AREA", "out.csv"}).message, "unknown report kind 'nosuch'");

  // Only the arguments so far: a line that has not come to its output path
  // yet is no fault, and the paths are not looked at.
  EXPECT_EQ(check("mkpc", {"-N1"}, nullptr, QUIRE_OPTIONS_ARGUMENTS_ONLY).result, QUIRE_OPTIONS_ACCEPTED);
  EXPECT_EQ(check("mkpc", {"AREA", "delta.lst"}, nullptr, QUIRE_OPTIONS_ARGUMENTS_ONLY).result,
            QUIRE_OPTIONS_ACCEPTED);
  EXPECT_EQ(check("mkpc", {"-Lmissing.lst"}, nullptr, QUIRE_OPTIONS_ARGUMENTS_ONLY).message,
            "list file missing.lst: No such file or directory");

  // A message longer than the buffer is cut and ended.
  c = check("mkpc", {"-N2", "AREA", "out.csv"}, nullptr, 0, 8);
  EXPECT_EQ(c.message, "-N take");
}

TEST(ReportOptions, KindTableEndsAndNamesEachCommand) {
  EXPECT_EQ(quire_report_kind(-1), nullptr);
  int count = 0;
  while (const QuireReportKind* kind = quire_report_kind(count)) {
    EXPECT_NE(kind->command, nullptr) << kind->name;
    ++count;
  }
  EXPECT_EQ(count, 8);
}

TEST(ReportOptions, ProgramSaysTheFirstFaultOnTheLine) {
  TempStore store;
  const struct {
    std::vector<std::string> args;
    std::string first_line;
  } cases[] = {
      {{"mkpc", "-X", "--bogus"}, "quire: unknown report option '-X' (the report options are -L, -S, -E and -N)"},
      {{"mkpc", "--bogus", "-X"}, "quire: unknown option '--bogus'"},
      {{"mkpc", "AREA", "delta.lst", "--bogus"}, "quire: unknown option '--bogus'"},
      {{"mkpc", "-Syesterday", "--stop-after", "0"}, "quire mkpc: -Syesterday: not a date; expected YY/MM/DD[,HH:MM]"},
      {{"mkpc", "A", "o.csv", "x", "--help"}, "quire: unexpected argument 'x' after the output path o.csv"},
      {{"mkpc", "-N2", "-h"}, "quire: -N takes 0 (metric) or 1 (imperial), not '2'"},
  };
  for (const auto& c : cases) {
    RunResult r = run_quire(c.args);
    EXPECT_EQ(r.status, 2) << c.first_line;
    EXPECT_EQ(r.err, c.first_line + "\nTry 'quire --help' for more information.\n");
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace quire::testing
