// String tables on Windows: a module's STRINGTABLE resource, read with
// LoadStringA once per module into a table kept for the rest of the process
// (modules here are never released).
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/string_table.h"

namespace quire::platform {
namespace {

// A module's strings as a QuireStringTable: the texts are owned here.
struct LoadedTable {
  std::vector<std::string> strings;
  std::vector<const char*> texts;
  QuireStringTable table{};
};

// Loads ids 1 to QUIRE_STRING_ID_LIMIT - 1 of module. Null when the module
// holds none of them.
std::unique_ptr<LoadedTable> load_table(HMODULE module) {
  auto loaded = std::make_unique<LoadedTable>();
  loaded->strings.resize(QUIRE_STRING_ID_LIMIT);
  loaded->texts.assign(QUIRE_STRING_ID_LIMIT, nullptr);
  std::vector<char> buffer(4096);
  bool any = false;
  for (unsigned id = 1; id < QUIRE_STRING_ID_LIMIT; ++id) {
    // An id the module lacks, and an empty string, both load as 0 characters.
    int n = LoadStringA(module, id, buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0) continue;
    loaded->strings[id].assign(buffer.data(), static_cast<size_t>(n));
    any = true;
  }
  if (!any) return nullptr;
  for (unsigned id = 1; id < QUIRE_STRING_ID_LIMIT; ++id) {
    if (!loaded->strings[id].empty()) loaded->texts[id] = loaded->strings[id].c_str();
  }
  loaded->table = {QUIRE_STRING_TABLE_MAGIC, QUIRE_STRING_ID_LIMIT, loaded->texts.data()};
  return loaded;
}

}  // namespace

const QuireStringTable* find_string_table(void* library) {
  if (!library) return nullptr;
  static std::mutex mutex;
  static auto* tables = new std::map<void*, std::unique_ptr<LoadedTable>>;  // outlives static teardown
  std::lock_guard<std::mutex> lock(mutex);
  auto found = tables->find(library);
  if (found == tables->end())
    found = tables->emplace(library, load_table(static_cast<HMODULE>(library))).first;
  return found->second ? &found->second->table : nullptr;
}

}  // namespace quire::platform
