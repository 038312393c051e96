// The Windows file calls behind FileEnv's POSIX-shaped interface. Each open
// file is a HANDLE in a table; its descriptor is its place in the table. A
// failure sets errno from the system's error through errno_from_windows.
//
// How the calls differ from their POSIX namesakes:
// - Every file is opened sharing reading, writing and deletion, so that an
//   open file (a temporary file while it is written, a previous table while
//   it is read) can be renamed over or removed, as on POSIX.
// - O_NOFOLLOW refuses a symbolic link or junction (ELOOP); other reparse
//   points (files kept by a cloud or deduplication service) are the files.
// - write() writes at a position the table keeps (pwrite and pread leave it
//   alone), at the end for O_APPEND; a pipe, console or device handle is
//   written as a stream.
// - flock() locks one byte far past any data with LockFileEx: Windows locks
//   are mandatory, and no read or write of the file ever meets that byte.
//   On a directory, which LockFileEx cannot lock, it creates a named event
//   for the directory's identity (volume and file index); while any handle
//   to that event is open, others find it there and are refused
//   (EWOULDBLOCK), also when the event is another user's and cannot be
//   opened. Closing the descriptor, or the process ending, drops either
//   kind.
// - lock_records() does nothing: flock's lock is the system's own already.
// - fsync_directory() cannot sync a directory on Windows: EINVAL, which the
//   callers count as synced (a rename is written through at once anyway).
// - link() makes a copy, not a second name (a hard link): two names of one
//   file would let a program that opens one of them without sharing (a
//   spreadsheet showing a table) keep every run in the directory from
//   replacing the other, OLD.DAT. The copy is created exclusively, keeps
//   the file's time of writing and read-only attribute, and is flushed to
//   the disk before link() returns.
// - rename() and unlink() take a read-only file as POSIX does: the read-only
//   attribute guards the file's content, not its name. A file that another
//   program holds open without sharing its deletion refuses both: ETXTBSY.
// - fchmod() keeps only the read-only attribute: set when no write bit is.
// - map() takes offsets that are multiples of the allocation granularity
//   (64 KiB); copy_range() is ENOSYS (the callers copy through memory).
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "quire/files/file_env.h"
#include "windows_files.h"

namespace quire::platform {

namespace internal {

int errno_from_windows(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_UNIT:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return ETXTBSY;
    case ERROR_ACCESS_DENIED:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
    case ERROR_INVALID_FUNCTION:
      return EINVAL;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
      return ENOMEM;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return ENOSYS;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_OPERATION_ABORTED:
      return EINTR;
    default:
      return EIO;
  }
}

std::wstring wide_path(const char* path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring given(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, given.data(), length);
  given.resize(static_cast<size_t>(length - 1));
  if (given.rfind(L"\\\\?\\", 0) == 0) return given;  // taken as it is
  // Absolute, with "." and ".." resolved and "/" made "\": the \\?\ form is
  // passed to the file system untouched.
  DWORD need = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (need == 0) return given;
  std::wstring full(need, L'\0');
  DWORD got = GetFullPathNameW(given.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) return given;
  full.resize(got);
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
  return full;
}

bool narrow_path(const std::wstring& wide, std::string* path) {
  std::wstring plain = wide;
  if (plain.rfind(L"\\\\?\\UNC\\", 0) == 0) plain = L"\\\\" + plain.substr(8);
  else if (plain.rfind(L"\\\\?\\", 0) == 0) plain = plain.substr(4);
  if (plain.empty()) {
    path->clear();
    return true;
  }
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, plain.c_str(), -1, nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return false;
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, plain.c_str(), -1, narrow.data(), length, nullptr, &lossy);
  if (lossy) return false;
  narrow.resize(static_cast<size_t>(length - 1));
  *path = narrow;
  return true;
}

}  // namespace internal

