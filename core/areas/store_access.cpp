// The store as area management reaches it.
#include "store_access.h"

#include "sqlite/sqlite_engine.h"

namespace quire::areas {

Status open_store(Store* out) {
  *out = Store{};
  out->setting = store_directory();
  Status status = store::open_engine(out->setting, &out->engine);
  if (!status.ok()) return status;
  out->folder = dynamic_cast<store::SqliteEngine*>(out->engine.get());
  return {};
}

std::string Store::where() const { return folder ? folder->directory() : engine->describe(); }

std::string Store::place(std::string_view name) const {
  if (folder) return folder->area_path(name);
  return engine->describe() + ", area " + std::string(name);
}

void bind_record(store::Statement& s, int first, const Table& table, const void* row) {
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
        const int64_t v = *static_cast<const int64_t*>(f.at(r));
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
}

const char* no_area_row(const store::Connection& c) {
  return c.dialect() == store::Dialect::kSqlite ? "no more rows available" : "no area row";
}

std::string column_string(store::Statement& s, int column) {
  size_t size = 0;
  const char* t = s.column_text(column, &size);
  return std::string(t, size);
}

}  // namespace quire::areas
