// The Windows half of the interrupt cleanup: a console control handler that
// removes the temporary files under way and passes the event on.
#include <windows.h>

#include "file_replacement_internal.h"
#include "quire/files/file_replacement.h"
#include "windows_files.h"

namespace quire::platform {

namespace internal {

void remove_path_now(const char* path) {
  // The handler runs in a thread of its own, where allocating is safe. The
  // file goes when the writer's handle closes, which ending the process does.
  const std::wstring name = wide_path(path);
  if (name.empty() || DeleteFileW(name.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    DeleteFileW(name.c_str());
}

}  // namespace internal

namespace {

BOOL WINAPI on_console_event(DWORD) {
  remove_replacements_under_way();
  return FALSE;  // the handlers before this one, and the default, go on
}

}  // namespace

void FileReplacement::remove_on_interrupt() {
  static const bool installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
  (void)installed;
}

}  // namespace quire::platform
