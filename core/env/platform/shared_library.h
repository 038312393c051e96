// Shared libraries: the report library's own file and handle, the path of a
// loaded library, loading a library file and finding a symbol in it.
//
// Handles are those of the system's loader (dlopen's on POSIX systems,
// module handles on Windows); a library loaded here is never released.
#ifndef QUIRE_PLATFORM_SHARED_LIBRARY_H_
#define QUIRE_PLATFORM_SHARED_LIBRARY_H_

#include <string>

namespace quire::platform {

// A loaded shared library; null is no library.
using LibraryHandle = void*;

// Why a library could not be loaded.
struct LibraryLoadError {
  long code = 0;       // POSIX: the system's error number, ENOEXEC when the
                       // file opens but the loader refused its content;
                       // Windows: the loader's error code (GetLastError)
  std::string reason;  // the loader's own explanation ("...: undefined symbol: f")
};

// The full path of the shared library that holds this code, found from the
// address of one of its own functions (never from the current directory).
// Empty when the loader cannot tell.
std::string own_library_path();

// The loader's handle of the library that holds this code, or null when it
// cannot be found. Repeated calls return the same handle.
LibraryHandle own_library_handle();

// The full path of the file of a loaded library. A null handle stands for the
// host program: its executable's path. Empty when unknown.
std::string library_path(LibraryHandle library);

// The file name of the shared library called base on this system:
// "libBASE.so" on POSIX systems, "BASE.dll" on Windows.
std::string library_file_name(const char* base);

// The directory part of path up to and with its last separator ("/" on
// POSIX systems; "\\", "/" or a drive's ":" on Windows); empty when path
// names no directory.
std::string library_directory(const std::string& path);

// True when an entry (a file, a directory, ...) exists at path.
bool library_file_exists(const std::string& path);

// Loads the library at path with all its symbols resolved now, keeping its
// symbols to itself. Returns its handle, or null with *error filled (error
// may be null).
LibraryHandle open_shared_library(const std::string& path, LibraryLoadError* error);

// The address of the symbol name defined in library (or in the libraries it
// depends on), or null when there is none.
void* find_library_symbol(LibraryHandle library, const char* name);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_SHARED_LIBRARY_H_
