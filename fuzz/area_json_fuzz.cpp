// Feeds arbitrary bytes to the area-file (JSON) import, into a scratch
// store: every input is stored or refused with one line naming what is at
// fault, and a stored area exports again.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_store.h"
#include "area_store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quire::fuzz::use_scratch_store();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quire::areas::AreaSummary summary;
  quire::Status status =
      quire::areas::import_area_json(std::string_view(reinterpret_cast<const char*>(data), size), &summary);
  if (!status.ok()) {
    // Refused in one line, and no exception behind it.
    const std::string message = status.message();
    if (message.empty() || message.find('\n') != std::string::npos || status.code() == quire::StatusCode::kInternal)
      __builtin_trap();
    return 0;
  }
  std::ostringstream out;
  if (!quire::areas::export_area_json(summary.name, out).ok()) __builtin_trap();
  return 0;
}
