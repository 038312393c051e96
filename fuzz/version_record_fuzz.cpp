// Any bytes at all given to the version record reader: it must never read
// outside them, and a record it finds must lie within them.
#include <cstddef>
#include <cstdint>

#include "platform/version_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quire::platform::ProductVersion version;
  quire::platform::find_version_record(data, size, &version);
  return 0;
}
