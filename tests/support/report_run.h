// Report runs through the quire program for the report-kind tests: areas
// imported from JSON, one run of a kind, and its CSV output as values.
#ifndef QUIRE_TESTS_SUPPORT_REPORT_RUN_H_
#define QUIRE_TESTS_SUPPORT_REPORT_RUN_H_

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {

using nlohmann::json;
using Row = std::vector<std::string>;

// Imports the area, failing the test when the import does not succeed.
inline void import_or_fail(const json& area) {
  RunResult r = import_area(area.dump());
  ASSERT_EQ(r.status, 0) << r.err;
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

// One report run: exit status, messages, the output's bytes and, for a CSV
// output, its lines of values (preamble, column names, rows).
struct ReportRun {
  RunResult run;
  std::string bytes;
  std::vector<Row> lines;

  const Row& columns() const { return lines.at(1); }
  size_t row_count() const { return lines.size() < 2 ? 0 : lines.size() - 2; }
  const Row& row(size_t i) const { return lines.at(2 + i); }
  // The value of column in row i.
  std::string value(size_t i, const std::string& column) const {
    for (size_t c = 0; c < columns().size(); ++c)
      if (columns()[c] == column) return row(i).at(c);
    ADD_FAILURE() << "no column " << column;
    return {};
  }
  // The values of column in every row, joined by "|".
  std::string column(const std::string& name) const {
    std::string out;
    for (size_t c = 0; c < columns().size(); ++c) {
      if (columns()[c] != name) continue;
      for (size_t r = 0; r < row_count(); ++r) out += (r > 0 ? "|" : "") + row(r).at(c);
      return out;
    }
    ADD_FAILURE() << "no column " << name;
    return out;
  }
  // Line i's values joined by commas, without quotes.
  std::string line(size_t i) const {
    std::string out;
    for (const std::string& v : lines.at(i)) out += (out.empty() ? "" : ",") + v;
    return out;
  }
};

// Runs `PROGRAM KIND --no-progress --quiet [--detailed] OPTIONS... AREA OUTPUT`.
inline ReportRun run_report(const std::string& kind, bool detailed, const std::string& output,
                            const std::vector<std::string>& options = {},
                            const std::string& program = quire_program()) {
  std::vector<std::string> args = {kind, "--no-progress", "--quiet"};
  if (detailed) args.push_back("--detailed");
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("AREA");
  args.push_back(output);
  ReportRun r;
#ifdef _WIN32
  r.run = run_program(program, args);
#else
  std::string command = shell_quote(program);
  for (const std::string& a : args) command += " " + shell_quote(a);
  r.run = run_shell(command);
#endif
  r.bytes = read_file(output);
  for (const std::string& line : csv_lines(r.bytes)) r.lines.push_back(csv_values(line));
  return r;
}

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_REPORT_RUN_H_
