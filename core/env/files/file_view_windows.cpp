// The Windows half of file_view.h. Windows refuses to shorten a file while
// any view of it is mapped (ERROR_USER_MAPPED_FILE), so a view never finds
// its file shortened and needs no guard.
#include <windows.h>

#include "quire/files/file_env.h"
#include "quire/files/file_view.h"

namespace quire::platform {

size_t FileView::page_size() {
  // Views begin at multiples of the allocation granularity (64 KiB), not
  // of the page size.
  static const size_t size = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<size_t>(info.dwAllocationGranularity);
  }();
  return size;
}

const char* FileView::map(const ReadableFile& file, uint64_t offset, size_t size) {
  unmap();
  if (!file.is_open() || size == 0 || offset > file.size() || file.size() - offset < size) return nullptr;
  const uint64_t start = offset & ~(uint64_t{page_size()} - 1);
  const size_t length = static_cast<size_t>(offset - start) + size;
  void* address = file.env().map(file.descriptor(), length, static_cast<off_t>(start));
  if (address == MAP_FAILED) return nullptr;
  env_ = &file.env();
  address_ = address;
  length_ = length;
  return static_cast<const char*>(address) + (offset - start);
}

void FileView::unmap() {
  if (address_ == nullptr) return;
  env_->unmap(address_, length_);
  address_ = nullptr;
  length_ = 0;
}

bool FileView::shortened() { return shortened_; }

}  // namespace quire::platform
