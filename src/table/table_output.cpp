#include "table/table_output.h"

#include <cstring>

namespace quire::table {

TableOutput::TableOutput() : buffer_(new char[kBufferSize]) {}
TableOutput::~TableOutput() = default;

void TableOutput::attach(platform::WritableFile* file) {
  file_ = file;
  status_ = platform::IoStatus();
  used_ = 0;
  written_ = 0;
  writeback_start_ = 0;
  matching_ = false;
  source_.close();
}

void TableOutput::fail_from(const platform::IoStatus& status) {
  status_.fail(status.error, status.operation.c_str(), status.path);
}

void TableOutput::flush_buffer() {
  if (used_ == 0) return;
  if (file_ == nullptr || !status_.ok()) {
    used_ = 0;
    return;
  }
  if (matching_) {
    if (source_agrees(written_, buffer_.get(), used_, false)) {
      written_ += used_;
      used_ = 0;
      return;
    }
    stop_matching();
    if (!status_.ok()) {
      used_ = 0;
      return;
    }
  }
  if (!file_->append(buffer_.get(), used_)) fail_from(file_->status());
  written_ += used_;
  used_ = 0;
  // Start writing the data out while the run goes on, so that the sync at
  // the end waits only for the last part.
  if (written_ - writeback_start_ >= kWritebackChunk) {
    file_->start_writeback(writeback_start_, written_ - writeback_start_);
    writeback_start_ = written_;
  }
}

void TableOutput::write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (used_ == kBufferSize) flush_buffer();
    size_t n = kBufferSize - used_;
    if (n > size) n = size;
    std::memcpy(buffer_.get() + used_, p, n);
    used_ += n;
    p += n;
    size -= n;
  }
}

void TableOutput::write_at(uint64_t offset, const void* data, size_t size) {
  flush_buffer();
  if (file_ == nullptr || !status_.ok()) return;
  if (matching_) {
    if (offset + size <= written_ && source_agrees(offset, static_cast<const char*>(data), size, true)) return;
    stop_matching();
    if (!status_.ok()) return;
  }
  if (!file_->write_at(offset, data, size)) fail_from(file_->status());
}

bool TableOutput::flush() {
  flush_buffer();
  stop_matching();
  return status_.ok();
}

bool TableOutput::match_source(const std::string& source_path, uint64_t rewritten_prefix) {
  if (file_ == nullptr || matching_ || size() != 0) return false;
  if (!source_.open(source_path)) return false;
  if (!compare_buffer_) compare_buffer_.reset(new char[kBufferSize]);
  rewritten_prefix_ = rewritten_prefix;
  matching_ = true;
  return true;
}

void TableOutput::write_from_source(const void* data, size_t size, uint64_t source_offset) {
  if (matching_ && used_ > 0 && source_offset == written_ + used_) flush_buffer();
  if (matching_ && used_ == 0 && source_offset == written_ && source_.size() - written_ >= size) {
    written_ += size;
    return;
  }
  write(data, size);
}

bool TableOutput::equals_source() {
  flush_buffer();
  return matching_ && status_.ok() && written_ == source_.size();
}

bool TableOutput::source_agrees(uint64_t offset, const char* data, size_t size, bool final) {
  // Until it is rewritten, the prefix agrees whatever it holds.
  if (!final && offset < rewritten_prefix_) {
    uint64_t skip = rewritten_prefix_ - offset;
    if (skip >= size) return true;
    offset += skip;
    data += skip;
    size -= static_cast<size_t>(skip);
  }
  if (offset > source_.size() || source_.size() - offset < size) return false;
  while (size > 0) {
    size_t chunk = size < kBufferSize ? size : kBufferSize;
    long n = source_.read_at(offset, compare_buffer_.get(), chunk);
    if (n <= 0) return false;  // the copy then reports what is wrong
    if (std::memcmp(compare_buffer_.get(), data, static_cast<size_t>(n)) != 0) return false;
    offset += static_cast<uint64_t>(n);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void TableOutput::stop_matching() {
  if (!matching_) return;
  matching_ = false;
  if (file_ != nullptr && status_.ok() && !file_->append_from(source_, written_)) fail_from(file_->status());
  source_.close();
}

}  // namespace quire::table
