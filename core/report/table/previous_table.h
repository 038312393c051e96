// The previous table of a report run: the table that still lies at the
// output path while the new one is written, walked record by record in step
// with the items of the new run so that unchanged items can be copied.
//
// PreviousTableReader is the format-neutral part (the file read in large
// blocks, the column lookup, the values, key and stamp of the loaded record);
// each layout supplies its header check and its record reading.
//
// Whatever the file holds, reading never overflows: a header, line or record
// beyond the limits of table_format.h drops it (the run then dumps every
// remaining item from the store).
#ifndef QUIRE_TABLE_PREVIOUS_TABLE_H_
#define QUIRE_TABLE_PREVIOUS_TABLE_H_

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quire/files/file_system.h"
#include "quire/files/file_view.h"
#include "table/table_format.h"

namespace quire::table {

// A file read in large parts: viewed in place where the system can map it,
// else read into a buffer, with room to keep one record whole either way.
class PreviousInput {
 public:
  // Not copyable: it owns its file (read through env) and buffer.
  explicit PreviousInput(platform::FileEnv& env);

  // False when there is no readable regular file at path (status() tells
  // whether reading it failed).
  bool open(const std::string& path);
  void close();
  bool is_open() const { return file_.is_open(); }

  // Makes at least n bytes (n <= kMaxRecordBytes * 2 + 2) available from
  // data(), viewing or reading more when needed; false at the end of the
  // file or on a read failure. Pointers into what was available before stay
  // valid only while fill returns without getting more.
  bool fill(size_t n) { return end_ - begin_ >= n || get_more(n); }
  const char* data() const { return base_ + begin_; }
  size_t available() const { return end_ - begin_; }
  void consume(size_t n) { begin_ += n; }
  // The file offset of data()[0].
  uint64_t offset() const { return base_offset_ + begin_; }
  uint64_t offset_of(const char* p) const { return base_offset_ + static_cast<uint64_t>(p - base_); }
  // The first read failure; a file found shortened while viewed counts as
  // one.
  const quire::Status& status();
  // The file's size when opened.
  uint64_t size() const { return file_.size(); }

 private:
  bool get_more(size_t n);
  // Views the file from the page holding offset(); false when it cannot be
  // viewed (it is then read from there on).
  bool view_more();
  bool read_more();

  platform::ReadableFile file_;
  platform::FileView view_;
  quire::Status status_;
  bool viewing_ = true;
  bool ended_ = false;
  std::unique_ptr<char[]> buffer_;  // when reading
  const char* base_ = nullptr;      // the view or the buffer
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t base_offset_ = 0;  // the file offset of base_[0]
};

class PreviousTableReader {
 public:
  enum HeaderResult {
    kHeaderOk,
    kHeaderDropped,   // not usable; the change log stays open
    kHeaderRejected,  // a text table whose first line is no preamble, or
                      // one of the other notation (preamble() then holds
                      // it); the run says how it takes that
  };

  explicit PreviousTableReader(std::unique_ptr<PreviousInput> input);
  virtual ~PreviousTableReader();
  PreviousTableReader(const PreviousTableReader&) = delete;
  PreviousTableReader& operator=(const PreviousTableReader&) = delete;

  // Reads the header: the column names and whatever the layout checks.
  // Drops the file unless the result is kHeaderOk.
  virtual HeaderResult read_header(int notation) = 0;

  // Finds the key and time columns: a previous name matches a wanted name
  // when it equals the wanted name's start of its own length, ignoring case;
  // the last match wins. Drops the file and returns false when either is
  // missing or there are no columns.
  bool find_columns(const char* key_column, const char* time_column);

  // Loads the next usable record. At the end, or when the record does not
  // fit the limits, the file is done and the record is empty.
  void read_record();

  // Splits at most n values (1..kMaxValues) from each later record: enough
  // for the key and time columns when records are copied as they are (the
  // values before them may then be left empty), all of them when they are
  // converted.
  void limit_values(int n);
  // Splits only as many values as reach the key and time columns (after
  // find_columns): records copied as they are need no others.
  void limit_to_key_and_time() { limit_values(std::max(key_index_, time_index_) + 1); }
  int key_index() const { return key_index_; }
  int time_index() const { return time_index_; }

  // Closes the file for the rest of the run.
  void drop();

  // Why the file was dropped as not written the way this system writes
  // tables: kCorrupt with a message such as "its record length is not ..."
  // or "record 7 has no item name"; a success when it was not. Every record
  // is checked as it is loaded: its key must not be empty and must not sort
  // before the key of the record before it (compare_item_names), and the
  // layout checks its values and its end.
  const quire::Status& damage() const { return damage_; }

  // True when no record is loaded any more: dropped, or the end reached.
  bool exhausted() const { return !input_->is_open() || at_end_; }
  bool is_open() const { return input_->is_open(); }
  // The first read failure: the file could not be read to its end.
  const quire::Status& read_status() const { return input_->status(); }

  int column_count() const { return static_cast<int>(names_.size()); }

  // The values of a text table's preamble line (version, notation word,
  // report tag, area path), as read by read_header; null for a layout
  // without one.
  using Preamble = std::vector<std::string>;
  virtual const Preamble* preamble() const { return nullptr; }

