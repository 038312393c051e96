#include "table/previous_output.h"

#include <algorithm>
#include <cstring>

#include "quire/records.h"

namespace quire::table {

namespace {

// The file is read in blocks of this size; the buffer has room for one
// block plus one unfinished record carried over from the block before.
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kBufferSize = kReadBlock + 2 * (kMaxRecordBytes + 1);

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char to_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the first name.size() characters of wanted equal name, ignoring
// case (so an empty name matches everything).
bool name_matches(const std::string& name, const char* wanted) {
  size_t wanted_length = std::strlen(wanted);
  if (wanted_length < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (to_lower(name[i]) != to_lower(wanted[i])) return false;
  return true;
}

}  // namespace

PreviousOutput::PreviousOutput() : buffer_(new char[kBufferSize]) {}
PreviousOutput::~PreviousOutput() = default;

bool PreviousOutput::open(const std::string& path) {
  drop();
  at_end_ = false;
  file_ended_ = false;
  begin_ = end_ = 0;
  buffer_offset_ = 0;
  names_.clear();
  widths_.clear();
  value_limit_ = kMaxValues;
  record_length_ = 0;
  key_index_ = time_index_ = -1;
  format_ = kText;
  if (!file_.open(path)) return false;
  if (fill(1) && buffer_[begin_] == static_cast<char>(kDbfVersion)) format_ = kDbase;
  return true;
}

void PreviousOutput::drop() {
  file_.close();
  clear_record();
}

void PreviousOutput::clear_record() {
  raw_ = {};
  raw_end_ = 0;
  value_count_ = 0;
  value_text_used_ = 0;
  key_ = "";
  stamp_ = "";
}

bool PreviousOutput::fill(size_t n) {
  while (end_ - begin_ < n) {
    if (file_ended_ || !file_.is_open()) return false;
    if (begin_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
      buffer_offset_ += begin_;
      end_ -= begin_;
      begin_ = 0;
    }
    long got = file_.read(buffer_.get() + end_, kBufferSize - end_);
    if (got <= 0) {
      // A read error ends the file as well: what was read stays usable.
      file_ended_ = true;
      return false;
    }
    end_ += static_cast<size_t>(got);
  }
  return true;
}

bool PreviousOutput::next_line(std::string_view* line, bool* too_long) {
  *too_long = false;
  size_t searched = 0;
  for (;;) {
    const char* start = buffer_.get() + begin_;
    size_t available = end_ - begin_;
    const void* newline = std::memchr(start + searched, '\n', available - searched);
    if (newline != nullptr) {
      size_t length = static_cast<size_t>(static_cast<const char*>(newline) - start) + 1;
      if (length > kMaxRecordBytes) {
        *too_long = true;
        return false;
      }
      begin_ += length;
      length -= 1;
      if (length > 0 && start[length - 1] == '\r') length -= 1;
      *line = std::string_view(start, length);
      return true;
    }
    if (available > kMaxRecordBytes) {
      *too_long = true;
      return false;
    }
    searched = available;
    // An unterminated last line is what a cut-short write leaves: it is not
    // a record.
    if (!fill(available + 1)) return false;
  }
}

void PreviousOutput::add_value(const char* data, size_t length, bool trim_quotes) {
  auto trimmed = [trim_quotes](char c) { return c == ' ' || (trim_quotes && c == '"'); };
  while (length > 0 && trimmed(data[0])) {
    ++data;
    --length;
  }
  while (length > 0 && trimmed(data[length - 1])) --length;
  char* out = value_text_.data() + value_text_used_;
  if (length > 0 && out != data) std::memmove(out, data, length);
  out[length] = '\0';
  values_[static_cast<size_t>(value_count_)] = out;
  value_lengths_[static_cast<size_t>(value_count_)] = length;
  ++value_count_;
  value_text_used_ += length + 1;
}

// Values are separated by commas, spaces or tabs; a value that starts with
// a double quote runs to its closing quote, so that commas and blanks inside
// belong to it, and "" inside it stands for one quote. Leading and trailing
// blanks and unescaped quotes are removed. The line is read as if it still
// had its line end, so a line that ends in a comma has an empty last value.
bool PreviousOutput::split_text(std::string_view line) {
  value_count_ = 0;
  value_text_used_ = 0;
  if (line.data() == nullptr) line = std::string_view("", 0);  // no line at all
  const char* s = line.data();
  const size_t n = line.size();
  size_t i = 0;
  bool pending = true;  // the virtual line end: text remains
  while (i < n || pending) {
    if (value_count_ == value_limit_) return value_limit_ < kMaxValues;
    while (i < n && is_blank(s[i])) ++i;
    if (i < n && s[i] == '"') {
      // The usual case first: a quoted value with no quote inside and no
      // blank at its ends, closed right before a comma or the line end.
      const void* found = std::memchr(s + i + 1, '"', n - i - 1);
      if (found != nullptr) {
        size_t quote = static_cast<size_t>(static_cast<const char*>(found) - s);
        if ((quote + 1 == n || s[quote + 1] == ',') &&
            (quote == i + 1 || (s[i + 1] != ' ' && s[quote - 1] != ' '))) {
          add_value(s + i + 1, quote - i - 1, false);
          if (quote + 1 < n) {
            i = quote + 2;
          } else {
            i = n;
            pending = false;
          }
          continue;
        }
      }
      // Unescape the quoted part straight into the value store.
      char* out = value_text_.data() + value_text_used_;
      size_t length = 0;
      size_t j = i + 1;
      size_t delimiter = n;
      for (;;) {
        const void* found = std::memchr(s + j, '"', n - j);
        size_t quote = found ? static_cast<size_t>(static_cast<const char*>(found) - s) : n;
        std::memcpy(out + length, s + j, quote - j);
        length += quote - j;
        if (quote == n) break;
        if (quote + 1 < n && s[quote + 1] == '"') {
          out[length++] = '"';
          j = quote + 2;
          continue;
        }
        // The closing quote; what follows it up to the delimiter stays in
        // the value, without trailing quotes and blanks.
        delimiter = quote + 1;
        while (delimiter < n && !ends_value(s[delimiter])) ++delimiter;
        size_t tail_start = quote + 1;
        size_t tail_end = delimiter;
        while (tail_end > tail_start && (s[tail_end - 1] == '"' || s[tail_end - 1] == ' ')) --tail_end;
        if (tail_end > tail_start) {
          out[length++] = '"';
          std::memcpy(out + length, s + tail_start, tail_end - tail_start);
          length += tail_end - tail_start;
        }
        break;
      }
      // Blanks around the content go; quotes that were written doubled stay.
      size_t first = 0;
      while (first < length && out[first] == ' ') ++first;
      while (length > first && out[length - 1] == ' ') --length;
      add_value(out + first, length - first, false);
      if (delimiter < n) {
        i = delimiter + 1;
      } else {
        i = n;
        pending = false;  // the line end was the delimiter
      }
      continue;
    }
    size_t start = i;
    while (i < n && !ends_value(s[i])) ++i;
    add_value(s + start, i - start, true);
    if (i < n) {
      ++i;
    } else {
      pending = false;
    }
  }
  return true;
}

void PreviousOutput::split_dbase(std::string_view record) {
  value_count_ = 0;
  value_text_used_ = 0;
  if (record.empty() || record[0] != ' ') return;
  size_t position = 1;
  const size_t columns = std::min(widths_.size(), static_cast<size_t>(value_limit_));
  const bool key_and_time_only = value_limit_ < kMaxValues;
  for (size_t c = 0; c < columns && position < record.size(); ++c) {
    size_t width = static_cast<size_t>(widths_[c]);
    if (width > record.size() - position) width = record.size() - position;
    const bool wanted = !key_and_time_only || static_cast<int>(c) == key_index_ || static_cast<int>(c) == time_index_;
    if (!wanted) width = 0;
    // Values end in long runs of blanks: eight at a time first.
    const char* value = record.data() + position;
    while (width >= 8 && std::memcmp(value + width - 8, "        ", 8) == 0) width -= 8;
    add_value(value, width, true);
    position += static_cast<size_t>(widths_[c]);
  }
}

PreviousOutput::HeaderResult PreviousOutput::read_header(int notation) {
  if (!file_.is_open()) return kHeaderDropped;
  if (format_ == kText) {
    std::string_view first;
    bool too_long = false;
    if (!next_line(&first, &too_long)) {
      if (too_long) {
        drop();
        return kHeaderDropped;
      }
      first = {};
    }
    bool rejected = first.find("\"DB_VERSION_") == std::string_view::npos;
    if (first.find("\"METRIC\"") != std::string_view::npos && notation != 0) rejected = true;
    if (first.find("\"IMPERIAL\"") != std::string_view::npos && notation != 1) rejected = true;
    if (rejected) {
      drop();
      return kHeaderRejected;
    }
    std::string_view second;
    if (!next_line(&second, &too_long)) {
      if (too_long) {
        drop();
        return kHeaderDropped;
      }
      second = {};
    }
    if (!split_text(second)) {
      drop();
      return kHeaderDropped;
    }
    for (int i = 0; i < value_count_; ++i) names_.emplace_back(value(i), value_length(i));
    clear_record();
    return kHeaderOk;
  }

  if (!fill(kDbfHeaderSize)) {
    drop();
    return kHeaderDropped;
  }
  const unsigned char* header = reinterpret_cast<const unsigned char*>(buffer_.get() + begin_);
  int header_length = records::load_u16(header + kDbfHeaderLength);
  record_length_ = records::load_u16(header + kDbfRecordLength);
  begin_ += kDbfHeaderSize;
  int columns = header_length >= 33 ? (header_length - 33) / 32 : 0;
  if (columns > kMaxColumns || record_length_ < 1 ||
      static_cast<size_t>(record_length_ + columns) > kMaxRecordBytes) {
    drop();
    return kHeaderDropped;
  }
  for (int c = 0; c < columns; ++c) {
    if (!fill(kDbfDescriptorSize)) {
      drop();
      return kHeaderDropped;
    }
    const char* descriptor = buffer_.get() + begin_;
    size_t name_length = 0;
    while (name_length < kDbfFieldNameSize && descriptor[name_length] != '\0') ++name_length;
    int width = records::load_i8(reinterpret_cast<const unsigned char*>(descriptor) + kDbfFieldWidth);
    if (width < 0) {
      drop();
      return kHeaderDropped;
    }
    names_.emplace_back(descriptor, name_length);
    widths_.push_back(width);
    begin_ += kDbfDescriptorSize;
  }
  if (!fill(1) || buffer_[begin_] != static_cast<char>(kDbfHeaderTerminator)) {
    drop();
    return kHeaderDropped;
  }
  begin_ += 1;
  return kHeaderOk;
}

bool PreviousOutput::find_columns(const char* key_column, const char* time_column) {
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

void PreviousOutput::read_record() {
  if (!file_.is_open() || at_end_) return;
  clear_record();
  if (format_ == kText) {
    std::string_view line;
    bool too_long = false;
    if (!next_line(&line, &too_long)) {
      if (too_long) drop();
      else at_end_ = true;
      return;
    }
    if (!split_text(line)) {
      drop();
      return;
    }
    raw_ = line;
    // The line was ended: "\r\n" or "\n" follows it in the buffer.
    raw_end_ = line.data()[line.size()] == '\r' ? 2 : 1;
  } else {
    const size_t length = static_cast<size_t>(record_length_);
    for (;;) {
      if (!fill(length)) {
        drop();
        return;
      }
      std::string_view record(buffer_.get() + begin_, length);
      begin_ += length;
      if (record[0] != ' ' && record[0] != '\0') continue;  // deleted
      split_dbase(record);
      raw_ = record;
      break;
    }
  }
  if (key_index_ >= 0 && time_index_ >= 0 && key_index_ < value_count_ &&
      time_index_ < value_count_) {
    key_ = value(key_index_);
    stamp_ = value(time_index_);
  }
}

}  // namespace quire::table
