// The path of the running program's executable file.
#ifndef QUIRE_PLATFORM_EXECUTABLE_PATH_H_
#define QUIRE_PLATFORM_EXECUTABLE_PATH_H_

#include <cstddef>

namespace quire::platform {

// Writes the full path of the host process's executable into buffer (size
// bytes), cut to size - 1 characters and always terminated. Returns the
// number of characters written, 0 when the path is unknown (buffer is then
// the empty text).
std::size_t read_host_executable_path(char* buffer, std::size_t size);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_EXECUTABLE_PATH_H_
