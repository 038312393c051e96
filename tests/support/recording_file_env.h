// A file layer for tests that passes every call to the operating system and
// writes down, in order, the calls that decide what reaches the disk and
// under which name: creations, writes, syncs, renames, links, removals and
// truncations, each with the path of the file it concerns (the path a
// descriptor was opened or created at, followed through renames).
#ifndef QUIRE_TESTS_SUPPORT_RECORDING_FILE_ENV_H_
#define QUIRE_TESTS_SUPPORT_RECORDING_FILE_ENV_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "quire/files/file_env.h"

namespace quire::testing {

class RecordingFileEnv final : public platform::FileEnv {
 public:
  enum Kind { kCreate, kWrite, kSync, kSyncDirectory, kRename, kLink, kRemove, kTruncate };
  struct Call {
    Kind kind;
    std::string path;  // the file (for a rename or link: its first name)
    std::string to;    // a rename's or link's new name
  };

  RecordingFileEnv() = default;
  RecordingFileEnv(const RecordingFileEnv&) = delete;
  RecordingFileEnv& operator=(const RecordingFileEnv&) = delete;

  // The calls so far (call between runs: a table written in the background
  // adds to them while it is written).
  const std::vector<Call>& calls() const { return calls_; }

  int open(const char* path, int flags, mode_t mode) override {
    const int fd = base().open(path, flags, mode);
    if (fd < 0) return fd;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      paths_[fd] = path;
    }
    if (flags & O_CREAT) note(kCreate, path);
    return fd;
  }
  ssize_t pread(int fd, void* data, size_t size, off_t offset) override { return base().pread(fd, data, size, offset); }
  ssize_t write(int fd, const void* data, size_t size) override {
    return written(fd, base().write(fd, data, size));
  }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    return written(fd, base().pwrite(fd, data, size, offset));
  }
  ssize_t copy_range(int from_fd, off_t* from_offset, int to_fd, size_t size) override {
    return written(to_fd, base().copy_range(from_fd, from_offset, to_fd, size));
  }
  int fsync(int fd) override { return done(base().fsync(fd), kSync, path_of(fd)); }
  int fsync_directory(int fd) override { return done(base().fsync_directory(fd), kSyncDirectory, path_of(fd)); }
  int rename(const char* from, const char* to) override {
    const int result = base().rename(from, to);
    if (result == 0) {
      note(kRename, from, to);
      std::lock_guard<std::mutex> hold(mutex_);
      // An open file's later calls are on its new name.
      for (auto& [fd, path] : paths_)
        if (path == from) path = to;
    }
    return result;
  }
  int link(const char* from, const char* to) override {
    const int result = base().link(from, to);
    if (result == 0) note(kLink, from, to);
    return result;
  }
  int unlink(const char* path) override { return done(base().unlink(path), kRemove, path); }
  int flock(int fd, int operation) override { return base().flock(fd, operation); }
  int lock_records(int fd, int operation) override { return base().lock_records(fd, operation); }
  int ftruncate(int fd, off_t size) override { return done(base().ftruncate(fd, size), kTruncate, path_of(fd)); }
  int fchmod(int fd, mode_t mode) override { return base().fchmod(fd, mode); }
  void* map(int fd, size_t size, off_t offset) override { return base().map(fd, size, offset); }
  int unmap(void* address, size_t size) override { return base().unmap(address, size); }
  int close(int fd) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      paths_.erase(fd);
    }
    return base().close(fd);
  }
  int fstat(int fd, platform::FileFacts* facts) override { return base().fstat(fd, facts); }

 private:
  static platform::FileEnv& base() { return platform::system_file_env(); }
  std::string path_of(int fd) {
    std::lock_guard<std::mutex> hold(mutex_);
    return paths_[fd];
  }
  void note(Kind kind, const std::string& path, const std::string& to = {}) {
    std::lock_guard<std::mutex> hold(mutex_);
    calls_.push_back({kind, path, to});
  }
  int done(int result, Kind kind, const std::string& path) {
    if (result == 0) note(kind, path);
    return result;
  }
  ssize_t written(int fd, ssize_t result) {
    if (result <= 0) return result;
    // One entry for a run of writes to one file.
    std::lock_guard<std::mutex> hold(mutex_);
    const std::string& path = paths_[fd];
    if (calls_.empty() || calls_.back().kind != kWrite || calls_.back().path != path)
      calls_.push_back({kWrite, path, {}});
    return result;
  }

  std::mutex mutex_;
  std::map<int, std::string> paths_;
  std::vector<Call> calls_;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_RECORDING_FILE_ENV_H_
