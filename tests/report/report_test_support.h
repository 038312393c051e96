// Helpers for the report framework tests: a fixed time zone and captured
// library messages.
#ifndef QUIRE_TESTS_REPORT_REPORT_TEST_SUPPORT_H_
#define QUIRE_TESTS_REPORT_REPORT_TEST_SUPPORT_H_

#include <cstdlib>
#include <ctime>
#include <string>

#include "quire/plotbase.h"
#include "support/print_capture.h"
#include "support/test_support.h"

namespace quire::testing {

// Sets TZ for the scope and restores the previous value after.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (old) old_ = old;
    set_environment("TZ", tz);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (had_) set_environment("TZ", old_);
    else unset_environment("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_REPORT_REPORT_TEST_SUPPORT_H_
