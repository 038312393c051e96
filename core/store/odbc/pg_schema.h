// The statement text of the area tables that differs between SQLite and a
// PostgreSQL server for case-blind names, and the names the server engine
// gives its tables.
#ifndef QUIRE_STORE_ODBC_PG_SCHEMA_H_
#define QUIRE_STORE_ODBC_PG_SCHEMA_H_

#include <string>
#include <string_view>

#include "engine.h"

namespace quire::store {

// The expression a statement compares and orders names by so that "Coat"
// and "COAT" are one name and names sort as SQLite's NOCASE sorts them:
// for SQLite the expression itself (its column is COLLATE NOCASE), for
// PostgreSQL its lower case (the server's text columns are COLLATE "C":
// ASCII letters fold, and texts sort by their bytes), which the unique
// index of a name column is made of. Used on both sides: "WHERE " +
// folded_name(d, "name") + " = " + folded_name(d, "?1").
inline std::string folded_name(Dialect dialect, std::string_view expression) {
  if (dialect == Dialect::kSqlite) return std::string(expression);
  return "lower(" + std::string(expression) + ")";
}

// name with ASCII A-Z lower-cased: the directory's key of an area name.
std::string fold_ascii(std::string_view name);

// "area, markers, ...": every table of an area.
std::string area_table_list();

}  // namespace quire::store

#endif  // QUIRE_STORE_ODBC_PG_SCHEMA_H_
