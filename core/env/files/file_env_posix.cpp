#include "quire/files/file_env.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quire::platform {

namespace {

class PosixFileEnv final : public FileEnv {
 public:
  int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  ssize_t pread(int fd, void* data, size_t size, off_t offset) override {
    return ::pread(fd, data, size, offset);
  }
  ssize_t write(int fd, const void* data, size_t size) override { return ::write(fd, data, size); }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    return ::pwrite(fd, data, size, offset);
  }
  ssize_t copy_range(int from_fd, off_t* from_offset, int to_fd, size_t size) override {
#ifdef __linux__
    return ::copy_file_range(from_fd, from_offset, to_fd, nullptr, size, 0);
#else
    (void)from_fd, (void)from_offset, (void)to_fd, (void)size;
    errno = ENOSYS;
    return -1;
#endif
  }
  int fsync(int fd) override { return ::fsync(fd); }
  int fsync_directory(int fd) override { return ::fsync(fd); }
  int rename(const char* from, const char* to) override { return std::rename(from, to); }
  int link(const char* from, const char* to) override { return ::link(from, to); }
  int unlink(const char* path) override { return ::unlink(path); }
  int flock(int fd, int operation) override { return ::flock(fd, operation); }
  int lock_records(int fd, int operation) override {
    struct flock range = {};
    range.l_type = (operation & LOCK_UN) ? F_UNLCK : F_WRLCK;
    range.l_whence = SEEK_SET;  // from the start to the end, however long
    const bool wait = !(operation & (LOCK_NB | LOCK_UN));
#ifdef F_OFD_SETLK
    int result = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
    // A system without locks of an opening: the process's own.
    if (result != 0 && errno == EINVAL) result = ::fcntl(fd, wait ? F_SETLKW : F_SETLK, &range);
#else
    int result = ::fcntl(fd, wait ? F_SETLKW : F_SETLK, &range);
#endif
    if (result != 0 && (errno == EACCES || errno == EAGAIN)) errno = EWOULDBLOCK;
    return result;
  }
  int ftruncate(int fd, off_t size) override { return ::ftruncate(fd, size); }
  int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  void* map(int fd, size_t size, off_t offset) override {
    // Populated at once: a view is read from its start to its end.
    return ::mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, offset);
  }
  int unmap(void* address, size_t size) override { return ::munmap(address, size); }
  int close(int fd) override { return ::close(fd); }
  int fstat(int fd, FileFacts* facts) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    facts->regular = S_ISREG(st.st_mode);
    facts->size = static_cast<uint64_t>(st.st_size);
    return 0;
  }
};

}  // namespace

FileEnv& system_file_env() {
  // Never destroyed: files may still be closed by other objects' destructors
  // at exit.
  static PosixFileEnv* env = new PosixFileEnv;
  return *env;
}

}  // namespace quire::platform
