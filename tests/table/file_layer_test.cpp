// The file layer's own promises: a file mapped for reading that another
// process shortens meanwhile reads as zeros past the new end and says so,
// instead of the process being stopped by a bus error; a scratch file made
// again after a failure starts without that failure.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "quire/files/file_view.h"
#include "table_test_util.h"

namespace quire::testing {
namespace {

TEST(FileView, FileShortenedWhileViewedReadsAsZerosAndSaysSo) {
  TempStore store;
  const size_t page = platform::FileView::page_size();
  const std::string path = store.path("table.csv");
  write_file(path, std::string(4 * page, 'x'));

  platform::ReadableFile file;
  ASSERT_TRUE(file.open(path));
  platform::FileView view;
  const char* data = view.map(file, page, 3 * page);  // from the second page
  ASSERT_NE(nullptr, data);
  EXPECT_EQ('x', data[0]);
  EXPECT_FALSE(view.shortened());

  ASSERT_EQ(0, ::truncate(path.c_str(), static_cast<off_t>(2 * page + 10)));
  EXPECT_EQ('x', data[page + 9]);   // before the new end
  EXPECT_EQ('\0', data[page + 10]);  // past it, on the page that holds it
  EXPECT_EQ('\0', data[2 * page + 1]);  // on a page wholly past it
  EXPECT_TRUE(view.shortened());
  view.unmap();
  EXPECT_TRUE(view.shortened());  // it stays said
}

TEST(ScratchFile, MadeAgainAfterAFailureStartsClean) {
  TempStore store;
  platform::WritableFile scratch;
  EXPECT_FALSE(scratch.create_anonymous(store.work().string() + "/missing"));
  EXPECT_FALSE(scratch.status().ok());
  ASSERT_TRUE(scratch.create_anonymous(store.work().string()));
  EXPECT_TRUE(scratch.status().ok());
  EXPECT_TRUE(scratch.append("x", 1));
}

}  // namespace
}  // namespace quire::testing