namespace {

using internal::errno_from_windows;
using internal::wide_path;

// The byte flock locks: far past the end of any file this system writes.
constexpr uint64_t kLockOffset = uint64_t{1} << 62;

// The block a copy (link()) moves at a time.
constexpr size_t kCopyBlock = 256 * 1024;

// Descriptors start here, clear of the C library's standard ones.
constexpr int kFirstDescriptor = 3;
constexpr size_t kMaxDescriptors = 4096;

struct Descriptor {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool append = false;     // every write at the end
  bool stream = false;     // a pipe, console, device or adopted handle
  bool directory = false;
  uint64_t position = 0;   // where the next write goes (not append, not stream)
  HANDLE directory_lock = nullptr;  // the event a directory's lock holds
};

int fail(DWORD error) {
  errno = errno_from_windows(error);
  return -1;
}

int fail_errno(int error) {
  errno = error;
  return -1;
}

// The open files. Calls on different descriptors may come from different
// threads (a table written in the background): the table is locked only to
// look a descriptor up or change its entry, never during the call itself.
class DescriptorTable {
 public:
  int add(const Descriptor& entry) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].handle == INVALID_HANDLE_VALUE) {
        entries_[i] = entry;
        return static_cast<int>(i) + kFirstDescriptor;
      }
    }
    if (entries_.size() >= kMaxDescriptors) return fail_errno(EMFILE);
    entries_.push_back(entry);
    return static_cast<int>(entries_.size() - 1) + kFirstDescriptor;
  }
  // A copy of fd's entry; false with EBADF when fd is not open.
  bool get(int fd, Descriptor* entry) { return copy_out(fd, entry, false); }
  void advance(int fd, uint64_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (Descriptor* found = find(fd)) found->position += count;
  }
  void set_directory_lock(int fd, HANDLE lock) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (Descriptor* found = find(fd)) found->directory_lock = lock;
  }
  // Takes fd's entry out of the table; false with EBADF when fd is not open.
  bool remove(int fd, Descriptor* entry) { return copy_out(fd, entry, true); }

 private:
  // Copies fd's entry into entry, and frees its slot when take; false with
  // EBADF when fd is not open.
  bool copy_out(int fd, Descriptor* entry, bool take) {
    std::lock_guard<std::mutex> hold(mutex_);
    Descriptor* found = find(fd);
    if (found == nullptr) {
      errno = EBADF;
      return false;
    }
    *entry = *found;
    if (take) *found = Descriptor();
    return true;
  }

  Descriptor* find(int fd) {
    if (fd < kFirstDescriptor || static_cast<size_t>(fd - kFirstDescriptor) >= entries_.size()) return nullptr;
    Descriptor* entry = &entries_[static_cast<size_t>(fd - kFirstDescriptor)];
    return entry->handle == INVALID_HANDLE_VALUE ? nullptr : entry;
  }

  std::mutex mutex_;
  std::vector<Descriptor> entries_;
};

DescriptorTable& descriptors() {
  // Never destroyed: files may be closed by other objects' destructors at
  // exit.
  static DescriptorTable* table = new DescriptorTable;
  return *table;
}

OVERLAPPED at_offset(uint64_t offset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

// One ReadFile or WriteFile moves at most this much.
constexpr size_t kMaxTransfer = size_t{1} << 30;

DWORD transfer_size(size_t size) { return static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer); }

// Runs change on the file at path; when the system refuses it for the file's
// read-only attribute, clears the attribute and runs it again, setting the
// attribute back when it fails again.
template <typename F>
BOOL past_read_only(const std::wstring& path, F change) {
  if (change()) return TRUE;
  DWORD error = GetLastError();
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_READONLY) || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    SetLastError(error);
    return FALSE;
  }
  if (change()) return TRUE;
  error = GetLastError();
  SetFileAttributesW(path.c_str(), attributes);
  SetLastError(error);
  return FALSE;
}

