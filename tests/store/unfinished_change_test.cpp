// An area file that a program changed in place and left half-written: its
// rollback journal beside it is rolled back before anything is read, and
// while the program is still writing the area is refused, saying so; an
// area file that cannot be opened is said in words with the system's
// reason. The journals are real ones: SQLite writing a transaction larger
// than its page cache, copied as a killed writer leaves them, or held open.
#include <cerrno>
#include <cstring>
#include <regex>

#include "store_damage_support.h"

namespace quire::testing {
namespace {

// A connection to an area file in the middle of a transaction that has
// written changed pages into the file itself (its cache holds one page),
// the original pages being in the rollback journal beside it.
class HalfWrittenChange {
 public:
  explicit HalfWrittenChange(const fs::path& file) : journal_(file.string() + "-journal") {
    EXPECT_EQ(sqlite3_open(file.string().c_str(), &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_,
                           "PRAGMA cache_size = 1; BEGIN; DELETE FROM marker_pieces WHERE marker_id > 15;"
                           "UPDATE markers SET piece_count = 0 WHERE id > 15;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db_);
  }
  ~HalfWrittenChange() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  HalfWrittenChange(const HalfWrittenChange&) = delete;
  HalfWrittenChange& operator=(const HalfWrittenChange&) = delete;
  const fs::path& journal() const { return journal_; }

 private:
  sqlite3* db_ = nullptr;
  fs::path journal_;
};

class UnfinishedChange : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult g = run_quire({"area", "generate", "DMG", "--markers", "30", "--models", "8", "--orders", "8"});
    ASSERT_EQ(g.status, 0) << g.err;
    RunResult r = run_report(store_, "mkpc", "DMG", &clean_);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // Leaves the area file and its journal as a writer killed in the middle
  // of its transaction leaves them: copies of both, taken while the
  // transaction is open.
  void leave_hot_journal() {
    const fs::path writing = store_.root() / "writing.sqlite";
    copy_over(area_, writing);
    HalfWrittenChange change(writing);
    ASSERT_GT(fs::file_size(change.journal()), 0u);
    copy_over(change.journal(), journal_);
    const fs::path copy = store_.root() / "copy.sqlite";
    copy_over(writing, copy);
    fs::rename(copy, area_);
  }

  TempStore store_;
  fs::path area_ = store_.store() / "dmg.sqlite";
  fs::path journal_ = store_.store() / "dmg.sqlite-journal";
  std::string clean_;
};

TEST_F(UnfinishedChange, AHotJournalIsRolledBackBeforeTheReportReads) {
  leave_hot_journal();
  // Read as it lies, the file has lost half the pieces.
  {
    sqlite3* db = nullptr;
    const std::string file = area_.generic_string();  // a drive letter goes after a '/'
    const std::string uri = "file:" + std::string(file[0] == '/' ? "" : "/") + file + "?immutable=1";
    ASSERT_EQ(sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
              SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM marker_pieces", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 15 * 8);
    sqlite3_finalize(s);
    sqlite3_close(db);
  }
  std::string table;
  RunResult r = run_report(store_, "mkpc", "DMG", &table);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(table == clean_) << table.size() << " bytes, clean " << clean_.size();
  EXPECT_FALSE(fs::exists(journal_));
  EXPECT_EQ(integrity_of(area_), "ok");

  // The check rolls back too, and finds the file sound then.
  leave_hot_journal();
  RunResult check = run_quire({"area", "check", "DMG"});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_FALSE(fs::exists(journal_));
  EXPECT_TRUE(run_report(store_, "mkpc", "DMG", &table).status == 0 && table == clean_);
}

// A change committed to a write-ahead log that was never copied into the
// file (the writer was killed before it closed): read as it lies, the file
// lacks the change; the report has it.
TEST_F(UnfinishedChange, AChangeLeftInAWriteAheadLogIsRead) {
  const fs::path writing = store_.root() / "writing.sqlite";
  copy_over(area_, writing);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(writing.string().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                         "UPDATE markers SET user_last_mod = 'walter';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  const fs::path log = store_.store() / "dmg.sqlite-wal";
  copy_over(writing.string() + "-wal", log);
  const fs::path copy = store_.root() / "copy.sqlite";
  copy_over(writing, copy);
  sqlite3_close(db);
  fs::rename(copy, area_);
  ASSERT_GT(fs::file_size(log), 0u);

  std::string table;
  RunResult r = run_report(store_, "mkpc", "DMG", &table);
  EXPECT_EQ(r.status, 0) << r.err;
  // Every piece row (the last modifier is in each) has the change.
  size_t rows = 0;
  for (size_t at = table.find("\"walter\""); at != std::string::npos; at = table.find("\"walter\"", at + 1)) ++rows;
  EXPECT_EQ(rows, 30u * 8);
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(integrity_of(area_), "ok");
}

TEST_F(UnfinishedChange, AnAreaBeingWrittenIsRefusedUntilTheWriterEnds) {
  std::string table;
  {
    HalfWrittenChange change(area_);
    ASSERT_TRUE(fs::exists(journal_));
    RunResult r = run_report(store_, "mkpc", "DMG", &table);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex("^quire mkpc: area DMG: [^\n]*dmg\\.sqlite: another program is "
                                                    "changing the file \\(dmg\\.sqlite-journal is in use\\); try "
                                                    "again when it has finished\n")))
        << r.err;
    EXPECT_EQ(table, "");
    RunResult check = run_quire({"area", "check", "DMG"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.err.find("another program is changing the file"), std::string::npos) << check.err;
  }
  RunResult r = run_report(store_, "mkpc", "DMG", &table);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(table == clean_);
}

TEST_F(UnfinishedChange, AnAreaFileThatCannotBeOpenedIsSaidInWords) {
  // A link to itself: the system cannot open the file, and says why.
  std::error_code ec;
  fs::create_symlink("loop.sqlite", store_.store() / "loop.sqlite", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  std::string table;
  RunResult r = run_report(store_, "mkpc", "LOOP", &table);
  EXPECT_EQ(r.status, 1);
  const std::string reason = std::strerror(ELOOP);
  EXPECT_NE(r.err.find("quire mkpc: area LOOP: cannot open the area file " +
                       (store_.store() / "loop.sqlite").string() + ": " + reason + "\n"),
            std::string::npos)
      << r.err;
  RunResult check = run_quire({"area", "check", "LOOP"});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.err.find("cannot open the area file "), std::string::npos) << check.err;
  EXPECT_NE(check.err.find(reason), std::string::npos) << check.err;
}

#ifdef _WIN32
TEST_F(UnfinishedChange, AnAreaFileOpenInAnotherProgramIsSaidSo) {
  // Opened sharing nothing, as some programs open the files they work on.
  HANDLE held = CreateFileA(area_.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string table;
  RunResult r = run_report(store_, "mkpc", "DMG", &table);
  CloseHandle(held);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("quire mkpc: area DMG: cannot open the area file " + area_.string() +
                       ": it is open in another program (sharing violation)\n"),
            std::string::npos)
      << r.err;
}
#endif

}  // namespace
}  // namespace quire::testing
