// Comparing the version records of two files.
#include "platform/version_record.h"

namespace quire::platform {

int same_file_version(const char* path_a, const char* path_b) {
  uint32_t least_a = 0, most_a = 0, least_b = 0, most_b = 0;
  if (!read_file_version(path_a, &least_a, &most_a)) return 0;
  if (!read_file_version(path_b, &least_b, &most_b)) return 0;
  return least_a == least_b && most_a == most_b ? 1 : 0;
}

}  // namespace quire::platform
