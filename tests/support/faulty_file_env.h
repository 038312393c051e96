// A file layer for tests that makes one chosen file call fail: the Nth call
// of a chosen kind (or of any kind) returns -1 with a chosen error number;
// every other call goes to the operating system. A test hands it to the
// table or files it runs; for an entry point that takes no FileEnv it is
// installed with InstalledFileEnv. It can also plant symbolic
// links at the names of files about to be created, and write down the order
// of the syncs and renames of a run.
#ifndef QUIRE_TESTS_SUPPORT_FAULTY_FILE_ENV_H_
#define QUIRE_TESTS_SUPPORT_FAULTY_FILE_ENV_H_

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quire/files/file_env.h"

namespace quire::testing {

class FaultyFileEnv final : public platform::FileEnv {
 public:
  using FileCall = platform::FileCall;

  FaultyFileEnv() = default;
  FaultyFileEnv(const FaultyFileEnv&) = delete;
  FaultyFileEnv& operator=(const FaultyFileEnv&) = delete;

  // From now on the nth call (1-based) of kind, or of any kind when kind is
  // empty, fails with error; the count starts again.
  void fail_at(std::optional<FileCall> kind, int nth, int error) {
    kind_ = kind;
    nth_ = nth;
    error_ = error;
    calls_ = 0;
    tripped_ = false;
  }
  // From now on, before each of the next count exclusive creations of a
  // file, another user's symbolic link to victim is planted at that very
  // name. POSIX only: nothing is planted on Windows.
  void plant_links(const std::string& victim, int count) {
    victim_ = victim;
    plants_left_ = count;
  }
  int planted() const { return planted_; }
  // From now on every file is read rather than mapped, as on a system that
  // cannot map it (maps fail with ENODEV, uncounted).
  void refuse_maps() { refuse_maps_ = true; }
  // From now on no file gets a second name, as on a file system without
  // hard links (links fail with EPERM, uncounted).
  void refuse_links() { refuse_links_ = true; }

  // From now on every sync of a file and every rename is written down in
  // order, as "sync PATH" (the path the file was opened or created at) and
  // "rename FROM TO".
  void record_order() { recording_ = true; }
  const std::vector<std::string>& order() const { return order_; }

  // True once the chosen call failed.
  bool tripped() const { return tripped_; }
  // The kind of the call that failed.
  FileCall tripped_kind() const { return tripped_kind_; }
  // Calls of the chosen kind so far.
  int calls() const { return calls_; }

  int open(const char* path, int flags, mode_t mode) override {
#ifndef _WIN32
    if ((flags & O_CREAT) && (flags & O_EXCL) && plants_left_ > 0 && ::symlink(victim_.c_str(), path) == 0) {
      --plants_left_;
      ++planted_;
    }
#endif
    if (fails((flags & O_CREAT) ? FileCall::kCreate : FileCall::kOpen)) return -1;
    const int fd = base().open(path, flags, mode);
    if (recording_ && fd >= 0) paths_[fd] = path;
    return fd;
  }
  ssize_t pread(int fd, void* data, size_t size, off_t offset) override {
    return fails(FileCall::kRead) ? -1 : base().pread(fd, data, size, offset);
  }
  ssize_t write(int fd, const void* data, size_t size) override {
    return fails(FileCall::kWrite) ? -1 : base().write(fd, data, size);
  }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    return fails(FileCall::kWrite) ? -1 : base().pwrite(fd, data, size, offset);
  }
  ssize_t copy_range(int from_fd, off_t* from_offset, int to_fd, size_t size) override {
    return fails(FileCall::kWrite) ? -1 : base().copy_range(from_fd, from_offset, to_fd, size);
  }
  int fsync(int fd) override {
    if (fails(FileCall::kSync)) return -1;
    const int result = base().fsync(fd);
    if (recording_ && result == 0) order_.push_back("sync " + paths_[fd]);
    return result;
  }
  int fsync_directory(int fd) override {
    return fails(FileCall::kSyncDirectory) ? -1 : base().fsync_directory(fd);
  }
  int rename(const char* from, const char* to) override {
    if (fails(FileCall::kRename)) return -1;
    const int result = base().rename(from, to);
    if (recording_ && result == 0) order_.push_back(std::string("rename ") + from + " " + to);
    return result;
  }
  int link(const char* from, const char* to) override {
    if (refuse_links_) {
      errno = EPERM;
      return -1;
    }
    return fails(FileCall::kLink) ? -1 : base().link(from, to);
  }
  int unlink(const char* path) override { return fails(FileCall::kRemove) ? -1 : base().unlink(path); }
  int flock(int fd, int operation) override { return fails(FileCall::kLock) ? -1 : base().flock(fd, operation); }
  int lock_records(int fd, int operation) override {
    return fails(FileCall::kLock) ? -1 : base().lock_records(fd, operation);
  }
  int ftruncate(int fd, off_t size) override {
    return fails(FileCall::kTruncate) ? -1 : base().ftruncate(fd, size);
  }
  int fchmod(int fd, mode_t mode) override { return fails(FileCall::kChangeMode) ? -1 : base().fchmod(fd, mode); }
  void* map(int fd, size_t size, off_t offset) override {
    if (refuse_maps_) {
      errno = ENODEV;
      return MAP_FAILED;
    }
    return fails(FileCall::kMap) ? MAP_FAILED : base().map(fd, size, offset);
  }
  int unmap(void* address, size_t size) override { return base().unmap(address, size); }
  int close(int fd) override {
    paths_.erase(fd);
    return base().close(fd);
  }
  int fstat(int fd, platform::FileFacts* facts) override { return base().fstat(fd, facts); }

 private:
  static platform::FileEnv& base() { return platform::system_file_env(); }
  bool fails(FileCall kind) {
    if (kind_ && *kind_ != kind) return false;
    if (++calls_ != nth_) return false;
    tripped_ = true;
    tripped_kind_ = kind;
    errno = error_;
    return true;
  }

  std::optional<FileCall> kind_;
  int nth_ = 0;
  int error_ = 0;
  int calls_ = 0;
  bool tripped_ = false;
  std::string victim_;
  int plants_left_ = 0;
  int planted_ = 0;
  bool refuse_maps_ = false;
  bool refuse_links_ = false;
  bool recording_ = false;
  std::map<int, std::string> paths_;
  std::vector<std::string> order_;
  FileCall tripped_kind_ = FileCall::kOpen;
};

// Makes env what platform::file_env() gives until destroyed: for entry
// points that take their FileEnv from the program's edge.
class InstalledFileEnv {
 public:
  explicit InstalledFileEnv(platform::FileEnv& env) { platform::set_file_env(&env); }
  ~InstalledFileEnv() { platform::set_file_env(nullptr); }
  InstalledFileEnv(const InstalledFileEnv&) = delete;
  InstalledFileEnv& operator=(const InstalledFileEnv&) = delete;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_FAULTY_FILE_ENV_H_
