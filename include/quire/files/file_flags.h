// The flag names of the file calls of FileEnv, on every system. On POSIX they
// are the system's own. Windows's C library lacks most of them: there they
// are values of this layer's own, which only the Windows file calls
// (file_env_windows.cpp) understand, so that the code over a FileEnv and its
// tests read the same everywhere.
#ifndef QUIRE_FILES_FILE_FLAGS_H_
#define QUIRE_FILES_FILE_FLAGS_H_

#include <fcntl.h>
#include <sys/types.h>

#ifdef _WIN32

// Open flags the C library has not; O_RDONLY, O_WRONLY, O_RDWR, O_APPEND,
// O_CREAT, O_EXCL, O_TRUNC and O_TEMPORARY (removed when the last handle
// closes) are its own.
#define O_NOFOLLOW 0x00100000   // refuse a symbolic link or junction at the path
#define O_CLOEXEC 0x00200000    // handles are never inherited: no effect
#define O_NONBLOCK 0x00400000   // opening never waits on Windows: no effect
#define O_DIRECTORY 0x00800000  // open a directory, ENOTDIR when it is none
#define O_NOCTTY 0x01000000     // no effect

// flock(2) operations.
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

// What FileEnv::map returns on failure.
#define MAP_FAILED (reinterpret_cast<void*>(-1))

namespace quire::platform {
// An open flag for a file the system removes when it is closed, also when
// the process dies; 0 where a file is removed by unlinking it while open.
constexpr int kOpenRemovedOnClose = O_TEMPORARY;
}  // namespace quire::platform

#else

#include <sys/file.h>
#include <sys/mman.h>

namespace quire::platform {
constexpr int kOpenRemovedOnClose = 0;
}  // namespace quire::platform

#endif

#endif  // QUIRE_FILES_FILE_FLAGS_H_
