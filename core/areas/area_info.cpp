// `quire area info` and `quire area rm`: one area's figures, and removing
// an area's file from the store.
#include "area_info.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "area_store.h"
#include "failures.h"
#include "quire/files/file_system.h"
#include "store_names.h"

namespace quire::areas {

namespace {

// The prefix of the name an area file takes between leaving its place and
// being unlinked. A leading '.' keeps it out of lists and lookups; one a
// killed removal left behind goes with the next removal in that store.
constexpr const char* kRemovedAreaPrefix = ".removed-";

// The companions SQLite keeps beside a database it writes: a rollback
// journal or a write-ahead log, whose loss would lose or corrupt what the
// writer did. Their shared-memory index (-shm) holds nothing of its own.
constexpr const char* kJournalSuffixes[] = {"-journal", "-wal"};

// The oldest and newest modification stamp of the markers, models and
// orders; -1 stands for none.
constexpr const char* kStampRangeSql =
    "SELECT min(modified), max(modified) FROM ("
    "SELECT modified FROM markers WHERE modified <> -1 UNION ALL "
    "SELECT modified FROM models WHERE modified <> -1 UNION ALL "
    "SELECT modified FROM orders WHERE modified <> -1)";

quire::Status no_area(std::string_view name, const std::string& path) {
  return quire::Status::failure(quire::StatusCode::kNotFound,
                                "no area called " + latin1_to_utf8(name) + " in " + store_directory(), path);
}

// A read-only connection and one statement, closed at the end of a scope.
struct Reader {
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  ~Reader() {
    if (stmt) sqlite3_finalize(stmt);
    if (db) sqlite3_close_v2(db);
  }
  // The failure of the last call, naming the file.
  quire::Status failure(const std::string& path) const {
    return quire::Status::failure(quire::StatusCode::kCorrupt,
                                  "cannot read the area file " + path + ": " +
                                      (db ? sqlite3_errmsg(db) : "cannot open it"),
                                  path, db ? sqlite3_errcode(db) : SQLITE_CANTOPEN);
  }
  bool prepare(const char* sql) {
    if (stmt) sqlite3_finalize(stmt);
    stmt = nullptr;
    return sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK;
  }
};

quire::Status read_info(const std::string& path, AreaInfo* info) {
  Reader r;
  if (sqlite3_open_v2(sqlite_file_name(path).c_str(), &r.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK)
    return r.failure(path);
  // One read transaction: the counts and the stamps of one version of the file.
  if (sqlite3_exec(r.db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return r.failure(path);
  const std::string area_sql = area_row_select_sql();
  if (!r.prepare(area_sql.c_str()) || sqlite3_step(r.stmt) != SQLITE_ROW) return r.failure(path);
  const int format = sqlite3_column_int(r.stmt, kAreaFormatColumn);
  if (format != kAreaFormat)
    return quire::Status::failure(quire::StatusCode::kCorrupt,
                                  "cannot read the area file " + path + ": unknown area format " +
                                      std::to_string(format),
                                  path);
  read_area_row(r.stmt, &info->summary);
  if (!r.prepare(kStampRangeSql) || sqlite3_step(r.stmt) != SQLITE_ROW) return r.failure(path);
  info->has_stamps = sqlite3_column_type(r.stmt, 0) != SQLITE_NULL;
  if (info->has_stamps) {
    info->oldest_modified = sqlite3_column_int64(r.stmt, 0);
    info->newest_modified = sqlite3_column_int64(r.stmt, 1);
  }
  sqlite3_exec(r.db, "COMMIT", nullptr, nullptr, nullptr);
  return {};
}

// True when name could reach outside the store as a path: it holds a path
// separator or is "." or "..". (The file name an area gets encodes every
// such byte, so this guards the user's intent rather than the file.)
bool path_like_name(std::string_view name) {
  for (char c : name)
    if (c == '/' || c == '\\' || is_path_separator(c)) return true;
  return name == "." || name == "..";
}

quire::Status refuse(RemoveRefusal why, RemoveRefusal* refusal, quire::StatusCode code, std::string message,
                     std::string subject = {}, int error = 0) {
  if (refusal) *refusal = why;
  return quire::Status::failure(code, std::move(message), std::move(subject), error);
}

}  // namespace

std::string stamp_text(int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds t{std::chrono::seconds{seconds}};
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<std::chrono::seconds> hms{t - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                static_cast<int>(hms.seconds().count()));
  return text;
}

quire::Status area_info(std::string_view name, AreaInfo* info) {
  return fenced([&]() -> quire::Status {
    *info = AreaInfo{};
    if (!valid_area_name(name)) return no_area(name, {});
    const std::string path = area_path(name);
    const FileStatus st = file_status(path);
    if (st.error == ENOENT || st.error == ENOTDIR) return no_area(name, path);
    if (st.error != 0) return quire::Status::io_error(st.error, "read", path);
    // Opening a FIFO would wait for a writer that never comes.
    if (!st.regular)
      return quire::Status::failure(quire::StatusCode::kInvalid,
                                    "cannot read " + path + ": not a regular file (an area file is one)", path);
    if (quire::Status read = read_info(path, info); !read.ok()) return read;
    info->summary.path = path;
    info->size = static_cast<uint64_t>(st.identity.size);
    return {};
  });
}

quire::Status remove_area(std::string_view name, std::string* removed, RemoveRefusal* refusal) {
  if (refusal) *refusal = RemoveRefusal::kNone;
  return fenced([&]() -> quire::Status {
    const std::string shown = latin1_to_utf8(name);
    if (path_like_name(name) || !valid_area_name(name))
      return refuse(RemoveRefusal::kBadName, refusal, quire::StatusCode::kInvalid,
                    "\"" + shown + "\" is not an area name (a path separator, \".\" or \"..\" never is)");
    const std::string dir = store_directory();
    const std::string path = area_path(name);
    *removed = path;
    // The name itself, not what a link there points to.
    std::error_code ec;
    const auto st = std::filesystem::symlink_status(quire::platform::filesystem_path(path), ec);
    if (ec || !std::filesystem::exists(st)) {
      if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        return file_failure(ec.value(), "cannot look at " + path + ": " + ec.message(), path);
      return no_area(name, path);
    }
    if (!std::filesystem::is_regular_file(st) && !std::filesystem::is_symlink(st))
      return refuse(RemoveRefusal::kNotAnArea, refusal, quire::StatusCode::kInvalid,
                    "not removed: " + path + " is not an area file (nor a link to one)", path);
    for (const char* suffix : kJournalSuffixes) {
      const std::string journal = path + suffix;
      if (quire::platform::path_exists(journal))
        return refuse(RemoveRefusal::kBeingWritten, refusal, quire::StatusCode::kInvalid,
                      "not removed: " + journal +
                          " exists: a program is writing the area file, or was when it stopped (area files are "
                          "never written in place; re-import the area, or remove both files once no program has "
                          "them open)",
                      journal);
    }
    // What a removal killed between its two steps left behind.
    quire::platform::remove_stale_files(dir, kRemovedAreaPrefix);
    const std::string parting = quire::platform::unpredictable_name(dir, kRemovedAreaPrefix);
    quire::Status status;
    if (!quire::platform::rename_file(path, parting, &status)) {
      if (status.error() == ENOENT) return no_area(name, path);
      if (status.error() == ETXTBSY)
        return refuse(RemoveRefusal::kInUse, refusal, quire::StatusCode::kInvalid,
                      "not removed: " + path + " is open in another program (a report on the area?); try again "
                      "when it has finished",
                      path, status.error());
      return file_failure(status.error(), "not removed: " + status.message(), path);
    }
    // The area is gone from the store from here on; what is left is the
    // file's data, which goes when no program has it open any more.
    if (!quire::platform::remove_file(parting, &status))
      return file_failure(status.error(),
                          "area " + shown + " is removed from the store, but its file stays as " + parting + ": " +
                              status.message(),
                          parting);
    if (!quire::platform::sync_directory(dir, &status))
      return file_failure(status.error(),
                          "area " + shown + " is removed, but the store directory is not synced: " + status.message(),
                          dir);
    return {};
  });
}

}  // namespace quire::areas
