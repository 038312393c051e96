// The previous output of a report run: the table that still lies at the
// output path while the new one is written. It is walked record by record in
// step with the items of the new run so that unchanged items can be copied.
//
// Whatever the file holds, reading never overflows: a header, line or record
// beyond the limits of table_format.h drops it (the run then dumps every
// remaining item from the store).
#ifndef QUIRE_TABLE_PREVIOUS_OUTPUT_H_
#define QUIRE_TABLE_PREVIOUS_OUTPUT_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "table/table_format.h"

namespace quire::table {

class PreviousOutput {
 public:
  enum Format { kText, kDbase };
  enum HeaderResult {
    kHeaderOk,
    kHeaderDropped,   // not usable; the change log stays open
    kHeaderRejected,  // a text header of another kind or notation: the
                      // change log is closed for the run as well
  };

  PreviousOutput();
  ~PreviousOutput();
  PreviousOutput(const PreviousOutput&) = delete;
  PreviousOutput& operator=(const PreviousOutput&) = delete;

  // Opens the file at path and decides its format from its first byte (3 is
  // dBASE, anything else text). False when there is no readable file.
  bool open(const std::string& path);

  // Reads the header: for text the preamble line (it must carry the version
  // mark and no contradicting notation word) and the column-name line; for
  // dBASE the file header and the field descriptors. Drops the file unless
  // the result is kHeaderOk.
  HeaderResult read_header(int notation);

  // Finds the key and time columns: a previous name matches a wanted name
  // when it equals the wanted name's start of its own length, ignoring case;
  // the last match wins. Drops the file and returns false when either is
  // missing or there are no columns.
  bool find_columns(const char* key_column, const char* time_column);

  // Loads the next usable record (deleted dBASE records are skipped). At
  // the end, or when the record does not fit the limits, the file is done
  // and the record is empty.
  void read_record();

  // Splits at most n values (1..kMaxValues) from each later record: enough
  // for the key and time columns when records are copied as they are, all
  // of them when they are converted. Below kMaxValues, the other values of
  // a dBASE record (found without reading) are left empty.
  void limit_values(int n) { value_limit_ = n < 1 ? 1 : (n > kMaxValues ? kMaxValues : n); }
  int key_index() const { return key_index_; }
  int time_index() const { return time_index_; }

  // Closes the file for the rest of the run.
  void drop();

  // True when no record is loaded any more: dropped, or the end reached.
  bool exhausted() const { return !file_.is_open() || at_end_; }
  bool is_open() const { return file_.is_open(); }
  Format format() const { return format_; }

  int column_count() const { return static_cast<int>(names_.size()); }
  const std::string& column_name(int i) const { return names_[static_cast<size_t>(i)]; }
  // dBASE only: the widths of the columns and the record length.
  int column_width(int i) const { return widths_[static_cast<size_t>(i)]; }
  int record_length() const { return record_length_; }

  // The loaded record as read: a text line without its line end, or a whole
  // dBASE record with its deletion flag. Valid until the next read.
  std::string_view raw() const { return raw_; }
  // The loaded record with its line end as read (dBASE: the same as raw),
  // and its offset in the file.
  std::string_view raw_with_end() const { return {raw_.data(), raw_.size() + raw_end_}; }
  uint64_t raw_offset() const { return buffer_offset_ + static_cast<uint64_t>(raw_.data() - buffer_.get()); }
  int value_count() const { return value_count_; }
  // Value i, NUL-terminated (i < value_count()).
  const char* value(int i) const { return values_[static_cast<size_t>(i)]; }
  size_t value_length(int i) const { return value_lengths_[static_cast<size_t>(i)]; }
  // The loaded record's item name and change stamp; empty when the record
  // has too few values or none is loaded.
  const char* key() const { return key_; }
  const char* stamp() const { return stamp_; }

 private:
  // Makes at least n bytes (n <= the buffer's spare room) available from
  // begin_, reading more when needed; false at the end of the file.
  bool fill(size_t n);
  // The next text line without its line end. False at the end of the file
  // (an unterminated last line counts as the end: a cut-short run left it)
  // or, with *too_long set, when the line exceeds kMaxRecordBytes.
  bool next_line(std::string_view* line, bool* too_long);
  // Splits a text line into values; false when there are too many.
  bool split_text(std::string_view line);
  void split_dbase(std::string_view record);
  void add_value(const char* data, size_t length, bool trim_quotes);
  void clear_record();

  platform::InputFile file_;
  Format format_ = kText;
  bool at_end_ = false;
  bool file_ended_ = false;  // no more bytes to read from the file

  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t buffer_offset_ = 0;  // the file offset of buffer_[0]

  std::vector<std::string> names_;
  std::vector<int> widths_;
  int record_length_ = 0;
  int key_index_ = -1;
  int time_index_ = -1;
  int value_limit_ = kMaxValues;

  std::string_view raw_;
  size_t raw_end_ = 0;  // line end bytes after raw_
  int value_count_ = 0;
  std::array<const char*, kMaxValues> values_{};
  std::array<size_t, kMaxValues> value_lengths_{};
  // Values are copied here, each NUL-terminated.
  std::array<char, 2 * kMaxRecordBytes + kMaxValues + 16> value_text_{};
  size_t value_text_used_ = 0;
  const char* key_ = "";
  const char* stamp_ = "";
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_PREVIOUS_OUTPUT_H_
