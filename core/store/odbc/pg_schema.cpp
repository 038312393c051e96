#include "pg_schema.h"

#include "store_layout.h"

namespace quire::store {

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
