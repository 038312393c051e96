// The names the server engine gives its tables, and its folding of area
// names into directory keys.
#ifndef QUIRE_STORE_ODBC_PG_SCHEMA_H_
#define QUIRE_STORE_ODBC_PG_SCHEMA_H_

#include <string>
#include <string_view>

#include "engine.h"

namespace quire::store {

// name with ASCII A-Z lower-cased: the directory's key of an area name.
std::string fold_ascii(std::string_view name);

// "area, markers, ...": every table of an area.
std::string area_table_list();

}  // namespace quire::store

#endif  // QUIRE_STORE_ODBC_PG_SCHEMA_H_
