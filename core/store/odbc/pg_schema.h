// The area tables as a PostgreSQL server keeps them, made from the one
// declaration of the area tables (area_data.h), and the statement text that
// differs from SQLite's for case-blind names.
#ifndef QUIRE_STORE_ODBC_PG_SCHEMA_H_
#define QUIRE_STORE_ODBC_PG_SCHEMA_H_

#include <string>
#include <string_view>

#include "engine.h"

namespace quire::store {

// The CREATE TABLE and CREATE INDEX statements of an area's tables, for the
// schema the connection's search_path names. Reals are double precision;
// each name that is unique per kind without regard to ASCII case has a
// unique index on its folded form (folded_name).
std::string postgres_area_schema();

// The expression a statement compares and orders names by so that "Coat"
// and "COAT" are one name and names sort as SQLite's NOCASE sorts them:
// for SQLite the expression itself (its column is COLLATE NOCASE), for
// PostgreSQL its ASCII lower case in byte order, which the unique index of
// the name column serves. Used on both sides: "WHERE " + folded_name(d,
// "name") + " = " + folded_name(d, "?1").
inline std::string folded_name(Dialect dialect, std::string_view expression) {
  if (dialect == Dialect::kSqlite) return std::string(expression);
  return "lower((" + std::string(expression) + ") COLLATE \"C\")";
}

// name with ASCII A-Z lower-cased: the directory's key of an area name.
std::string fold_ascii(std::string_view name);

// "area, markers, ...": every table of an area.
std::string area_table_list();

}  // namespace quire::store

#endif  // QUIRE_STORE_ODBC_PG_SCHEMA_H_
