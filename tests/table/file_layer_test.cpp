// The file layer's own promises: a file mapped for reading that another
// process shortens meanwhile reads as zeros past the new end and says so,
// instead of the process being stopped by a bus error; a scratch file made
// again after a failure starts without that failure; a file's lock keeps
// other openings out and its holder's file from the stale-file removal; a
// read-only file is replaced and stays read-only; another user's link in a
// shared directory is not followed anywhere on the way to a file of a run;
// a run record takes its table's owner and mode and is trusted only as far
// as the table is; the change log's lock waits for record locks too and its
// wait has a bound; a commit of several files takes back the steps it made,
// last first, when one fails; and, on Windows, paths with drives, shares
// and device names.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "quire/files/file_commit.h"
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

  platform::ReadableFile file(platform::system_file_env());
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
  platform::WritableFile scratch(platform::system_file_env());
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
  platform::WritableFile writer(platform::system_file_env());
  ASSERT_TRUE(writer.create_exclusive(held));
  ASSERT_TRUE(writer.lock(false));
  write_file(dead, "left by a killed run");

  platform::WritableFile other(platform::system_file_env());
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
  platform::FileReplacement replacement(platform::system_file_env());
  quire::Status status;
  ASSERT_TRUE(replacement.begin(target, ".quire-new-", &status)) << status.message();
  ASSERT_TRUE(replacement.file().append("new", 3));
  ASSERT_TRUE(replacement.finish(&status)) << status.message();
  ASSERT_TRUE(replacement.put_in_place(&status)) << status.message();
  EXPECT_EQ("new", read_file(target));
  EXPECT_EQ(fs::perms::none, fs::status(target).permissions() & fs::perms::owner_write);
  fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
}

#ifndef _WIN32
// A link with another owner (a number no user has: root may give it away).
void plant_link(const fs::path& target, const fs::path& link, uid_t owner) {
  fs::remove(link);
  fs::create_symlink(target, link);
  ASSERT_EQ(0, ::lchown(link.c_str(), owner, owner)) << link;
}

constexpr uid_t kOtherUser = 12345;

// Another user's link to a directory inside a sticky, world-writable
// directory is refused wherever it stands on the way to a file of a run,
// also reached through a link of root's; the same link in a directory
// without the sticky bit, and root's own link in the sticky one, are
// followed.
TEST(SharedDirectories, OtherUsersLinkOnTheWayIsRefusedOnlyInAStickyDirectory) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link another owner";
  TempStore store;
  const fs::path work = store.work();
  fs::create_directories(work / "shared");
  fs::create_directories(work / "open");
  fs::create_directories(work / "private");
  ASSERT_EQ(0, ::chmod((work / "shared").c_str(), 01777));
  ASSERT_EQ(0, ::chmod((work / "open").c_str(), 0777));
  ASSERT_EQ(0, ::chmod((work / "private").c_str(), 0700));
  plant_link(work / "private", work / "shared" / "rep", kOtherUser);
  plant_link("shared/rep", work / "via", 0);  // root's, leading to hers

  const std::string kUnsafe =
      "a symbolic link owned by another user in a shared directory (sticky, world-writable); not followed";
  for (const std::string& path : {std::string("shared/rep/v.csv"), std::string("via/v.csv"),
                                  std::string("shared/rep/sub/../v.csv"), store.path("shared/rep/v.csv")}) {
    platform::OutputTarget target = platform::examine_output(path);
    EXPECT_EQ(platform::OutputTarget::kRefused, target.kind) << path;
    EXPECT_EQ(kUnsafe, target.what) << path;
    EXPECT_EQ("rep", fs::path(target.refused_path).filename()) << path << " " << target.refused_path;
    int result = -1;
    run_table(path, {{"M1", "a1"}}, {.expect_close = false, .result = &result});
    EXPECT_EQ(0, result) << path;
  }
  // The change log and the feed are never created or appended to through it.
  platform::WritableFile log(platform::system_file_env());
  EXPECT_FALSE(log.create_exclusive("shared/rep/delta.lst"));
  EXPECT_EQ("cannot write shared/rep: it is " + kUnsafe, log.status().message());
  write_file(work / "private" / "feed.jsonl", "");
  EXPECT_FALSE(log.open_append("via/feed.jsonl"));
  EXPECT_EQ("cannot write shared/rep: it is " + kUnsafe, log.status().message());
  EXPECT_EQ(1, std::distance(fs::directory_iterator(work / "private"), fs::directory_iterator()));
  EXPECT_EQ("", read_file(work / "private" / "feed.jsonl"));

  // Not sticky: no rule for it, the link is followed as any other.
  plant_link(work / "private", work / "open" / "rep", kOtherUser);
  platform::OutputTarget followed = platform::examine_output("open/rep/v.csv");
  EXPECT_EQ(platform::OutputTarget::kFile, followed.kind);
  EXPECT_EQ("open/rep/v.csv", followed.path);
  ASSERT_TRUE(log.open_append("open/rep/feed.jsonl")) << log.status().message();
  log.close();
  // Root's own link in the sticky directory is followed.
  plant_link(work / "private", work / "shared" / "rep", 0);
  EXPECT_EQ(platform::OutputTarget::kFile, platform::examine_output("via/v.csv").kind);
  run_table("via/v.csv", {{"M1", "a1"}});
  EXPECT_TRUE(fs::is_regular_file(work / "private" / "v.csv"));
}

