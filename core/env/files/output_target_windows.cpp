// The Windows half of output_target.h: what lies at a path, told by its
// name (devices, pipes, standard output) and by its attributes, never
// following a link but to a regular file.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

#include "file_system_internal.h"
#include "quire/files/output_target.h"
#include "windows_files.h"

namespace quire::platform {

namespace {

using internal::wide_path;

bool names_standard_output(const std::string& path) {
  return path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

bool equal_ignoring_case(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

// The reserved device name (NUL, CON, PRN, AUX, COM1-9, LPT1-9, CONIN$,
// CONOUT$) that the last component of path is, in any case, with or without
// an extension or a colon, in upper case; empty when it is none. A path with
// the \\?\ prefix names files only.
std::string reserved_device_name(const std::string& path) {
  if (path.rfind("\\\\?\\", 0) == 0) return std::string();
  const size_t separator = path.find_last_of("\\/:");
  std::string last = separator == std::string::npos ? path : path.substr(separator + 1);
  if (separator != std::string::npos && path[separator] == ':' && last.empty()) {
    // "NUL:": the colon ends the name.
    const size_t before = path.find_last_of("\\/", separator);
    last = path.substr(before == std::string::npos ? 0 : before + 1, separator - (before == std::string::npos ? 0 : before + 1));
  }
  last = last.substr(0, last.find('.'));
  while (!last.empty() && last.back() == ' ') last.pop_back();
  for (const char* name : {"NUL", "CON", "PRN", "AUX", "CONIN$", "CONOUT$"})
    if (equal_ignoring_case(last, name)) return name;
  if (last.size() == 4 && last[3] >= '1' && last[3] <= '9') {
    const std::string stem = last.substr(0, 3);
    if (equal_ignoring_case(stem, "COM") || equal_ignoring_case(stem, "LPT"))
      return (stem[0] == 'C' || stem[0] == 'c' ? "COM" : "LPT") + last.substr(3);
  }
  return std::string();
}

// A name in the device namespace: \\.\pipe\NAME, \\.\COM1, ...
bool names_device(const std::string& path) {
  return path.size() > 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
         path[2] == '.' && (path[3] == '\\' || path[3] == '/');
}

const char* kind_text(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a symbolic link";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a directory";
  if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device";
  return "a regular file";
}

// Follows the link at path to the end of its chain; kFile with the final
// path when that is a regular file, kRefused otherwise.
void follow_link(const std::wstring& name, OutputTarget* target) {
  HANDLE handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    target->kind = OutputTarget::kRefused;
    target->what = "a symbolic link to nothing that can be written";
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  std::wstring final_path(MAX_PATH, L'\0');
  DWORD got = 0;
  bool regular = GetFileInformationByHandle(handle, &info) &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  if (regular) {
    got = GetFinalPathNameByHandleW(handle, final_path.data(), static_cast<DWORD>(final_path.size()), 0);
    if (got >= final_path.size()) {
      final_path.resize(got + 1);
      got = GetFinalPathNameByHandleW(handle, final_path.data(), static_cast<DWORD>(final_path.size()), 0);
    }
  }
  CloseHandle(handle);
  std::string path;
  if (!regular || got == 0 || got >= final_path.size()) {
    target->kind = OutputTarget::kRefused;
    target->what = "a symbolic link to no regular file";
    return;
  }
  final_path.resize(got);
  if (!internal::narrow_path(final_path, &path)) {
    target->kind = OutputTarget::kRefused;
    target->what = "a symbolic link to a file whose name this system cannot write";
    return;
  }
  target->kind = OutputTarget::kFile;
  target->path = path;
}

}  // namespace

namespace internal {

// No directory on Windows is shared the way a sticky one is.
bool unsafe_link_on_the_way(const std::string&, std::string*) { return false; }

}  // namespace internal

OutputTarget examine_output(const std::string& path) {
  OutputTarget target;
  if (names_standard_output(path)) {
    target.kind = OutputTarget::kStream;
    target.standard_output = true;
    return target;
  }
  if (names_device(path)) {
    target.kind = OutputTarget::kStream;
    target.path = path;
    return target;
  }
  // NUL.csv is the device NUL on every version of Windows, as it has long
  // been (newer ones would take it for a file in the current directory).
  const std::string device = reserved_device_name(path);
  if (!device.empty()) {
    target.kind = OutputTarget::kStream;
    target.path = "\\\\.\\" + device;
    return target;
  }
  const std::wstring name = wide_path(path.c_str());
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (name.empty() || !GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = name.empty() ? ERROR_INVALID_NAME : GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      target.kind = OutputTarget::kFile;
      target.path = path;
    } else {
      target.status.fail(internal::errno_from_windows(error), "examine", path);
    }
    return target;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    follow_link(name, &target);
    if (target.kind == OutputTarget::kRefused) target.refused_path = path;
    return target;
  }
  target.path = path;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    target.kind = OutputTarget::kRefused;
    target.what = kind_text(data.dwFileAttributes);
    target.refused_path = path;
  } else {
    target.kind = OutputTarget::kFile;
  }
  return target;
}

std::string scratch_directory() {
  char directory[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof directory, directory);
  if (length == 0 || length > MAX_PATH) return ".";
  std::string result(directory, length);
  // "C:\Users\x\AppData\Local\Temp\" without its last separator, but "C:\"
  // whole.
  if (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
  return result;
}

bool is_regular_file_itself(const std::string& path, const char** what) {
  const std::wstring name = wide_path(path.c_str());
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (name.empty() || !GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
    *what = "nothing";
    return false;
  }
  *what = kind_text(data.dwFileAttributes);
  return !(data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace quire::platform
