#include "table/run_record.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "table/check_value.h"
#include "table/table_format.h"

namespace quire::table {

namespace {

constexpr char kFirstLine[] = "quire run record 1";
constexpr char kSuffix[] = ".quire-run";
constexpr char kHex[] = "0123456789ABCDEF";

bool escaped(unsigned char c) { return c <= ' ' || c == '%' || c >= 0x7F; }

void append_escaped(std::string* out, std::string_view text) {
  for (unsigned char c : text) {
    if (escaped(c)) {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 0xF]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text of an escaped word; false when it is not written the way
// append_escaped writes.
bool unescape(std::string_view word, std::string* out) {
  out->clear();
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c != '%') {
      if (escaped(static_cast<unsigned char>(c))) return false;
      out->push_back(c);
      continue;
    }
    if (i + 2 >= word.size()) return false;
    int high = hex_digit(word[i + 1]);
    int low = hex_digit(word[i + 2]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high << 4 | low));
    i += 2;
  }
  return true;
}

void append_number(std::string* out, uint64_t value) {
  char text[24];
  auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

void append_check(std::string* out, uint32_t check) {
  for (int shift = 28; shift >= 0; shift -= 4) out->push_back(kHex[(check >> shift) & 0xF]);
}

// Splits the next word (up to a blank or the end) off line.
std::string_view next_word(std::string_view* line) {
  size_t blank = line->find(' ');
  std::string_view word = line->substr(0, blank);
  *line = blank == std::string_view::npos ? std::string_view() : line->substr(blank + 1);
  return word;
}

bool read_number(std::string_view word, uint64_t* value) {
  if (word.empty() || word.size() > 20) return false;
  auto r = std::from_chars(word.data(), word.data() + word.size(), *value);
  return r.ec == std::errc() && r.ptr == word.data() + word.size();
}

bool read_check(std::string_view word, uint32_t* check) {
  if (word.size() != 8) return false;
  uint32_t value = 0;
  for (char c : word) {
    int d = hex_digit(c);
    if (d < 0) return false;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  *check = value;
  return true;
}

// "WORD TEXT" with TEXT escaped: the text, or false.
bool read_text_line(std::string_view line, const char* word, std::string* text) {
  std::string_view rest = line;
  if (next_word(&rest) != word || rest.find(' ') != std::string_view::npos) return false;
  return unescape(rest, text);
}

}  // namespace

std::string run_record_path(const std::string& table_path) {
  const size_t name = file_name_start(table_path);
  return table_path.substr(0, name) + "." + table_path.substr(name) + kSuffix;
}

// ---- ColumnSetCheck ----------------------------------------------------------

void ColumnSetCheck::add(std::string_view name, char type, int width, int decimals) {
  std::string entry(name);
  entry.push_back('\0');
  entry.push_back(type);
  append_number(&entry, static_cast<uint64_t>(width));
  entry.push_back('.');
  append_number(&entry, static_cast<uint64_t>(decimals));
  entry.push_back('\0');
  check_ = extend_check(check_, entry.data(), entry.size());
  ++count_;
}

std::string ColumnSetCheck::text() const {
  std::string text;
  append_number(&text, static_cast<uint64_t>(count_));
  text.push_back(' ');
  append_check(&text, check_);
  return text;
}

// ---- RunRecordReader ---------------------------------------------------------

RunRecordReader::RunRecordReader(platform::FileEnv& env) : file_(env) {}
RunRecordReader::~RunRecordReader() = default;

void RunRecordReader::close() {
  file_.close();
  begin_ = end_ = 0;
  next_read_ = 0;
  damaged_ = false;
}

bool RunRecordReader::read_line(std::string_view* line) {
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    if (lf != nullptr) {
      size_t length = static_cast<size_t>(static_cast<const char*>(lf) - start);
      *line = std::string_view(start, length);
      begin_ += length + 1;
      return true;
    }
    if (end_ - begin_ >= kMaxLine || next_read_ >= file_.size()) return false;
    std::memmove(buffer_.get(), start, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    long got = file_.read_at(next_read_, buffer_.get() + end_, kBlock - end_);
    if (got <= 0) return false;
    end_ += static_cast<size_t>(got);
    next_read_ += static_cast<uint64_t>(got);
  }
}

bool RunRecordReader::open(const std::string& path) {
  close();
  head_ = RunRecordHead();
  table_size_ = item_count_ = 0;
  record_check_ = 0;
  if (!file_.open(path)) return false;
  // A record that somebody who cannot write the table could have written
  // is no record: its rows would be copied into the table unread. The table
  // is then read row by row.
  const size_t name = file_name_start(path);
  const size_t suffix = sizeof kSuffix - 1;
  if (path.size() < name + 1 + suffix || path[name] != '.' ||
      !file_.trusted_as(path.substr(0, name) + path.substr(name + 1, path.size() - name - 1 - suffix))) {
    close();
    return false;
  }
  if (!buffer_) buffer_.reset(new char[kBlock]);
  const uint64_t size = file_.size();
  // The end line: the last line of the file.
  char tail[128];
  const size_t tail_size = static_cast<size_t>(std::min<uint64_t>(size, sizeof tail));
  if (tail_size < 2 || file_.read_at(size - tail_size, tail, tail_size) != static_cast<long>(tail_size) ||
      tail[tail_size - 1] != '\n') {
    close();
    return false;
  }
  std::string_view last(tail, tail_size - 1);
  const size_t lf = last.rfind('\n');
  if (lf == std::string_view::npos) {
    close();
    return false;
  }
  last.remove_prefix(lf + 1);
  items_end_ = size - 1 - last.size();
  uint64_t items = 0;
  uint32_t check = 0;
  std::string_view rest = last;
  bool ok = next_word(&rest) == "end" && read_number(next_word(&rest), &items) &&
            read_number(next_word(&rest), &table_size_) && read_check(next_word(&rest), &check) && rest.empty();
  // Every byte before the end line must give its check value.
  uint32_t computed = 0;
  for (uint64_t at = 0; ok && at < items_end_;) {
    long got = file_.read_at(at, buffer_.get(), static_cast<size_t>(std::min<uint64_t>(kBlock, items_end_ - at)));
    if (got <= 0) {
      ok = false;
      break;
    }
    computed = extend_check(computed, buffer_.get(), static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
  }
  ok = ok && computed == check;
  item_count_ = items;
  record_check_ = check;
  std::string_view line;
  std::string format;
  ok = ok && read_line(&line) && line == kFirstLine && read_line(&line) &&
       read_text_line(line, "kind", &head_.kind) && read_line(&line) && read_text_line(line, "area", &head_.area) &&
       read_line(&line) && read_text_line(line, "format", &head_.format) && read_line(&line) &&
       read_text_line(line, "notation", &head_.notation) && read_line(&line) && line.substr(0, 8) == "columns ";
  if (!ok) {
    close();
    return false;
  }
  head_.columns = std::string(line.substr(8));
  return true;
}

bool RunRecordReader::next(RunRecordItem* item) {
  if (!file_.is_open() || damaged_) return false;
  if (next_read_ - (end_ - begin_) >= items_end_) return false;  // the end line is next
  std::string_view line;
  std::string_view rest;
  bool ok = read_line(&line);
  rest = line;
  ok = ok && next_word(&rest) == "item" && read_number(next_word(&rest), &item->offset) &&
       read_number(next_word(&rest), &item->bytes) && read_number(next_word(&rest), &item->rows) &&
       read_check(next_word(&rest), &item->check) && unescape(next_word(&rest), &item->stamp) &&
       unescape(next_word(&rest), &item->name) && rest.empty() && !item->name.empty();
  if (!ok) damaged_ = true;
  return ok;
}

// ---- RunRecordWriter ---------------------------------------------------------

bool RunRecordWriter::begin(const std::string& table_path, const char* prefix, const RunRecordHead& head,
                            quire::Status* status) {
  abandon();
  if (!replacement_.begin(table_path, prefix, status)) return false;
  replacement_.set_target(run_record_path(table_path));
  // The record's owner and mode are its table's (taken at finish, while the
  // table it describes, or the one it replaces, stands at its path), never
  // those of a file another user put at the record's name. Hidden where
  // its name does not hide it.
  replacement_.set_attributes_from(table_path);
  if (!replacement_.file().hide()) {
    status->update(replacement_.file().status());
    replacement_.abandon();
    return false;
  }
  pending_.assign(kFirstLine);
  const std::pair<const char*, const std::string*> texts[] = {
      {"kind", &head.kind}, {"area", &head.area}, {"format", &head.format}, {"notation", &head.notation}};
  for (const auto& [word, text] : texts) {
    pending_ += '\n';
    pending_ += word;
    pending_ += ' ';
    append_escaped(&pending_, *text);
  }
  pending_ += "\ncolumns ";
  pending_ += head.columns;
  pending_ += '\n';
  return true;
}

void RunRecordWriter::add(const RunRecordItem& item) {
  if (!is_active()) return;
  pending_ += "item ";
  for (uint64_t number : {item.offset, item.bytes, item.rows}) {
    append_number(&pending_, number);
    pending_ += ' ';
  }
  append_check(&pending_, item.check);
  pending_ += ' ';
  append_escaped(&pending_, item.stamp);
  pending_ += ' ';
  append_escaped(&pending_, item.name);
  pending_ += '\n';
  ++items_;
  if (pending_.size() >= kPendingLimit) write_pending();
}

void RunRecordWriter::write_pending() {
  check_ = extend_check(check_, pending_.data(), pending_.size());
  // A failure is kept by the file and reported by finish.
  replacement_.file().append(pending_.data(), pending_.size());
  pending_.clear();
}

bool RunRecordWriter::same_as(const RunRecordReader& old, uint64_t table_size) {
  // A write that failed on the way fails the run whatever the record says.
  return is_active() && replacement_.file().status().ok() && items_ == old.item_count() &&
         table_size == old.table_size() && extend_check(check_, pending_.data(), pending_.size()) == old.record_check();
}

bool RunRecordWriter::finish(uint64_t table_size, quire::Status* status) {
  write_pending();
  pending_ = "end ";
  append_number(&pending_, items_);
  pending_ += ' ';
  append_number(&pending_, table_size);
  pending_ += ' ';
  append_check(&pending_, check_);
  pending_ += '\n';
  replacement_.file().append(pending_.data(), pending_.size());
  pending_.clear();
  return replacement_.finish(status);
}

bool RunRecordWriter::put_in_place(quire::Status* status) { return replacement_.put_in_place(status); }

void RunRecordWriter::abandon() {
  replacement_.abandon();
  pending_.clear();
  check_ = 0;
  items_ = 0;
}

// ---- TableBytes --------------------------------------------------------------

bool TableBytes::open(const std::string& path) {
  close();
  return file_.open(path);
}

void TableBytes::close() {
  view_.unmap();
  file_.close();
  status_ = quire::Status();
  viewing_ = true;
  view_data_ = nullptr;
  view_offset_ = 0;
  view_size_ = 0;
}

const quire::Status& TableBytes::status() {
  platform::note_read_failure(file_, view_, &status_);
  return status_;
}

const char* TableBytes::bytes(uint64_t offset, size_t size) {
  if (offset > file_.size() || file_.size() - offset < size) return nullptr;
  if (view_data_ != nullptr && offset >= view_offset_ && offset - view_offset_ + size <= view_size_)
    return view_data_ + (offset - view_offset_);
  if (viewing_) {
    const uint64_t start = offset & ~(uint64_t{platform::FileView::page_size()} - 1);
    const uint64_t wanted = std::max<uint64_t>(kViewSize, offset + size - start);
    const size_t length = static_cast<size_t>(std::min<uint64_t>(wanted, file_.size() - start));
    if (length > 0) {
      const char* view = view_.map(file_, start, length);
      if (view != nullptr) {
        view_data_ = view;
        view_offset_ = start;
        view_size_ = length;
        return view_data_ + (offset - start);
      }
    }
    viewing_ = false;  // read from here on
    view_data_ = nullptr;
  }
  buffer_.resize(std::max(size, size_t{256 * 1024}));
  const size_t length = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), file_.size() - offset));
  size_t got = 0;
  while (got < length) {
    long n = file_.read_at(offset + got, buffer_.data() + got, length - got);
    if (n <= 0) {
      if (n == 0) status_.fail(EIO, "read", file_.path());
      return nullptr;
    }
    got += static_cast<size_t>(n);
  }
  view_data_ = buffer_.data();
  view_offset_ = offset;
  view_size_ = length;
  return view_data_;
}

}  // namespace quire::table
