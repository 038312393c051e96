// The store engine of a folder of SQLite area files: one file per area,
// named after the area (area_file_name), read through immutable read-only
// connections and replaced whole by a new file written beside it.
#ifndef QUIRE_STORE_SQLITE_ENGINE_H_
#define QUIRE_STORE_SQLITE_ENGINE_H_

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "host_system.h"
#include "quire/files/file_replacement.h"

namespace quire::store {

class SqliteConnection;

// A prepared statement on an area file. A failed step names the file; a
// failure that says the file is damaged (malformed, not a database, a read
// error) is StatusCode::kCorrupt, any other kStore; error() is SQLite's
// extended code.
class SqliteStatement final : public Statement {
 public:
  SqliteStatement(sqlite3_stmt* stmt, const SqliteConnection* connection) : stmt_(stmt), connection_(connection) {}
  ~SqliteStatement() override;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  void bind_int64(int param, int64_t value) override { sqlite3_bind_int64(stmt_, param, value); }
  void bind_double(int param, double value) override { sqlite3_bind_double(stmt_, param, value); }
  void bind_text(int param, std::string_view text) override {
    sqlite3_bind_text(stmt_, param, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void bind_text_in_place(int param, std::string_view text) override {
    sqlite3_bind_text(stmt_, param, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
  void bind_null(int param) override { sqlite3_bind_null(stmt_, param); }
  Status step(bool* row) override;
  bool column_is_null(int column) override { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  int64_t column_int64(int column) override { return sqlite3_column_int64(stmt_, column); }
  double column_double(int column) override { return sqlite3_column_double(stmt_, column); }
  const char* column_text(int column, size_t* size) override;
  void reset() override { sqlite3_reset(stmt_); }

  sqlite3_stmt* handle() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
  const SqliteConnection* connection_;
};

// A connection to one area file (or to a new one being written).
class SqliteConnection final : public Connection {
 public:
  SqliteConnection(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  ~SqliteConnection() override;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Opens the area file at path for reading: a change left unfinished
  // beside it is settled first (settle_unfinished_change), then the file is
  // opened read-only as an immutable file (area files are replaced whole,
  // never changed in place) with a bounded page cache. A failure's subject
  // is path, its error() kErrStore (cannot open, cannot settle).
  static Status open_read(const std::string& path, std::unique_ptr<SqliteConnection>* out);

  Dialect dialect() const override { return Dialect::kSqlite; }
  Status prepare(std::string_view sql, std::unique_ptr<Statement>* out) override;
  Status execute(std::string_view sql) override;
  Status begin(TransactionMode mode) override;
  Status commit() override;
  Status rollback() override;
  std::string describe() const override { return path_; }
  // The area file's identity (device, file number, time of writing, size)
  // as it was when the connection opened it.
  std::string version() const override;
  // False when the path names another file now (or none).
  bool is_current() override;

  sqlite3* handle() const { return db_; }
  const std::string& path() const { return path_; }
  // The failure of the last call on the file: kCorrupt when SQLite says it
  // is damaged, else kStore; message SQLite's, subject the file's path.
  Status failure() const;
  // Closes the file, reporting a failure to complete it (after writing).
  Status close();

 private:
  sqlite3* db_;
  std::string path_;
  bool identified_ = false;
  plotbase::FileIdentity identity_;
};

// A folder of area files.
class SqliteEngine final : public Engine {
 public:
  explicit SqliteEngine(std::string directory) : directory_(std::move(directory)) {}

  std::string describe() const override { return "the store " + directory_; }
  Status list_areas(std::vector<std::string>* names) override;
  // A failure to open an existing area names the file: its subject is the
  // path, its message what went wrong ("cannot open the area file PATH:
  // reason", "PATH: the file has an unfinished change ...", "PATH: not a
  // regular file (an area file is one)") and its error() kErrStore, or
  // kErrDamagedArea for something at the area's name that is no file.
  Status open_area(std::string_view name, std::unique_ptr<Connection>* out) override;
  Status begin_area(std::string_view name, std::unique_ptr<AreaTransaction>* out) override;
  Status remove_area(std::string_view name, bool* removed) override;

  const std::string& directory() const { return directory_; }
  // The path of the file of the area called name, whether or not it exists.
  std::string area_path(std::string_view name) const;

 private:
  std::string directory_;
};

// The name of the area kept in the file called file_name (without its
// directory): file names are area_file_name()s, so their escapes are undone
// and the suffix dropped. Used where a file's own area row cannot be read.
std::string area_name_of_file(std::string_view file_name);

}  // namespace quire::store

#endif  // QUIRE_STORE_SQLITE_ENGINE_H_
