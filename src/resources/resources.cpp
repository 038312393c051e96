// Placeholder string table until the resource library loader lands: the
// report library's own texts only.
#include "resources/resources.h"

#include <cstring>

namespace quire {
namespace {
const char* const kOwnStrings[] = {
    nullptr,
    "Yes",
    "No",
    "None",
    "Left",
    "Right",
    "Piece %s does not exist in Storage Area %s. It will be ommitted from the report.",
};
}  // namespace

ModuleHandle own_module_handle() { return nullptr; }

ModuleHandle load_resource_library(ModuleHandle, const char*) { return nullptr; }

int load_string(ModuleHandle, unsigned id, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = 0;
  if (id == 0 || id > 6) return 0;
  size_t n = std::strlen(kOwnStrings[id]);
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  std::memcpy(buffer, kOwnStrings[id], n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

}  // namespace quire
