// What the Windows halves of the file layer share: paths in the system's
// wide form, errno from the system's errors, and descriptors for handles the
// file calls did not open themselves.
#ifndef QUIRE_FILES_WINDOWS_FILES_H_
#define QUIRE_FILES_WINDOWS_FILES_H_

#include <windows.h>

#include <string>

namespace quire::platform::internal {

// The errno nearest to a Windows error: ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND are ENOENT, ERROR_FILE_EXISTS and ERROR_ALREADY_EXISTS
// EEXIST, ERROR_ACCESS_DENIED EACCES, ERROR_SHARING_VIOLATION and
// ERROR_LOCK_VIOLATION ETXTBSY (POSIX's "file in use": another program holds
// the file open, which the file layer's messages say in those words),
// ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL ENOSPC, ERROR_INVALID_NAME
// EINVAL, and what has no nearer one EIO.
int errno_from_windows(DWORD error);

// The path (in the ANSI code page, as the program's arguments and the
// library's texts are) as the system's wide calls take it: made absolute,
// and with the \\?\ (or \\?\UNC\) prefix that lifts the limit of 260
// characters. Device names (NUL, COM1, ...) come back as \\.\NAME. Empty when
// the path cannot be converted.
std::wstring wide_path(const char* path);

// The wide path in the ANSI code page, without a \\?\ or \\?\UNC\ prefix;
// false when it has characters that code page lacks.
bool narrow_path(const std::wstring& wide, std::string* path);

// Makes handle (now owned by the file calls) a descriptor of the system's
// file calls, written as a stream at the handle's own position; -1 with
// errno when the table of descriptors is full.
int adopt_handle(HANDLE handle);

}  // namespace quire::platform::internal

#endif  // QUIRE_FILES_WINDOWS_FILES_H_
