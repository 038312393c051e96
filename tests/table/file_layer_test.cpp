// The file layer's own promises: a file mapped for reading that another
// process shortens meanwhile reads as zeros past the new end and says so,
// instead of the process being stopped by a bus error; a scratch file made
// again after a failure starts without that failure; a file's lock keeps
// other openings out and its holder's file from the stale-file removal; a
// read-only file is replaced and stays read-only; and, on Windows, paths
// with drives, shares and device names.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "quire/files/file_replacement.h"
#include "quire/files/file_view.h"
#include "quire/files/output_target.h"
#include "table_test_util.h"

namespace quire::testing {
namespace {

#ifndef _WIN32
// Windows refuses to shorten a mapped file: nothing to guard there.
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
#endif  // _WIN32

TEST(ScratchFile, MadeAgainAfterAFailureStartsClean) {
  TempStore store;
  platform::WritableFile scratch;
  EXPECT_FALSE(scratch.create_anonymous(store.work().string() + "/missing"));
  EXPECT_FALSE(scratch.status().ok());
  ASSERT_TRUE(scratch.create_anonymous(store.work().string()));
  EXPECT_TRUE(scratch.status().ok());
  EXPECT_TRUE(scratch.append("x", 1));
}

TEST(FileLock, HeldByOneOpeningKeepsOthersAndTheStaleFileRemovalOut) {
  TempStore store;
  const std::string held = store.path(".quire-new-held.tmp");
  const std::string dead = store.path(".quire-new-dead.tmp");
  platform::WritableFile writer;
  ASSERT_TRUE(writer.create_exclusive(held));
  ASSERT_TRUE(writer.lock(false));
  write_file(dead, "left by a killed run");

  platform::WritableFile other;
  ASSERT_TRUE(other.open_append(held));
  EXPECT_FALSE(other.lock(false));
  EXPECT_EQ(EWOULDBLOCK, other.status().error());
  other.close();

  EXPECT_EQ(1, platform::remove_stale_files(store.work().string(), ".quire-new-"));
  EXPECT_TRUE(fs::exists(held));
  EXPECT_FALSE(fs::exists(dead));
  // The lock keeps nobody from the holder's data.
  ASSERT_TRUE(writer.append("abc", 3));
  EXPECT_EQ("abc", read_file(held));
  writer.close();
  EXPECT_EQ(1, platform::remove_stale_files(store.work().string(), ".quire-new-"));
}

TEST(FileReplacement, ReadOnlyFileIsReplacedAndStaysReadOnly) {
  TempStore store;
  const std::string target = store.path("out.csv");
  write_file(target, "old");
  const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(target, read_only);
  platform::FileReplacement replacement;
  quire::Status status;
  ASSERT_TRUE(replacement.begin(target, ".quire-new-", &status)) << status.message();
  ASSERT_TRUE(replacement.file().append("new", 3));
  ASSERT_TRUE(replacement.finish(&status)) << status.message();
  ASSERT_TRUE(replacement.put_in_place(&status)) << status.message();
  EXPECT_EQ("new", read_file(target));
  EXPECT_EQ(fs::perms::none, fs::status(target).permissions() & fs::perms::owner_write);
  fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
}

#ifdef _WIN32
TEST(WindowsPaths, DirectoryKeepsDrivesAndSharesWhole) {
  EXPECT_EQ("C:\\", platform::directory_of("C:\\out.csv"));
  EXPECT_EQ("C:", platform::directory_of("C:out.csv"));
  EXPECT_EQ("C:\\x", platform::directory_of("C:\\x\\out.csv"));
  EXPECT_EQ("C:/x", platform::directory_of("C:/x/out.csv"));
  EXPECT_EQ("x\\y", platform::directory_of("x\\y/out.csv"));
  EXPECT_EQ("\\\\server\\share\\", platform::directory_of("\\\\server\\share\\out.csv"));
  EXPECT_EQ("\\\\server\\share\\d", platform::directory_of("\\\\server\\share\\d\\out.csv"));
  EXPECT_EQ("\\\\?\\UNC\\server\\share\\", platform::directory_of("\\\\?\\UNC\\server\\share\\out.csv"));
  EXPECT_EQ("\\\\?\\C:\\", platform::directory_of("\\\\?\\C:\\out.csv"));
  EXPECT_EQ("\\", platform::directory_of("\\out.csv"));
  EXPECT_EQ(".", platform::directory_of("out.csv"));
}

TEST(WindowsPaths, DevicesAndPipesAreStreamsAndLongPathsWork) {
  TempStore store;
  for (const std::string& name : {std::string("NUL"), std::string("nul.csv"), store.path("Com1.txt"),
                                  std::string("C:\\x\\lpt9"), std::string("\\\\.\\pipe\\quire-out")}) {
    platform::OutputTarget t = platform::examine_output(name);
    EXPECT_EQ(platform::OutputTarget::kStream, t.kind) << name;
    EXPECT_FALSE(t.standard_output) << name;
  }
  EXPECT_EQ(platform::OutputTarget::kFile, platform::examine_output(store.path("nullify.csv")).kind);
  EXPECT_EQ(platform::OutputTarget::kRefused, platform::examine_output(store.work().string()).kind);
  platform::WritableFile null_device;
  ASSERT_TRUE(null_device.open_stream("NUL"));
  EXPECT_TRUE(null_device.append("x", 1));

  // Past the 260 characters of a plain Windows path.
  std::string deep = store.work().string();
  for (int i = 0; deep.size() < 300; ++i) {
    deep += "\\" + std::string(40, static_cast<char>('a' + i));
    ASSERT_TRUE(fs::create_directory("\\\\?\\" + deep)) << deep;
  }
  platform::FileReplacement replacement;
  quire::Status status;
  const std::string target = deep + "\\out.csv";
  ASSERT_TRUE(replacement.begin(target, ".quire-new-", &status)) << status.message();
  ASSERT_TRUE(replacement.file().append("deep", 4));
  ASSERT_TRUE(replacement.finish(&status) && replacement.put_in_place(&status)) << status.message();
  platform::ReadableFile file;
  ASSERT_TRUE(file.open(target));
  EXPECT_EQ(4u, file.size());
}
#endif  // _WIN32

}  // namespace
}  // namespace quire::testing
