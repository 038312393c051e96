// The store engine of a folder of area files: writing an area through a
// transaction that only its commit makes visible, opening, listing and
// removing areas, failures that name the file, and the schema per dialect.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine.h"
#include "sqlite/sqlite_engine.h"
#include "store_layout.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quire::Status;
using quire::StatusCode;
using namespace quire::store;

// Writes an area called name with one marker called marker through engine.
Status write_area(Engine& engine, const std::string& name, const std::string& marker,
                  std::unique_ptr<AreaTransaction>* keep = nullptr) {
  std::unique_ptr<AreaTransaction> t;
  Status status = engine.begin_area(name, &t);
  if (!status.ok()) return status;
  std::unique_ptr<Statement> s;
  status = t->connection().prepare(plotbase::area_row_insert_sql(), &s);
  if (!status.ok()) return status;
  s->bind_text(1, name);
  for (int i = 2; i <= 7; ++i) s->bind_int64(i, i == 4 ? 1 : 0);
  s->bind_int64(8, plotbase::kAreaFormat);
  bool row = true;
  status = s->step(&row);
  if (!status.ok()) return status;
  std::string sql = "INSERT INTO markers (id, " + plotbase::column_list(plotbase::kMarkersTable) + ") VALUES (1";
  for (size_t i = 0; i < plotbase::kMarkersTable.field_count; ++i) sql += ", ?" + std::to_string(i + 1);
  sql += ")";
  status = t->connection().prepare(sql, &s);
  if (!status.ok()) return status;
  int param = 1;
  for (const plotbase::Field& f : plotbase::kMarkersTable) {
    if (f.type == plotbase::FieldType::kText || f.type == plotbase::FieldType::kCounts)
      s->bind_text(param, param == 1 ? marker : (f.type == plotbase::FieldType::kCounts ? "[]" : ""));
    else if (f.type == plotbase::FieldType::kReal)
      s->bind_double(param, 0.5);
    else
      s->bind_int64(param, 0);
    ++param;
  }
  status = s->step(&row);
  if (!status.ok()) return status;
  s.reset();
  if (keep) {
    *keep = std::move(t);
    return {};
  }
  return t->commit();
}

// The name of the one marker of the area called name, or "" when it cannot
// be opened.
std::string marker_of(Engine& engine, const std::string& name) {
  std::unique_ptr<Connection> c;
  if (!engine.open_area(name, &c).ok() || !c) return "";
  if (!c->begin(TransactionMode::kReadSnapshot).ok()) return "";
  std::unique_ptr<Statement> s;
  bool row = false;
  if (!c->prepare("SELECT name FROM markers WHERE id = ?1", &s).ok()) return "";
  s->bind_int64(1, 1);
  if (!s->step(&row).ok() || !row) return "";
  size_t size = 0;
  const char* text = s->column_text(0, &size);
  return std::string(text, size);
}

class EngineTest : public ::testing::Test {
 protected:
  quire::testing::TempStore store;
  SqliteEngine engine{store.store().string()};
};

TEST_F(EngineTest, AnAreaIsSeenOnlyOnceCommittedAndThenReplacedWhole) {
  std::unique_ptr<AreaTransaction> pending;
  ASSERT_TRUE(write_area(engine, "Shop", "M1", &pending).ok());
  std::unique_ptr<Connection> c;
  ASSERT_TRUE(engine.open_area("shop", &c).ok());
  EXPECT_EQ(c, nullptr) << "an area still being written is seen";
  ASSERT_TRUE(pending->commit().ok());
  EXPECT_EQ(marker_of(engine, "SHOP"), "M1");

  // A second write abandoned half-way leaves the area as it was; a
  // committed one replaces it.
  ASSERT_TRUE(write_area(engine, "shop", "M2", &pending).ok());
  pending.reset();
  EXPECT_EQ(marker_of(engine, "Shop"), "M1");
  ASSERT_TRUE(write_area(engine, "Shop", "M3").ok());
  EXPECT_EQ(marker_of(engine, "Shop"), "M3");

  // Nothing but the area file stays in the store.
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(store.store())) files.push_back(e.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{plotbase::area_file_name("shop")});

  std::unique_ptr<Connection> opened;
  ASSERT_TRUE(engine.open_area("Shop", &opened).ok());
  EXPECT_EQ(opened->describe(), engine.area_path("Shop"));
  EXPECT_EQ(opened->dialect(), Dialect::kSqlite);
}

