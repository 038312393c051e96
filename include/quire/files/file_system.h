// Plain files over a FileEnv: files written and read through descriptors,
// the lock that keeps two runs out of one directory, and removal of what
// killed writers left behind. Every file object and free function here is
// given the FileEnv whose calls it makes (a file keeps it from its
// construction); nothing here looks up the operating system's own, so a
// test gives the objects of one run a FileEnv that fails or records.
//
// Every call that can fail returns false (or -1) and leaves the reason in a
// Status: the operation, the path and the system's error number, ready to
// be turned into a message a user can act on.
#ifndef QUIRE_FILES_FILE_SYSTEM_H_
#define QUIRE_FILES_FILE_SYSTEM_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "quire/files/file_env.h"
#include "quire/status.h"

namespace quire::platform {

// The directory part of a path as this system sees it: everything before the
// last "/", "." when there is none, "/" for a file in the root. On Windows
// "\" separates as "/" does, and a root is kept whole: "C:\x" is in "C:\",
// "C:x" in "C:" (the current directory of drive C), "\\server\share\x" in
// "\\server\share\".
std::string directory_of(const std::string& path);

// The path (as the file calls take it and the program's arguments give it:
// in the ANSI code page on Windows) as std::filesystem takes it, which on
// Windows would read a narrow text as UTF-8 (C:\data\Größe.lst).
std::filesystem::path filesystem_path(const std::string& path);

// True when something (a file, a directory, a link, ...) exists at path.
bool path_exists(const std::string& path);

// True when path names a regular file itself (not a symbolic link).
bool is_plain_file(const std::string& path);

// True when a and b are names of one file (neither followed when a link).
bool same_file(const std::string& a, const std::string& b);

// Removes a file; a missing file is no failure.
bool remove_file(FileEnv& env, const std::string& path, Status* status);

// Renames from to to, replacing to when it exists (same file system only).
bool rename_file(FileEnv& env, const std::string& from, const std::string& to, Status* status);

// What a run is about to do to a file that exists, for check_changeable.
enum class FileChange {
  kReplace,        // replace it whole; on Windows not when it is read-only
  kReplaceAnyway,  // replace it whole, read-only or not (OLD.DAT)
  kAppend,         // append to it
};

// Checks, before anything is written, that the file at path can be changed
// as change says. False with status when another program holds it open so
// that it cannot (on Windows: opened without sharing deletion, or writing
// for kAppend, as a spreadsheet program holds the table it shows): error
// ETXTBSY, operation "replace" or "write to"; and for kReplace when it has
// the read-only attribute (EACCES, "replace the read-only file"). True when
// nothing is there, and on POSIX always: locks there are advisory and a
// file's mode does not guard its name, so those runs keep replacing it.
bool check_changeable(const std::string& path, FileChange change, Status* status);

// Makes to a second name of the file at from (a hard link). Fails when to
// exists or the file system has no hard links. On Windows to is a copy
// instead (synced, with from's time of writing and read-only attribute):
// there a program that opens one name of a file without sharing keeps
// every other name of it from being replaced.
bool link_file(FileEnv& env, const std::string& from, const std::string& to, Status* status);

// Syncs the entries of directory to the disk (after renames). File systems
// that cannot sync a directory count as synced.
bool sync_directory(FileEnv& env, const std::string& directory, Status* status);

// A name "<directory>/<prefix><random>.tmp" that nobody can guess ("\"
// between on Windows).
std::string unpredictable_name(const std::string& directory, const char* prefix);

// What an open file keeps: its descriptor, its path and its first failure.
class FileHandle {
 public:
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  const Status& status() const { return status_; }
  int descriptor() const { return fd_; }
  // The file calls this file makes.
  FileEnv& env() const { return *env_; }

 protected:
  explicit FileHandle(FileEnv& env) : env_(&env) {}
  ~FileHandle();  // closes without syncing; never removes
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  // Closes the descriptor, if any; a failure is recorded.
  void close_handle();
  // Starts over for the file at path: closes what was open and forgets
  // earlier failures.
  void start(const std::string& path);
  // Takes fd (from an open call) as the open file, or records the failure
  // of operation from errno when it is negative.
  bool take(int fd, const char* operation);

  FileEnv* env_;
  int fd_ = -1;
  std::string path_;
  Status status_;
};

// A file read through its descriptor.
class ReadableFile : public FileHandle {
 public:
  explicit ReadableFile(FileEnv& env) : FileHandle(env) {}
  // Opens the regular file at path (never waiting on a pipe or device).
  // False when there is none or it cannot be read; status is set unless
  // there is nothing at path or it is no regular file.
  bool open(const std::string& path);
  // The size when opened.
  uint64_t size() const { return size_; }

  // True when this file may be trusted as far as the file at path is: it
  // belongs to that file's owner or to the user running this process, and
  // nobody can write it who cannot write that file (others have no write
  // permission unless that file gives it to them too; its group has none
  // unless that file gives write permission to the same group). A file that
  // anybody else could have written says nothing about the file at path.
  // False when either cannot be examined. Always true on Windows, where
  // access is by the lists of the directory and files, not by modes.
  bool trusted_as(const std::string& path) const;

  // Reads up to size bytes at offset; returns the count, 0 at the end, -1
  // on failure.
  long read_at(uint64_t offset, void* data, size_t size);
  void close() { close_handle(); }

