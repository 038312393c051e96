/* The string table of a resource library, and finding it in a loaded
 * library. On Windows the table is the library's STRINGTABLE resource
 * (string_table_windows.cpp); on POSIX systems the library exports it as a
 * C object, whose layout is plain C so that the sources generated for
 * resource libraries (cmake/resources.cmake) compile against it too. */
#ifndef QUIRE_PLATFORM_STRING_TABLE_H_
#define QUIRE_PLATFORM_STRING_TABLE_H_

#include <stdint.h>

/* The exported symbol that holds a library's table. */
#define QUIRE_STRING_TABLE_SYMBOL "quire_string_table"
/* First word of every table: tells a table from another symbol of the name. */
#define QUIRE_STRING_TABLE_MAGIC 0x51535431u
/* Ids of a resource library's strings are below this. */
#define QUIRE_STRING_ID_LIMIT 256u

/* texts[id] is the text of string id for 0 < id < count; texts[0] and null
 * entries are strings the library does not have. */
typedef struct QuireStringTable {
  uint32_t magic;
  uint32_t count;
  const char* const* texts;
} QuireStringTable;

#ifdef __cplusplus
namespace quire::platform {

/* The string table of library, or null when it has none (or the symbol of
 * that name is not a table). The table stays valid for the rest of the
 * process. */
const QuireStringTable* find_string_table(void* library);

/* The text of string id in table, or null when the table lacks it. */
inline const char* string_table_text(const QuireStringTable* table, unsigned id) {
  if (!table || id == 0 || id >= table->count || !table->texts) return nullptr;
  return table->texts[id];
}

}  // namespace quire::platform
#endif

#endif /* QUIRE_PLATFORM_STRING_TABLE_H_ */
