// A previous table in the CSV layout: the preamble line (it must carry the
// version mark and no contradicting notation word), the column-name line,
// then one record per line. Lines may end in CR LF or LF.
#ifndef QUIRE_TABLE_CSV_CSV_PREVIOUS_READER_H_
#define QUIRE_TABLE_CSV_CSV_PREVIOUS_READER_H_

#include <memory>
#include <string_view>

#include "table/previous_table.h"

namespace quire::table {

class CsvPreviousReader final : public PreviousTableReader {
 public:
  explicit CsvPreviousReader(std::unique_ptr<PreviousInput> input) : PreviousTableReader(std::move(input)) {}

  HeaderResult read_header(int notation) override;

 protected:
  LoadResult load_record() override;

 private:
  enum LineResult {
    kLine,      // a line, ended by its line end
    kNoLine,    // the end of the file (or a read failure) after the last line
    kTooLong,   // the line exceeds kMaxRecordBytes
    kCutShort,  // bytes at the end of the file without a line end
  };
  // The next record's line without its line end, and the commas in it
  // outside quoted values; a quoted value may hold line ends of its own (it
  // runs on to its closing quote).
  LineResult next_line(std::string_view* line, int* commas);
  // Splits a text line into values (the one place that unquotes CSV);
  // false when there are too many.
  bool split_line(std::string_view line);

  // The bytes of the last split line's first value with its delimiter; 0
  // when the line end ended it.
  size_t key_field_length_ = 0;
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_CSV_CSV_PREVIOUS_READER_H_
