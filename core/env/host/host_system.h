// What the storage-area library needs of the operating system: looking at a
// file, listing the store directory, reading an input file, naming a file to
// SQLite, the default store directory and a reader thread. One half per
// system (host_system_posix.cpp, host_system_windows.cpp), chosen by the
// build.
#ifndef PLOTBASE_HOST_SYSTEM_H_
#define PLOTBASE_HOST_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace plotbase {

// What tells one file from another and from an older version of itself at
// the same path: an area file is replaced whole by a new file.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file = 0;  // the inode or file index on the device
  int64_t mtime_ns = 0;
  int64_t size = 0;
  bool operator==(const FileIdentity& o) const {
    return device == o.device && file == o.file && mtime_ns == o.mtime_ns && size == o.size;
  }
};

// What is at a path, links followed.
struct FileStatus {
  int error = 0;         // 0, or an errno value: ENOENT or ENOTDIR when nothing is there
  int system_error = 0;  // the system's own code for error (errno; on Windows the system error code)
  bool regular = false;  // a regular file
  FileIdentity identity;
};

// Looks at the file at path.
FileStatus file_status(const std::string& path);

// Words for the system's own error code (an errno value; on Windows a
// system error code, as FileStatus::system_error and sqlite3_system_errno
// give them): what a user reads after "cannot open the area file PATH: ".
std::string system_error_text(int system_error);

// The names of the regular files (links followed) in directory, in no
// particular order; anything else there is skipped. False with *error (an
// errno value) when the directory cannot be read.
bool regular_files_in(const std::string& directory, std::vector<std::string>* names, int* error);

// The path of the file called name in directory.
std::string path_in(const std::string& directory, std::string_view name);

// True when c separates the parts of a path ('/'; on Windows '\\' too).
bool is_path_separator(char c);

// The file name of path without its last extension ("a/b.dxf" -> "b").
std::string path_stem(std::string_view path);

// The last part of path ("a/b.dxf" -> "b.dxf").
std::string path_file_name(std::string_view path);

// path as SQLite takes file names: UTF-8. The library's paths are the
// system's own bytes (on Windows, the ANSI code page).
std::string sqlite_file_name(const std::string& path);

// The store directory when QUIRE_STORE is not set.
std::string default_store_directory();

// Starts a thread that runs body, named name where the system names
// threads, that takes none of the process's signals (they stay with the
// host's threads). Throws std::system_error when no thread can be started.
std::thread start_background_thread(const char* name, std::function<void()> body);

// True while the process is ending with this library still loaded, after
// the system has stopped the process's other threads: what they held (a
// lock, a half-done read) stays held, so nothing may wait for them. Never
// true where the system runs the library's exit code before stopping the
// other threads.
bool process_is_ending();

#ifdef _WIN32
// Tells process_is_ending that the system is detaching the library at the
// end of the process (the library's entry point calls it).
void note_process_ending();
#endif

// A file read from start to end: a named file, or standard input for "-".
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens path ("-": standard input, read as bytes). False when it cannot
  // be opened (opened() false) or is not readable as a file, such as a
  // directory (opened() true); error() tells why.
  bool open(const std::string& path);

  // Reads up to size bytes into buffer: the count, 0 at the end, or -1 with
  // error() set.
  long read(char* buffer, size_t size);

  bool opened() const { return opened_; }
  // The errno value of the last failure, 0 if none.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  bool own_ = false;  // fd_ is closed at the end
  bool opened_ = false;
  int error_ = 0;
};

}  // namespace plotbase

#endif  // PLOTBASE_HOST_SYSTEM_H_
