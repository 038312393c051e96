// Large files read in place: part of a regular file mapped into memory, so
// that reading it costs no copy into a buffer of our own.
//
// A mapped file that another process shortens would stop the process with a
// bus error at the first read past its new end. A view guards against that:
// while any view is mapped, a handler for that signal turns the rest of the
// faulting view into zeros and marks the view shortened; a bus error
// anywhere else goes on to the handler that was there before.
//
// On Windows a file cannot be shortened while a view of it is mapped, so no
// view is ever found shortened there.
#ifndef QUIRE_FILES_FILE_VIEW_H_
#define QUIRE_FILES_FILE_VIEW_H_

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "quire/files/file_system.h"

namespace quire::platform {

class FileView {
 public:
  FileView() = default;
  ~FileView() { unmap(); }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Views size bytes (size > 0) of the open file from offset, which must
  // lie within the file's size when it was opened. Returns the byte at
  // offset, valid until the next map or unmap; null when the file cannot be
  // mapped (the caller then reads it instead). The view before is released
  // either way.
  const char* map(const ReadableFile& file, uint64_t offset, size_t size);

  // Releases the view, if any.
  void unmap();

  // True when the file was found shorter than viewed, by this view or one
  // before it since the view was made: what was read past the new end read
  // as zeros.
  bool shortened();

  // The granularity of views: offsets are rounded down to a multiple of it
  // (the page size; on Windows the allocation granularity, 64 KiB).
  static size_t page_size();

 private:
  FileEnv* env_ = nullptr;  // the mapped file's, for unmapping
  void* address_ = nullptr;
  size_t length_ = 0;
  int slot_ = -1;  // the view's entry in the table the signal handler reads (POSIX)
  bool shortened_ = false;
};

// Keeps in status the first read failure of file, read directly or viewed
// through view: the file's own failure, else a view that found the file
// shortened (what was read past its new end were zeros, not the file), as
// EIO on "read". Leaves status as it is when neither failed.
inline void note_read_failure(const ReadableFile& file, FileView& view, Status* status) {
  if (!file.status().ok()) {
    status->update(file.status());
  } else if (view.shortened()) {
    status->fail(EIO, "read", file.path());
  }
}

}  // namespace quire::platform

#endif  // QUIRE_FILES_FILE_VIEW_H_
