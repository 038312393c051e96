// The report library's reader on the storage library: how a failed call's
// result and error record become a Status.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plotbase_reader.h"
#include "quire/plotbase.h"

namespace quire {
namespace {

void set_error_record(int code, const char* source, int line) {
  pb_error.code = code;
  pb_error.line = line;
  std::memset(pb_error.source, 0, sizeof pb_error.source);
  std::strncpy(pb_error.source, source, sizeof pb_error.source - 1);
}

TEST(PlotbaseReader, FailuresKeepTheErrorRecordAsItWasAndTellFileFailuresFromEnds) {
  // SQLite failed a read of the area file.
  constexpr int kDatabaseError = -105;
  set_error_record(kDatabaseError, "plotbase/api.cpp", 241);
  const Status fault = library_failure(kDatabaseError, false);
  // The library's next failure overwrites its record, not the Status.
  set_error_record(PB_ERR_END_OF_LIST, "later.cpp", 3);
  EXPECT_EQ(fault.code(), StatusCode::kStore);
  EXPECT_EQ(fault.error(), kDatabaseError);
  EXPECT_STREQ(fault.source(), "plotbase/api.cpp");
  EXPECT_EQ(fault.line(), 241);

  const Status end = library_failure(0, false);
  EXPECT_EQ(end.code(), StatusCode::kNotFound);
  EXPECT_EQ(end.error(), PB_ERR_END_OF_LIST);
  EXPECT_STREQ(end.source(), "later.cpp");

  // A fault the area file asks for is a failure, but not of the file.
  set_error_record(PB_ERR_FAULT, "plotbase/api.cpp", 250);
  EXPECT_EQ(library_failure(PB_ERR_FAULT, false).code(), StatusCode::kNotFound);

  // A lookup's 0 is "no such item"; any other result is a failure of the
  // store, whatever its code.
  set_error_record(PB_ERR_NOT_FOUND, "lookup.cpp", 9);
  EXPECT_EQ(library_failure(0, true).code(), StatusCode::kNotFound);
  set_error_record(-104, "lookup.cpp", 10);
  EXPECT_EQ(library_failure(-104, true).code(), StatusCode::kStore);
  EXPECT_EQ(library_failure(-104, false).code(), StatusCode::kNotFound);

  // A source that fills the record without a NUL is taken whole, no further.
  std::memset(pb_error.source, 'x', sizeof pb_error.source);
  EXPECT_EQ(std::string(library_failure(kDatabaseError, false).source()), std::string(sizeof pb_error.source, 'x'));
  set_error_record(0, "", 0);
}

}  // namespace
}  // namespace quire
