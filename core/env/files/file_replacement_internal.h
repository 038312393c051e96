// What the portable replacement code and its system halves share.
#ifndef QUIRE_FILES_FILE_REPLACEMENT_INTERNAL_H_
#define QUIRE_FILES_FILE_REPLACEMENT_INTERNAL_H_

namespace quire::platform::internal {

// Removes the file at path at once, from a signal handler (POSIX: no
// allocation, no lock) or from the thread of a console control handler
// (Windows); never through a FileEnv: a test's calls are no part of an
// interrupt.
void remove_path_now(const char* path);

}  // namespace quire::platform::internal

#endif  // QUIRE_FILES_FILE_REPLACEMENT_INTERNAL_H_
