// Reading the version record of a file on Windows: the fixed part of its
// VERSIONINFO resource, read by the system's version services without
// loading the file as a library.
#include <windows.h>

#include "platform/version_record.h"

namespace quire::platform {

int read_file_version(const char* path, uint32_t* least, uint32_t* most) {
  if (!path) return 0;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return 0;  // no file, not a module, or no record
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return 0;
  int found = 0;
  void* data = GlobalLock(memory);
  if (data && GetFileVersionInfoA(path, 0, size, data)) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data, "\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof(VS_FIXEDFILEINFO) && fixed->dwSignature == 0xFEEF04BD) {
      if (least) *least = fixed->dwProductVersionLS;
      if (most) *most = fixed->dwProductVersionMS;
      found = 1;
    }
  }
  if (data) GlobalUnlock(memory);
  GlobalFree(memory);
  return found;
}

}  // namespace quire::platform
