// The file calls of this system, behind one interface: every create, open,
// read, write, sync, rename, link, remove, lock and truncate of the report
// table, the change log and the replacement of store and export files goes
// through a FileEnv that the file objects are given when they are made. The
// program's edges (the C shells, the program, area management's entry
// points) hand in file_env(); a test hands its own to the table or files it
// runs, to make a chosen call fail with a chosen error number or to write
// down the order of the calls.
//
// The calls are POSIX's everywhere: int descriptors, the flags of
// file_flags.h, -1 with errno. On Windows the system's calls keep a table of
// handles behind the descriptors and give each failure the errno nearest to
// the system's error (file_env_windows.cpp says which).
#ifndef QUIRE_FILES_FILE_ENV_H_
#define QUIRE_FILES_FILE_ENV_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "quire/files/file_flags.h"

namespace quire::platform {

// The kinds of file call, for counting and failing them.
enum class FileCall {
  kCreate,         // open with O_CREAT
  kOpen,           // open of an existing file or directory
  kRead,           // pread
  kWrite,          // write, pwrite, copy inside the system
  kSync,           // fsync of a file
  kSyncDirectory,  // fsync of a directory
  kRename,
  kLink,
  kRemove,
  kLock,
  kTruncate,
  kChangeMode,     // fchmod
  kMap,            // mmap of part of a file for reading
};

// What the file layer asks of an open file (fstat).
struct FileFacts {
  bool regular = false;  // a regular file (not a directory, pipe or device)
  uint64_t size = 0;     // its size now, for a regular file
};

class FileEnv {
 public:
  virtual ~FileEnv() = default;

  // Each call does what its POSIX namesake does and returns the same: -1 (or
  // a negative count) with errno set on failure.
  virtual int open(const char* path, int flags, mode_t mode) = 0;
  virtual ssize_t pread(int fd, void* data, size_t size, off_t offset) = 0;
  virtual ssize_t write(int fd, const void* data, size_t size) = 0;
  virtual ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) = 0;
  // Copies up to size bytes from from_fd at *from_offset (advanced) to the
  // current end of to_fd inside the system; -1 with ENOSYS, EXDEV or EINVAL
  // when the system cannot, so the caller copies through memory.
  virtual ssize_t copy_range(int from_fd, off_t* from_offset, int to_fd, size_t size) = 0;
  virtual int fsync(int fd) = 0;
  virtual int fsync_directory(int fd) = 0;
  virtual int rename(const char* from, const char* to) = 0;
  virtual int link(const char* from, const char* to) = 0;
  virtual int unlink(const char* path) = 0;
  // flock(2).
  virtual int flock(int fd, int operation) = 0;
  // A write lock on the whole file of the kind fcntl's record locks are
  // (lockf, F_SETLK): LOCK_EX with or without LOCK_NB, or LOCK_UN, as for
  // flock; a lock held elsewhere gives EWOULDBLOCK. On POSIX the lock
  // belongs to this opening of the file (F_OFD_SETLK where the system has
  // it) and the descriptor must be open for writing. On Windows nothing:
  // flock's lock there is the system's own and keeps others out already.
  virtual int lock_records(int fd, int operation) = 0;
  virtual int ftruncate(int fd, off_t size) = 0;
  virtual int fchmod(int fd, mode_t mode) = 0;
  // Maps size bytes of fd from offset (a multiple of the page size) for
  // reading, shared with the file; MAP_FAILED with errno on failure.
  virtual void* map(int fd, size_t size, off_t offset) = 0;
  virtual int unmap(void* address, size_t size) = 0;
  virtual int close(int fd) = 0;
  // fstat(2), reduced to what the file layer asks. Never made to fail by
  // tests: it only asks about a descriptor the layer holds.
  virtual int fstat(int fd, FileFacts* facts) = 0;
};

// The operating system's file calls.
FileEnv& system_file_env();

// The file calls the edges hand in: system_file_env() unless a test set
// another with set_file_env. Never called inside the file layer or the
// report table: they use the FileEnv they were given.
FileEnv& file_env();

// Makes env the file calls file_env() gives (nullptr restores the operating
// system's), for a test of an entry point that takes no FileEnv. Not
// thread-safe; set between runs.
void set_file_env(FileEnv* env);

}  // namespace quire::platform

#endif  // QUIRE_FILES_FILE_ENV_H_
