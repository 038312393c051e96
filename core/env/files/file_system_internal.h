// What the portable file code and its system halves share inside the file
// layer.
#ifndef QUIRE_FILES_FILE_SYSTEM_INTERNAL_H_
#define QUIRE_FILES_FILE_SYSTEM_INTERNAL_H_

#include <cerrno>
#include <cstddef>
#include <string>

#include "quire/files/file_env.h"

namespace quire::platform::internal {

// Retries a call interrupted by a signal.
template <typename F>
auto retry(F f) {
  decltype(f()) r;
  do {
    r = f();
  } while (r < 0 && errno == EINTR);
  return r;
}

// Closes a descriptor; it is gone whatever close returns, so EINTR is not
// retried.
inline bool close_descriptor(FileEnv& env, int fd) { return env.close(fd) == 0 || errno == EINTR; }

// The path of name in directory.
std::string path_in(const std::string& directory, const std::string& name);

// The text of an error number, for messages.
const char* error_text(int error);

// Fills size bytes with the system's randomness; false when it has none to
// give.
bool fill_random(unsigned char* bytes, size_t size);

// A number that differs between processes and calls, for when there is no
// randomness.
unsigned long long process_and_clock();

// What a symbolic link that is not followed is called in messages.
constexpr const char* kUnsafeLink =
    "a symbolic link owned by another user in a shared directory (sticky, world-writable); not followed";

// Looks at the directories on the way to path (every component but the
// last), following symbolic links as the system does, also those inside a
// link's target. True, with *link naming it, when one of them is a link the
// shared-directory rule refuses (output_target.h): a link in a sticky,
// world-writable directory that belongs neither to that directory's owner
// nor to this process's user. Components that cannot be examined (missing,
// no access) end the walk as safe: the call that uses the path says what is
// wrong with them. Never true on Windows, which has no such directories.
bool unsafe_link_on_the_way(const std::string& path, std::string* link);

}  // namespace quire::platform::internal

#endif  // QUIRE_FILES_FILE_SYSTEM_INTERNAL_H_