// True when another program holds the file at path open without sharing
// its deletion, which a refused rename or removal then comes from (the
// system says only "access denied").
bool held_open(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

// Fails with the system's error, or ETXTBSY when that is "access denied"
// because another program holds one of the files open.
int fail_held(DWORD error, const std::wstring& first, const std::wstring& second = std::wstring()) {
  if (error == ERROR_ACCESS_DENIED && (held_open(first) || (!second.empty() && held_open(second))))
    return fail_errno(ETXTBSY);
  return fail(error);
}

// The name of the event that stands for the lock of the open directory.
bool directory_lock_name(HANDLE directory, std::wstring* name) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(directory, &info)) return false;
  uint64_t identity = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  if (identity == 0) {
    // A file system without file indexes: the directory's final path.
    std::wstring path(MAX_PATH, L'\0');
    DWORD got = GetFinalPathNameByHandleW(directory, path.data(), static_cast<DWORD>(path.size()), 0);
    if (got >= path.size()) {
      path.resize(got + 1);
      got = GetFinalPathNameByHandleW(directory, path.data(), static_cast<DWORD>(path.size()), 0);
    }
    if (got == 0 || got >= path.size()) return false;
    path.resize(got);
    CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    identity = 14695981039346656037ull;
    for (wchar_t c : path) identity = (identity ^ static_cast<uint64_t>(c)) * 1099511628211ull;
  }
  wchar_t text[96];
  std::swprintf(text, sizeof text / sizeof text[0], L"Global\\quire-directory-lock-%08lx-%016llx",
                static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long long>(identity));
  *name = text;
  return true;
}

