// Helpers for the model and order report tests: items as JSON, report runs
// through the quire program, outputs split into values.
#ifndef QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_
#define QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {

using nlohmann::json;

inline json item(const std::string& name, int32_t modified = 1000, int32_t created = -1) {
  return json{{"name", name},          {"modified", modified},   {"created", created},
              {"user_last_mod", "ann"}, {"user_created", "bob"}, {"user_prev_mod", "cy"}};
}

inline json size_entry(const std::string& size, int32_t quantity, int32_t direction = 0) {
  return json{{"size", size}, {"quantity", quantity}, {"cutdown", "cd"}, {"half_piece", "hp"},
              {"base_size", "bs"}, {"direction", direction}, {"placed", quantity * 2}};
}

inline json order_model(const std::string& name, const json& sizes, const json& options = json::array()) {
  return json{{"name", name}, {"size_code", name + "-sc"}, {"fabric", "FAB"},
              {"options", options}, {"sizes", sizes}};
}

inline void import_or_fail(const json& area) {
  RunResult r = import_area(area.dump());
  ASSERT_EQ(r.status, 0) << r.err;
}

// One report run: status, messages, and a CSV output as lines of values
// (quotes removed; the tests' values hold no commas or quotes).
struct ReportRun {
  RunResult run;
  std::string bytes;
  std::vector<std::vector<std::string>> lines;

  size_t row_count() const { return lines.size() < 2 ? 0 : lines.size() - 2; }
  // Column `name` of every row, joined by "|".
  std::string column(const std::string& name) const {
    std::string out;
    for (size_t c = 0; c < lines.at(1).size(); ++c) {
      if (lines[1][c] != name) continue;
      for (size_t r = 2; r < lines.size(); ++r) out += (r > 2 ? "|" : "") + lines[r].at(c);
      return out;
    }
    ADD_FAILURE() << "no column " << name;
    return out;
  }
  std::string line(size_t i) const {
    std::string out;
    for (const std::string& v : lines.at(i)) out += (out.empty() ? "" : ",") + v;
    return out;
  }
};

inline ReportRun run_report(const std::string& kind, bool detailed, const std::string& output,
                            const std::string& program = quire_program()) {
  ReportRun r;
  r.run = run_shell(shell_quote(program) + " " + kind + " --no-progress --quiet" +
                    (detailed ? " --detailed" : "") + " AREA " + shell_quote(output));
  r.bytes = read_file(output);
  for (const std::string& text : csv_lines(r.bytes)) {
    std::vector<std::string> values;
    std::stringstream in(text);
    for (std::string v; std::getline(in, v, ',');)
      values.push_back(v.size() >= 2 && v.front() == '"' ? v.substr(1, v.size() - 2) : v);
    r.lines.push_back(values);
  }
  return r;
}

// The dBASE descriptor name of column c and the value of that column in
// record r (fixed widths; the header length is at 8, the record length at 10).
inline std::string dbf_name(const std::string& b, size_t c) { return b.substr(32 + 32 * c, 10); }
inline std::string dbf_value(const std::string& b, size_t r, size_t c) {
  auto u16 = [&](size_t o) { return static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8; };
  size_t at = static_cast<size_t>(u16(8)) + r * static_cast<size_t>(u16(10)) + 1;
  for (size_t i = 0; i < c; ++i) at += static_cast<unsigned char>(b[32 + 32 * i + 16]);
  return b.substr(at, static_cast<unsigned char>(b[32 + 32 * c + 16]));
}

class ModelReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  // A copy of the program and its libraries in root/dir, optionally with a
  // resource library installed beside libquire.so.
  std::string copied_program(const std::string& dir, const std::string& resource_library = "") {
    namespace fs = std::filesystem;
    fs::path to = store_.root() / dir;
    fs::create_directories(to);
    for (const char* file : {"quire", "libquire.so", "libplotbase.so", "libquire_files.so"})
      fs::copy_file(fs::path(bin_dir()) / file, to / file);
    if (!resource_library.empty()) fs::copy_file(resource_library, to / "libquireres.so");
    return (to / "quire").string();
  }
  TempStore store_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_
