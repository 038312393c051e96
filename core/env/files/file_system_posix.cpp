// The POSIX half of file_system.h: paths examined with lstat, randomness from
// getrandom, owners and modes, and the removal of stale files by directory
// listing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "file_system_internal.h"
#include "quire/files/file_system.h"

namespace quire::platform {

using internal::retry;

namespace internal {

std::string path_in(const std::string& directory, const std::string& name) { return directory + "/" + name; }

const char* error_text(int error) { return std::strerror(error); }

bool fill_random(unsigned char* bytes, size_t size) {
  return ::getrandom(bytes, size, 0) == static_cast<ssize_t>(size);
}

unsigned long long process_and_clock() {
  uint64_t mix = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull;
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return mix ^ static_cast<uint64_t>(now.tv_nsec) << 20 ^ static_cast<uint64_t>(now.tv_sec);
}

}  // namespace internal

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::filesystem::path filesystem_path(const std::string& path) { return path; }

bool path_exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool is_plain_file(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool check_changeable(const std::string&, FileChange, Status*) {
  // Locks are advisory and a read-only mode guards a file's content, not
  // its name: nothing here keeps a run from replacing or appending.
  return true;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool ReadableFile::trusted_as(const std::string& path) const {
  struct stat own, other;
  if (fd_ < 0 || ::fstat(fd_, &own) != 0 || ::stat(path.c_str(), &other) != 0) return false;
  if (own.st_uid != other.st_uid && own.st_uid != ::geteuid()) return false;
  if ((own.st_mode & S_IWOTH) && !(other.st_mode & S_IWOTH)) return false;
  if ((own.st_mode & S_IWGRP) && !((other.st_mode & S_IWGRP) && own.st_gid == other.st_gid)) return false;
  return true;
}

bool WritableFile::hide() { return fd_ >= 0 && status_.ok(); }

bool WritableFile::open_standard_output() {
  start("standard output");
  return take(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3), "write");
}

bool WritableFile::take_attributes_of(const std::string& path) {
  if (fd_ < 0 || !status_.ok()) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  // Owner first: changing it may clear the set-id bits the mode restores.
  if (::fchown(fd_, st.st_uid, st.st_gid) != 0) {
    // Only a privileged process may give a file away; the group alone may
    // still be one the process belongs to. Otherwise the file stays ours.
    int ignored = ::fchown(fd_, static_cast<uid_t>(-1), st.st_gid);
    (void)ignored;
  }
  if (retry([&] { return env_->fchmod(fd_, st.st_mode & 07777); }) != 0) {
    status_.fail(errno, "set the mode of", path_);
    return false;
  }
  return true;
}

void WritableFile::start_writeback(uint64_t offset, uint64_t length) {
#ifdef __linux__
  if (fd_ >= 0)
    ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#else
  (void)offset, (void)length;
#endif
}

int remove_stale_files(const std::string& directory, const char* prefix) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return 0;
  size_t prefix_length = std::strlen(prefix);
  int removed = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix, prefix_length) != 0) continue;
    std::string path = directory + "/" + entry->d_name;
    // A writer holds its file locked until the file is in place; a file
    // nobody holds is a dead writer's. Links and other kinds stay.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0)
      ++removed;
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

}  // namespace quire::platform
