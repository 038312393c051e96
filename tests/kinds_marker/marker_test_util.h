// Helpers for the marker report tests: markers and areas built as JSON.
#ifndef QUIRE_TESTS_KINDS_MARKER_MARKER_TEST_UTIL_H_
#define QUIRE_TESTS_KINDS_MARKER_MARKER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/report_run.h"
#include "support/test_support.h"

namespace quire::testing {

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
    set_environment("TZ", "UTC");
    ::tzset();
  }
  TempStore store_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_KINDS_MARKER_MARKER_TEST_UTIL_H_
