// The SQLite store engine: a folder of area files.
#include "sqlite_engine.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "quire/files/file_system.h"
#include "store_layout.h"

namespace quire::store {

namespace {

using plotbase::file_status;
using plotbase::FileStatus;
using plotbase::path_in;

// The name prefix of a new area file while it is written, and of an area
// file on its way out of the store.
constexpr const char* kNewAreaPrefix = ".tmp-area-";
constexpr const char* kRemovedAreaPrefix = ".removed-";
constexpr const char* kJournalSuffixes[] = {"-journal", "-wal"};

bool is_damage(int rc) {
  rc &= 0xff;
  return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB || rc == SQLITE_IOERR || rc == SQLITE_FORMAT;
}

// A failed file call for the system's error number error, whose line is
// message itself (a kIo status words its own line from its operation): a
// missing file is kNotFound, any other kInvalid.
Status file_failure(int error, std::string message, std::string subject) {
  return Status::failure(error == ENOENT || error == ENOTDIR ? StatusCode::kNotFound : StatusCode::kInvalid,
                         std::move(message), std::move(subject), error);
}

// "\"NAME\" is not an area name".
std::string not_an_area_name(std::string_view name) {
  std::string message = "\"";
  message += name;
  message += "\" is not an area name";
  return message;
}

// The failure of db's last call, naming path.
Status failure_of(sqlite3* db, const std::string& path) {
  if (!db) return Status::failure(StatusCode::kNoMemory, "out of memory", path);
  int rc = sqlite3_extended_errcode(db);
  return Status::failure(is_damage(rc) ? StatusCode::kCorrupt : StatusCode::kStore, sqlite3_errmsg(db), path, rc);
}

// A new area file being written beside the store's areas.
class SqliteAreaTransaction final : public AreaTransaction {
 public:
  SqliteAreaTransaction(std::string directory, std::string name)
      : directory_(std::move(directory)), name_(std::move(name)), replacement_(platform::file_env()) {}
  ~SqliteAreaTransaction() override { abandon(); }

  Status begin();
  Connection& connection() override { return *connection_; }
  Status commit() override;
  // The area's file is named only at the commit.
  Status set_name(std::string_view name) override {
    if (!plotbase::valid_area_name(name))
      return Status::failure(StatusCode::kInvalid, not_an_area_name(name),
                             std::string(name));
    name_ = std::string(name);
    return {};
  }

 private:
  void abandon() {
    connection_.reset();
    replacement_.abandon();
  }

