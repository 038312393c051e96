// Reading the version record of a library file on POSIX systems: the ELF
// note, read from the file on demand without loading it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/version_record.h"

namespace quire::platform {
namespace {

class FileSource : public ByteSource {
 public:
  explicit FileSource(const char* path) {
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
  }
  ~FileSource() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* out, size_t size) const override {
    if (fd_ < 0 || offset > size_ || size > size_ - offset) return false;
    auto* p = static_cast<unsigned char*>(out);
    while (size > 0) {
      ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // error, or the file shrank under us
      p += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;  // 0 for anything but a regular file
};

}  // namespace

int read_file_version(const char* path, uint32_t* least, uint32_t* most) {
  if (!path) return 0;
  ProductVersion version;
  if (!find_version_record(FileSource(path), &version)) return 0;
  if (least) *least = version.least;
  if (most) *most = version.most;
  return 1;
}

}  // namespace quire::platform
