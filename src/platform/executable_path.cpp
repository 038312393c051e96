#include "platform/executable_path.h"

#include <unistd.h>

namespace quire::platform {

std::size_t read_host_executable_path(char* buffer, std::size_t size) {
  if (!buffer || size == 0) return 0;
  ssize_t n = ::readlink("/proc/self/exe", buffer, size - 1);
  if (n < 0) n = 0;
  buffer[n] = 0;
  return static_cast<std::size_t>(n);
}

}  // namespace quire::platform