  std::string directory_;
  std::string name_;
  std::unique_ptr<SqliteConnection> connection_;
  platform::FileReplacement replacement_;
};

Status SqliteAreaTransaction::begin() {
  std::error_code ec;
  std::filesystem::create_directories(platform::filesystem_path(directory_), ec);
  if (ec)
    return Status::failure(StatusCode::kInvalid,
                           "cannot create the store directory " + directory_ + ": " + ec.message(), directory_,
                           ec.value());
  // The file is made first, so that a store that cannot be written to is
  // named as such. A file of this naming that no writer holds was left by
  // a killed one and goes now.
  Status status;
  if (!replacement_.begin(path_in(directory_, plotbase::area_file_name(name_)), kNewAreaPrefix, &status))
    return Status::io_error(status.error(), "write to the store directory", directory_);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(plotbase::sqlite_file_name(replacement_.temporary_path()).c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    status = Status::failure(StatusCode::kStore,
                             "cannot write to the store directory " + directory_ + ": " +
                                 (db ? sqlite3_errmsg(db) : "out of memory"),
                             directory_, db ? sqlite3_errcode(db) : SQLITE_CANTOPEN);
    sqlite3_close_v2(db);
    abandon();
    return status;
  }
  connection_ = std::make_unique<SqliteConnection>(db, replacement_.temporary_path());
  // A new private file that takes the area's place only when complete: no
  // journal or syncing is needed while it is filled.
  status = connection_->execute(
      "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
      "PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY;");
  if (status.ok()) status = connection_->execute(sql_for(Dialect::kSqlite));
  if (status.ok()) status = connection_->begin(TransactionMode::kWrite);
  if (!status.ok()) abandon();
  return status;
}

Status SqliteAreaTransaction::commit() {
  if (!connection_) return Status::failure(StatusCode::kInternal, "no area being written", name_);
  Status status;
  if (!sqlite3_get_autocommit(connection_->handle())) status = connection_->commit();
  if (status.ok()) status = connection_->close();
  if (!status.ok()) {
    abandon();
    return status;
  }
  connection_.reset();
  std::string target = path_in(directory_, plotbase::area_file_name(name_));
  // Only an area file is replaced: a FIFO, a directory or a device under
  // the area file's name is the user's, and is left as it is.
  FileStatus existing = file_status(target);
  if (existing.error == 0 && !existing.regular)
    status = Status::failure(StatusCode::kInvalid,
                             "cannot replace " + target + ": not a regular file (an area file is one)", target);
  // Another program holding the area file open is said before it is touched.
  if (status.ok()) platform::check_changeable(target, platform::FileChange::kReplaceAnyway, &status);
  // The file is made durable, then put in place in one step.
  if (status.ok()) {
    replacement_.set_target(target);
    Status replaced;
    if (!replacement_.finish(&replaced) || !replacement_.put_in_place(&replaced))
      status = Status::io_error(replaced.error(), "replace", target);
  }
  if (!status.ok()) {
    abandon();
    return status;
  }
  if (!replacement_.sync_directory(&status))
    return file_failure(status.error(), "the area file " + target + " is written, but " + status.message(), target);
  return {};
}

// SQLite's memory statistics take a global mutex on every allocation, and
// Debian's SQLite (built without lookaside memory) allocates for every text
// column read. The store does not use the statistics: they are turned off
// before SQLite initialises (a no-op if the host initialised it already).
__attribute__((constructor)) void configure_sqlite() { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); }

}  // namespace

// ---- statements ---------------------------------------------------------------

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

Status SqliteStatement::step(bool* row) {
  int rc = sqlite3_step(stmt_);
  *row = rc == SQLITE_ROW;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return {};
  return connection_->failure();
}

const char* SqliteStatement::column_text(int column, size_t* size) {
  const unsigned char* t = sqlite3_column_text(stmt_, column);
  if (size) *size = t ? static_cast<size_t>(sqlite3_column_bytes(stmt_, column)) : 0;
  return t ? reinterpret_cast<const char*>(t) : "";
}

// ---- connections -----------------------------------------------------------------

SqliteConnection::~SqliteConnection() {
  if (db_) sqlite3_close_v2(db_);
}

Status SqliteConnection::failure() const { return failure_of(db_, path_); }

Status SqliteConnection::close() {
  if (db_ && sqlite3_close(db_) != SQLITE_OK) {
    Status status = Status::failure(StatusCode::kStore,
                                    std::string("cannot complete the area file: ") + sqlite3_errmsg(db_), path_,
                                    sqlite3_errcode(db_));
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return status;
  }
  db_ = nullptr;
  return {};
}

std::string SqliteConnection::version() const {
  if (!identified_) return {};
  return std::to_string(identity_.device) + ":" + std::to_string(identity_.file) + ":" +
         std::to_string(identity_.mtime_ns) + ":" + std::to_string(identity_.size);
}

bool SqliteConnection::is_current() {
  if (!identified_) return true;
  FileStatus now = file_status(path_);
  return now.error == 0 && now.identity == identity_;
}