  // The loaded record as read (a text line without its line end, or a
  // whole fixed-length record); with its line end as read; its offset.
  std::string_view raw() const { return raw_; }
  std::string_view raw_with_end() const { return {raw_.data(), raw_.size() + raw_end_}; }
  uint64_t raw_offset() const { return input_->offset_of(raw_.data()); }
  int value_count() const { return value_count_; }
  // Value i, NUL-terminated (i < value_count()).
  const char* value(int i) const { return values_[static_cast<size_t>(i)]; }
  size_t value_length(int i) const { return value_lengths_[static_cast<size_t>(i)]; }
  // The loaded record's item name and change stamp; empty when the record
  // has too few values or none is loaded.
  const char* key() const { return key_; }
  const char* stamp() const { return stamp_; }
  // True when the loaded record's key equals the key of the record before
  // it (compare_item_names): one more record of the same item.
  bool continues_item() const { return continues_item_; }

 protected:
  // Loads the next record into raw_/raw_end_ and its values. False at the
  // end of the file (at_end) or when the file must be dropped (dropped).
  // kSameKey: loaded, but only as far as to see that the record starts
  // with the very bytes of the key value of the record loaded before it
  // (which the layout keeps in kept_key_field()); it continues that item,
  // and its values are left as those of that record. Only returned while
  // value_limit() < kMaxValues, when records are copied as they are.
  enum LoadResult { kLoaded, kSameKey, kEnd, kDrop };
  virtual LoadResult load_record() = 0;

  // The key value's bytes as they stand in the last record loaded in full,
  // for load_record to compare the next one with; empty when none is kept.
  std::string& kept_key_field() { return kept_key_field_; }
  // True when the bytes at data start with the kept key field.
  bool starts_with_kept_key(const char* data, size_t size) const {
    const size_t n = kept_key_field_.size();
    if (n == 0 || size < n) return false;
    // Key fields are short: eight bytes at a time, inline.
    const char* kept = kept_key_field_.data();
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t a, b;
      std::memcpy(&a, data + i, 8);
      std::memcpy(&b, kept + i, 8);
      if (a != b) return false;
    }
    for (; i < n; ++i)
      if (data[i] != kept[i]) return false;
    return true;
  }

  // Adds a value of length bytes at data, without leading and trailing
  // spaces (and double quotes when trim_quotes).
  void add_value(const char* data, size_t length, bool trim_quotes);
  // Sets the key and time values of a record split for its key and time
  // only (value_limit() < kMaxValues), each trimmed as add_value trims it;
  // the other values below the limit are empty.
  void set_key_and_time(const char* key, size_t key_length, const char* time, size_t time_length,
                        bool trim_quotes);
  // Room for a value written in place: the next free byte of the store.
  char* value_space() { return value_text_.data() + value_text_used_; }
  // Drops the file as damaged, for the reason why (a static text).
  HeaderResult drop_damaged(const char* why) {
    damage_ = quire::Status::failure(quire::StatusCode::kCorrupt, why);
    drop();
    return kHeaderDropped;
  }
  // The record being loaded is damaged, for the reason why (a printf
  // format and its arguments); load_record returns what this returns, and
  // the file is dropped.
  LoadResult record_damaged(const char* why, ...) __attribute__((format(printf, 2, 3)));
  // The number the next loaded record gets (the first is 1).
  long long next_record_number() const { return records_loaded_ + 1; }
  void clear_values() {
    value_count_ = 0;
    value_text_used_ = 0;
  }
  bool values_full() const { return value_count_ == value_limit_; }
  int value_limit() const { return value_limit_; }

  std::unique_ptr<PreviousInput> input_;
  std::vector<std::string> names_;
  int key_index_ = -1;
  int time_index_ = -1;
  std::string_view raw_;
  size_t raw_end_ = 0;  // line end bytes after raw_

 private:
  void clear_record();
  // Stores a value (trimmed as add_value trims it) as value slot.
  void store_value(size_t slot, const char* data, size_t length, bool trim_quotes);

  // Checks the loaded record's key against the key before it.
  bool key_in_order();

  bool at_end_ = false;
  quire::Status damage_;
  long long records_loaded_ = 0;
  std::string last_key_;  // the key of the last item loaded
  std::string kept_key_field_;
  bool continues_item_ = false;
  int value_limit_ = kMaxValues;
  int value_count_ = 0;
  std::array<const char*, kMaxValues> values_{};
  std::array<size_t, kMaxValues> value_lengths_{};
  // Values are copied here, each NUL-terminated.
  std::array<char, 2 * kMaxRecordBytes + kMaxValues + 16> value_text_{};
  size_t value_text_used_ = 0;
  const char* key_ = "";
  const char* stamp_ = "";
};

// Opens the table at path as a previous table, of the layout its first byte
// tells (3 is dBASE, anything else text). Null when there is no readable
// regular file at path; *read_failure is then set when reading it failed.
std::unique_ptr<PreviousTableReader> open_previous_table(platform::FileEnv& env, const std::string& path,
                                                         quire::Status* read_failure);

}  // namespace quire::table

#endif  // QUIRE_TABLE_PREVIOUS_TABLE_H_
