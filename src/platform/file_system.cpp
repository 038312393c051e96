#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

namespace quire::platform {

namespace {

// Retries a system call interrupted by a signal.
template <typename F>
auto retry(F f) {
  decltype(f()) r;
  do {
    r = f();
  } while (r < 0 && errno == EINTR);
  return r;
}

std::string random_suffix() {
  static std::mt19937_64 generator{std::random_device{}() ^
                                   (static_cast<uint64_t>(::getpid()) << 32)};
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string s;
  for (int i = 0; i < 10; ++i) s += kDigits[generator() % 36];
  return s;
}

}  // namespace

void IoStatus::fail(int error_number, const char* op, const std::string& file) {
  if (error != 0) return;
  error = error_number != 0 ? error_number : EIO;
  operation = op;
  path = file;
}

std::string IoStatus::message() const {
  return "cannot " + operation + " " + path + ": " + std::strerror(error);
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_plain_file(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool remove_file(const std::string& path, IoStatus* status) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  status->fail(errno, "remove", path);
  return false;
}

bool rename_file(const std::string& from, const std::string& to, IoStatus* status) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  status->fail(errno, "rename", from + " to " + to);
  return false;
}

bool link_file(const std::string& from, const std::string& to, IoStatus* status) {
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  status->fail(errno, "link", from + " to " + to);
  return false;
}

// ---- OutputFile -------------------------------------------------------------

OutputFile::OutputFile() : buffer_(new char[kBufferSize]) {}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (source_fd_ >= 0) ::close(source_fd_);
  delete[] buffer_;
  delete[] compare_buffer_;
}

