// Helpers for the model and order report tests: areas built as JSON, report
// runs through the quire program, CSV and dBASE outputs split into values.
#ifndef QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_
#define QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {

using nlohmann::json;

// An item (marker, model or order) with the fields every item needs.
inline json item(const std::string& name, int32_t modified = 1000000000, int32_t created = -1) {
  return json{{"name", name},          {"modified", modified},   {"created", created},
              {"user_last_mod", "ann"}, {"user_created", "bob"}, {"user_prev_mod", "cy"}};
}

// An order model with the given option names and size entries.
inline json order_model(const std::string& name, const json& sizes,
                        const json& options = json::array()) {
  return json{{"name", name},        {"alteration", name + "-alt"}, {"dynamic", name + "-dyn"},
              {"size_code", name + "-sc"}, {"fabric", "FAB"},      {"add_piece_bundle", 0},
              {"options", options},  {"sizes", sizes}};
}

inline json size_entry(const std::string& size, int32_t quantity, int32_t direction = 0) {
  return json{{"size", size},          {"quantity", quantity}, {"cutdown", "cd"},
              {"half_piece", "hp"},    {"base_size", "bs"},    {"direction", direction},
              {"placed", quantity * 2}};
}

// Splits one CSV line into its values, undoing the quotes.
inline std::vector<std::string> csv_values(const std::string& line) {
  std::vector<std::string> values;
  std::string v;
  size_t i = 0;
  for (;;) {
    v.clear();
    bool quoted = i < line.size() && line[i] == '"';
    if (quoted) {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) end = line.size();
      v = line.substr(i + 1, end - i - 1);
      i = end + 1;
    }
    while (i < line.size() && line[i] != ',') v += line[i++];
    values.push_back(v);
    if (i >= line.size()) break;
    ++i;
  }
  return values;
}

// One report run: exit status, messages, and the CSV output as lines of
// values (the preamble line first, then the column names).
struct ReportRun {
  RunResult run;
  std::string bytes;
  std::vector<std::vector<std::string>> lines;

  const std::vector<std::string>& columns() const { return lines.at(1); }
  size_t row_count() const { return lines.size() < 2 ? 0 : lines.size() - 2; }
  const std::vector<std::string>& row(size_t i) const { return lines.at(2 + i); }
  std::string value(size_t i, const std::string& name) const {
    const auto& cols = columns();
    for (size_t c = 0; c < cols.size(); ++c)
      if (cols[c] == name) return row(i).at(c);
    ADD_FAILURE() << "no column " << name;
    return {};
  }
  // The values of column `name`, one per row.
  std::vector<std::string> column(const std::string& name) const {
    std::vector<std::string> out;
    for (size_t i = 0; i < row_count(); ++i) out.push_back(value(i, name));
    return out;
  }
};

inline void import_or_fail(const json& area_json) {
  RunResult r = import_area(area_json.dump());
  ASSERT_EQ(r.status, 0) << r.err;
}

// Runs `PROGRAM KIND --no-progress [--detailed] AREA OUTPUT` and reads the
// output (split into CSV lines unless it is a dBASE table).
inline ReportRun run_report(const std::string& kind, bool detailed, const std::string& output,
                            const std::string& program = quire_program()) {
  std::string cmd = shell_quote(program) + " " + kind + " --no-progress";
  if (detailed) cmd += " --detailed";
  cmd += " AREA " + shell_quote(output);
  ReportRun r;
  r.run = run_shell(cmd);
  r.bytes = read_file(output);
  if (output.find(".dbf") == std::string::npos)
    for (const std::string& line : csv_lines(r.bytes)) r.lines.push_back(csv_values(line));
  return r;
}

// A dBASE III table read back: column names and types, records as raw
// fixed-width values.
struct DbfTable {
  std::vector<std::string> names;
  std::vector<char> types;
  std::vector<int> widths;
  std::vector<std::vector<std::string>> records;

  std::string value(size_t record, const std::string& name) const {
    for (size_t c = 0; c < names.size(); ++c)
      if (names[c] == name) return records.at(record).at(c);
    ADD_FAILURE() << "no dBASE column " << name;
    return {};
  }
};

inline DbfTable read_dbf(const std::string& bytes) {
  DbfTable t;
  if (bytes.size() < 32) {
    ADD_FAILURE() << "dBASE table too short";
    return t;
  }
  auto u8 = [&](size_t o) { return static_cast<unsigned char>(bytes.at(o)); };
  uint32_t count = u8(4) | (u8(5) << 8) | (u8(6) << 16) | (static_cast<uint32_t>(u8(7)) << 24);
  size_t header_length = u8(8) | (u8(9) << 8);
  size_t record_length = u8(10) | (u8(11) << 8);
  for (size_t o = 32; o + 32 <= header_length; o += 32) {
    t.names.push_back(std::string(bytes.c_str() + o));  // up to the first NUL
    t.names.back().resize(std::min<size_t>(t.names.back().size(), 11));
    t.types.push_back(bytes.at(o + 11));
    t.widths.push_back(u8(o + 16));
  }
  for (uint32_t r = 0; r < count; ++r) {
    size_t at = header_length + r * record_length + 1;
    std::vector<std::string> values;
    for (int w : t.widths) {
      values.push_back(bytes.substr(at, static_cast<size_t>(w)));
      at += static_cast<size_t>(w);
    }
    t.records.push_back(values);
  }
  return t;
}

// Every test runs in a private store with the calendar texts in UTC.
class ModelReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  TempStore store_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_
