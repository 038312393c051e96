#include "quire/files/file_system.h"

// The file calls over a FileEnv that read the same on every system; what
// differs (examining paths, randomness, standard output, attributes, the
// removal of stale files) is in file_system_<system>.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "file_system_internal.h"
#include "quire/files/file_env.h"

namespace quire::platform {

using internal::close_descriptor;
using internal::retry;

namespace {

constexpr size_t kCopyBlock = 256 * 1024;

// The pause between two tries for a lock another holder has.
constexpr std::chrono::milliseconds kLockRetryPause{50};

// True, with status naming it, when a directory on the way to path is
// another user's link in a shared directory: nothing of this run is created
// or appended to through it.
bool refuse_unsafe_directories(const std::string& path, Status* status) {
  std::string link;
  if (!internal::unsafe_link_on_the_way(path, &link)) return false;
  *status = Status::failure(StatusCode::kInvalid, "cannot write " + link + ": it is " + internal::kUnsafeLink, link,
                            ELOOP);
  return true;
}

}  // namespace

bool remove_file(FileEnv& env, const std::string& path, Status* status) {
  if (env.unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  status->fail(errno, "remove", path);
  return false;
}

bool rename_file(FileEnv& env, const std::string& from, const std::string& to, Status* status) {
  if (env.rename(from.c_str(), to.c_str()) == 0) return true;
  status->fail(errno, "rename", from + " to " + to);
  return false;
}

bool link_file(FileEnv& env, const std::string& from, const std::string& to, Status* status) {
  if (env.link(from.c_str(), to.c_str()) == 0) return true;
  status->fail(errno, "link", from + " to " + to);
  return false;
}

bool sync_directory(FileEnv& env, const std::string& directory, Status* status) {
  int fd = retry([&] { return env.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
  if (fd < 0) {
    status->fail(errno, "open the directory", directory);
    return false;
  }
  bool ok = env.fsync_directory(fd) == 0;
  // Some file systems cannot sync a directory; their renames are as durable
  // as they get.
  if (!ok && (errno == EINVAL || errno == ENOTSUP || errno == EROFS)) ok = true;
  if (!ok) status->fail(errno, "sync the directory", directory);
  close_descriptor(env, fd);
  return ok;
}

std::string unpredictable_name(const std::string& directory, const char* prefix) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[12];
  if (!internal::fill_random(bytes, sizeof bytes)) {
    // No entropy source: the clock and the process still differ per call.
    uint64_t mix = internal::process_and_clock() ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&bytes));
    for (unsigned char& b : bytes) {
      mix = mix * 6364136223846793005ull + 1442695040888963407ull;
      b = static_cast<unsigned char>(mix >> 56);
    }
  }
  std::string name = internal::path_in(directory, prefix);
  for (unsigned char b : bytes) name += kDigits[b % 36];
  name += ".tmp";
  return name;
}

// ---- FileHandle -------------------------------------------------------------

FileHandle::~FileHandle() { close_handle(); }

void FileHandle::start(const std::string& path) {
  close_handle();
  status_ = Status();
  path_ = path;
}

bool FileHandle::take(int fd, const char* operation) {
  if (fd < 0) {
    status_.fail(errno, operation, path_);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileHandle::close_handle() {
  if (fd_ >= 0 && !close_descriptor(*env_, fd_)) status_.fail(errno, "close", path_);
  fd_ = -1;
}

// ---- ReadableFile -----------------------------------------------------------

bool ReadableFile::open(const std::string& path) {
  start(path);
  FileEnv& env = *env_;
  // Not blocking: a pipe or device at the path must not stall the run; only
  // regular files are read.
  int fd = retry([&] { return env.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0); });
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) status_.fail(errno, "open", path);
    return false;
  }
  FileFacts facts;
  if (env.fstat(fd, &facts) != 0 || !facts.regular) {
    close_descriptor(env, fd);
    return false;
  }
  fd_ = fd;
  size_ = facts.size;
  return true;
}

