// What a table format writes: the interface between the format-neutral run
// (ReportTable) and one table layout. A writer turns the header, the column
// declarations, values already fitted to their column and copied previous
// records into the bytes of its layout.
//
// Calling order: begin; preamble_value four times; add_column per column;
// end_columns; then per record start_record and one put_text / put_number
// per column in order (last set for the last column), or copy_record for a
// whole previous record (or note_copied for records the output took from the
// old table itself); then finish.
#ifndef QUIRE_TABLE_TABLE_WRITER_H_
#define QUIRE_TABLE_TABLE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "table/report_table.h"
#include "table/table_output.h"

namespace quire::table {

class PreviousTableReader;

class TableWriter {
 public:
  virtual ~TableWriter() = default;

  // Starts the table: the file header, if the layout has one.
  virtual void begin() = 0;
  // One preamble value; is_last for the fourth.
  virtual void preamble_value(const char* text, bool is_last) = 0;
  // Declares the next column.
  virtual void add_column(const FieldSpec& field, const char* name) = 0;
  // Ends the column declarations.
  virtual void end_columns() = 0;
  // Starts a record.
  virtual void start_record() = 0;
  // A text value of the column field, length bytes without a NUL among
  // them; last for the record's last column.
  virtual void put_text(const FieldSpec& field, const char* text, size_t length, bool last) = 0;
  // A number value already formatted (length bytes; none for no value).
  virtual void put_number(const FieldSpec& field, const char* text, size_t length, bool last) = 0;
  // True when the records of previous can be copied as they are: the same
  // layout with the same columns.
  virtual bool copies_as_is(const PreviousTableReader& previous) const = 0;
  // Copies previous's current record as it is (copies_as_is holds).
  virtual void copy_record(const PreviousTableReader& previous) = 0;
  // True when copy_record would write previous's current record as the
  // very bytes it has in the old table, line end included.
  virtual bool copies_unchanged(const PreviousTableReader& previous) const = 0;
  // count records were copied unchanged without copy_record, their bytes
  // taken from the old table by the output itself.
  virtual void note_copied(int count) = 0;
  // Completes the table (the file header's final state, an end mark).
  virtual void finish() = 0;
  // The bytes at the start that finish rewrites in place.
  virtual uint64_t rewritten_prefix() const = 0;
  // The length of every record, for a layout of fixed-length records; 0
  // when records differ in length.
  virtual uint64_t record_length() const { return 0; }
};

// The writer for the output at path, writing into out: dBASE III when the
// path from its first "." on reads ".dbf" in any case, else CSV.
std::unique_ptr<TableWriter> make_table_writer(std::string_view path, TableOutput& out);

}  // namespace quire::table

#endif  // QUIRE_TABLE_TABLE_WRITER_H_
