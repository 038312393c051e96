// What the store-damage tests share: a generated area whose file they
// damage with SQLite or byte by byte, always putting the damaged file in
// place whole (as the library expects area files to change).
#ifndef QUIRE_TESTS_STORE_DAMAGE_SUPPORT_H_
#define QUIRE_TESTS_STORE_DAMAGE_SUPPORT_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {

// Copies from over to (the copy_option that overwrites is not honoured
// everywhere).
inline void copy_over(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::remove(to, ec);
  fs::copy_file(from, to);
}

// Runs sql on a copy of the area file at area, which then replaces it.
// Fails the test when the SQL fails or changes no row.
inline void edit_area(const fs::path& area, const std::string& sql) {
  const fs::path copy = area.parent_path().parent_path() / "edit.sqlite";
  copy_over(area, copy);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(copy.string().c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  const int changed = sqlite3_total_changes(db);
  const std::string text = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << sql << ": " << text;
  ASSERT_GT(changed, 0) << sql;
  fs::rename(copy, area);
}

// What SQLite's integrity check says of the file at path: "ok" when sound.
inline std::string integrity_of(const fs::path& path) {
  sqlite3* db = nullptr;
  std::string said;
  if (sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK) {
      int rc;
      while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(s, 0);
        std::string line = t ? reinterpret_cast<const char*>(t) : "";
        // The first problem comes after a line naming the database.
        const std::string kDatabaseLine = "*** in database main ***\n";
        if (line.compare(0, kDatabaseLine.size(), kDatabaseLine) == 0) line.erase(0, kDatabaseLine.size());
        if (!said.empty()) said += '\n';
        said += line;
      }
      if (rc != SQLITE_DONE) said += std::string(said.empty() ? "" : "\n") + sqlite3_errmsg(db);
    } else {
      said = sqlite3_errmsg(db);
    }
    sqlite3_finalize(s);
  } else {
    said = "cannot open";
  }
  sqlite3_close(db);
  return said;
}

// Puts bytes in place of the area file at area as a new file.
inline void replace_area_file(const fs::path& area, const std::string& bytes) {
  const fs::path next = area.parent_path().parent_path() / "next.sqlite";
  write_file(next, bytes);
  fs::rename(next, area);
}

// The page size an SQLite file's header gives (bytes 16-17, big-endian; 1
// stands for 65536), or 0 when the file is too short to hold a header.
inline size_t page_size_of(const std::string& file) {
  if (file.size() < 100) return 0;
  size_t n = (static_cast<size_t>(static_cast<unsigned char>(file[16])) << 8) |
             static_cast<unsigned char>(file[17]);
  return n == 1 ? 65536 : n;
}

// Runs a report kind on area into a fresh output and returns the run, the
// table's bytes in *table.
inline RunResult run_report(const TempStore& store, const std::string& kind, const std::string& area,
                            std::string* table) {
  const fs::path out = store.work() / (kind + ".csv");
  std::error_code ec;
  fs::remove(out, ec);
  fs::remove(store.work() / "OLD.DAT", ec);
  RunResult r = run_quire({kind, "--detailed", "--no-progress", "--quiet", area, out.string()});
  *table = read_file(out);
  return r;
}

}  // namespace quire::testing

#endif  // QUIRE_TESTS_STORE_DAMAGE_SUPPORT_H_
