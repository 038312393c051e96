// The Windows half of file_system.h: paths examined by their attributes
// (never following a link), randomness from the system's generator, the
// read-only attribute in place of a mode, and the removal of stale files by
// a directory search.
#include <windows.h>
#include <bcrypt.h>

#include <cerrno>
#include <cstring>

#include "file_system_internal.h"
#include "quire/files/file_system.h"
#include "windows_files.h"

namespace quire::platform {

using internal::retry;
using internal::wide_path;

namespace internal {

std::string path_in(const std::string& directory, const std::string& name) {
  // "C:" is the current directory of drive C, not its root.
  if (directory.empty() || directory.back() == '\\' || directory.back() == '/' || directory.back() == ':')
    return directory + name;
  return directory + "\\" + name;
}

const char* error_text(int error) {
  // The C library has no texts for the error numbers past its own.
  switch (error) {
    case ELOOP:
      return "Too many levels of symbolic links";
    case EWOULDBLOCK:
      return "Resource temporarily unavailable";
    case ENOTSUP:
    case EOPNOTSUPP:
      return "Operation not supported";
    case ETIMEDOUT:
      return "Connection timed out";
    case ETXTBSY:  // a sharing or lock violation: another program has the file open
      return "it is open in another program; close it and run again";
    default:
      return std::strerror(error);
  }
}

bool fill_random(unsigned char* bytes, size_t size) {
  return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

unsigned long long process_and_clock() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(GetCurrentProcessId()) * 0x9E3779B97F4A7C15ull ^
         static_cast<uint64_t>(now.QuadPart) << 20 ^ GetTickCount64();
}

}  // namespace internal

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The length of the root that begins path: "C:" (2), "C:\" (3), "\" (1),
// "\\server\share\" (all of it), the same after a "\\?\" or "\\.\" prefix
// ("\\?\UNC\server\share\" for a share); 0 for a relative path.
size_t root_length(const std::string& path) {
  size_t start = 0;
  bool share = false;
  if (path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) && (path[2] == '?' || path[2] == '.') &&
      is_separator(path[3])) {
    start = 4;  // \\?\ or \\.\ and what follows it
    if (path.size() >= 8 && _strnicmp(path.c_str() + 4, "UNC", 3) == 0 && is_separator(path[7])) {
      start = 8;
      share = true;
    } else if (!(path.size() >= 6 && path[5] == ':')) {
      // A device (\\.\pipe\NAME, \\.\COM1): its first component is its root.
      size_t end = path.find_first_of("\\/", start);
      return end == std::string::npos ? path.size() : end + 1;
    }
  } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    start = 2;
    share = true;
  }
  if (share) {
    // server\share\ .
    size_t server_end = path.find_first_of("\\/", start);
    if (server_end == std::string::npos) return path.size();
    size_t share_end = path.find_first_of("\\/", server_end + 1);
    return share_end == std::string::npos ? path.size() : share_end + 1;
  }
  if (path.size() >= start + 2 && path[start + 1] == ':')
    return start + 2 + (path.size() > start + 2 && is_separator(path[start + 2]) ? 1 : 0);
  if (start == 0 && !path.empty() && is_separator(path[0])) return 1;
  return start;
}

// The attributes of whatever is at path, never following a link; false when
// there is nothing (or it cannot be examined).
bool attributes_of(const std::string& path, DWORD* attributes) {
  const std::wstring name = wide_path(path.c_str());
  if (name.empty()) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return false;
  *attributes = data.dwFileAttributes;
  return true;
}

// The identity of the file at path itself (volume and file index).
bool identity_of(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  const std::wstring name = wide_path(path.c_str());
  if (name.empty()) return false;
  HANDLE handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return ok;
}

}  // namespace

namespace {

// Another name, in the same directory, of the file at path when it has more
// than one (hard links); empty when it has none or they cannot be told.
// Found by the identity of each file of the directory: a search done once,
// only when a file is held open.
std::string other_name_of(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION own;
  if (!identity_of(path, &own) || own.nNumberOfLinks < 2) return std::string();
  const std::wstring pattern = wide_path(internal::path_in(directory_of(path), "*").c_str());
  if (pattern.empty()) return std::string();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return std::string();
  const size_t own_name = path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/") + 1;
  std::string other;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
      continue;
    std::string name;
    if (!internal::narrow_path(found.cFileName, &name) || _stricmp(name.c_str(), path.c_str() + own_name) == 0)
      continue;
    const std::string candidate = path.substr(0, own_name) + name;
    BY_HANDLE_FILE_INFORMATION info;
    if (identity_of(candidate, &info) && info.dwVolumeSerialNumber == own.dwVolumeSerialNumber &&
        info.nFileIndexHigh == own.nFileIndexHigh && info.nFileIndexLow == own.nFileIndexLow) {
      other = candidate;
      break;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return other;
}

}  // namespace

std::string directory_of(const std::string& path) {
  const size_t root = root_length(path);
  const size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos || separator < root) return root == 0 ? "." : path.substr(0, root);
  if (separator + 1 == root) return path.substr(0, root);
  return path.substr(0, separator);
}