long ReadableFile::read_at(uint64_t offset, void* data, size_t size) {
  if (fd_ < 0) return -1;
  ssize_t n = retry([&] { return env_->pread(fd_, data, size, static_cast<off_t>(offset)); });
  if (n < 0) status_.fail(errno, "read", path_);
  return static_cast<long>(n);
}

// ---- WritableFile -----------------------------------------------------------

bool WritableFile::create_exclusive(const std::string& path) {
  start(path);
  if (refuse_unsafe_directories(path, &status_)) return false;
  return take(retry([&] {
                return env_->open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
              }),
              "create");
}

bool WritableFile::create_anonymous(const std::string& directory) {
  start(directory);
#ifdef O_TMPFILE
  int fd = retry([&] { return env_->open(directory.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600); });
  if (fd >= 0) {
    fd_ = fd;
    path_ = directory + "/(unnamed)";
    return true;
  }
#endif
  // No unnamed files on this file system: create one and remove its name
  // (or, where an open file's name cannot go, have the system remove it
  // when it is closed).
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = unpredictable_name(directory, ".quire-spill-");
    int fd = retry([&] {
      return env_->open(name.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | kOpenRemovedOnClose, 0600);
    });
    if (fd >= 0) {
      if (kOpenRemovedOnClose == 0) env_->unlink(name.c_str());
      fd_ = fd;
      path_ = name;
      return true;
    }
    if (errno != EEXIST) break;
  }
  status_.fail(errno, "create a file in", directory);
  return false;
}