class WindowsFileEnv final : public FileEnv {
 public:
  int open(const char* path, int flags, mode_t mode) override {
    const std::wstring name = wide_path(path);
    if (name.empty()) return fail_errno(ENOENT);
    DWORD access = GENERIC_READ;
    if ((flags & O_ACCMODE) == O_WRONLY) access = GENERIC_WRITE;
    if ((flags & O_ACCMODE) == O_RDWR) access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (flags & O_CREAT) {
      disposition = (flags & O_EXCL) ? CREATE_NEW : (flags & O_TRUNC) ? CREATE_ALWAYS : OPEN_ALWAYS;
    } else if (flags & O_TRUNC) {
      disposition = TRUNCATE_EXISTING;
    }
    DWORD attributes = (flags & O_CREAT) && !(mode & 0222) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    // A directory opens only with backup semantics; so does anything opened
    // for reading, so that a directory there is found and refused by its
    // kind, as on POSIX.
    if ((flags & O_DIRECTORY) || (flags & O_ACCMODE) == O_RDONLY) attributes |= FILE_FLAG_BACKUP_SEMANTICS;
    if (flags & O_TEMPORARY) {
      attributes |= FILE_FLAG_DELETE_ON_CLOSE;
      access |= DELETE;
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileW(name.c_str(), access, share, nullptr, disposition,
                                attributes | ((flags & O_NOFOLLOW) ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (handle == INVALID_HANDLE_VALUE) return fail(GetLastError());
    Descriptor entry;
    entry.handle = handle;
    entry.append = (flags & O_APPEND) != 0;
    entry.stream = GetFileType(handle) != FILE_TYPE_DISK;
    if (!entry.stream) {
      FILE_ATTRIBUTE_TAG_INFO tag = {};
      if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        return fail(error);
      }
      if ((flags & O_NOFOLLOW) && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
          CloseHandle(handle);
          return fail_errno(ELOOP);
        }
        // Not a link: the file itself, opened as any other file is.
        CloseHandle(handle);
        handle = CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING, attributes, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return fail(GetLastError());
        entry.handle = handle;
      }
      entry.directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    if ((flags & O_DIRECTORY) && !entry.directory) {
      CloseHandle(handle);
      return fail_errno(ENOTDIR);
    }
    int fd = descriptors().add(entry);
    if (fd < 0) CloseHandle(handle);
    return fd;
  }

  ssize_t pread(int fd, void* data, size_t size, off_t offset) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    if (offset < 0) return fail_errno(EINVAL);
    OVERLAPPED overlapped = at_offset(static_cast<uint64_t>(offset));
    DWORD done = 0;
    if (!ReadFile(entry.handle, data, transfer_size(size), &done, entry.stream ? nullptr : &overlapped)) {
      DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
      return fail(error);
    }
    return static_cast<ssize_t>(done);
  }

  ssize_t write(int fd, const void* data, size_t size) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    OVERLAPPED overlapped = at_offset(entry.position);
    if (entry.append) overlapped.Offset = overlapped.OffsetHigh = 0xFFFFFFFF;  // at the end
    DWORD done = 0;
    if (!WriteFile(entry.handle, data, transfer_size(size), &done, entry.stream ? nullptr : &overlapped))
      return fail(GetLastError());
    if (!entry.stream && !entry.append) descriptors().advance(fd, done);
    return static_cast<ssize_t>(done);
  }

  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    if (offset < 0) return fail_errno(EINVAL);
    OVERLAPPED overlapped = at_offset(static_cast<uint64_t>(offset));
    DWORD done = 0;
    if (!WriteFile(entry.handle, data, transfer_size(size), &done, entry.stream ? nullptr : &overlapped))
      return fail(GetLastError());
    return static_cast<ssize_t>(done);
  }

  ssize_t copy_range(int, off_t*, int, size_t) override { return fail_errno(ENOSYS); }

  int fsync(int fd) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    if (entry.stream) return fail_errno(EINVAL);  // as fsync of a pipe
    return FlushFileBuffers(entry.handle) ? 0 : fail(GetLastError());
  }

  int fsync_directory(int fd) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    return fail_errno(EINVAL);
  }

  int rename(const char* from, const char* to) override {
    const std::wstring source = wide_path(from);
    const std::wstring target = wide_path(to);
    if (source.empty() || target.empty()) return fail_errno(ENOENT);
    BOOL moved = past_read_only(target, [&] {
      return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    });
    return moved ? 0 : fail_held(GetLastError(), target, source);
  }

  int link(const char* from, const char* to) override {
    const std::wstring source = wide_path(from);
    const std::wstring target = wide_path(to);
    if (source.empty() || target.empty()) return fail_errno(ENOENT);
    HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (in == INVALID_HANDLE_VALUE) return fail(GetLastError());
    HANDLE out = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      CloseHandle(in);
      return fail(error);
    }
    DWORD error = ERROR_SUCCESS;
    std::vector<char> block(kCopyBlock);
    for (;;) {
      DWORD got = 0, put = 0;
      if (!ReadFile(in, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
        error = GetLastError();
        break;
      }
      if (got == 0) break;
      if (!WriteFile(out, block.data(), got, &put, nullptr) || put != got) {
        error = put != got && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : GetLastError();
        break;
      }
    }
    // The copy keeps the file's time of writing and read-only attribute,
    // and is on the disk before anybody renames it into place.
    FILE_BASIC_INFO basic = {};
    if (error == ERROR_SUCCESS && !GetFileInformationByHandleEx(in, FileBasicInfo, &basic, sizeof basic))
      error = GetLastError();
    if (error == ERROR_SUCCESS && !FlushFileBuffers(out)) error = GetLastError();
    if (error == ERROR_SUCCESS) {
      FILE_BASIC_INFO change = {};  // times 0: left as they are
      change.LastWriteTime = basic.LastWriteTime;
      change.FileAttributes = (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) ? FILE_ATTRIBUTE_READONLY : 0;
      if (!SetFileInformationByHandle(out, FileBasicInfo, &change, sizeof change)) error = GetLastError();
    }
    if (!CloseHandle(out) && error == ERROR_SUCCESS) error = GetLastError();
    CloseHandle(in);
    if (error == ERROR_SUCCESS) return 0;
    past_read_only(target, [&] { return DeleteFileW(target.c_str()); });
    return fail(error);
  }

  int unlink(const char* path) override {
    const std::wstring name = wide_path(path);
    if (name.empty()) return fail_errno(ENOENT);
    return past_read_only(name, [&] { return DeleteFileW(name.c_str()); }) ? 0 : fail_held(GetLastError(), name);
  }

  int flock(int fd, int operation) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    if (entry.directory) return lock_directory(fd, entry, operation);
    OVERLAPPED overlapped = at_offset(kLockOffset);
    if (operation & LOCK_UN) return UnlockFileEx(entry.handle, 0, 1, 0, &overlapped) ? 0 : fail(GetLastError());
    DWORD how = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (operation & LOCK_NB) how |= LOCKFILE_FAIL_IMMEDIATELY;
    if (LockFileEx(entry.handle, how, 0, 1, 0, &overlapped)) return 0;
    DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return fail_errno(EWOULDBLOCK);
    return fail(error);
  }

  int lock_records(int fd, int) override {
    Descriptor entry;
    return descriptors().get(fd, &entry) ? 0 : -1;
  }

  int ftruncate(int fd, off_t size) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    if (size < 0) return fail_errno(EINVAL);
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(entry.handle, FileEndOfFileInfo, &end, sizeof end) ? 0 : fail(GetLastError());
  }

  int fchmod(int fd, mode_t mode) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(entry.handle, FileBasicInfo, &basic, sizeof basic)) return fail(GetLastError());
    DWORD attributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL);
    if (!(mode & 0222)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    FILE_BASIC_INFO change = {};  // times 0: left as they are
    change.FileAttributes = attributes;
    return SetFileInformationByHandle(entry.handle, FileBasicInfo, &change, sizeof change) ? 0 : fail(GetLastError());
  }

  void* map(int fd, size_t size, off_t offset) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return MAP_FAILED;
    HANDLE mapping = CreateFileMappingW(entry.handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
      fail(GetLastError());
      return MAP_FAILED;
    }
    const uint64_t start = static_cast<uint64_t>(offset);
    void* address = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(start >> 32), static_cast<DWORD>(start), size);
    DWORD error = GetLastError();
    CloseHandle(mapping);  // the view keeps the mapping
    if (address == nullptr) {
      fail(error);
      return MAP_FAILED;
    }
    return address;
  }

  int unmap(void* address, size_t) override { return UnmapViewOfFile(address) ? 0 : fail(GetLastError()); }

  int close(int fd) override {
    Descriptor entry;
    if (!descriptors().remove(fd, &entry)) return -1;
    if (entry.directory_lock != nullptr) CloseHandle(entry.directory_lock);
    return CloseHandle(entry.handle) ? 0 : fail(GetLastError());
  }

  int fstat(int fd, FileFacts* facts) override {
    Descriptor entry;
    if (!descriptors().get(fd, &entry)) return -1;
    *facts = FileFacts();
    if (entry.stream) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(entry.handle, &info)) return fail(GetLastError());
    facts->regular = !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    facts->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return 0;
  }

 private:
  static int lock_directory(int fd, const Descriptor& entry, int operation) {
    if (operation & LOCK_UN) {
      if (entry.directory_lock != nullptr) CloseHandle(entry.directory_lock);
      descriptors().set_directory_lock(fd, nullptr);
      return 0;
    }
    if (entry.directory_lock != nullptr) return 0;  // held already
    std::wstring name;
    if (!directory_lock_name(entry.handle, &name)) return fail(GetLastError());
    for (;;) {
      HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
      const DWORD error = GetLastError();
      // Access denied: the event exists and is another user's.
      if (event == nullptr && error != ERROR_ACCESS_DENIED) return fail(error);
      if (event != nullptr && error != ERROR_ALREADY_EXISTS) {
        descriptors().set_directory_lock(fd, event);
        return 0;
      }
      if (event != nullptr) CloseHandle(event);  // another holder's
      if (operation & LOCK_NB) return fail_errno(EWOULDBLOCK);
      Sleep(50);
    }
  }
};

}  // namespace

namespace internal {

int adopt_handle(HANDLE handle) {
  Descriptor entry;
  entry.handle = handle;
  entry.stream = true;
  return descriptors().add(entry);
}

}  // namespace internal

FileEnv& system_file_env() {
  // Never destroyed: files may still be closed by other objects' destructors
  // at exit.
  static WindowsFileEnv* env = new WindowsFileEnv;
  return *env;
}

}  // namespace quire::platform
