// The area engine of a database server reached through ODBC (PostgreSQL
// tested): the store setting "odbc:" followed by a connection string.
//
// One database holds the store: a directory table (quire_areas, in the
// user's current schema) maps each area name to the schema that holds the
// area's tables. A new area is written into a fresh schema in one
// transaction that, at its end, points the directory at it; the schema it
// replaces is dropped once no reader still holds it.
#ifndef QUIRE_STORE_ODBC_ODBC_ENGINE_H_
#define QUIRE_STORE_ODBC_ODBC_ENGINE_H_

#include <memory>
#include <string_view>

#include "engine.h"

namespace quire::store {

// Connects to the server connection_string names (its password never
// appears in a message), creates the area directory there when it is
// missing and the user may, and fills *out.
Status open_odbc_engine(std::string_view connection_string, std::unique_ptr<Engine>* out);

}  // namespace quire::store

#endif  // QUIRE_STORE_ODBC_ODBC_ENGINE_H_