bool WritableFile::open_append(const std::string& path) {
  start(path);
  FileEnv& env = *env_;
  if (refuse_unsafe_directories(path, &status_)) return false;
  int fd = retry([&] {
    return env.open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  });
  if (fd < 0) {
    if (errno != ENOENT) status_.fail(errno, "open", path);
    return false;
  }
  FileFacts facts;
  int error = 0;
  if (env.fstat(fd, &facts) != 0) error = errno;
  else if (!facts.regular) error = EINVAL;
  if (error != 0) {
    status_.fail(error, "open", path);
    close_descriptor(env, fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool WritableFile::open_stream(const std::string& path) {
  start(path);
  return take(retry([&] { return env_->open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC, 0); }), "open");
}

bool WritableFile::append(const void* data, size_t size) {
  if (fd_ < 0 || !status_.ok()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = retry([&] { return env_->write(fd_, p, size); });
    if (n <= 0) {
      status_.fail(n < 0 ? errno : ENOSPC, "write", path_);
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WritableFile::write_at(uint64_t offset, const void* data, size_t size) {
  if (fd_ < 0 || !status_.ok()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = retry([&] { return env_->pwrite(fd_, p, size, static_cast<off_t>(offset)); });
    if (n <= 0) {
      status_.fail(n < 0 ? errno : ENOSPC, "write", path_);
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

long WritableFile::read_at(uint64_t offset, void* data, size_t size) {
  if (fd_ < 0 || !status_.ok()) return -1;
  ssize_t n = retry([&] { return env_->pread(fd_, data, size, static_cast<off_t>(offset)); });
  if (n < 0) status_.fail(errno, "read", path_);
  return static_cast<long>(n);
}

bool WritableFile::append_from(ReadableFile& source, uint64_t length) {
  if (fd_ < 0 || !status_.ok()) return false;
  uint64_t done = 0;
  // Inside the system: no pass through our memory, and on some file systems
  // no copy of the data at all.
  off_t in = 0;
  while (done < length) {
    ssize_t n = retry([&] {
      return env_->copy_range(source.descriptor(), &in, fd_, static_cast<size_t>(length - done));
    });
    if (n < 0 && errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP) {
      status_.fail(errno, "write", path_);
      return false;
    }
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  // Where that is not possible, through memory.
  std::vector<char> block;
  while (done < length) {
    if (block.empty()) block.resize(kCopyBlock);
    size_t chunk = length - done < kCopyBlock ? static_cast<size_t>(length - done) : kCopyBlock;
    long got = source.read_at(done, block.data(), chunk);
    if (got <= 0) {
      status_.fail(got < 0 ? source.status().error() : EIO, "read", source.path());
      return false;
    }
    if (!append(block.data(), static_cast<size_t>(got))) return false;
    done += static_cast<uint64_t>(got);
  }
  return true;
}

bool WritableFile::append_contents_of(WritableFile& source, uint64_t length) {
  std::vector<char> block(kCopyBlock);
  for (uint64_t offset = 0; offset < length;) {
    long got = source.read_at(offset, block.data(), block.size());
    if (got < 0) return false;
    if (got == 0) return length == kToEnd;
    if (!append(block.data(), static_cast<size_t>(got))) return false;
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool WritableFile::current_size(uint64_t* size) {
  FileFacts facts;
  if (fd_ < 0 || env_->fstat(fd_, &facts) != 0) {
    status_.fail(fd_ < 0 ? EBADF : errno, "examine", path_);
    return false;
  }
  *size = facts.size;
  return true;
}

bool WritableFile::truncate(uint64_t size) {
  if (fd_ < 0) return false;
  if (retry([&] { return env_->ftruncate(fd_, static_cast<off_t>(size)); }) == 0) return true;
  status_.fail(errno, "truncate", path_);
  return false;
}

bool WritableFile::sync() {
  if (fd_ < 0) return false;
  if (retry([&] { return env_->fsync(fd_); }) != 0) status_.fail(errno, "sync", path_);
  return status_.ok();
}

bool WritableFile::lock(bool wait) {
  if (fd_ < 0) return false;
  if (retry([&] { return env_->flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB)); }) == 0) return true;
  status_.fail(errno, "lock", path_);
  return false;
}

bool WritableFile::lock_within(std::chrono::milliseconds limit) {
  if (fd_ < 0) return false;
  limit = std::min(limit, kMaxLockWait);
  FileEnv& env = *env_;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    // Both kinds of lock other programs take on a whole file: flock's and a
    // record lock's (fcntl, lockf). While another program holds a record
    // lock, flock's is let go again, so that this run never holds one of
    // them while it waits for the other.
    int result = retry([&] { return env.flock(fd_, LOCK_EX | LOCK_NB); });
    if (result == 0) {
      result = retry([&] { return env.lock_records(fd_, LOCK_EX | LOCK_NB); });
      if (result == 0) return true;
      const int error = errno;
      env.flock(fd_, LOCK_UN);
      errno = error;
    }
    const int error = errno;
    const auto now = std::chrono::steady_clock::now();
    if (error != EWOULDBLOCK || now >= deadline) {
      status_.fail(error, "lock", path_);
      return false;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kLockRetryPause, deadline - now));
  }
}

std::chrono::milliseconds lock_wait_limit() {
  const char* text = std::getenv("QUIRE_LOCK_WAIT_MS");
  if (text == nullptr || *text == '\0') return kLockWait;
  char* end = nullptr;
  errno = 0;
  long long ms = std::strtoll(text, &end, 10);
  if (*end != '\0' || ms < 0 || (errno != 0 && errno != ERANGE)) return kLockWait;
  // A number past what a wait can be (also past what the clock can count)
  // is the longest wait.
  if (errno == ERANGE || ms > kMaxLockWait.count()) return kMaxLockWait;
  return std::chrono::milliseconds(ms);
}

std::string wait_text(std::chrono::milliseconds wait) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(wait.count()) / 1000.0);
  return text;
}

// ---- DirectoryLock ----------------------------------------------------------

DirectoryLock::~DirectoryLock() { release(); }

DirectoryLock::Result DirectoryLock::acquire(const std::string& directory, Status* status) {
  release();
  FileEnv& env = *env_;
  int fd = retry([&] { return env.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
  if (fd < 0) {
    status->fail(errno, "open the directory", directory);
    return kFailed;
  }
  if (retry([&] { return env.flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
    int err = errno;
    close_descriptor(env, fd);
    if (err == EWOULDBLOCK) return kBusy;
    status->fail(err, "lock the directory", directory);
    return kFailed;
  }
  fd_ = fd;
  return kLocked;
}

void DirectoryLock::release() {
  if (fd_ >= 0) close_descriptor(*env_, fd_);  // closing drops the lock
  fd_ = -1;
}

}  // namespace quire::platform
