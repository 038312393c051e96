// Shared libraries through the dynamic loader (dlopen and its kin).
#include "platform/shared_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace quire::platform {
namespace {

// A function of this library whose address identifies the library's file.
// Internal linkage, so the address is always this copy's own.
void own_address_marker() {}

std::string host_program_path() {
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string current_directory() {
  std::vector<char> buffer(PATH_MAX + 1);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// The loader names a library by the path it was loaded with, which is
// relative when the host loaded it so. Made absolute against the current
// directory of that moment (symbolic links are kept: the library's directory
// is the one it was loaded from).
std::string find_own_library_path() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&own_address_marker), &info) == 0 || !info.dli_fname ||
      !info.dli_fname[0])
    return std::string();
  std::string path = info.dli_fname;
  if (path[0] != '/') {
    std::string cwd = current_directory();
    if (cwd.empty()) return std::string();
    if (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    path = cwd + (cwd.back() == '/' ? "" : "/") + path;
  }
  return path;
}

const std::string& own_path() {
  static const std::string path = find_own_library_path();
  return path;
}

// Settled while the library is being loaded, before the host can change the
// current directory.
[[maybe_unused]] const bool g_own_path_settled = !own_path().empty();

}  // namespace

std::string own_library_path() { return own_path(); }

std::string library_file_name(const char* base) { return std::string("lib") + base + ".so"; }

std::string library_directory(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

LibraryHandle own_library_handle() {
  static LibraryHandle handle = [] {
    std::string path = own_library_path();
    // Already loaded (this code runs from it): RTLD_NOLOAD only yields its
    // handle. The reference it adds is never dropped, like every library here.
    return path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  }();
  return handle;
}

std::string library_path(LibraryHandle library) {
  if (!library) return host_program_path();
  if (library == own_library_handle()) return own_library_path();
  struct link_map* map = nullptr;
  if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return std::string();
  // The main program's entry has an empty name.
  if (map->l_name[0] == 0) return host_program_path();
  return map->l_name;
}

bool library_file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

LibraryHandle open_shared_library(const std::string& path, LibraryLoadError* error) {
  ::dlerror();  // forget an older failure
  errno = 0;
  LibraryHandle handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && error) {
    int code = errno;
    const char* reason = ::dlerror();
    error->reason = reason ? reason : "the loader gave no reason";
    if (code == 0) {
      // The loader keeps its reasons to its text. Tell a file that cannot be
      // opened (its own error number) from one whose content the loader
      // refused (not an executable object here, or a symbol missing).
      int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) code = errno;
      else ::close(fd);
      if (code == 0) code = ENOEXEC;
    }
    error->code = code;
  }
  return handle;
}

void* find_library_symbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  return ::dlsym(library, name);
}

}  // namespace quire::platform
