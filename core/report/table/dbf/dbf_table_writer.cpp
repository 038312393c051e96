#include "table/dbf/dbf_table_writer.h"

#include <cstring>
#include <ctime>

#include "platform/local_time.h"
#include "quire/records.h"
#include "table/dbf/dbf_previous_reader.h"
#include "table/table_figures.h"

namespace quire::table {

void DbfTableWriter::store_header(bool in_progress) {
  records::store_u32(header_ + kDbfRecordCount, record_count_);
  records::store_u16(header_ + kDbfHeaderLength, header_length_);
  records::store_u16(header_ + kDbfRecordLength, record_length_);
  header_[kDbfInProgress] = in_progress ? 1 : 0;
}

void DbfTableWriter::begin() {
  std::memset(header_, 0, sizeof header_);
  platform::CalendarTime today;
  header_[0] = kDbfVersion;
  if (platform::local_calendar_time(static_cast<int64_t>(std::time(nullptr)), &today)) {
    // The year is counted from 1900.
    header_[kDbfYear] = static_cast<unsigned char>((today.year - 1900) & 0xFF);
    header_[kDbfMonth] = static_cast<unsigned char>(today.month);
    header_[kDbfDay] = static_cast<unsigned char>(today.day);
  }
  header_[kDbfLanguageDriverOffset] = kDbfLanguageDriver;
  store_header(true);
  out_.write(header_, sizeof header_);
}

void DbfTableWriter::add_column(const FieldSpec& field, const char* name) {
  unsigned char descriptor[kDbfDescriptorSize] = {};
  std::string dbase_name = dbase_column_name(name, &names_);
  std::memcpy(descriptor + kDbfFieldName, dbase_name.data(), dbase_name.size());
  descriptor[kDbfFieldType] = static_cast<unsigned char>(field.type == 'F' ? 'N' : field.type);
  descriptor[kDbfFieldWidth] = static_cast<unsigned char>(field.width);
  descriptor[kDbfFieldDecimals] = static_cast<unsigned char>(field.type == 'F' ? field.decimals : 0);
  header_length_ = static_cast<uint16_t>(header_length_ + kDbfDescriptorSize);
  record_length_ = static_cast<uint16_t>(record_length_ + field.width);
  widths_.push_back(field.width);
  out_.write(descriptor, sizeof descriptor);
}

void DbfTableWriter::end_columns() { out_.put(static_cast<char>(kDbfHeaderTerminator)); }

// The whole record is reserved and blanked here, at once: a record is far
// smaller than the output's buffer, so each value's reserve below finds its
// room already blank, in place, and the value only copies its own bytes.
void DbfTableWriter::start_record() {
  ++record_count_;
  char* p = out_.reserve(record_length_);
  std::memset(p, ' ', record_length_);
  out_.commit(1);  // the deletion flag: a blank
  column_ = 0;
}

void DbfTableWriter::put_text(const FieldSpec& field, const char* text, size_t length, bool) {
  size_t w = static_cast<size_t>(field.width);
  char* p = out_.reserve(w);
  if (length > w) {
    length = w;
    note_value_cut(column_);
  }
  std::memcpy(p, text, length);
  out_.commit(w);
  ++column_;
}

// A number right-aligned in its width; one that does not fit, or no value,
// gives blanks, which dBASE readers take as an empty value.
void DbfTableWriter::put_number(const FieldSpec& field, const char* text, size_t length, bool) {
  size_t w = static_cast<size_t>(field.width);
  char* p = out_.reserve(w);
  if (length > w)
    note_value_cut(column_);
  else
    std::memcpy(p + (w - length), text, length);
  out_.commit(w);
  ++column_;
}

bool DbfTableWriter::copies_as_is(const PreviousTableReader& previous) const {
  const auto* dbase = dynamic_cast<const DbfPreviousReader*>(&previous);
  if (dbase == nullptr || dbase->record_length() != record_length_ ||
      dbase->column_count() != static_cast<int>(widths_.size()))
    return false;
  for (size_t i = 0; i < widths_.size(); ++i)
    if (dbase->column_width(static_cast<int>(i)) != widths_[i]) return false;
  return true;
}

void DbfTableWriter::copy_record(const PreviousTableReader& previous) {
  std::string_view raw = previous.raw();
  ++record_count_;
  out_.write_from_source(raw.data(), raw.size(), previous.raw_offset());
}

void DbfTableWriter::finish() {
  out_.put(static_cast<char>(kDbfEndOfFile));
  store_header(false);
  out_.write_at(0, header_, sizeof header_);
}

}  // namespace quire::table