std::filesystem::path filesystem_path(const std::string& path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) return std::filesystem::path();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  return std::filesystem::path(wide);
}

bool path_exists(const std::string& path) {
  DWORD attributes;
  return attributes_of(path, &attributes);
}

bool is_plain_file(const std::string& path) {
  DWORD attributes;
  return attributes_of(path, &attributes) &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

bool same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return identity_of(a, &ia) && identity_of(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool check_changeable(const std::string& path, FileChange change, Status* status) {
  const std::wstring name = wide_path(path.c_str());
  if (name.empty()) return true;  // the step itself says what is wrong
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)))
    return true;
  if (change == FileChange::kReplace && (attributes & FILE_ATTRIBUTE_READONLY)) {
    status->fail(EACCES, "replace the read-only file", path);
    return false;
  }
  // Opened as the step will open it, sharing everything: refused only when
  // a holder shares less than that step needs. Replacing a file takes its
  // deletion (a read-only file's too; its attribute is no obstacle here).
  const DWORD access = change == FileChange::kAppend ? FILE_APPEND_DATA : DELETE;
  HANDLE handle = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  const int error = internal::errno_from_windows(GetLastError());
  if (error != ETXTBSY) return true;  // anything else: the step itself says it
  const char* operation = change == FileChange::kAppend ? "write to" : "replace";
  // OLD.DAT as a second name of a table open under its own name (as runs
  // before copies left it): the message names the table the user has open.
  const std::string other = change == FileChange::kReplaceAnyway ? other_name_of(path) : std::string();
  if (!other.empty()) {
    *status = Status::failure(StatusCode::kInvalid,
                              std::string("cannot ") + operation + " " + path + ": it is a second name of " + other +
                                  ", which is open in another program; close it and run again",
                              path, ETXTBSY);
    return false;
  }
  status->fail(error, operation, path);
  return false;
}

bool ReadableFile::trusted_as(const std::string&) const { return fd_ >= 0; }

bool WritableFile::hide() {
  if (fd_ < 0 || !status_.ok()) return false;
  const std::wstring name = wide_path(path_.c_str());
  DWORD attributes;
  if (!name.empty() && attributes_of(path_, &attributes) &&
      SetFileAttributesW(name.c_str(), (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_HIDDEN))
    return true;
  status_.fail(internal::errno_from_windows(GetLastError()), "set the attributes of", path_);
  return false;
}

bool WritableFile::open_standard_output() {
  start("standard output");
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE own = nullptr;
  if (output == nullptr || output == INVALID_HANDLE_VALUE) {
    status_.fail(EBADF, "write", path_);
    return false;
  }
  if (!DuplicateHandle(GetCurrentProcess(), output, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    status_.fail(internal::errno_from_windows(GetLastError()), "write", path_);
    return false;
  }
  int fd = internal::adopt_handle(own);
  if (fd < 0) CloseHandle(own);
  return take(fd, "write");
}

bool WritableFile::take_attributes_of(const std::string& path) {
  if (fd_ < 0 || !status_.ok()) return false;
  // Owners and modes do not apply: the new file keeps the old one's
  // read-only attribute, and nothing else.
  DWORD attributes;
  if (!attributes_of(path, &attributes) || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
    return true;
  const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  if (retry([&] { return env_->fchmod(fd_, mode); }) != 0) {
    status_.fail(errno, "set the attributes of", path_);
    return false;
  }
  return true;
}

void WritableFile::start_writeback(uint64_t, uint64_t) {}  // the system writes back on its own

int remove_stale_files(const std::string& directory, const char* prefix) {
  const std::wstring pattern = wide_path(internal::path_in(directory, std::string(prefix) + "*").c_str());
  if (pattern.empty()) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FileEnv& env = system_file_env();
  int removed = 0;
  do {
    // Links, directories and devices stay.
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
      continue;
    std::string name;
    if (!internal::narrow_path(found.cFileName, &name)) continue;
    const std::string path = internal::path_in(directory, name);
    // A writer holds its file locked until the file is in place; a file
    // nobody holds is a dead writer's.
    int fd = env.open(path.c_str(), O_RDONLY | O_NOFOLLOW, 0);
    if (fd < 0) continue;
    FileFacts facts;
    if (env.fstat(fd, &facts) == 0 && facts.regular && env.flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        env.unlink(path.c_str()) == 0)
      ++removed;
    env.close(fd);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

}  // namespace quire::platform