// The run record written beside a table takes the table's owner and mode,
// never those of a file another user put at its name; and a record is read
// only when nobody could have written it who cannot write the table.
TEST(RunRecordTrust, RecordTakesTheTablesOwnerAndModeAndOthersRecordsAreNotRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files other owners";
  TempStore store;
  const std::string table = store.path("out.csv");
  const std::string record = table::run_record_path(table);
  const std::vector<TestItem> items = {{"M1", "a1", 3}, {"M2", "a1", 2}};
  run_table(table, items);
  ASSERT_EQ(0, ::chmod(table.c_str(), 0640));
  ASSERT_EQ(0, ::chown(table.c_str(), 0, 7));
  // Hers, writable by everybody, at the record's name.
  write_file(record, "planted\n");
  ASSERT_EQ(0, ::chown(record.c_str(), kOtherUser, kOtherUser));
  ASSERT_EQ(0, ::chmod(record.c_str(), 0666));
  run_table(table, {{"M1", "a1", 3}, {"M2", "b1", 2}});
  struct stat st;
  ASSERT_EQ(0, ::stat(record.c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_EQ(7u, st.st_gid);
  EXPECT_EQ(0640u, st.st_mode & 07777);

  auto readable = [&] {
    table::RunRecordReader reader(platform::system_file_env());
    return reader.open(record);
  };
  EXPECT_TRUE(readable());
  // Group-writable like its table, in the table's group: as trusted.
  ASSERT_EQ(0, ::chmod(table.c_str(), 0660));
  ASSERT_EQ(0, ::chmod(record.c_str(), 0660));
  EXPECT_TRUE(readable());
  // Writable by a group that cannot write the table, or by everybody.
  ASSERT_EQ(0, ::chown(record.c_str(), 0, 8));
  EXPECT_FALSE(readable());
  ASSERT_EQ(0, ::chown(record.c_str(), 0, 7));
  ASSERT_EQ(0, ::chmod(record.c_str(), 0662));
  EXPECT_FALSE(readable());
  ASSERT_EQ(0, ::chmod(record.c_str(), 0640));
  // Another user's, however it is protected.
  ASSERT_EQ(0, ::chown(record.c_str(), kOtherUser, 7));
  EXPECT_FALSE(readable());
  // Not read, the table is read row by row: the rerun is right all the same.
  const std::string before = read_file(table);
  run_table(table, {{"M1", "a1", 3}, {"M2", "b1", 2}});
  EXPECT_EQ(before, read_file(table));
  ASSERT_EQ(0, ::stat(record.c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_TRUE(readable());
}

// A program holding a record lock (lockf) on the change log keeps the
// run's lock waiting, as one holding flock's does; the lock is taken once
// it lets go. A wait bound past what the clock counts is the longest wait.
TEST(ChangeLogLock, RecordLockOfAnotherProgramIsWaitedForAndTheWaitHasABound) {
  TempStore store;
  const std::string log_path = store.path("delta.lst");
  write_file(log_path, "");
  int to_child[2], from_child[2];
  ASSERT_EQ(0, ::pipe(to_child));
  ASSERT_EQ(0, ::pipe(from_child));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = ::open(log_path.c_str(), O_WRONLY);
    char c = fd >= 0 && ::lockf(fd, F_LOCK, 0) == 0 ? 'L' : 'E';
    if (::write(from_child[1], &c, 1) != 1 || ::read(to_child[0], &c, 1) < 0) ::_exit(2);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, ::read(from_child[0], &c, 1));
  ASSERT_EQ('L', c);
  platform::WritableFile log(platform::system_file_env());
  ASSERT_TRUE(log.open_append(log_path));
  EXPECT_FALSE(log.lock_within(std::chrono::milliseconds(100)));
  EXPECT_EQ(EWOULDBLOCK, log.status().error());
  EXPECT_EQ("lock", log.status().operation());
  // The other program lets go (its end ends its lock).
  ASSERT_EQ(1, ::write(to_child[1], "x", 1));
  int child_status = 0;
  ASSERT_EQ(child, ::waitpid(child, &child_status, 0));
  ASSERT_TRUE(log.open_append(log_path));
  EXPECT_TRUE(log.lock_within(std::chrono::milliseconds(100))) << log.status().message();
  // Held, it keeps another opening out.
  platform::WritableFile other(platform::system_file_env());
  ASSERT_TRUE(other.open_append(log_path));
  EXPECT_FALSE(other.lock_within(std::chrono::milliseconds(0)));
  for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);

  set_environment("QUIRE_LOCK_WAIT_MS", "9223372036854775807");
  EXPECT_EQ(platform::kMaxLockWait, platform::lock_wait_limit());
  EXPECT_EQ("86400 s", platform::wait_text(platform::lock_wait_limit()));
  set_environment("QUIRE_LOCK_WAIT_MS", "99999999999999999999999");
  EXPECT_EQ(platform::kMaxLockWait, platform::lock_wait_limit());
  set_environment("QUIRE_LOCK_WAIT_MS", "250");
  EXPECT_EQ(std::chrono::milliseconds(250), platform::lock_wait_limit());
  // The longest wait, with the lock free, takes it at once.
  other.close();
  log.close();
  ASSERT_TRUE(other.open_append(log_path));
  EXPECT_TRUE(other.lock_within(std::chrono::milliseconds::max()));
  unset_environment("QUIRE_LOCK_WAIT_MS");
}
#endif  // !_WIN32

TEST(FileCommit, FailedStepTakesBackTheStepsMadeLastFirst) {
  std::string done;
  auto step = [&](platform::FileCommit& commit, const std::string& name, bool ok, bool with_status = true) {
    commit.add(
        "step " + name,
        [&done, name, ok, with_status](Status* status) {
          if (ok) done += "+" + name;
          else if (with_status) status->fail(ENOSPC, "write", "file " + name);
          return ok;
        },
        [&done, name] { done += "-" + name; });
  };
  {
    platform::FileCommit commit;
    step(commit, "a", true);
    step(commit, "b", true);
    step(commit, "c", false);
    step(commit, "d", true);
    const Status status = commit.run();
    // The failed step's own undo and the steps after it never run.
    EXPECT_EQ("+a+b-b-a", done);
    EXPECT_EQ(ENOSPC, status.error());
    EXPECT_EQ("file c", status.subject());
    EXPECT_EQ("step c", commit.failed_step());
    EXPECT_EQ(2u, commit.steps_made());
  }
  {
    // A step failing without a reason still fails the commit, named.
    done.clear();
    platform::FileCommit commit;
    step(commit, "a", true);
    step(commit, "b", false, false);
    const Status status = commit.run();
    EXPECT_FALSE(status.ok());
    EXPECT_EQ("step b", status.subject());
    EXPECT_EQ("+a-a", done);
  }
  {
    done.clear();
    platform::FileCommit commit;
    step(commit, "a", true);
    step(commit, "b", true);
    EXPECT_TRUE(commit.run().ok());
    EXPECT_EQ("+a+b", done);
    EXPECT_TRUE(commit.failed_step().empty());
  }
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
  platform::WritableFile null_device(platform::system_file_env());
  ASSERT_TRUE(null_device.open_stream("NUL"));
  EXPECT_TRUE(null_device.append("x", 1));

  // Past the 260 characters of a plain Windows path.
  std::string deep = store.work().string();
  for (int i = 0; deep.size() < 300; ++i) {
    deep += "\\" + std::string(40, static_cast<char>('a' + i));
    ASSERT_TRUE(fs::create_directory("\\\\?\\" + deep)) << deep;
  }
  platform::FileReplacement replacement(platform::system_file_env());
  quire::Status status;
  const std::string target = deep + "\\out.csv";
  ASSERT_TRUE(replacement.begin(target, ".quire-new-", &status)) << status.message();
  ASSERT_TRUE(replacement.file().append("deep", 4));
  ASSERT_TRUE(replacement.finish(&status) && replacement.put_in_place(&status)) << status.message();
  platform::ReadableFile file(platform::system_file_env());
  ASSERT_TRUE(file.open(target));
  EXPECT_EQ(4u, file.size());
}
#endif  // _WIN32

}  // namespace
}  // namespace quire::testing
