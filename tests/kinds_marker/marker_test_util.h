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

// A marker with the fields every item needs; callers add the rest.
inline json marker(const std::string& name, int32_t modified = 1000000000) {
  return json{{"name", name},
              {"modified", modified},
              {"user_last_mod", "ann"},
              {"user_created", "bob"},
              {"user_prev_mod", "cy"}};
}

// An area named AREA with the given markers.
inline json area(const std::vector<json>& markers, int notation = 0, int precision = 2) {
  return json{{"name", "AREA"}, {"notation", notation}, {"precision", precision},
              {"markers", json(markers)}};
}

// Splits one CSV line into its values, undoing the quotes (a doubled quote
// inside a quoted value is one quote).
inline std::vector<std::string> csv_values(const std::string& line) {
  std::vector<std::string> values;
  std::string v;
  size_t i = 0;
  for (;;) {
    v.clear();
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            v += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v += line[i++];
      }
    }
    while (i < line.size() && line[i] != ',') v += line[i++];
    values.push_back(v);
    if (i >= line.size()) break;
    ++i;  // the comma
  }
  return values;
}

// The result of one report run: its exit status, its messages and its CSV
// output split into lines of values (the preamble line first).
struct ReportRun {
  RunResult run;
  std::vector<std::vector<std::string>> lines;

  const std::vector<std::string>& columns() const { return lines.at(1); }
  size_t row_count() const { return lines.size() < 2 ? 0 : lines.size() - 2; }
  const std::vector<std::string>& row(size_t i) const { return lines.at(2 + i); }
  // The value of column `name` in row i.
  std::string value(size_t i, const std::string& name) const {
    const auto& cols = columns();
    for (size_t c = 0; c < cols.size(); ++c) {
      if (cols[c] == name) return row(i).at(c);
    }
    ADD_FAILURE() << "no column " << name;
    return {};
  }
};

// Imports the area (failing the test when the import fails).
inline void import_or_fail(const json& area_json) {
  RunResult r = import_area(area_json.dump());
  ASSERT_EQ(r.status, 0) << r.err;
}

// Runs `quire KIND --no-progress [--detailed] ARGS... AREA OUTPUT` and reads
// a CSV output.
inline ReportRun run_report(const std::string& kind, bool detailed, const std::string& output,
                            const std::vector<std::string>& options = {}) {
  std::vector<std::string> args{kind, "--no-progress"};
  if (detailed) args.push_back("--detailed");
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("AREA");
  args.push_back(output);
  ReportRun r;
  r.run = run_quire(args);
  for (const std::string& line : csv_lines(read_file(output))) r.lines.push_back(csv_values(line));
  return r;
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
