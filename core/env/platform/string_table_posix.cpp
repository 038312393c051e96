// String tables on POSIX systems: the table a resource library exports
// under QUIRE_STRING_TABLE_SYMBOL.
#include "platform/string_table.h"

#include "platform/shared_library.h"

namespace quire::platform {

const QuireStringTable* find_string_table(void* library) {
  auto* table = static_cast<const QuireStringTable*>(find_library_symbol(library, QUIRE_STRING_TABLE_SYMBOL));
  if (!table || table->magic != QUIRE_STRING_TABLE_MAGIC) return nullptr;
  return table;
}

}  // namespace quire::platform
