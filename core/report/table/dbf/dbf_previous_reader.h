// A previous table in the dBASE III layout: the column names and widths
// from the descriptors, then fixed-length records; deleted records (flag
// "*") are skipped. A dBASE table holds no preamble, so no version word or
// notation is checked.
#ifndef QUIRE_TABLE_DBF_DBF_PREVIOUS_READER_H_
#define QUIRE_TABLE_DBF_DBF_PREVIOUS_READER_H_

#include <memory>
#include <string_view>
#include <vector>

#include "table/previous_table.h"

namespace quire::table {

class DbfPreviousReader final : public PreviousTableReader {
 public:
  explicit DbfPreviousReader(std::unique_ptr<PreviousInput> input) : PreviousTableReader(std::move(input)) {}

  // True when a file starting with this byte is a dBASE table.
  static bool starts_table(char first_byte);

  HeaderResult read_header(int notation) override;

  // The widths of the columns and the record length.
  int column_width(int i) const { return widths_[static_cast<size_t>(i)]; }
  int record_length() const { return record_length_; }

 protected:
  LoadResult load_record() override;

 private:
  // Splits a record into values: each column's width, without blanks and
  // double quotes around; only the key and time values below the limit.
  void split_record(std::string_view record);

  std::vector<int> widths_;
  std::vector<size_t> starts_;  // each column's offset in a record
  int record_length_ = 0;
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_DBF_DBF_PREVIOUS_READER_H_
