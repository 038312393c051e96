#include "table/previous_table.h"

#include <cstring>

#include "text/ascii.h"

namespace quire::table {

namespace {

// The file is read in blocks of this size; the buffer has room for one
// block plus one unfinished record carried over from the block before.
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kBufferSize = kReadBlock + 2 * (kMaxRecordBytes + 1);

// True when the first name.size() characters of wanted equal name, ignoring
// case (so an empty name matches everything).
bool name_matches(const std::string& name, const char* wanted) {
  size_t wanted_length = std::strlen(wanted);
  if (wanted_length < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (ascii::to_lower(name[i]) != ascii::to_lower(wanted[i])) return false;
  return true;
}

}  // namespace

// ---- PreviousInput ----------------------------------------------------------

PreviousInput::PreviousInput() : buffer_(new char[kBufferSize]) {}

bool PreviousInput::open(const std::string& path) {
  ended_ = false;
  begin_ = end_ = 0;
  buffer_offset_ = 0;
  return file_.open(path);
}

bool PreviousInput::fill(size_t n) {
  while (end_ - begin_ < n) {
    if (ended_ || !file_.is_open()) return false;
    if (begin_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
      buffer_offset_ += begin_;
      end_ -= begin_;
      begin_ = 0;
    }
    long got = file_.read(buffer_.get() + end_, kBufferSize - end_);
    if (got <= 0) {
      // A read failure ends the file as well; status() keeps it.
      ended_ = true;
      return false;
    }
    end_ += static_cast<size_t>(got);
  }
  return true;
}

// ---- PreviousTableReader ----------------------------------------------------

PreviousTableReader::PreviousTableReader(std::unique_ptr<PreviousInput> input) : input_(std::move(input)) {}
PreviousTableReader::~PreviousTableReader() = default;

void PreviousTableReader::drop() {
  input_->close();
  clear_record();
}

void PreviousTableReader::clear_record() {
  raw_ = {};
  raw_end_ = 0;
  clear_values();
  key_ = "";
  stamp_ = "";
}

void PreviousTableReader::add_value(const char* data, size_t length, bool trim_quotes) {
  auto trimmed = [trim_quotes](char c) { return c == ' ' || (trim_quotes && c == '"'); };
  while (length > 0 && trimmed(data[0])) {
    ++data;
    --length;
  }
  while (length > 0 && trimmed(data[length - 1])) --length;
  char* out = value_space();
  if (length > 0 && out != data) std::memmove(out, data, length);
  out[length] = '\0';
  values_[static_cast<size_t>(value_count_)] = out;
  value_lengths_[static_cast<size_t>(value_count_)] = length;
  ++value_count_;
  value_text_used_ += length + 1;
}

bool PreviousTableReader::find_columns(const char* key_column, const char* time_column) {
  key_index_ = time_index_ = -1;
  for (int i = 0; i < column_count(); ++i) {
    if (name_matches(names_[static_cast<size_t>(i)], key_column)) key_index_ = i;
    if (name_matches(names_[static_cast<size_t>(i)], time_column)) time_index_ = i;
  }
  if (column_count() == 0 || key_index_ < 0 || time_index_ < 0) {
    drop();
    return false;
  }
  return true;
}

void PreviousTableReader::read_record() {
  if (!input_->is_open() || at_end_) return;
  clear_record();
  switch (load_record()) {
    case kLoaded:
      break;
    case kEnd:
      at_end_ = true;
      return;
    case kDrop:
      drop();
      return;
  }
  if (key_index_ >= 0 && time_index_ >= 0 && key_index_ < value_count_ && time_index_ < value_count_) {
    key_ = value(key_index_);
    stamp_ = value(time_index_);
  }
}

}  // namespace quire::table
