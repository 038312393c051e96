// The table layouts of this system: the writer chosen by the output path,
// the previous-table reader by the first byte of the file.
#include "table/csv/csv_previous_reader.h"
#include "table/csv/csv_table_writer.h"
#include "table/dbf/dbf_previous_reader.h"
#include "table/dbf/dbf_table_writer.h"
#include "table/previous_table.h"
#include "table/table_writer.h"

namespace quire::table {

std::unique_ptr<TableWriter> make_table_writer(std::string_view path, TableOutput& out) {
  if (is_dbase_path(path)) return std::make_unique<DbfTableWriter>(out);
  return std::make_unique<CsvTableWriter>(out);
}

std::unique_ptr<PreviousTableReader> open_previous_table(platform::FileEnv& env, const std::string& path,
                                                         quire::Status* read_failure) {
  auto input = std::make_unique<PreviousInput>(env);
  if (!input->open(path)) {
    const quire::Status& s = input->status();
    if (!s.ok()) read_failure->update(s);
    return nullptr;
  }
  if (input->fill(1) && DbfPreviousReader::starts_table(input->data()[0]))
    return std::make_unique<DbfPreviousReader>(std::move(input));
  return std::make_unique<CsvPreviousReader>(std::move(input));
}

}  // namespace quire::table
