// The CSV layout of a table: the four preamble values on the first line, the
// column names on the second, then one line per record; texts between double
// quotes with each quote inside doubled, numbers bare, values separated by
// commas, every line ended by CR LF.
#ifndef QUIRE_TABLE_CSV_CSV_TABLE_WRITER_H_
#define QUIRE_TABLE_CSV_CSV_TABLE_WRITER_H_

#include "table/table_writer.h"

namespace quire::table {

class CsvTableWriter final : public TableWriter {
 public:
  explicit CsvTableWriter(TableOutput& out) : out_(out) {}

  void begin() override {}
  void preamble_value(const char* text, bool is_last) override;
  void add_column(const FieldSpec& field, const char* name) override;
  void end_columns() override;
  void start_record() override {}
  void put_text(const FieldSpec& field, const char* text, size_t length, bool last) override;
  void put_number(const FieldSpec& field, const char* text, size_t length, bool last) override;
  bool copies_as_is(const PreviousTableReader& previous) const override;
  void copy_record(const PreviousTableReader& previous) override;
  bool copies_unchanged(const PreviousTableReader& previous) const override;
  void note_copied(int) override {}
  void finish() override {}
  uint64_t rewritten_prefix() const override { return 0; }

 private:
  // Writes text between double quotes, each quote inside written twice: the
  // one place where the layout quotes a text.
  void put_quoted(const char* text, size_t length);
  void end_value(bool last);

  TableOutput& out_;
  bool has_columns_ = false;
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_CSV_CSV_TABLE_WRITER_H_
