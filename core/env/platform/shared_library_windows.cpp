// Shared libraries on Windows: module handles of the system's loader.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/shared_library.h"

namespace quire::platform {
namespace {

// A function of this library whose address identifies the library's module.
void own_address_marker() {}

// The full path of module's file (the program's for null), or empty.
std::string module_file_path(HMODULE module) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD n = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    // A path that filled the buffer may have been cut: try a larger one.
    if (n < buffer.size() - 1) return std::string(buffer.data(), n);
    if (buffer.size() > 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

// The system's text for an error code, without its line end.
std::string error_text(DWORD code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result;
}

}  // namespace

LibraryHandle own_library_handle() {
  static const LibraryHandle handle = [] {
    HMODULE module = nullptr;
    // The module that holds this code; its reference count is left alone,
    // as the library is never released while its code runs.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&own_address_marker), &module))
      return static_cast<LibraryHandle>(nullptr);
    return static_cast<LibraryHandle>(module);
  }();
  return handle;
}

std::string own_library_path() {
  LibraryHandle own = own_library_handle();
  return own ? module_file_path(static_cast<HMODULE>(own)) : std::string();
}

std::string library_path(LibraryHandle library) { return module_file_path(static_cast<HMODULE>(library)); }

std::string library_file_name(const char* base) { return std::string(base) + ".dll"; }

std::string library_directory(const std::string& path) {
  size_t end = path.find_last_of("\\/:");
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

bool library_file_exists(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

LibraryHandle open_shared_library(const std::string& path, LibraryLoadError* error) {
  // A library that cannot be loaded is reported by our caller; the system
  // shows no box of its own for it.
  DWORD old_mode = 0;
  BOOL mode_set = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE module = LoadLibraryA(path.c_str());
  DWORD code = module ? 0 : GetLastError();
  if (mode_set) SetThreadErrorMode(old_mode, nullptr);
  if (!module && error) {
    error->code = static_cast<long>(code);
    error->reason = path + ": " + error_text(code);
  }
  return module;
}

void* find_library_symbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace quire::platform
