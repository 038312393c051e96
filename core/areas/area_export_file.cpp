// `quire area export AREA FILE`: the area file written through the one way
// of replacing a file as a whole.
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>

#include "quire/files/file_replacement.h"
#include "quire/files/output_target.h"
#include "area_store.h"
#include "failures.h"

namespace quire::areas {

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

quire::Status export_area_file(std::string_view name, const std::string& path) {
  return fenced([&]() -> quire::Status {
    namespace platform = quire::platform;
    quire::Status status;
    auto cannot_write = [&](const quire::Status& why) {
      return file_failure(why.error(),
                          path + ": cannot write: " + (why.error() != 0 ? std::strerror(why.error()) : "unknown failure"),
                          path);
    };
    // As for a report table: a link is followed (not another user's in a
    // shared directory), a pipe, a device or
    // standard output is written straight into, anything else refused.
    platform::OutputTarget target = platform::examine_output(path);
    switch (target.kind) {
      case platform::OutputTarget::kFile:
        break;
      case platform::OutputTarget::kStream: {
        platform::WritableFile stream(platform::file_env());
        bool opened = target.standard_output ? stream.open_standard_output() : stream.open_stream(target.path);
        if (!opened) return cannot_write(stream.status());
        auto buffer = std::make_unique<FileStreamBuffer>(stream);
        std::ostream out(buffer.get());
        if (status = export_area_json(name, out); !status.ok()) return status;
        if (!buffer->flush_all() || !out || !stream.close()) return cannot_write(stream.status());
        return {};
      }
      case platform::OutputTarget::kRefused:
        return quire::Status::failure(quire::StatusCode::kInvalid,
                                      target.refused_path + ": cannot write: it is " + target.what, target.refused_path);
      case platform::OutputTarget::kFailed:
        return cannot_write(target.status);
    }
    // A file another program holds open, or a read-only one, is said before
    // anything is written.
    if (!platform::check_changeable(target.path, platform::FileChange::kReplace, &status)) return status;
    platform::FileReplacement replacement(platform::file_env());
    if (!replacement.begin(target.path, kNewExportPrefix, &status)) return cannot_write(status);
    auto buffer = std::make_unique<FileStreamBuffer>(replacement.file());
    std::ostream out(buffer.get());
    if (status = export_area_json(name, out); !status.ok()) {
      // A failed write shows as a failed stream: name the file and why.
      if (!replacement.file().status().ok()) return cannot_write(replacement.file().status());
      return status;
    }
    if (!buffer->flush_all() || !out) return cannot_write(replacement.file().status());
    if (!replacement.finish(&status) || !replacement.put_in_place(&status)) return cannot_write(status);
    if (!replacement.sync_directory(&status))
      return file_failure(status.error(), path + " is written, but " + status.message(), path);
    return {};
  });
}

}  // namespace quire::areas
