// Helpers for the model and order report tests: items as JSON and dBASE
// outputs split into values.
#ifndef QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_
#define QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/report_run.h"
#include "support/test_support.h"

namespace quire::testing {

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
    set_environment("TZ", "UTC");
    ::tzset();
  }
  // A copy of the program and its libraries in root/dir, optionally with a
  // resource library installed beside libquire.so.
  std::string copied_program(const std::string& dir, const std::string& resource_library = "") {
    namespace fs = std::filesystem;
    fs::path to = store_.root() / dir;
    fs::create_directories(to);
    for (const std::string& file : {program_file("quire"), library_file("quire"), library_file("plotbase"),
                                    library_file("quire_files")})
      fs::copy_file(fs::path(bin_dir()) / file, to / file);
    if (!resource_library.empty()) fs::copy_file(resource_library, to / library_file("quireres"));
    return (to / program_file("quire")).string();
  }
  TempStore store_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_KINDS_MODEL_MODEL_TEST_UTIL_H_
