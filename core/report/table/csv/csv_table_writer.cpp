#include "table/csv/csv_table_writer.h"

#include <cstring>

#include "table/csv/csv_previous_reader.h"

namespace quire::table {

void CsvTableWriter::put_quoted(const char* text, size_t length) {
  // Texts without quotes, nearly all of them, go in one piece.
  if (length <= TableOutput::kBufferSize - 2 && std::memchr(text, '"', length) == nullptr) {
    char* p = out_.reserve(length + 2);
    p[0] = '"';
    std::memcpy(p + 1, text, length);
    p[length + 1] = '"';
    out_.commit(length + 2);
    return;
  }
  out_.put('"');
  const char* end = text + length;
  for (;;) {
    const void* quote = std::memchr(text, '"', static_cast<size_t>(end - text));
    if (quote == nullptr) {
      out_.write(text, static_cast<size_t>(end - text));
      break;
    }
    const char* q = static_cast<const char*>(quote);
    out_.write(text, static_cast<size_t>(q - text) + 1);
    out_.put('"');
    text = q + 1;
  }
  out_.put('"');
}

void CsvTableWriter::end_value(bool last) {
  if (last) {
    char* p = out_.reserve(2);
    p[0] = '\r';
    p[1] = '\n';
    out_.commit(2);
  } else {
    out_.put(',');
  }
}

void CsvTableWriter::preamble_value(const char* text, bool is_last) {
  put_quoted(text, std::strlen(text));
  end_value(is_last);
}

void CsvTableWriter::add_column(const FieldSpec&, const char* name) {
  if (has_columns_) out_.put(',');
  has_columns_ = true;
  put_quoted(name, std::strlen(name));
}

void CsvTableWriter::end_columns() { end_value(true); }

void CsvTableWriter::put_text(const FieldSpec&, const char* text, size_t length, bool last) {
  put_quoted(text, length);
  end_value(last);
}

void CsvTableWriter::put_number(const FieldSpec&, const char* text, size_t length, bool last) {
  out_.write(text, length);
  end_value(last);
}

bool CsvTableWriter::copies_as_is(const PreviousTableReader& previous) const {
  return dynamic_cast<const CsvPreviousReader*>(&previous) != nullptr;
}

bool CsvTableWriter::copies_unchanged(const PreviousTableReader& previous) const {
  return previous.raw_with_end().size() == previous.raw().size() + 2;  // CR LF
}

void CsvTableWriter::copy_record(const PreviousTableReader& previous) {
  std::string_view line = previous.raw_with_end();
  if (copies_unchanged(previous)) {
    out_.write_from_source(line.data(), line.size(), previous.raw_offset());
  } else {
    // A line that ended in LF alone gets its CR LF.
    out_.write(line.data(), previous.raw().size());
    end_value(true);
  }
}

}  // namespace quire::table