bool OutputFile::create_temporary(const std::string& directory, const char* prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = directory + "/" + prefix + random_suffix() + ".tmp";
    int fd = retry([&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (fd >= 0) {
      fd_ = fd;
      path_ = name;
      return status_.ok();
    }
    if (errno != EEXIST) {
      status_.fail(errno, "create a file in", directory);
      return false;
    }
  }
  status_.fail(EEXIST, "create a file in", directory);
  return false;
}

bool OutputFile::create_anonymous(const std::string& directory) {
#ifdef O_TMPFILE
  int fd = retry([&] { return ::open(directory.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600); });
  if (fd >= 0) {
    fd_ = fd;
    path_ = directory + "/(unnamed)";
    return status_.ok();
  }
#endif
  // No unnamed files on this file system: create one and remove its name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = directory + "/.quire-spill-" + random_suffix() + ".tmp";
    int fd2 = retry([&] { return ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
    if (fd2 >= 0) {
      ::unlink(name.c_str());
      fd_ = fd2;
      path_ = name;
      return status_.ok();
    }
    if (errno != EEXIST) break;
  }
  status_.fail(errno, "create a file in", directory);
  return false;
}

bool OutputFile::open_append(const std::string& path) {
  int fd = retry([&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC); });
  if (fd < 0) {
    if (errno != ENOENT) status_.fail(errno, "open", path);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return status_.ok();
}

void OutputFile::flush_buffer() {
  if (used_ == 0) return;
  if (fd_ < 0 || !status_.ok()) {
    used_ = 0;
    return;
  }
  if (matching_) {
    if (buffer_agrees()) {
      written_ += used_;
      used_ = 0;
      return;
    }
    stop_matching();
    if (!status_.ok()) {
      used_ = 0;
      return;
    }
  }
  size_t done = 0;
  while (done < used_) {
    ssize_t n = retry([&] { return ::write(fd_, buffer_ + done, used_ - done); });
    if (n <= 0) {
      status_.fail(n < 0 ? errno : ENOSPC, "write", path_);
      break;
    }
    done += static_cast<size_t>(n);
  }
  written_ += done;
  used_ = 0;
#ifdef __linux__
  // Start writing the data out while the run goes on, so that the sync at
  // the end waits only for the last part. A hint: its failure is the sync's.
  if (written_ - writeback_start_ >= kWritebackChunk) {
    ::sync_file_range(fd_, static_cast<off_t>(writeback_start_), static_cast<off_t>(written_ - writeback_start_),
                      SYNC_FILE_RANGE_WRITE);
    writeback_start_ = written_;
  }
#endif
}

void OutputFile::write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (used_ == kBufferSize) flush_buffer();
    size_t n = kBufferSize - used_;
    if (n > size) n = size;
    std::memcpy(buffer_ + used_, p, n);
    used_ += n;
    p += n;
    size -= n;
  }
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t size) {
  flush_buffer();
  if (fd_ < 0 || !status_.ok()) return;
  if (matching_) {
    if (offset + size <= written_ && source_agrees(offset, static_cast<const char*>(data), size, true)) return;
    stop_matching();
    if (!status_.ok()) return;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = retry([&] { return ::pwrite(fd_, p, size, static_cast<off_t>(offset)); });
    if (n <= 0) {
      status_.fail(n < 0 ? errno : ENOSPC, "write", path_);
      return;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

long OutputFile::read_at(uint64_t offset, void* data, size_t size) {
  flush_buffer();
  stop_matching();
  if (fd_ < 0 || !status_.ok()) return -1;
  ssize_t n = retry([&] { return ::pread(fd_, data, size, static_cast<off_t>(offset)); });
  if (n < 0) status_.fail(errno, "read", path_);
  return static_cast<long>(n);
}

void OutputFile::flush() { flush_buffer(); }

void OutputFile::sync() {
  flush_buffer();
  stop_matching();
  if (fd_ < 0 || !status_.ok()) return;
  if (retry([&] { return ::fsync(fd_); }) != 0) status_.fail(errno, "sync", path_);
}

bool OutputFile::close() {
  flush_buffer();
  stop_matching();
  if (fd_ >= 0) {
    // The descriptor is gone after close whatever it returns; EINTR is not
    // retried for that reason.
    if (::close(fd_) != 0 && errno != EINTR) status_.fail(errno, "close", path_);
    fd_ = -1;
  }
  return status_.ok();
}

bool OutputFile::match_source(const std::string& source_path, uint64_t rewritten_prefix) {
  if (fd_ < 0 || matching_ || size() != 0) return false;
  int fd = retry([&] { return ::open(source_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (compare_buffer_ == nullptr) compare_buffer_ = new char[kBufferSize];
  source_fd_ = fd;
  source_path_ = source_path;
  source_size_ = static_cast<uint64_t>(st.st_size);
  rewritten_prefix_ = rewritten_prefix;
  matching_ = true;
  return true;
}

void OutputFile::write_from_source(const void* data, size_t size, uint64_t source_offset) {
  if (matching_ && used_ > 0 && source_offset == written_ + used_) flush_buffer();
  if (matching_ && used_ == 0 && source_offset == written_ && source_size_ - written_ >= size) {
    written_ += size;
    return;
  }
  write(data, size);
}

bool OutputFile::equals_source() {
  flush_buffer();
  return matching_ && status_.ok() && written_ == source_size_;
}

bool OutputFile::source_agrees(uint64_t offset, const char* data, size_t size, bool final) {
  // Until it is rewritten, the prefix agrees whatever it holds.
  if (!final && offset < rewritten_prefix_) {
    uint64_t skip = rewritten_prefix_ - offset;
    if (skip >= size) return true;
    offset += skip;
    data += skip;
    size -= static_cast<size_t>(skip);
  }
  if (offset > source_size_ || source_size_ - offset < size) return false;
  while (size > 0) {
    size_t chunk = size < kBufferSize ? size : kBufferSize;
    ssize_t n = retry([&] { return ::pread(source_fd_, compare_buffer_, chunk, static_cast<off_t>(offset)); });
    if (n <= 0) return false;  // the copy then reports what is wrong
    if (std::memcmp(compare_buffer_, data, static_cast<size_t>(n)) != 0) return false;
    offset += static_cast<uint64_t>(n);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool OutputFile::buffer_agrees() { return source_agrees(written_, buffer_, used_, false); }

void OutputFile::stop_matching() {
  if (!matching_) return;
  matching_ = false;
  if (fd_ >= 0 && status_.ok()) copy_from_source(written_);
  ::close(source_fd_);
  source_fd_ = -1;
}

void OutputFile::copy_from_source(uint64_t length) {
  uint64_t done = 0;
#ifdef __linux__
  // Inside the system: no pass through our memory, and on some file systems
  // no copy of the data at all.
  while (done < length) {
    off_t in = static_cast<off_t>(done);
    ssize_t n = retry([&] { return ::copy_file_range(source_fd_, &in, fd_, nullptr, length - done, 0); });
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
#endif
  // Where that is not possible, through a buffer.
  while (done < length) {
    size_t chunk = length - done < kBufferSize ? static_cast<size_t>(length - done) : kBufferSize;
    ssize_t got = retry([&] { return ::pread(source_fd_, compare_buffer_, chunk, static_cast<off_t>(done)); });
    if (got <= 0) {
      status_.fail(got < 0 ? errno : EIO, "read", source_path_);
      return;
    }
    size_t put = 0;
    while (put < static_cast<size_t>(got)) {
      ssize_t n = retry([&] { return ::write(fd_, compare_buffer_ + put, static_cast<size_t>(got) - put); });
      if (n <= 0) {
        status_.fail(n < 0 ? errno : ENOSPC, "write", path_);
        return;
      }
      put += static_cast<size_t>(n);
    }
    done += static_cast<uint64_t>(got);
  }
}

// ---- InputFile --------------------------------------------------------------

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
  close();
  // Not blocking: a pipe or device at the path must not stall the run; only
  // regular files are read.
  int fd = retry([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

long InputFile::read(void* data, size_t size) {
  if (fd_ < 0) return -1;
  ssize_t n = retry([&] { return ::read(fd_, data, size); });
  return static_cast<long>(n);
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---- DirectoryLock ----------------------------------------------------------

DirectoryLock::~DirectoryLock() { release(); }

DirectoryLock::Result DirectoryLock::acquire(const std::string& directory, IoStatus* status) {
  release();
  int fd = retry([&] { return ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) {
    status->fail(errno, "open the directory", directory);
    return kFailed;
  }
  if (retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return kBusy;
    status->fail(err, "lock the directory", directory);
    return kFailed;
  }
  fd_ = fd;
  directory_ = directory;
  return kLocked;
}

bool DirectoryLock::sync(IoStatus* status) {
  if (fd_ < 0) return true;
  if (::fsync(fd_) == 0) return true;
  // Some file systems cannot sync a directory; their renames are as durable
  // as they get.
  if (errno == EINVAL || errno == ENOTSUP || errno == EROFS) return true;
  status->fail(errno, "sync the directory", directory_);
  return false;
}

void DirectoryLock::release() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
  fd_ = -1;
}

int remove_files_with_prefix(const std::string& directory, const char* prefix) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return 0;
  size_t prefix_length = std::strlen(prefix);
  int removed = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix, prefix_length) != 0) continue;
    std::string path = directory + "/" + entry->d_name;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0)
      ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace quire::platform
