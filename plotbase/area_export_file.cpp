// `quire area export AREA FILE`: the area file written through the one way
// of replacing a file as a whole.
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>

#include "platform/file_replacement.h"
#include "quire/area_store.h"

namespace plotbase {

namespace {

// Hands what a stream writes to a file in large blocks; the file keeps the
// first failure.
class FileStreamBuffer : public std::streambuf {
 public:
  explicit FileStreamBuffer(quire::platform::WritableFile& file) : file_(file) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }
  bool flush_all() { return sync() == 0; }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  int sync() override {
    const size_t n = static_cast<size_t>(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    return n == 0 || file_.append(buffer_, n) ? 0 : -1;
  }

 private:
  quire::platform::WritableFile& file_;
  char buffer_[64 * 1024];
};

constexpr const char* kNewExportPrefix = ".quire-export-";

}  // namespace

bool export_area_file(std::string_view name, const std::string& path, std::string* error) {
  quire::platform::FileReplacement replacement;
  quire::platform::IoStatus status;
  auto fail = [&](const quire::platform::IoStatus& why) {
    *error = path + ": cannot write: " + (why.error != 0 ? std::strerror(why.error) : "unknown failure");
    return false;
  };
  if (!replacement.begin(path, kNewExportPrefix, &status)) return fail(status);
  auto buffer = std::make_unique<FileStreamBuffer>(replacement.file());
  std::ostream out(buffer.get());
  if (!export_area_json(name, out, error)) {
    // A failed write shows as a failed stream: name the file and why.
    if (!replacement.file().status().ok()) return fail(replacement.file().status());
    return false;
  }
  if (!buffer->flush_all() || !out) return fail(replacement.file().status());
  if (!replacement.finish(&status) || !replacement.put_in_place(&status)) return fail(status);
  if (!replacement.sync_directory(&status)) {
    *error = path + " is written, but " + status.message();
    return false;
  }
  return true;
}

}  // namespace plotbase
