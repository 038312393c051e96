// The dBASE III layout of a table: the file header (kept in memory and
// rewritten at the end with the record count), one descriptor per column
// ('F' columns are numeric columns with decimals), fixed-length records of
// left-aligned texts and right-aligned numbers, and the end mark. The
// preamble values are not part of this layout.
#ifndef QUIRE_TABLE_DBF_DBF_TABLE_WRITER_H_
#define QUIRE_TABLE_DBF_DBF_TABLE_WRITER_H_

#include <string>
#include <vector>

#include "table/dbf/dbf_layout.h"
#include "table/table_writer.h"

namespace quire::table {

class DbfTableWriter final : public TableWriter {
 public:
  explicit DbfTableWriter(TableOutput& out) : out_(out) {}

  void begin() override;
  void preamble_value(const char*, bool) override {}
  void add_column(const FieldSpec& field, const char* name) override;
  void end_columns() override;
  void start_record() override;
  void put_text(const FieldSpec& field, const char* text, size_t length, bool last) override;
  void put_number(const FieldSpec& field, const char* text, size_t length, bool last) override;
  bool copies_as_is(const PreviousTableReader& previous) const override;
  void copy_record(const PreviousTableReader& previous) override;
  bool copies_unchanged(const PreviousTableReader&) const override { return true; }
  void note_copied(int count) override { record_count_ += static_cast<uint32_t>(count); }
  void finish() override;
  uint64_t rewritten_prefix() const override { return kDbfHeaderSize; }
  uint64_t record_length() const override { return record_length_; }

 private:
  void store_header(bool in_progress);

  TableOutput& out_;
  unsigned char header_[kDbfHeaderSize] = {};
  uint32_t record_count_ = 0;
  uint16_t header_length_ = 33;
  uint16_t record_length_ = 1;
  std::vector<int> widths_;
  int column_ = 0;  // index of the next value within the record
  std::vector<std::string> names_;
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_DBF_DBF_TABLE_WRITER_H_