 private:
  uint64_t size_ = 0;
};

// A file written through its descriptor, without buffering of its own. The
// first failure is kept and every later write does nothing.
class WritableFile : public FileHandle {
 public:
  explicit WritableFile(FileEnv& env) : FileHandle(env) {}
  // Creates a new file at path for reading and writing, never replacing
  // anything there and never through a symbolic link, nor through a
  // directory on the way that the shared-directory rule for links refuses
  // (output_target.h; the status then names the link). False with status
  // (EEXIST when something is there). Closes what was open before.
  bool create_exclusive(const std::string& path);

  // Creates a file without a name in directory (removed by the system when
  // closed, also when the process dies), for spilling data read back with
  // read_at.
  bool create_anonymous(const std::string& directory);

  // Opens an existing regular file for appending, never through a symbolic
  // link (at its name, or one the shared-directory rule refuses on the way)
  // and never waiting on a FIFO or device; false when it does not exist
  // (status left clear) or cannot be opened or is no regular file (status
  // set).
  bool open_append(const std::string& path);

  // Opens the FIFO or character device at path for writing as a stream (a
  // FIFO waits for its reader). False with status.
  bool open_stream(const std::string& path);

  // Writes into the process's standard output (through a descriptor of its
  // own, on Windows a duplicate of the standard output handle, so closing
  // leaves standard output open). False with status.
  bool open_standard_output();

  // Gives this file the mode, owner and group of the regular file at path,
  // which it is about to replace: the owner and group only as far as the
  // process may set them. True when there is no such file; false with
  // status when the mode cannot be set. On Windows only the read-only
  // attribute is taken.
  bool take_attributes_of(const std::string& path);

  // Marks the file hidden from ordinary directory listings: the hidden
  // attribute on Windows. Nothing on POSIX, where a name starting with "."
  // hides a file. False with status.
  bool hide();

  // Writes all size bytes at the current end.
  bool append(const void* data, size_t size);
  // Writes all size bytes at offset.
  bool write_at(uint64_t offset, const void* data, size_t size);
  // Reads up to size bytes at offset; the count, -1 on failure.
  long read_at(uint64_t offset, void* data, size_t size);
  // Appends the first length bytes of source, inside the system when it can.
  bool append_from(ReadableFile& source, uint64_t length);
  // Appends source's bytes from its start, read back block by block with
  // read_at: its first length bytes, or all up to its end with kToEnd. False
  // when a read or a write fails (the failure is in that file's status) or
  // source ends short of length (no status set).
  static constexpr uint64_t kToEnd = UINT64_MAX;
  bool append_contents_of(WritableFile& source, uint64_t length = kToEnd);
  // Asks the system to start writing the range out (a hint: a failure shows
  // at sync).
  void start_writeback(uint64_t offset, uint64_t length);
  // The file's size now; false on failure.
  bool current_size(uint64_t* size);
  // Truncate and sync work also after an earlier failure (to take a part
  // back); truncate tells whether it worked, sync whether no failure
  // happened at any time.
  bool truncate(uint64_t size);
  bool sync();
  // Takes an exclusive lock on the file, waiting for it (wait) or not; held
  // until the file is closed. Without waiting, EWOULDBLOCK means taken. Each
  // opening of a file holds its own lock: a second WritableFile on the same
  // file does not get it. On Windows the lock covers one byte far past the
  // file's data, so that it keeps other writers out without blocking
  // anybody's reads and writes.
  bool lock(bool wait);
  // Takes an exclusive lock on the file as lock does, and with it a write
  // lock of fcntl's kind on the whole file (the file must be open for
  // writing), so that a program that locks the file either way keeps this
  // one waiting; trying again every few milliseconds while another holder
  // has either, for at most limit (at most kMaxLockWait). False with status;
  // EWOULDBLOCK (operation "lock") when one was still taken at the end.
  bool lock_within(std::chrono::milliseconds limit);
  // Closes; true when no failure happened at any time.
  bool close() {
    close_handle();
    return status_.ok();
  }
};

// How long a run waits for a lock that another program holds before it
// gives up: kLockWait, or QUIRE_LOCK_WAIT_MS milliseconds when that is set
// to a whole number (0: no wait), at most kMaxLockWait (a larger number,
// however large, is kMaxLockWait).
constexpr std::chrono::milliseconds kLockWait{10000};
constexpr std::chrono::milliseconds kMaxLockWait{24 * 60 * 60 * 1000};
std::chrono::milliseconds lock_wait_limit();

// "10 s", "0.2 s": a wait as a message gives it.
std::string wait_text(std::chrono::milliseconds wait);

// An exclusive lock on a directory, held until release or destruction and
// dropped by the system when the process dies. A second DirectoryLock on the
// same directory finds it busy, also in the same process. On POSIX it is
// flock on the directory. Windows cannot lock a directory and a lock file
// would stay in it: there the lock is a named event for the directory's
// identity (volume serial number and file index), which exists while its
// holder keeps it open; whoever finds it existing is busy. That event is
// seen by every session of one machine, not from other machines sharing
// the directory.
class DirectoryLock {
 public:
  explicit DirectoryLock(FileEnv& env) : env_(&env) {}
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  enum Result { kLocked, kBusy, kFailed };
  // Takes the lock without waiting: kBusy when another holder has it,
  // kFailed (with status) when the directory cannot be opened.
  Result acquire(const std::string& directory, Status* status);
  void release();

 private:
  FileEnv* env_;
  int fd_ = -1;
};

// Removes the regular files of directory whose names start with prefix and
// that no living writer holds locked (what killed writers left behind).
// Symbolic links and other kinds stay.
// Returns the number removed.
int remove_stale_files(const std::string& directory, const char* prefix);

}  // namespace quire::platform

#endif  // QUIRE_FILES_FILE_SYSTEM_H_
