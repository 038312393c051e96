// Helpers for the marker report tests: areas built as JSON, report runs
// through the quire program, and CSV outputs split into values.
#ifndef QUIRE_TESTS_KINDS_MARKER_MARKER_TEST_UTIL_H_
#define QUIRE_TESTS_KINDS_MARKER_MARKER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {

using nlohmann::json;
using Row = std::vector<std::string>;

// A marker modified at 1000000000 (3b9aca00) with three user names.
inline json marker(const std::string& name, int32_t modified = 1000000000) {
  return json{{"name", name}, {"modified", modified}, {"user_last_mod", "ann"},
              {"user_created", "bob"}, {"user_prev_mod", "cy"}};
}

// An area named AREA. (A vector, since a one-element braced json list would
// be taken for its element.)
inline json area(const std::vector<json>& markers, int notation = 0, int precision = 2) {
  return json{{"name", "AREA"}, {"notation", notation}, {"precision", precision},
              {"markers", json(markers)}};
}

// Splits one CSV line into its values; "" inside quotes is one quote.
inline Row csv_values(const std::string& line) {
  Row values(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
      values.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      values.emplace_back();
    } else {
      values.back() += c;
    }
  }
  return values;
}

// One report run: exit status, messages, and the CSV output's lines of
// values (preamble, column names, rows).
struct ReportRun {
  RunResult run;
  std::vector<Row> lines;

  const Row& columns() const { return lines.at(1); }
  size_t row_count() const { return lines.size() < 2 ? 0 : lines.size() - 2; }
  const Row& row(size_t i) const { return lines.at(2 + i); }
  std::string value(size_t i, const std::string& column) const {
    for (size_t c = 0; c < columns().size(); ++c)
      if (columns()[c] == column) return row(i).at(c);
    ADD_FAILURE() << "no column " << column;
    return {};
  }
};

inline void import_or_fail(const json& area_json) {
  RunResult r = import_area(area_json.dump());
  ASSERT_EQ(r.status, 0) << r.err;
}

// Runs `quire KIND --no-progress --quiet [--detailed] OPTIONS... AREA OUTPUT`.
inline ReportRun run_report(const std::string& kind, bool detailed, const std::string& output,
                            const std::vector<std::string>& options = {}) {
  std::vector<std::string> args{kind, "--no-progress", "--quiet"};
  if (detailed) args.push_back("--detailed");
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), {"AREA", output});
  ReportRun r;
  r.run = run_quire(args);
  for (const std::string& line : csv_lines(read_file(output))) r.lines.push_back(csv_values(line));
  return r;
}

// Occurrences of the library's error record "Error %d, %s(%d)" in text.
inline int error_records(const std::string& text) {
  int n = 0;
  for (size_t at = text.find("Error "); at != std::string::npos; at = text.find("Error ", at + 1))
    ++n;
  return n;
}

// Pins the time zone for the calendar texts of the detailed form.
class MarkerReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  TempStore store_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_KINDS_MARKER_MARKER_TEST_UTIL_H_
