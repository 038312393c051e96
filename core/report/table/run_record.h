// The run record: a small text file beside a table that says how the run
// that wrote the table laid it out, so that the next run at the same path
// can take an unchanged item's rows by their place and check value without
// reading them record by record, knows the items that wrote no rows, and
// never mistakes another report's table for its own.
//
// For the table NAME it is ".NAME.quire-run" in the same directory. Lines
// end in LF; texts (the kind, the area, the notation, stamps and names) are
// written with every byte at or below a blank, "%" and every byte from 0x7F
// up as "%XX" (two upper-case hexadecimal digits), so no text holds a blank:
//
//   quire run record 1
//   kind MKPC
//   area /home/cut/store/demo.sqlite   (the area file's canonical path)
//   format CSV                        (or DBASE)
//   notation METRIC
//   columns 9 5C0F13A2                (the count and the check value of the
//                                      names, types, widths and decimals)
//   item OFFSET BYTES ROWS CHECK STAMP NAME    (one per item, table order)
//   end ITEMS TABLE-BYTES CHECK
//
// An item's OFFSET is where its rows start in the table, BYTES and ROWS what
// they take (0 and 0 for an item that wrote none), CHECK the check value of
// those bytes (check_value.h) in eight hexadecimal digits, STAMP its
// modification time as hexadecimal seconds (whatever the time texts of the
// table, so that it reads the same under every time zone). The end line's
// CHECK is the check value of every byte of the file before that line: a
// record cut short or changed anywhere is not used.
#ifndef QUIRE_TABLE_RUN_RECORD_H_
#define QUIRE_TABLE_RUN_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "quire/files/file_replacement.h"
#include "quire/files/file_system.h"
#include "quire/files/file_view.h"

namespace quire::table {

// What a run record says of its table as a whole; two runs whose heads are
// equal write their items' rows as the same bytes.
struct RunRecordHead {
  std::string kind;      // the report tag of the preamble ("MKPC")
  std::string area;      // the area path of the preamble
  std::string format;    // "CSV" or "DBASE"
  std::string notation;  // the notation word of the preamble
  std::string columns;   // "COUNT CHECK" of the column set
  bool operator==(const RunRecordHead&) const = default;
};

// One item of a run record.
struct RunRecordItem {
  std::string name;
  std::string stamp;
  uint64_t offset = 0;
  uint64_t bytes = 0;
  uint64_t rows = 0;
  uint32_t check = 0;
};

// The run record's path for the table at table_path.
std::string run_record_path(const std::string& table_path);

// The "COUNT CHECK" text of a column set, from each column's name, type,
// width and decimals.
class ColumnSetCheck {
 public:
  void add(std::string_view name, char type, int width, int decimals);
  std::string text() const;

 private:
  int count_ = 0;
  uint32_t check_ = 0;
};

// A run record read from its start to its end, one item at a time.
class RunRecordReader {
 public:
  explicit RunRecordReader(platform::FileEnv& env);
  ~RunRecordReader();
  RunRecordReader(const RunRecordReader&) = delete;
  RunRecordReader& operator=(const RunRecordReader&) = delete;

  // Opens the record at path, checks it whole against its end line and
  // reads its head. False (and closed) when there is none, it cannot be
  // read, or it is not intact.
  bool open(const std::string& path);
  void close();
  bool is_open() const { return file_.is_open(); }

  const RunRecordHead& head() const { return head_; }
  // The table's size when the record was written, the number of its items
  // and the check value of the record before its end line (kept when
  // closed).
  uint64_t table_size() const { return table_size_; }
  uint64_t item_count() const { return item_count_; }
  uint32_t record_check() const { return record_check_; }

  // Reads the next item; false at the end of the items, or when a line
  // cannot be read as an item (damaged() then tells so).
  bool next(RunRecordItem* item);
  bool damaged() const { return damaged_; }

 private:
  // The next line without its LF; false at the end of the file or when
  // the line is longer than kMaxLine.
  bool read_line(std::string_view* line);

  static constexpr size_t kBlock = 64 * 1024;
  static constexpr size_t kMaxLine = 4096;

  platform::ReadableFile file_;
  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t next_read_ = 0;   // file offset of the byte after the buffer's
  uint64_t items_end_ = 0;   // file offset of the end line
  RunRecordHead head_;
  uint64_t table_size_ = 0;
  uint64_t item_count_ = 0;
  uint32_t record_check_ = 0;
  bool damaged_ = false;
};

// A run record written while its table is written, into a temporary file
// beside the table, and put in place with it.
class RunRecordWriter {
 public:
  explicit RunRecordWriter(platform::FileEnv& env) : replacement_(env) {}
  RunRecordWriter(const RunRecordWriter&) = delete;
  RunRecordWriter& operator=(const RunRecordWriter&) = delete;

  // Starts the record of the table at table_path in a temporary file of
  // our naming beside it (prefix as FileReplacement takes it) and writes
  // its head. False with status when no file can be created.
  bool begin(const std::string& table_path, const char* prefix, const RunRecordHead& head,
             quire::Status* status);
  bool is_active() const { return replacement_.is_active(); }

  // Adds the next item in table order.
  void add(const RunRecordItem& item);

  // True when the record so far, ended for a table of table_size bytes,
  // would be the one old describes, byte for byte (old still holds what it
  // read when it is closed).
  bool same_as(const RunRecordReader& old, uint64_t table_size);

  // Writes the end line and syncs the file. False with status when any
  // write or the sync failed.
  bool finish(uint64_t table_size, quire::Status* status);

  // Renames the record over run_record_path(table_path) (after finish).
  bool put_in_place(quire::Status* status);

  // Removes the temporary file unless it was put in place.
  void abandon();

 private:
  void write_pending();

  static constexpr size_t kPendingLimit = 64 * 1024;

  platform::FileReplacement replacement_;
  std::string pending_;
  uint32_t check_ = 0;
  uint64_t items_ = 0;
};

// The bytes of the previous table by their offsets, viewed in place where
// the system can map the file and read into a buffer where it cannot.
class TableBytes {
 public:
  explicit TableBytes(platform::FileEnv& env) : file_(env) {}
  TableBytes(const TableBytes&) = delete;
  TableBytes& operator=(const TableBytes&) = delete;

  // False when there is no readable regular file at path.
  bool open(const std::string& path);
  void close();
  uint64_t size() const { return file_.size(); }

  // The size bytes at offset (offset + size <= size()), valid until the
  // next call; null when they cannot be read (status() then tells why).
  const char* bytes(uint64_t offset, size_t size);
  // The first read failure; a file found shortened while viewed counts as
  // one.
  const quire::Status& status();

 private:
  static constexpr size_t kViewSize = 4 * 1024 * 1024;

  platform::ReadableFile file_;
  platform::FileView view_;
  quire::Status status_;
  bool viewing_ = true;
  const char* view_data_ = nullptr;
  uint64_t view_offset_ = 0;
  size_t view_size_ = 0;
  std::string buffer_;  // when reading
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_RUN_RECORD_H_