Status SqliteConnection::open_read(const std::string& path, std::unique_ptr<SqliteConnection>* out) {
  out->reset();
  Status settled = plotbase::settle_unfinished_change(path);
  if (!settled.ok())
    return Status::failure(StatusCode::kStore, path + ": " + settled.message(), path, plotbase::kErrStore);
  // The file's identity before it is opened: should it be replaced between
  // the two, the connection reads the new file under the old identity and
  // the next is_current() says it is not current (never the reverse).
  FileStatus before = file_status(path);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(plotbase::file_uri(plotbase::sqlite_file_name(path)).c_str(), &db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    int system_error = db ? sqlite3_system_errno(db) : 0;
    std::string reason = system_error != 0 ? plotbase::system_error_text(system_error)
                         : db              ? sqlite3_errmsg(db)
                                           : "out of memory";
    sqlite3_close_v2(db);
    return Status::failure(StatusCode::kStore, "cannot open the area file " + path + ": " + reason, path,
                           plotbase::kErrStore);
  }
  // A bounded page cache: memory stays flat however large the area is.
  sqlite3_exec(db, "PRAGMA cache_size = -2048", nullptr, nullptr, nullptr);
  *out = std::make_unique<SqliteConnection>(db, path);
  if (before.error == 0) {
    (*out)->identified_ = true;
    (*out)->identity_ = before.identity;
  }
  return {};
}

Status SqliteConnection::prepare(std::string_view sql, std::unique_ptr<Statement>* out) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(s);
    out->reset();
    return failure();
  }
  *out = std::make_unique<SqliteStatement>(s, this);
  return {};
}

Status SqliteConnection::execute(std::string_view sql) {
  std::string text(sql);  // sqlite3_exec reads to a NUL
  char* message = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    int rc = sqlite3_extended_errcode(db_);
    Status status = Status::failure(is_damage(rc) ? StatusCode::kCorrupt : StatusCode::kStore,
                                    message ? message : sqlite3_errmsg(db_), path_, rc);
    sqlite3_free(message);
    return status;
  }
  return {};
}

// An area file is never changed in place, so a read transaction of a report
// sees the file as it was when opened; it is one transaction for the life of
// the connection, and statements then skip starting and ending their own.
Status SqliteConnection::begin(TransactionMode) { return execute("BEGIN"); }
Status SqliteConnection::commit() { return execute("COMMIT"); }
Status SqliteConnection::rollback() { return execute("ROLLBACK"); }

// ---- the engine --------------------------------------------------------------------

std::string area_name_of_file(std::string_view file_name) {
  std::string_view suffix = plotbase::kAreaFileSuffix;
  if (file_name.size() >= suffix.size() && file_name.substr(file_name.size() - suffix.size()) == suffix)
    file_name.remove_suffix(suffix.size());
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string name;
  for (size_t i = 0; i < file_name.size(); ++i) {
    if (file_name[i] == '%' && i + 2 < file_name.size() && hex(file_name[i + 1]) >= 0 &&
        hex(file_name[i + 2]) >= 0) {
      name += static_cast<char>(hex(file_name[i + 1]) * 16 + hex(file_name[i + 2]));
      i += 2;
    } else {
      name += file_name[i];
    }
  }
  return name;
}

std::string SqliteEngine::area_path(std::string_view name) const {
  return path_in(directory_, plotbase::area_file_name(name));
}

