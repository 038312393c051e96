// The storage-area library's system calls on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host_system.h"

namespace plotbase {

namespace {

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.file = static_cast<uint64_t>(st.st_ino);
  id.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.size = static_cast<int64_t>(st.st_size);
  return id;
}

}  // namespace

FileStatus file_status(const std::string& path) {
  FileStatus status;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    status.error = errno;
    status.system_error = status.error;
    return status;
  }
  status.regular = S_ISREG(st.st_mode);
  status.identity = identity_of(st);
  return status;
}

std::string system_error_text(int system_error) { return std::strerror(system_error); }

bool regular_files_in(const std::string& directory, std::vector<std::string>* names, int* error) {
  DIR* d = ::opendir(directory.c_str());
  if (!d) {
    *error = errno;
    return false;
  }
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool regular = e->d_type == DT_REG;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) regular = file_status(path_in(directory, name)).regular;
    if (regular) names->push_back(std::move(name));
  }
  ::closedir(d);
  return true;
}

std::string path_in(const std::string& directory, std::string_view name) {
  std::string path = directory;
  path += '/';
  path += name;
  return path;
}

bool is_path_separator(char c) { return c == '/'; }

std::string path_stem(std::string_view path) { return std::filesystem::path(path).stem().string(); }

std::string path_file_name(std::string_view path) { return std::filesystem::path(path).filename().string(); }

std::string sqlite_file_name(const std::string& path) { return path; }

std::string default_store_directory() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) return std::string(data) + "/quire/store";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/quire/store";
}

bool process_is_ending() { return false; }

std::thread start_background_thread(const char* name, std::function<void()> body) {
  // The thread starts with the signal mask of the thread that starts it.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  std::thread thread;
  try {
    thread = std::thread([name, body = std::move(body)] {
      pthread_setname_np(pthread_self(), name);
      body();
    });
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

InputFile::~InputFile() {
  if (own_) ::close(fd_);
}

bool InputFile::open(const std::string& path) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return error_ = errno, false;
    own_ = true;
  }
  opened_ = true;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return error_ = errno, false;
  if (S_ISDIR(st.st_mode)) return error_ = EISDIR, false;
  return true;
}

long InputFile::read(char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    error_ = errno;
    return -1;
  }
}

}  // namespace plotbase
