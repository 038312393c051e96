// The engine a store setting names.
#include "engine.h"

#include "sqlite/sqlite_engine.h"
#ifdef QUIRE_HAVE_ODBC
#include "odbc/odbc_engine.h"
#endif

namespace quire::store {

namespace {
constexpr std::string_view kServerPrefix = "odbc:";
}  // namespace

Status open_engine(std::string_view store_setting, std::unique_ptr<Engine>* out) {
  out->reset();
  if (store_setting.substr(0, kServerPrefix.size()) == kServerPrefix) {
#ifdef QUIRE_HAVE_ODBC
    return open_odbc_engine(store_setting.substr(kServerPrefix.size()), out);
#else
    return Status::failure(StatusCode::kInvalid, "this quire was built without server stores (odbc:)",
                           std::string(store_setting.substr(0, kServerPrefix.size())));
#endif
  }
  *out = std::make_unique<SqliteEngine>(std::string(store_setting));
  return {};
}

}  // namespace quire::store
