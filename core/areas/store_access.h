// The store as area management reaches it: the engine the environment
// names (a folder of SQLite area files, or a server), where an area is for
// messages, and moving the described fields of a record through the
// engine's statements.
#ifndef QUIRE_AREAS_STORE_ACCESS_H_
#define QUIRE_AREAS_STORE_ACCESS_H_

#include <memory>
#include <string>
#include <string_view>

#include "engine.h"
#include "quire/status.h"
#include "store_names.h"

namespace quire::store {
class SqliteEngine;
}

namespace quire::areas {

// The store of $QUIRE_STORE (or the default folder), opened.
struct Store {
  std::unique_ptr<store::Engine> engine;
  // The folder's engine when the store is a folder of area files, whose
  // files area management also looks at as files (what is at an area's
  // name, its size, its pages); null for a server.
  store::SqliteEngine* folder = nullptr;
  // The store's setting: the folder's path, or "odbc:" and the server's
  // connection string.
  std::string setting;

  // Where the store is, for messages: the folder's path, or the server as
  // the engine describes it (never a password).
  std::string where() const;
  // Where the area called name is (Latin-1), for messages: its file's path
  // in a folder, else the server and the area.
  std::string place(std::string_view name) const;
};

Status open_store(Store* out);

// Why the area row was not found on c: SQLite's own words on an area file
// (which say no more than that the query gave no row), else "no area row".
const char* no_area_row(const store::Connection& c);
// The text of column of s's row.
std::string column_string(store::Statement& s, int column);

}  // namespace quire::areas

#endif  // QUIRE_AREAS_STORE_ACCESS_H_
