#include "table/dbf/dbf_previous_reader.h"

#include <algorithm>
#include <cstring>

#include "quire/records.h"
#include "table/dbf/dbf_layout.h"

namespace quire::table {

namespace {
// How many records ahead of the one read the cache is filled.
constexpr size_t kPrefetchRecords = 8;
}  // namespace

bool DbfPreviousReader::starts_table(char first_byte) { return first_byte == static_cast<char>(kDbfVersion); }

// A header that contradicts itself would misalign every record: such a
// table is dropped as damaged, as is one whose records end early.
PreviousTableReader::HeaderResult DbfPreviousReader::read_header(int) {
  if (!input_->is_open()) return kHeaderDropped;
  if (!input_->fill(kDbfHeaderSize)) return drop_damaged("its header is cut short");
  const unsigned char* header = reinterpret_cast<const unsigned char*>(input_->data());
  const int header_length = records::load_u16(header + kDbfHeaderLength);
  const uint64_t record_count = records::load_u32(header + kDbfRecordCount);
  record_length_ = records::load_u16(header + kDbfRecordLength);
  input_->consume(kDbfHeaderSize);
  if (header_length < 33 || (header_length - 33) % 32 != 0)
    return drop_damaged("its header length does not fit whole column descriptors");
  const int columns = (header_length - 33) / 32;
  // Beyond what the reader holds at once: read again from the store, and
  // said so.
  if (columns > kMaxColumns) return drop_damaged("it has more than 100 columns");
  if (static_cast<size_t>(record_length_ + columns) > kMaxRecordBytes)
    return drop_damaged("its records are longer than the 4095 bytes a previous table's records may have");
  int widths = 0;
  for (int c = 0; c < columns; ++c) {
    if (!input_->fill(kDbfDescriptorSize)) return drop_damaged("its header is cut short");
    const char* descriptor = input_->data();
    if (descriptor[0] == static_cast<char>(kDbfHeaderTerminator))
      return drop_damaged("its header length does not match its column descriptors");
    size_t name_length = 0;
    while (name_length < kDbfFieldNameSize && descriptor[name_length] != '\0') ++name_length;
    int width = records::load_i8(reinterpret_cast<const unsigned char*>(descriptor) + kDbfFieldWidth);
    if (width < 0) return drop_damaged("a column width is out of range");
    names_.emplace_back(descriptor, name_length);
    widths_.push_back(width);
    starts_.push_back(static_cast<size_t>(1 + widths));  // after the deletion flag
    widths += width;
    input_->consume(kDbfDescriptorSize);
  }
  if (!input_->fill(1) || input_->data()[0] != static_cast<char>(kDbfHeaderTerminator))
    return drop_damaged("its header length does not match its column descriptors");
  input_->consume(1);
  if (record_length_ != 1 + widths) return drop_damaged("its record length is not the sum of its column widths");
  if (static_cast<uint64_t>(header_length) + record_count * static_cast<uint64_t>(record_length_) > input_->size())
    return drop_damaged("its record count reaches past the end of the file");
  return kHeaderOk;
}

void DbfPreviousReader::split_record(std::string_view record) {
  clear_values();
  if (record.empty() || record[0] != ' ') return;
  if (value_limit() < kMaxValues) {
    // Copied as it is: only the key and time columns, by their offsets.
    set_key_and_time(record.data() + starts_[static_cast<size_t>(key_index_)], widths_[static_cast<size_t>(key_index_)],
                     record.data() + starts_[static_cast<size_t>(time_index_)],
                     widths_[static_cast<size_t>(time_index_)], true);
    return;
  }
  const size_t columns = widths_.size();
  for (size_t c = 0; c < columns; ++c)
    add_value(record.data() + starts_[c], static_cast<size_t>(widths_[c]), true);
}

PreviousTableReader::LoadResult DbfPreviousReader::load_record() {
  const size_t length = static_cast<size_t>(record_length_);
  for (;;) {
    // The end mark or the end of the file ends the table; part of a record
    // there is what a cut-short write leaves.
    if (!input_->fill(length)) {
      if (input_->available() == 0 || input_->data()[0] == static_cast<char>(kDbfEndOfFile) ||
          !input_->status().ok())
        return kEnd;
      return record_damaged("its last record is cut short");
    }
    std::string_view record(input_->data(), length);
    input_->consume(length);
    // Records are read one after the other, each in a few places: fetch
    // the ones ahead into the cache before they are needed.
    if (input_->available() >= kPrefetchRecords * length)
      __builtin_prefetch(input_->data() + (kPrefetchRecords - 1) * length + static_cast<size_t>(record_length_) / 2);
    if (record[0] != ' ' && record[0] != '\0') continue;  // deleted
    raw_ = record;
    if (value_limit() < kMaxValues && record[0] == ' ') {
      // Copied as it is: a record with the key bytes of the one before
      // continues its item and needs nothing more.
      const char* key = record.data() + starts_[static_cast<size_t>(key_index_)];
      const size_t width = static_cast<size_t>(widths_[static_cast<size_t>(key_index_)]);
      if (starts_with_kept_key(key, width)) return kSameKey;
      split_record(record);
      kept_key_field().assign(key, width);
      return kLoaded;
    }
    split_record(record);
    return kLoaded;
  }
}

}  // namespace quire::table
