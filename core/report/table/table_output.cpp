#include "table/table_output.h"

#include <cerrno>

#include <cstring>
#include <system_error>
#include <utility>

#include "table/check_value.h"

namespace quire::table {

TableOutput::TableOutput(platform::FileEnv& env) : buffer_(new char[kBufferSize]), source_(env) {}
TableOutput::~TableOutput() { stop_background(); }

void TableOutput::attach(platform::WritableFile* file) {
  stop_background();
  file_ = file;
  status_ = quire::Status();
  used_ = 0;
  written_ = 0;
  writeback_start_ = 0;
  check_ = 0;
  check_at_ = 0;
  matching_ = false;
  source_.close();
}

void TableOutput::fail_from(const quire::Status& status) {
  status_.update(status);
}

void TableOutput::write_in_background() {
  if (file_ != nullptr && !matching_) background_ = true;
}

void TableOutput::write_job(Job& job) {
  if (!file_->append(job.data, job.size)) {
    job.failed = true;
    job.status = file_->status();
  }
  if (job.writeback) file_->start_writeback(job.writeback_start, job.writeback_length);
}

void TableOutput::background_loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return job_pending_ || stopping_; });
    if (!job_pending_) return;
    // While the job is pending only this thread touches it and the file.
    lock.unlock();
    write_job(job_);
    lock.lock();
    job_pending_ = false;
    changed_.notify_all();
  }
}

bool TableOutput::start_job(const Job& job) {
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { background_loop(); });
    } catch (const std::system_error&) {
      background_ = false;  // no thread to be had: written in place
      return false;
    }
  }
  if (!spare_) spare_.reset(new char[kBufferSize]);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    job_pending_ = true;
  }
  changed_.notify_all();
  // The run fills the other buffer meanwhile.
  std::swap(buffer_, spare_);
  return true;
}

void TableOutput::settle() {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !job_pending_; });
  if (job_.failed) {
    job_.failed = false;
    fail_from(job_.status);
  }
}

void TableOutput::stop_background() {
  background_ = false;
  if (!thread_.joinable()) return;
  settle();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  stopping_ = false;
}

void TableOutput::fold_buffer() {
  const uint64_t end = written_ + used_;
  if (check_at_ >= end) return;
  const size_t from = check_at_ > written_ ? static_cast<size_t>(check_at_ - written_) : 0;
  check_ = extend_check(check_, buffer_.get() + from, used_ - from);
  check_at_ = end;
}

void TableOutput::note_taken(const void* data, size_t size) {
  fold_buffer();
  check_ = extend_check(check_, data, size);
  check_at_ += size;
}

void TableOutput::write_checked(const void* data, size_t length, uint64_t source_offset, uint32_t check) {
  if (agrees_at(source_offset) && source_.size() - written_ >= length) {
    written_ += length;
  } else {
    write(data, length);
  }
  check_ = check;
  check_at_ = size();
}

void TableOutput::flush_buffer() {
  if (used_ == 0) return;
  fold_buffer();
  // The buffer before this one is written first: what became of it decides
  // whether this one is written at all, as in place.
  settle();
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
  Job job;
  job.data = buffer_.get();
  job.size = used_;
  written_ += used_;
  used_ = 0;
  // Start writing the data out while the run goes on, so that the sync at
  // the end waits only for the last part.
  if (written_ - writeback_start_ >= kWritebackChunk) {
    job.writeback = true;
    job.writeback_start = writeback_start_;
    job.writeback_length = written_ - writeback_start_;
    writeback_start_ = written_;
  }
  if (background_ && start_job(job)) return;
  write_job(job);
  if (job.failed) fail_from(job.status);
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
  stop_background();
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
  stop_background();
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
  if (agrees_at(source_offset) && source_.size() - written_ >= size) {
    note_taken(data, size);
    written_ += size;
    return;
  }
  write(data, size);
}

bool TableOutput::agrees_at(uint64_t source_offset) {
  if (matching_ && used_ > 0 && source_offset == written_ + used_) flush_buffer();
  return matching_ && used_ == 0 && source_offset == written_;
}

void TableOutput::take_from_source(uint64_t size) {
  if (source_.size() - written_ < size) {
    // The old table changed while it was read: nothing of it is trusted.
    quire::Status changed;
    changed.fail(EIO, "read", source_.path());
    fail_from(changed);
    return;
  }
  written_ += size;
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
