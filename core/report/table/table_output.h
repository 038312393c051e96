// The bytes of a new table on their way into its file: gathered in a large
// buffer, and, while they agree with the table they will replace, only
// compared with it instead of written. An unchanged rerun thereby writes
// nothing; at the first difference the agreeing part is copied from the old
// table inside the system and writing goes on as usual.
//
// With background writes on, a full buffer is handed to a thread of the
// output's own that writes it into the file while the run fills a second
// buffer. Only one buffer is on its way at any time and every other use of
// the file waits for it first, so the file sees the same calls in the same
// order as without the thread.
#ifndef QUIRE_TABLE_TABLE_OUTPUT_H_
#define QUIRE_TABLE_TABLE_OUTPUT_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "quire/files/file_system.h"

namespace quire::table {

class TableOutput {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;

  // The previous table's bytes are read back through env.
  explicit TableOutput(platform::FileEnv& env);
  ~TableOutput();
  TableOutput(const TableOutput&) = delete;
  TableOutput& operator=(const TableOutput&) = delete;

  // Writes go to file from now on (an empty file); nothing is matched and
  // background writes are off.
  void attach(platform::WritableFile* file);

  // Full buffers are written by a thread of their own from now on, while
  // the caller fills the next (not while matching). The caller makes no
  // call on the file, and no other file call whose order with the table's
  // writes matters, without settle() first.
  void write_in_background();

  // Waits until the buffer on its way is in the file; a failure of it
  // becomes status().
  void settle();

  // The first failure of a write, a copy or a read of the old table (of a
  // background write: once settled).
  const quire::Status& status() const { return status_; }

  // Room for at least n bytes (n <= kBufferSize) at the end of the buffer;
  // flushes first when needed. Fill it, then commit what was used.
  char* reserve(size_t n) {
    if (kBufferSize - used_ < n) flush_buffer();
    return buffer_.get() + used_;
  }
  void commit(size_t n) { used_ += n; }
  void write(const void* data, size_t size);
  void put(char c) { *reserve(1) = c; commit(1); }

  // Bytes written so far (the file's size once flushed).
  uint64_t size() const { return written_ + used_; }

  // Compares, rather than writes, what is written with the regular file at
  // source_path for as long as the two agree from their first byte. The
  // bytes before rewritten_prefix are not compared: the caller replaces them
  // with write_at before the end. False (and no matching) when the source is
  // no readable regular file.
  bool match_source(const std::string& source_path, uint64_t rewritten_prefix);

  // Writes size bytes the caller read from the source at source_offset.
  // While matching at that very offset they are taken as agreeing without
  // being compared or copied.
  void write_from_source(const void* data, size_t size, uint64_t source_offset);

  // True when what is written so far agrees with the source up to
  // source_offset and matching goes on there: bytes of the source from
  // that offset can then be taken as written without being given.
  bool agrees_at(uint64_t source_offset);
  // Takes the next size bytes of the source as written (agrees_at held and
  // nothing was written since). Bytes past the source's end make the
  // output fail rather than come out short.
  void take_from_source(uint64_t size);

  // The check value (check_value.h) of the bytes written or taken since
  // restart_check (or attach). Bytes taken with take_from_source count only
  // as far as the caller hands them to note_taken first.
  void restart_check() {
    check_ = 0;
    check_at_ = size();
  }
  uint32_t check() {
    fold_buffer();
    return check_;
  }
  // Counts size bytes about to be taken with take_from_source (in order)
  // into the check value.
  void note_taken(const void* data, size_t size);
  // Takes or writes, as write_from_source does, size bytes read from the
  // source at source_offset whose check value the caller knows: right after
  // restart_check, check() then gives check without computing it again.
  void write_checked(const void* data, size_t size, uint64_t source_offset, uint32_t check);

  // Flushes; true when matching and all of the source was matched: the
  // file is still empty and what was written equals the source.
  bool equals_source();

  // Writes size bytes at offset (after flushing the buffer).
  void write_at(uint64_t offset, const void* data, size_t size);

  // Hands everything to the file: the buffer, and the agreeing part of the
  // source when matching (which ends); settles. False when anything failed.
  bool flush();

 private:
  // A buffer on its way to the file, and how its writing ended.
  struct Job {
    const char* data = nullptr;
    size_t size = 0;
    bool writeback = false;  // start writing out [writeback_start, +length)
    uint64_t writeback_start = 0;
    uint64_t writeback_length = 0;
    bool failed = false;
    quire::Status status;  // the file's status after a failed append
  };

  void flush_buffer();
  // Counts the buffer's bytes not yet counted into the check value.
  void fold_buffer();
  // Appends a job's bytes and starts its writeback: the same calls on the
  // thread and without it.
  void write_job(Job& job);
  void background_loop();
  // Hands job (its data in buffer_) to the thread, started when needed, and
  // gives buffer_ the other buffer. False when no thread can be had.
  bool start_job(const Job& job);
  // Settles, ends the thread and turns background writes off.
  void stop_background();
  // Ends matching: the agreeing part is copied into the file.
  void stop_matching();
  // True when size bytes at offset agree with the source there; unless
  // final, bytes before rewritten_prefix_ agree whatever they hold.
  bool source_agrees(uint64_t offset, const char* data, size_t size, bool final);
  void fail_from(const quire::Status& status);

  static constexpr uint64_t kWritebackChunk = 8 * 1024 * 1024;

  platform::WritableFile* file_ = nullptr;
  quire::Status status_;
  std::unique_ptr<char[]> buffer_;
  std::unique_ptr<char[]> spare_;  // kBufferSize bytes once writing in background

  bool background_ = false;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Job job_;                  // guarded by mutex_
  bool job_pending_ = false;  // guarded by mutex_
  bool stopping_ = false;     // guarded by mutex_
  size_t used_ = 0;
  uint64_t written_ = 0;
  uint64_t writeback_start_ = 0;

  // The check value of the bytes from its restart up to check_at_.
  uint32_t check_ = 0;
  uint64_t check_at_ = 0;

  // While matching written_ counts the agreeing bytes, none of them written.
  bool matching_ = false;
  platform::ReadableFile source_;
  uint64_t rewritten_prefix_ = 0;
  std::unique_ptr<char[]> compare_buffer_;  // kBufferSize bytes once matching
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_TABLE_OUTPUT_H_
