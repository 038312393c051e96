// Reruns whose table starts out equal to the one at the path: nothing is
// written while the two agree, an identical table only gains OLD.DAT as a
// second name, and wherever they part the result is what a run without a
// previous output writes.
#include <gtest/gtest.h>

#include <functional>

#include "quire/files/file_system.h"
#include "table/table_test_util.h"

namespace quire::testing {
namespace {

std::vector<TestItem> many_items(int count) {
  std::vector<TestItem> items;
  char name[16];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "M%05d", i);
    items.push_back({name, "s" + std::to_string(i % 7), 1 + i % 3});
  }
  return items;
}


class IdenticalRerun : public ::testing::TestWithParam<const char*> {
 protected:
  std::string path() { return store_.path(GetParam()); }
  std::string old_path() { return store_.path("OLD.DAT"); }

  // What a run over items writes with nothing at its path.
  std::string fresh_table(const std::vector<TestItem>& items) {
    TempStore other;
    std::string p = other.path(GetParam());
    run_table(p, items);
    std::string table = read_file(p);
    return table;
  }

  // Writes the table of previous_items at the path, lets edit change it,
  // reruns over items and checks the path against a fresh run and OLD.DAT
  // against the previous table.
  void rerun(const std::vector<TestItem>& previous_items, const std::vector<TestItem>& items,
             const std::function<void(std::string*)>& edit = nullptr) {
    fs::remove(old_path());
    run_table(path(), previous_items);
    std::string previous = read_file(path());
    if (edit) {
      edit(&previous);
      write_file(path(), previous);
    }
    const std::string expected = fresh_table(items);
    run_table(path(), items);
    EXPECT_TRUE(read_file(path()) == expected) << GetParam();
    EXPECT_TRUE(read_file(old_path()) == previous) << GetParam();
    EXPECT_FALSE(platform::same_file(path(), old_path()));
    EXPECT_TRUE(files_with_prefix(store_.work(), ".quire-").empty());
  }

  TempStore store_;
};

TEST_P(IdenticalRerun, SameTableGainsOldDatAsSecondName) {
  const std::vector<TestItem> items = many_items(3000);  // several buffers
  run_table(path(), items);
  const std::string first = read_file(path());
  write_file(old_path(), "older table");
  write_file(store_.path("delta.lst"), "");
  ASSERT_TRUE(run_table(path(), items).empty());
  EXPECT_TRUE(read_file(path()) == first);
#ifdef _WIN32
  // There OLD.DAT is a copy: a second name would let a program holding the
  // table open keep other runs from replacing OLD.DAT.
  EXPECT_FALSE(platform::same_file(path(), old_path()));
  EXPECT_TRUE(read_file(old_path()) == first);
#else
  EXPECT_TRUE(platform::same_file(path(), old_path()));
#endif
  EXPECT_TRUE(files_with_prefix(store_.work(), ".quire-").empty());
  EXPECT_EQ("DB_VERSION_3,METRIC,TEST,/store/area.db\r\n", read_file(store_.path("delta.lst")));

  // Once more over the linked pair: the path keeps its table, OLD.DAT too.
  ASSERT_TRUE(run_table(path(), items).empty());
  EXPECT_TRUE(read_file(path()) == first);
  EXPECT_TRUE(read_file(old_path()) == first);
}

TEST_P(IdenticalRerun, TablesPartingAnywhereGiveAFreshRunsBytes) {
  std::vector<TestItem> items = many_items(3000);
  std::vector<TestItem> changed = items;
  changed[1700].stamp = "new";  // in the middle, past the first buffer
  rerun(items, changed);

  changed = items;
  changed.back().stamp = "new";  // the last record
  rerun(items, changed);

  changed = items;
  changed.push_back({"N00000", "n", 2});  // after the last record
  rerun(items, changed);

  changed = items;
  changed.pop_back();  // the previous table is longer
  rerun(items, changed);
}

TEST_P(IdenticalRerun, TablesPartingInTheHeader) {
  const std::vector<TestItem> items = many_items(50);
  const bool dbase = std::string(GetParam()).find(".dbf") != std::string::npos;
  // Another day's date in dBASE; another spelling of a column name in CSV
  // (its records are still reused).
  rerun(items, items, [dbase](std::string* table) {
    if (dbase) (*table)[3] = static_cast<char>((*table)[3] == 1 ? 2 : 1);
    else table->replace(table->find("\"Piece\""), 7, "\"PIECE\"");
  });
}

INSTANTIATE_TEST_SUITE_P(Formats, IdenticalRerun, ::testing::Values("out.csv", "out.dbf"));

#ifndef _WIN32  // symbolic links
TEST(IdenticalRerunText, SymbolicLinkAtThePathLeadsToItsTarget) {
  TempStore store;
  const std::string path = store.path("out.csv");
  fs::create_directories(store.work() / "elsewhere");
  const std::string target = store.path("elsewhere/out.csv");
  const std::vector<TestItem> items = many_items(20);
  run_table(target, items);
  const std::string table = read_file(target);
  fs::create_symlink(target, path);
  EXPECT_TRUE(run_table(path, items).empty());
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_TRUE(read_file(target) == table);
  EXPECT_TRUE(fs::equivalent(target, store.path("elsewhere/OLD.DAT")));
  EXPECT_FALSE(fs::exists(store.path("OLD.DAT")));
}
#endif

TEST(IdenticalRerunText, LinesEndingInNewlineAloneAreRewrittenWithCrLf) {
  TempStore store;
  const std::string path = store.path("out.csv");
  const std::vector<TestItem> items = many_items(20);
  run_table(path, items);
  const std::string expected = read_file(path);
  std::string bare;
  for (char c : expected)
    if (c != '\r') bare += c;
  write_foreign_table(path, bare);
  // Every record reused, but for the last item of a table without run
  // record, which is read again.
  EXPECT_EQ(std::vector<std::string>({items.back().name}), run_table(path, items));
  EXPECT_TRUE(read_file(path) == expected);
  EXPECT_TRUE(read_file(store.path("OLD.DAT")) == bare);
}

}  // namespace
}  // namespace quire::testing
