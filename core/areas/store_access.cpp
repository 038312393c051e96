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

const char* no_area_row(const store::Connection& c) {
  return c.dialect() == store::Dialect::kSqlite ? "no more rows available" : "no area row";
}

std::string column_string(store::Statement& s, int column) {
  size_t size = 0;
  const char* t = s.column_text(column, &size);
  return std::string(t, size);
}

}  // namespace quire::areas