TEST_F(EngineTest, ListsStoredNamesAndRemovesAreas) {
  ASSERT_TRUE(write_area(engine, "Big Shop", "M1").ok());
  ASSERT_TRUE(write_area(engine, "a%b.c", "M1").ok());
  // A file whose area row cannot be read is listed under the name its file
  // stands for; other files are not areas.
  std::ofstream(store.store() / plotbase::area_file_name("Wrecked")) << "not a database";
  std::ofstream(store.store() / "notes.txt") << "x";
  std::vector<std::string> names;
  ASSERT_TRUE(engine.list_areas(&names).ok());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Big Shop", "a%b.c", "wrecked"}));

  bool removed = false;
  ASSERT_TRUE(engine.remove_area("BIG SHOP", &removed).ok());
  EXPECT_TRUE(removed);
  ASSERT_TRUE(engine.remove_area("Big Shop", &removed).ok());
  EXPECT_FALSE(removed);
  std::unique_ptr<Connection> c;
  ASSERT_TRUE(engine.open_area("Big Shop", &c).ok());
  EXPECT_EQ(c, nullptr);

  SqliteEngine missing((store.root() / "no such store").string());
  ASSERT_TRUE(missing.list_areas(&names).ok());
  EXPECT_TRUE(names.empty());
}

TEST_F(EngineTest, FailuresNameTheAreaFile) {
  std::unique_ptr<Connection> c;
  // No such area, and names no area can have.
  for (const char* name : {"nothing", "", "a/b", "twenty-one-characters"}) {
    ASSERT_TRUE(engine.open_area(name, &c).ok()) << name;
    EXPECT_EQ(c, nullptr) << name;
  }
  std::unique_ptr<AreaTransaction> t;
  EXPECT_EQ(engine.begin_area("a/b", &t).code(), StatusCode::kInvalid);

  // Something at an area's name that is no file is never opened.
  fs::create_directory(store.store() / plotbase::area_file_name("dir"));
  Status status = engine.open_area("dir", &c);
  EXPECT_EQ(status.error(), plotbase::kErrDamagedArea);
  EXPECT_EQ(status.message(), engine.area_path("dir") + ": not a regular file (an area file is one)");
  bool removed = true;
  EXPECT_FALSE(engine.remove_area("dir", &removed).ok());
  EXPECT_FALSE(removed);
  EXPECT_TRUE(fs::is_directory(store.store() / plotbase::area_file_name("dir")));

  // A damaged file opens (immutable files are read lazily) and its first
  // statement says it is damaged, naming the file.
  std::ofstream(store.store() / plotbase::area_file_name("junk")) << std::string(4096, 'x');
  ASSERT_TRUE(engine.open_area("junk", &c).ok());
  ASSERT_NE(c, nullptr);
  std::unique_ptr<Statement> s;
  status = c->prepare(plotbase::area_row_select_sql(), &s);
  EXPECT_EQ(status.code(), StatusCode::kCorrupt);
  EXPECT_EQ(status.subject(), engine.area_path("junk"));
}

TEST(EngineSetting, ServerStoresNeedTheServerBuild) {
  std::unique_ptr<Engine> engine;
#ifndef QUIRE_HAVE_ODBC
  Status status = open_engine("odbc:DSN=patterns", &engine);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.message(), "this quire was built without server stores (odbc:)");
  EXPECT_EQ(engine, nullptr);
#endif
  ASSERT_TRUE(open_engine("/tmp/some store", &engine).ok());
  EXPECT_EQ(engine->describe(), "the store /tmp/some store");
}

TEST(EngineSetting, FileNamesGiveBackTheirAreaNames) {
  for (std::string name : {"plain", "with space", "100%", "a.b", ".dot", "\xE9t\xE9", "x#y?z"}) {
    std::string folded = name;
    for (char& ch : folded) ch = static_cast<char>(plotbase::fold(static_cast<unsigned char>(ch)));
    EXPECT_EQ(area_name_of_file(plotbase::area_file_name(name)), folded) << name;
  }
}

TEST(Schema, SqliteTextIsTheStoreSchemaAndTheServerTextHasNoSqliteOnlySyntax) {
  EXPECT_EQ(sql_for(Dialect::kSqlite), plotbase::store_schema());
  std::string server = sql_for(Dialect::kPostgres);
  for (const char* sqlite_only : {"WITHOUT ROWID", "COLLATE NOCASE", " INTEGER", " REAL"})
    EXPECT_EQ(server.find(sqlite_only), std::string::npos) << sqlite_only;
  // Every table, and a case-blind unique index for each kind's names.
  for (const plotbase::Table* t : plotbase::kStoreTables)
    EXPECT_NE(server.find(std::string("CREATE TABLE ") + t->name + " ("), std::string::npos) << t->name;
  for (const char* kind : {"markers", "models", "orders", "pieces"})
    EXPECT_NE(server.find(std::string("CREATE UNIQUE INDEX ") + kind + "_name_key ON " + kind + " (lower(name));"),
              std::string::npos)
        << kind;
}

}  // namespace
