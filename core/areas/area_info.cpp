// `quire area info` and `quire area rm`: one area's figures, and removing
// an area's file from the store.
#include "area_info.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "area_store.h"
#include "failures.h"
#include "quire/files/file_system.h"
#include "store_access.h"
#include "store_names.h"

namespace quire::areas {

namespace {

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
    "SELECT modified FROM orders WHERE modified <> -1) stamps";

quire::Status no_area(std::string_view name, const Store& store, const std::string& path) {
  return quire::Status::failure(quire::StatusCode::kNotFound,
                                "no area called " + latin1_to_utf8(name) + " in " + store.where(), path);
}

// The failure to read the area at path, as the user reads it.
quire::Status cannot_read(const std::string& path, const std::string& why, int error = 0) {
  return quire::Status::failure(quire::StatusCode::kCorrupt, "cannot read the area file " + path + ": " + why, path,
                                error);
}

// Reads the area row and the range of stamps of the area open at c, in one
// read transaction: the counts and the stamps of one version of the area.
quire::Status read_info(store::Connection& c, const std::string& path, AreaInfo* info) {
  if (quire::Status begun = c.begin(store::TransactionMode::kReadSnapshot); !begun.ok())
    return cannot_read(path, begun.message(), begun.error());
  std::unique_ptr<store::Statement> s;
  bool row = false;
  quire::Status status = c.prepare(area_row_select_sql(), &s);
  if (status.ok()) status = s->step(&row);
  if (!status.ok()) return cannot_read(path, status.message(), status.error());
  if (!row) return cannot_read(path, no_area_row(c));
  const int64_t format = s->column_int64(kAreaFormatColumn);
  if (format != kAreaFormat) return cannot_read(path, "unknown area format " + std::to_string(format));
  read_area_row(*s, &info->summary);
  status = c.prepare(kStampRangeSql, &s);
  if (status.ok()) status = s->step(&row);
  if (!status.ok()) return cannot_read(path, status.message(), status.error());
  info->has_stamps = row && !s->column_is_null(0);
  if (info->has_stamps) {
    info->oldest_modified = s->column_int64(0);
    info->newest_modified = s->column_int64(1);
  }
  s.reset();
  c.commit();
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
    Store store;
    if (quire::Status opened = open_store(&store); !opened.ok()) return opened;
    if (!valid_area_name(name)) return no_area(name, store, {});
    const std::string path = store.place(name);
    uint64_t size = 0;
    if (store.folder) {
      // What only an area file has: something at its name that is no file,
      // and its size. A FIFO is never opened: it would wait for a writer
      // that never comes.
      const FileStatus st = file_status(path);
      if (st.error == ENOENT || st.error == ENOTDIR) return no_area(name, store, path);
      if (st.error != 0) return quire::Status::io_error(st.error, "read", path);
      if (!st.regular)
        return quire::Status::failure(quire::StatusCode::kInvalid,
                                      "cannot read " + path + ": not a regular file (an area file is one)", path);
      size = static_cast<uint64_t>(st.identity.size);
    }
    std::unique_ptr<store::Connection> connection;
    if (quire::Status opened = store.engine->open_area(name, &connection); !opened.ok()) return opened;
    if (!connection) return no_area(name, store, path);
    if (quire::Status read = read_info(*connection, path, info); !read.ok()) return read;
    info->summary.path = path;
    info->size = size;
    info->engine = store.folder ? "SQLite" : "server (ODBC)";
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
    Store store;
    if (quire::Status opened = open_store(&store); !opened.ok()) return opened;
    const std::string path = store.place(name);
    *removed = path;
    if (store.folder) {
      // What is at an area file's name is looked at first: the name itself,
      // not what a link there points to; and a journal beside the file
      // means a program is writing it.
      std::error_code ec;
      const auto st = std::filesystem::symlink_status(quire::platform::filesystem_path(path), ec);
      if (ec || !std::filesystem::exists(st)) {
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
          return file_failure(ec.value(), "cannot look at " + path + ": " + ec.message(), path);
        return no_area(name, store, path);
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
    }
    bool gone = false;
    quire::Status status = store.engine->remove_area(name, &gone);
    if (!status.ok()) {
      if (status.error() == ETXTBSY)
        return refuse(RemoveRefusal::kInUse, refusal, quire::StatusCode::kInvalid,
                      "not removed: " + path + " is open in another program (a report on the area?); try again "
                      "when it has finished",
                      path, status.error());
      if (!gone) return status;
      // Gone from the store, but not all of it: the line names the area.
      std::string message = status.message();
      const std::string kTheArea = "the area ";
      if (message.compare(0, kTheArea.size(), kTheArea) == 0)
        message = "area " + shown + " " + message.substr(kTheArea.size());
      return quire::Status::failure(status.code(), message, status.subject(), status.error());
    }
    if (!gone) return no_area(name, store, path);
    return {};
  });
}

}  // namespace quire::areas
