// Working from the description of the record kinds (area_data.h): column
// lists, the schema, and moving fields between structs, SQLite statements
// and records.
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine.h"
#include "store_layout.h"

namespace plotbase {

namespace rec = quire::records;

const Field* Table::find(std::string_view key, const char* group) const {
  for (const Field& f : *this) {
    if (!f.key || key != f.key) continue;
    if ((f.group == nullptr) != (group == nullptr)) continue;
    if (group && std::strcmp(f.group, group) != 0) continue;
    return &f;
  }
  return nullptr;
}

std::string column_list(const Table& table, bool record_only, const char* prefix) {
  std::string out;
  for (const Field& f : table) {
    if (record_only && f.offset < 0) continue;
    if (!out.empty()) out += ", ";
    out += prefix;
    out += f.column;
  }
  return out;
}

namespace {

const char* column_type(const Field& f) {
  switch (f.type) {
    case FieldType::kText:
    case FieldType::kCounts:
      return f.unique ? "TEXT NOT NULL COLLATE NOCASE UNIQUE" : "TEXT NOT NULL";
    case FieldType::kReal:
      return "REAL NOT NULL";
    case FieldType::kIndex:
      return "INTEGER";
    default:
      return "INTEGER NOT NULL";
  }
}

}  // namespace

std::string item_row_columns(Kind kind, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += std::string(i ? ", " : "") + kItemRowColumns[i][kind];
  return out;
}

std::string area_row_select_sql() {
  std::string sql = "SELECT ";
  for (int i = 0; i < kAreaColumnCount; ++i) sql += std::string(i ? ", " : "") + kAreaColumns[i];
  return sql + " FROM area";
}

std::string area_row_insert_sql() {
  std::string columns, values;
  for (int i = 0; i < kAreaColumnCount; ++i) {
    columns += std::string(i ? ", " : "") + kAreaColumns[i];
    values += (i ? ", ?" : "?") + std::to_string(i + 1);
  }
  return "INSERT INTO area (" + columns + ") VALUES (" + values + ")";
}

std::string area_table_sql() {
  std::string sql = "CREATE TABLE area (";
  for (int i = 0; i < kAreaColumnCount; ++i)
    sql += std::string(i ? ", " : "") + kAreaColumns[i] + (i == kAreaNameColumn ? " TEXT NOT NULL" : " INTEGER NOT NULL");
  return sql + ");\n";
}

std::string store_schema() {
  std::string sql = area_table_sql();
  for (const Table* t : kStoreTables) {
    sql += "CREATE TABLE ";
    sql += t->name;
    sql += " (\n  ";
    sql += t->keys;
    for (const Field& f : *t) {
      sql += ",\n  ";
      sql += f.column;
      sql += ' ';
      sql += column_type(f);
    }
    sql += t->constraints;
    sql += t->without_rowid ? "\n) WITHOUT ROWID;\n" : "\n);\n";
  }
  return sql;
}

namespace {

// The column type of f on a server: 64-bit integers and doubles as the
// SQLite file stores them; texts compared and sorted by their bytes, as
// SQLite compares them (so that lower() folds ASCII letters only, as
// NOCASE does); names unique without regard to case through an index of
// their own (server_unique_indexes).
const char* server_column_type(const Field& f) {
  switch (f.type) {
    case FieldType::kText:
    case FieldType::kCounts:
      return "TEXT COLLATE \"C\" NOT NULL";
    case FieldType::kReal:
      return "DOUBLE PRECISION NOT NULL";
    case FieldType::kIndex:
      return "BIGINT";
    default:
      return "BIGINT NOT NULL";
  }
}

// text with every INTEGER written as BIGINT (the key columns' SQL).
std::string server_keys(std::string text) {
  const std::string from = "INTEGER", to = "BIGINT";
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string server_schema() {
  std::string sql = server_keys(area_table_sql());
  std::string indexes;
  for (const Table* t : kStoreTables) {
    sql += "CREATE TABLE ";
    sql += t->name;
    sql += " (\n  ";
    sql += server_keys(t->keys);
    for (const Field& f : *t) {
      sql += ",\n  ";
      sql += f.column;
      sql += ' ';
      sql += server_column_type(f);
      if (f.unique)
        indexes += std::string("CREATE UNIQUE INDEX ") + t->name + "_" + f.column + "_key ON " + t->name +
                   " (lower(" + f.column + "));\n";
    }
    sql += t->constraints;
    sql += "\n);\n";
  }
  return sql + indexes;
}

}  // namespace

std::string counts_text(const std::vector<int32_t>& v) {
  size_t n = v.size();
  while (n > 0 && v[n - 1] == 0) --n;
  std::string s = "[";
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ',';
    s += std::to_string(v[i]);
  }
  return s + "]";
}

void parse_counts(const char* t, std::vector<int32_t>* out) {
  out->clear();
  for_each_count(t, [out](long v) {
    out->push_back(static_cast<int32_t>(v));
    return true;
  });
}

int bind_fields(quire::store::Statement& s, int first, const Table& table, const void* row) {
  void* r = const_cast<void*>(row);  // the accessors serve reading and writing
  int i = first;
  for (const Field& f : table) {
    switch (f.type) {
      case FieldType::kText:
        s.bind_text_in_place(i, *static_cast<const std::string*>(f.at(r)));
        break;
      case FieldType::kInt:
        s.bind_int64(i, *static_cast<const int32_t*>(f.at(r)));
        break;
      case FieldType::kReal:
        s.bind_double(i, *static_cast<const double*>(f.at(r)));
        break;
      case FieldType::kFlag:
        s.bind_int64(i, *static_cast<const bool*>(f.at(r)) ? 1 : 0);
        break;
      case FieldType::kIndex: {
        int64_t v = *static_cast<const int64_t*>(f.at(r));
        if (v >= 0) s.bind_int64(i, v);
        else s.bind_null(i);
        break;
      }
      case FieldType::kCounts:
        s.bind_text(i, counts_text(*static_cast<const std::vector<int32_t>*>(f.at(r))));
        break;
      case FieldType::kLength:
        s.bind_int64(i, static_cast<int64_t>(f.length(row)));
        break;
    }
    ++i;
  }
  return i;
}

void read_fields(quire::store::Statement& s, int first, const Table& table, void* row) {
  int i = first;
  for (const Field& f : table) {
    switch (f.type) {
      case FieldType::kText: {
        size_t size = 0;
        const char* t = s.column_text(i, &size);
        static_cast<std::string*>(f.at(row))->assign(t, size);
        break;
      }
      case FieldType::kInt:
        *static_cast<int32_t*>(f.at(row)) = static_cast<int32_t>(s.column_int64(i));
        break;
      case FieldType::kReal:
        *static_cast<double*>(f.at(row)) = s.column_double(i);
        break;
      case FieldType::kFlag:
        *static_cast<bool*>(f.at(row)) = s.column_int64(i) != 0;
        break;
      case FieldType::kIndex:
        *static_cast<int64_t*>(f.at(row)) = s.column_is_null(i) ? -1 : s.column_int64(i);
        break;
      case FieldType::kCounts:
        parse_counts(s.column_is_null(i) ? nullptr : s.column_text(i), static_cast<std::vector<int32_t>*>(f.at(row)));
        break;
      case FieldType::kLength:
        break;  // the list itself tells its length
    }
    ++i;
  }
}

}  // namespace plotbase

namespace quire::store {

std::string sql_for(Dialect dialect) {
  return dialect == Dialect::kPostgres ? plotbase::server_schema() : plotbase::store_schema();
}

}  // namespace quire::store
