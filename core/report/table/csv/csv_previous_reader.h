// A previous table in the CSV layout: the preamble line (it must carry the
// version mark and no contradicting notation word), the column-name line,
// then one record per line. Lines may end in CR LF or LF.
#ifndef QUIRE_TABLE_CSV_CSV_PREVIOUS_READER_H_
#define QUIRE_TABLE_CSV_CSV_PREVIOUS_READER_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "table/previous_table.h"

namespace quire::table {

class CsvPreviousReader final : public PreviousTableReader {
 public:
  // What the scan for line ends finds in a block of 64 bytes.
  struct ScannedBlock {
    uint64_t line_ends = 0;  // bit i: byte i is a line end outside quoted values
    int commas = 0;          // commas outside quoted values in the block
    // The commas outside quoted values before each line end, in order.
    uint8_t commas_before[64] = {};
  };

  explicit CsvPreviousReader(std::unique_ptr<PreviousInput> input) : PreviousTableReader(std::move(input)) {}

  HeaderResult read_header(int notation) override;
  const Preamble* preamble() const override { return &preamble_; }

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
  LineResult next_line(const char** line, size_t* line_length, int* commas);
  // Splits a text line into values (the one place that unquotes CSV);
  // false when there are too many.
  bool split_line(std::string_view line);

  // Scans the 64 bytes after the block scanned last (or, with none, from
  // the next line's start); false at the end of the file.
  bool scan_next_block();

  Preamble preamble_;

  // The bytes of the last split line's first value with its delimiter; 0
  // when the line end ended it.
  size_t key_field_length_ = 0;

  // The scan for line ends runs ahead of the lines handed out, a block of
  // kScanBlock bytes at a time: the block at file offset block_offset_ (of
  // which block_bytes_ are in the file) has its line ends and commas outside
  // quoted values in block_.
  static constexpr int kScanBlock = 64;
  bool block_valid_ = false;
  uint64_t block_offset_ = 0;
  size_t block_bytes_ = 0;
  ScannedBlock block_;
  int block_next_end_ = 0;  // the line end of block_ the next line ends at, if in it
  bool block_in_quotes_ = false;  // whether the byte after the block is inside a quoted value
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_CSV_CSV_PREVIOUS_READER_H_
