// The storage-area library's system calls on Windows. Paths are strings of
// the ANSI code page, as the program's arguments and the A functions take
// them; '\\' and '/' both separate their parts.
#include <windows.h>

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host_system.h"

namespace plotbase {

namespace {

// The errno value closest to a system error code.
int errno_of(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

int64_t ticks_of(FILETIME t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

}  // namespace

FileStatus file_status(const std::string& path) {
  FileStatus status;
  // No access asked for: only the file's information is read, whoever has
  // it open. Directories open only with backup semantics.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    status.system_error = static_cast<int>(GetLastError());
    status.error = errno_of(static_cast<DWORD>(status.system_error));
    return status;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    status.system_error = static_cast<int>(GetLastError());
    status.error = errno_of(static_cast<DWORD>(status.system_error));
    CloseHandle(h);
    return status;
  }
  DWORD type = GetFileType(h);
  CloseHandle(h);
  status.regular = type == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
  FileIdentity& id = status.identity;
  id.device = info.dwVolumeSerialNumber;
  id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.mtime_ns = ticks_of(info.ftLastWriteTime) * 100;  // 100 ns ticks
  id.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  return status;
}

std::string system_error_text(int system_error) {
  const DWORD code = static_cast<DWORD>(system_error);
  // The cases a user meets most, said as what to do about them.
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
    return "it is open in another program (sharing violation)";
  if (code == ERROR_ACCESS_DENIED) return "access is denied";
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  if (n == 0) return "system error " + std::to_string(code);
  return std::string(text, n);
}

bool regular_files_in(const std::string& directory, std::vector<std::string>* names, int* error) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path_in(directory, "*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;  // an empty directory (no "." at a drive's root)
    *error = errno_of(code);
    return false;
  }
  do {
    const DWORD skip = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    if (found.dwFileAttributes & skip) continue;
    std::string name = found.cFileName;
    // A link is taken for what it leads to.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !file_status(path_in(directory, name)).regular)
      continue;
    names->push_back(std::move(name));
  } while (FindNextFileA(h, &found));
  DWORD code = GetLastError();
  FindClose(h);
  if (code != ERROR_NO_MORE_FILES) {
    *error = errno_of(code);
    return false;
  }
  return true;
}

std::string path_in(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (path.empty() || !is_path_separator(path.back())) path += '\\';
  path += name;
  return path;
}

bool is_path_separator(char c) { return c == '\\' || c == '/'; }

std::string path_file_name(std::string_view path) {
  size_t start = path.size();
  while (start > 0 && !is_path_separator(path[start - 1])) --start;
  // "C:name" names name in the current directory of drive C.
  if (start == 0 && path.size() >= 2 && path[1] == ':') start = 2;
  return std::string(path.substr(start));
}

std::string path_stem(std::string_view path) {
  std::string name = path_file_name(path);
  if (name == "." || name == "..") return name;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::string sqlite_file_name(const std::string& path) {
  if (path.empty()) return path;
  int n = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return path;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), n);
  int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return path;
  std::string utf8(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
  return utf8;
}

std::string default_store_directory() {
  const char* local = std::getenv("LOCALAPPDATA");
  if (local && *local) return path_in(local, "quire\\store");
  const char* profile = std::getenv("USERPROFILE");
  return path_in(profile && *profile ? profile : ".", "AppData\\Local\\quire\\store");
}

namespace {
std::atomic<bool> g_process_ending{false};
}  // namespace

bool process_is_ending() { return g_process_ending.load(std::memory_order_acquire); }

void note_process_ending() { g_process_ending.store(true, std::memory_order_release); }

std::thread start_background_thread(const char*, std::function<void()> body) {
  // No signals to keep from it; the thread goes unnamed (naming needs
  // Windows 10).
  return std::thread(std::move(body));
}

InputFile::~InputFile() {
  if (own_) _close(fd_);
}

bool InputFile::open(const std::string& path) {
  if (path == "-") {
    fd_ = _fileno(stdin);
    _setmode(fd_, _O_BINARY);
    opened_ = true;
    return true;
  }
  // A directory cannot be opened as a file here: tell it as POSIX does.
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    opened_ = true;
    return error_ = EISDIR, false;
  }
  fd_ = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd_ < 0) return error_ = errno, false;
  own_ = true;
  opened_ = true;
  return true;
}

long InputFile::read(char* buffer, size_t size) {
  unsigned int chunk = size > 0x40000000 ? 0x40000000u : static_cast<unsigned int>(size);
  int n = _read(fd_, buffer, chunk);
  if (n >= 0) return n;
  error_ = errno;
  return -1;
}

}  // namespace plotbase
