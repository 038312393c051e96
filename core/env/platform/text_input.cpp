#include "platform/text_input.h"

#include <sys/stat.h>

#include <cerrno>

namespace quire::platform {

std::FILE* open_text_input(const char* path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return nullptr;
  // Decided on the opened file itself, so a name replaced in between cannot
  // slip a directory in.
  struct stat st;
  int error = 0;
  if (::fstat(::fileno(file), &st) != 0) error = errno;
  else if (S_ISDIR(st.st_mode)) error = EISDIR;
  if (error != 0) {
    std::fclose(file);
    errno = error;
    return nullptr;
  }
  return file;
}

}  // namespace quire::platform
