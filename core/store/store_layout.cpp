// What the reader and area management share of the store's layout: where
// the store is, the area file names, settling a change left unfinished in
// an area file, and the statement cache of a connection.
#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "store_layout.h"

namespace plotbase {

std::string store_directory() {
  const char* store = std::getenv("QUIRE_STORE");
  if (store && *store) return store;
  return default_store_directory();
}

bool valid_area_name(std::string_view name) {
  if (name.empty() || name.size() > 20) return false;
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
  return true;
}

std::string area_file_name(std::string_view name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = fold(static_cast<unsigned char>(name[i]));
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                 (c == '.' && i > 0);
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out + kAreaFileSuffix;
}

std::string file_uri(const std::string& path) {
  std::string uri = "file:";
  static const char hex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7f) {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri + "?immutable=1";
}

namespace {

// The first read of path through a connection opened with flags (not
// immutable): SQLite rolls back an unfinished change there when it can
// write. The result is SQLite's extended code.
int first_read(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(sqlite_file_name(path).c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && db) rc = sqlite3_extended_errcode(db);
  // Closing the last connection of a write-ahead log also moves its pages
  // into the file and removes it.
  sqlite3_close_v2(db);
  return rc;
}

}  // namespace

quire::Status settle_unfinished_change(const std::string& path, bool* settled) {
  if (settled) *settled = false;
  // Area files are replaced whole, so a rollback journal or write-ahead log
  // beside one is left by a program that changed it in place (the sqlite3
  // shell, say) and may have stopped half-way. The immutable connection
  // would read the half-written file as it is.
  std::string beside;
  for (const char* suffix : {"-journal", "-wal"}) {
    FileStatus st = file_status(path + suffix);
    if (st.error == 0 && st.regular && st.identity.size > 0) {
      beside = path + suffix;
      break;
    }
  }
  if (beside.empty()) return {};
  int rc = first_read(path, SQLITE_OPEN_READWRITE);
  if (rc == SQLITE_OK) {  // rolled back, or there was nothing to roll back
    if (settled) *settled = true;
    return {};
  }
  if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
    return quire::Status::failure(quire::StatusCode::kStore,
                                  "another program is changing the file (" + path_file_name(beside) +
                                      " is in use); try again when it has finished",
                                  path, kErrStore);
  // A file that is no database is said so by the open that follows.
  if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT) return {};
  // Without write access: a journal whose change was finished (kept by a
  // writer that keeps its journal file) reads fine.
  rc = first_read(path, SQLITE_OPEN_READONLY);
  if (rc == SQLITE_OK) return {};
  return quire::Status::failure(quire::StatusCode::kStore,
                                "the file has an unfinished change (" + path_file_name(beside) +
                                    "); run quire once with write access to the store to roll it back",
                                path, kErrStore);
}

sqlite3_stmt* StatementCache::get(int id) {
  sqlite3_stmt*& s = stmts_[static_cast<size_t>(id)];
  if (!s) {
    std::string sql = source_(id);
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &s,
                           nullptr) != SQLITE_OK) {
      s = nullptr;
      return nullptr;
    }
  }
  return s;
}

void StatementCache::clear() {
  for (sqlite3_stmt*& s : stmts_) {
    if (s) sqlite3_finalize(s);
    s = nullptr;
  }
}

}  // namespace plotbase
