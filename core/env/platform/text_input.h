// Text files read line by line with the standard library's streams (the
// list file of item names).
#ifndef QUIRE_PLATFORM_TEXT_INPUT_H_
#define QUIRE_PLATFORM_TEXT_INPUT_H_

#include <cstdio>

namespace quire::platform {

// Opens path for reading as a text stream: a regular file, a pipe or a
// character device. Returns null (errno set) when it cannot be opened or is
// something that cannot be read as a file, such as a directory, which the
// system would otherwise open and then fail every read of. The caller closes
// the stream with std::fclose.
std::FILE* open_text_input(const char* path);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_TEXT_INPUT_H_
