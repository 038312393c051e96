// Files for the table module: the new table written to a temporary file in
// the output's directory, the previous table read in large blocks, the
// change log appended in one go, and the lock that keeps two runs out of one
// output directory.
//
// Every call that can fail returns false (or -1) and leaves the reason in an
// IoStatus: the operation, the path and the system's error number, ready to
// be turned into a message a user can act on.
#ifndef QUIRE_PLATFORM_FILE_SYSTEM_H_
#define QUIRE_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quire::platform {

// The first failure of a file operation.
struct IoStatus {
  int error = 0;          // the system's error number; 0 = no failure
  std::string operation;  // "create", "write", "sync", "rename", ...
  std::string path;       // the file the operation concerned

  bool ok() const { return error == 0; }
  // Records a failure unless one is already recorded.
  void fail(int error_number, const char* op, const std::string& file);
  // "cannot write /dir/file: No space left on device"
  std::string message() const;
};

// The directory part of a path as this system sees it: everything before the
// last "/", "." when there is none, "/" for a file in the root.
std::string directory_of(const std::string& path);

// True when something (a file, a directory, ...) exists at path.
bool path_exists(const std::string& path);

// True when path names a directory (following symbolic links).
bool is_directory(const std::string& path);

// True when path names a regular file itself (not a symbolic link).
bool is_plain_file(const std::string& path);

// Removes a file; a missing file is no failure.
bool remove_file(const std::string& path, IoStatus* status);

// Renames from to to, replacing to when it exists (same file system only).
bool rename_file(const std::string& from, const std::string& to, IoStatus* status);

// Makes to a second name of the file at from (a hard link). Fails when to
// exists or the file system has no hard links.
bool link_file(const std::string& from, const std::string& to, IoStatus* status);

// A new file written through a large buffer. Writes reach the system only
// when the buffer is full or on flush; the first failure is kept and every
// later call does nothing until the file is closed.
class OutputFile {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;

  OutputFile();
  ~OutputFile();  // closes the file without syncing; does not remove it
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates a new file with a name of our own in directory:
  // "<directory>/<prefix><random>.tmp", never replacing an existing file.
  // Returns false (with status) when no file can be created there.
  bool create_temporary(const std::string& directory, const char* prefix);

  // Creates a file without a name in directory (removed by the system when
  // closed, also when the process dies), for spilling data read back with
  // read_at.
  bool create_anonymous(const std::string& directory);

  // Opens an existing file for appending; false when it does not exist or
  // cannot be opened (status set unless it does not exist).
  bool open_append(const std::string& path);

  const std::string& path() const { return path_; }
  bool is_open() const { return fd_ >= 0; }
  const IoStatus& status() const { return status_; }

  // Room for at least n bytes (n <= kBufferSize) at the end of the buffer;
  // flushes first when needed. Fill it, then commit what was used.
  char* reserve(size_t n) {
    if (kBufferSize - used_ < n) flush_buffer();
    return buffer_ + used_;
  }
  void commit(size_t n) { used_ += n; }

  void write(const void* data, size_t size);
  void put(char c) { *reserve(1) = c; commit(1); }

  // Bytes written so far (the file's size once flushed).
  uint64_t size() const { return written_ + used_; }

  // Matching: rather than writing, compares what is written with the file
  // at source_path, for as long as the two agree from their first byte, so
  // that a table equal to the one it replaces costs no write. The bytes
  // before rewritten_prefix are not compared: the caller replaces them with
  // write_at before closing. At the first difference the agreeing part is
  // copied from the source inside the system and writing goes on as usual.
  // False (and no matching) when the source is no readable regular file.
  bool match_source(const std::string& source_path, uint64_t rewritten_prefix);

  // Writes size bytes the caller read from the source at source_offset.
  // While matching at that very offset they are taken as agreeing without
  // being compared or copied.
  void write_from_source(const void* data, size_t size, uint64_t source_offset);

  // Flushes; true when matching and all of the source was matched: the
  // file is still empty and what was written equals the source.
  bool equals_source();

  // Ends matching: the agreeing part is copied into the file. Called by
  // read_at, sync and close, and by write_at unless its bytes agree.
  void stop_matching();

  // Writes size bytes at offset directly (after flushing the buffer).
  void write_at(uint64_t offset, const void* data, size_t size);

  // Reads up to size bytes at offset (after flushing the buffer); returns
  // the count, -1 on failure.
  long read_at(uint64_t offset, void* data, size_t size);

  // Hands the buffer to the system.
  void flush();
  // Flushes, then syncs the data to the disk.
  void sync();
  // Flushes and closes; true when no failure happened at any time.
  bool close();

 private:
  void flush_buffer();
  // Matching: true when buffer_[0, used_) agrees with the source at written_.
  bool buffer_agrees();
  // Matching: true when size bytes at offset agree with the source there;
  // unless final, bytes before rewritten_prefix_ agree whatever they hold.
  bool source_agrees(uint64_t offset, const char* data, size_t size, bool final);
  // Copies the source's first length bytes to the file's current end.
  void copy_from_source(uint64_t length);

  static constexpr uint64_t kWritebackChunk = 8 * 1024 * 1024;

  int fd_ = -1;
  std::string path_;
  IoStatus status_;
  char* buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  uint64_t writeback_start_ = 0;

  // While matching written_ counts the agreeing bytes, none of them written.
  bool matching_ = false;
  int source_fd_ = -1;
  std::string source_path_;
  uint64_t source_size_ = 0;
  uint64_t rewritten_prefix_ = 0;
  char* compare_buffer_ = nullptr;  // kBufferSize bytes once matching
};

// A file read in large blocks.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False when the file does not exist or cannot be read.
  bool open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }
  // Reads up to size bytes; returns the count, 0 at the end, -1 on failure.
  long read(void* data, size_t size);
  void close();

 private:
  int fd_ = -1;
};

// An exclusive lock on a directory, held until release or destruction and
// dropped by the system when the process dies.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  enum Result { kLocked, kBusy, kFailed };
  // Takes the lock without waiting: kBusy when another holder has it,
  // kFailed (with status) when the directory cannot be opened.
  Result acquire(const std::string& directory, IoStatus* status);
  // Syncs the directory's entries to the disk (after renames).
  bool sync(IoStatus* status);
  void release();

 private:
  int fd_ = -1;
  std::string directory_;
};

// Removes the files of directory whose names start with prefix (what killed
// runs left behind). Returns the number removed.
int remove_files_with_prefix(const std::string& directory, const char* prefix);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_FILE_SYSTEM_H_
