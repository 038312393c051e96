#include "table/previous_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "quire/ascii.h"
#include "table/table_messages.h"

namespace quire::table {

namespace {

// The file is viewed this much at a time, or read in blocks of kReadBlock
// into a buffer with room for one block plus one unfinished record carried
// over from the block before.
constexpr size_t kViewSize = 4 * 1024 * 1024;
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kBufferSize = kReadBlock + 2 * (kMaxRecordBytes + 1);
// Item names in a message are cut to this many characters.
constexpr int kMaxNameReport = 64;

// True when the first name.size() characters of wanted equal name, ignoring
// case (so an empty name matches everything).
bool name_matches(const std::string& name, const char* wanted) {
  size_t wanted_length = std::strlen(wanted);
  if (wanted_length < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (ascii::to_lower(name[i]) != ascii::to_lower(wanted[i])) return false;
  return true;
}

// True when a and b are the same text; item names are short, and an inline
// loop beats a library call on them.
inline bool same_text(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return false;
    if (*a == '\0') return true;
  }
}

}  // namespace

// ---- PreviousInput ----------------------------------------------------------

PreviousInput::PreviousInput(platform::FileEnv& env) : file_(env) {}

bool PreviousInput::open(const std::string& path) {
  close();
  viewing_ = true;
  ended_ = false;
  status_ = quire::Status();
  return file_.open(path);
}

void PreviousInput::close() {
  view_.unmap();
  file_.close();
  base_ = nullptr;
  begin_ = end_ = 0;
  base_offset_ = 0;
}

const quire::Status& PreviousInput::status() {
  platform::note_read_failure(file_, view_, &status_);
  return status_;
}

bool PreviousInput::get_more(size_t n) {
  while (end_ - begin_ < n) {
    if (ended_ || !file_.is_open()) return false;
    if (offset() + (end_ - begin_) >= file_.size()) {
      ended_ = true;
      return false;
    }
    if (viewing_ && view_more()) continue;
    if (!read_more()) return false;
  }
  return true;
}

bool PreviousInput::view_more() {
  const uint64_t at = offset();
  const uint64_t start = at & ~(uint64_t{platform::FileView::page_size()} - 1);
  const size_t size = static_cast<size_t>(std::min<uint64_t>(kViewSize, file_.size() - start));
  const char* view = view_.map(file_, start, size);
  if (view == nullptr) {
    // Read from here on instead.
    viewing_ = false;
    base_offset_ = at;
    begin_ = end_ = 0;
    return false;
  }
  base_ = view;
  base_offset_ = start;
  begin_ = static_cast<size_t>(at - start);
  end_ = size;
  return true;
}

bool PreviousInput::read_more() {
  if (!buffer_) {
    buffer_.reset(new char[kBufferSize]);
    base_ = buffer_.get();
  }
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    base_offset_ += begin_;
    end_ -= begin_;
    begin_ = 0;
  }
  long got = file_.read_at(base_offset_ + end_, buffer_.get() + end_, kBufferSize - end_);
  if (got <= 0) {
    // A read failure ends the file as well; status() keeps it.
    ended_ = true;
    return false;
  }
  end_ += static_cast<size_t>(got);
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
  continues_item_ = false;
  clear_values();
  key_ = "";
  stamp_ = "";
  kept_key_field_.clear();
}

// Leaves out the blanks (and double quotes when trim_quotes) at both ends of
// the length bytes at data.
inline void trim_value(const char** data, size_t* length, bool trim_quotes) {
  auto trimmed = [trim_quotes](char c) { return c == ' ' || (trim_quotes && c == '"'); };
  const char* p = *data;
  size_t n = *length;
  // Fixed-width values end in long runs of blanks: eight at a time first.
  while (n >= 8 && std::memcmp(p + n - 8, "        ", 8) == 0) n -= 8;
  while (n > 0 && trimmed(p[n - 1])) --n;
  while (n > 0 && trimmed(p[0])) {
    ++p;
    --n;
  }
  *data = p;
  *length = n;
}

void PreviousTableReader::store_value(size_t slot, const char* data, size_t length, bool trim_quotes) {
  trim_value(&data, &length, trim_quotes);
  char* out = value_space();
  if (length > 0 && out != data) std::memmove(out, data, length);
  out[length] = '\0';
  values_[slot] = out;
  value_lengths_[slot] = length;
  value_text_used_ += length + 1;
}

void PreviousTableReader::add_value(const char* data, size_t length, bool trim_quotes) {
  store_value(static_cast<size_t>(value_count_), data, length, trim_quotes);
  ++value_count_;
}

void PreviousTableReader::limit_values(int n) {
  value_limit_ = n < 1 ? 1 : (n > kMaxValues ? kMaxValues : n);
  if (value_limit_ == kMaxValues) return;
  // The values set_key_and_time leaves alone stay empty.
  for (int i = 0; i < value_limit_; ++i) {
    values_[static_cast<size_t>(i)] = "";
    value_lengths_[static_cast<size_t>(i)] = 0;
  }
}

void PreviousTableReader::set_key_and_time(const char* key, size_t key_length, const char* time,
                                           size_t time_length, bool trim_quotes) {
  value_count_ = value_limit_;
  value_text_used_ = 0;
  store_value(static_cast<size_t>(key_index_), key, key_length, trim_quotes);
  store_value(static_cast<size_t>(time_index_), time, time_length, trim_quotes);
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
  raw_ = {};
  raw_end_ = 0;
  switch (load_record()) {
    case kLoaded:
      break;
    case kSameKey:
      // One more record of the item just loaded; its key and values stand.
      ++records_loaded_;
      continues_item_ = true;
      return;
    case kEnd:
      clear_record();
      at_end_ = true;
      return;
    case kDrop:
      drop();
      return;
  }
  ++records_loaded_;
  continues_item_ = false;
  key_ = "";
  stamp_ = "";
  if (key_index_ >= 0 && time_index_ >= 0 && key_index_ < value_count_ && time_index_ < value_count_) {
    key_ = value(key_index_);
    stamp_ = value(time_index_);
  }
  if (!key_in_order()) drop();
}

bool PreviousTableReader::key_in_order() {
  if (*key_ == '\0') {
    record_damaged("record %lld has no item name", records_loaded_);
    return false;
  }
  // The records of one item follow each other: most keys equal the one
  // before, which a plain comparison settles.
  continues_item_ = same_text(key_, last_key_.c_str());
  if (continues_item_) return true;
  if (!last_key_.empty()) {
    const int order = compare_item_names(key_, last_key_.c_str());
    if (order < 0) {
      record_damaged("its item names are not in the store's order (record %lld, \"%.*s\", after \"%.*s\")",
                     records_loaded_, kMaxNameReport, key_, kMaxNameReport, last_key_.c_str());
      return false;
    }
    continues_item_ = order == 0;
  }
  last_key_.assign(key_);
  return true;
}

PreviousTableReader::LoadResult PreviousTableReader::record_damaged(const char* why, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, why);
  std::vsnprintf(text, sizeof text, why, arguments);
  va_end(arguments);
  damage_ = quire::Status::failure(quire::StatusCode::kCorrupt, text);
  return kDrop;
}

}  // namespace quire::table
