#include "pg_schema.h"

#include "store_layout.h"

namespace quire::store {

namespace {

const char* postgres_type(const plotbase::Field& f) {
  switch (f.type) {
    case plotbase::FieldType::kText:
    case plotbase::FieldType::kCounts:
      return "TEXT NOT NULL";
    case plotbase::FieldType::kReal:
      return "DOUBLE PRECISION NOT NULL";
    case plotbase::FieldType::kIndex:
      return "BIGINT";
    default:
      return "INTEGER NOT NULL";
  }
}

}  // namespace

std::string postgres_area_schema() {
  // The area row's table is plain SQL both servers read alike.
  std::string sql = plotbase::area_table_sql();
  std::string indexes;
  for (const plotbase::Table* t : plotbase::kStoreTables) {
    sql += "CREATE TABLE ";
    sql += t->name;
    sql += " (\n  ";
    sql += t->keys;
    for (const plotbase::Field& f : *t) {
      sql += ",\n  ";
      sql += f.column;
      sql += ' ';
      sql += postgres_type(f);
      if (f.unique)
        indexes += std::string("CREATE UNIQUE INDEX ") + t->name + "_" + f.column + "_folded ON " + t->name + " (" +
                   folded_name(Dialect::kPostgres, f.column) + ");\n";
    }
    sql += t->constraints;
    sql += "\n);\n";
  }
  return sql + indexes;
}

std::string fold_ascii(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(plotbase::fold(static_cast<unsigned char>(c)));
  return key;
}

std::string area_table_list() {
  std::string list = "area";
  for (const plotbase::Table* t : plotbase::kStoreTables) list += std::string(", ") + t->name;
  return list;
}

}  // namespace quire::store