Status SqliteEngine::list_areas(std::vector<std::string>* names) {
  names->clear();
  std::vector<std::string> files;
  int why_not = 0;
  if (!plotbase::regular_files_in(directory_, &files, &why_not))
    return why_not == ENOENT ? Status() : Status::io_error(why_not, "read the store directory", directory_);
  std::string_view suffix = plotbase::kAreaFileSuffix;
  for (const std::string& file : files) {
    if (file.empty() || file[0] == '.' || file.size() <= suffix.size() ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    // The name as the area's own row has it; a file whose row cannot be
    // read is listed under the name its file stands for, so that opening
    // it says what is wrong with it.
    std::string name = area_name_of_file(file);
    std::unique_ptr<SqliteConnection> connection;
    if (SqliteConnection::open_read(path_in(directory_, file), &connection).ok()) {
      std::unique_ptr<Statement> row;
      bool found = false;
      if (connection->prepare(plotbase::area_row_select_sql(), &row).ok() && row->step(&found).ok() && found) {
        size_t size = 0;
        const char* stored = row->column_text(plotbase::kAreaNameColumn, &size);
        if (size > 0) name.assign(stored, size);
      }
    }
    names->push_back(std::move(name));
  }
  return {};
}

Status SqliteEngine::open_area(std::string_view name, std::unique_ptr<Connection>* out) {
  out->reset();
  if (!plotbase::valid_area_name(name)) return {};
  std::string path = area_path(name);
  FileStatus st = file_status(path);
  if (st.error == ENOENT || st.error == ENOTDIR) return {};
  if (st.error != 0)
    return Status::failure(StatusCode::kStore,
                           "cannot open the area file " + path + ": " + plotbase::system_error_text(st.system_error),
                           path, plotbase::kErrStore);
  // A FIFO or a directory is never opened: opening a FIFO would wait for a
  // writer that never comes.
  if (!st.regular)
    return Status::failure(StatusCode::kCorrupt, path + ": not a regular file (an area file is one)", path,
                           plotbase::kErrDamagedArea);
  std::unique_ptr<SqliteConnection> connection;
  Status status = SqliteConnection::open_read(path, &connection);
  if (status.ok()) *out = std::move(connection);
  return status;
}

Status SqliteEngine::begin_area(std::string_view name, std::unique_ptr<AreaTransaction>* out) {
  out->reset();
  if (!plotbase::valid_area_name(name))
    return Status::failure(StatusCode::kInvalid, not_an_area_name(name),
                           std::string(name));
  auto transaction = std::make_unique<SqliteAreaTransaction>(directory_, std::string(name));
  Status status = transaction->begin();
  if (status.ok()) *out = std::move(transaction);
  return status;
}

Status SqliteEngine::remove_area(std::string_view name, bool* removed) {
  *removed = false;
  if (!plotbase::valid_area_name(name)) return {};
  std::string path = area_path(name);
  // The name itself, not what a link there points to.
  std::error_code ec;
  auto st = std::filesystem::symlink_status(platform::filesystem_path(path), ec);
  if (ec || !std::filesystem::exists(st)) {
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
      return file_failure(ec.value(), "cannot look at " + path + ": " + ec.message(), path);
    return {};
  }
  if (!std::filesystem::is_regular_file(st) && !std::filesystem::is_symlink(st))
    return Status::failure(StatusCode::kInvalid, "not removed: " + path + " is not an area file (nor a link to one)",
                           path);
  for (const char* suffix : kJournalSuffixes) {
    std::string journal = path + suffix;
    if (platform::path_exists(journal))
      return Status::failure(StatusCode::kInvalid,
                             "not removed: " + journal +
                                 " exists: a program is writing the area file, or was when it stopped",
                             journal);
  }
  // The area leaves the store in one step (a rename aside); its data goes
  // when no program has the file open any more. What a removal killed
  // between the two steps left behind goes first.
  platform::remove_stale_files(directory_, kRemovedAreaPrefix);
  std::string parting = platform::unpredictable_name(directory_, kRemovedAreaPrefix);
  Status status;
  if (!platform::rename_file(platform::file_env(), path, parting, &status)) {
    if (status.error() == ENOENT) return {};
    if (status.error() == ETXTBSY)
      return Status::failure(StatusCode::kInvalid,
                             "not removed: " + path + " is open in another program; try again when it has finished",
                             path, status.error());
    return file_failure(status.error(), "not removed: " + status.message(), path);
  }
  *removed = true;
  if (!platform::remove_file(platform::file_env(), parting, &status))
    return file_failure(status.error(),
                        "the area is removed from the store, but its file stays as " + parting + ": " +
                            status.message(),
                        parting);
  if (!platform::sync_directory(platform::file_env(), directory_, &status))
    return file_failure(status.error(),
                        "the area is removed, but the store directory is not synced: " + status.message(),
                        directory_);
  return {};
}

}  // namespace quire::store
