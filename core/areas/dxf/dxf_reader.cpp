// Group-level DXF reading: ASCII (pairs of lines, LF or CR LF, padded codes)
// and binary (one-byte codes before R13, two-byte codes from R13 on).
#include "dxf_reader.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "../failures.h"
#include "quoted_text.h"

namespace quire::areas::dxf {

namespace {

constexpr size_t kBufferBytes = 256 * 1024;

// Little-endian values of a binary file, whatever the host's byte order.
uint64_t load_le(const char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
// A two's-complement integer of bytes (2, 4 or 8) bytes, sign extended.
int64_t load_le_signed(const char* p, int bytes) {
  const int unused = 64 - 8 * bytes;
  return static_cast<int64_t>(load_le(p, bytes) << unused) >> unused;
}
double load_le_f64(const char* p) { return std::bit_cast<double>(load_le(p, 8)); }

bool in(int code, int lo, int hi) { return code >= lo && code <= hi; }

// A value of the file as error messages quote it.
std::string shown(std::string_view s) { return quoted_text(s, TextEncoding::kLatin1); }

}  // namespace

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool value_type(int code, ValueType* type) {
  using T = ValueType;
  T t;
  if (code == 1004 || in(code, 310, 319)) t = T::kChunk;
  else if (in(code, 0, 9) || in(code, 100, 102) || code == 105 || in(code, 300, 309) || in(code, 320, 369) ||
           in(code, 390, 399) || in(code, 410, 419) || in(code, 430, 439) || in(code, 470, 481) ||
           in(code, 999, 1009))
    t = T::kText;
  else if (in(code, 10, 59) || in(code, 110, 149) || in(code, 210, 239) || in(code, 460, 469) ||
           in(code, 1010, 1059))
    t = T::kReal;
  else if (in(code, 60, 79) || in(code, 170, 179) || in(code, 270, 289) || in(code, 370, 389) ||
           in(code, 400, 409) || in(code, 1060, 1070))
    t = T::kInt16;
  else if (in(code, 90, 99) || in(code, 420, 429) || in(code, 440, 459) || code == 1071)
    t = T::kInt32;
  else if (in(code, 160, 169))
    t = T::kInt64;
  else if (in(code, 290, 299))
    t = T::kBool;
  else
    return false;
  *type = t;
  return true;
}

bool parse_real(std::string_view text, double* out) {
  text = trim_blanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || text.front() == 'i' || text.front() == 'I' || text.front() == 'n' ||
      text.front() == 'N')
    return false;
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool parse_integer(std::string_view text, int64_t* out) {
  text = trim_blanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  int64_t v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  *out = v;
  return true;
}

Reader::Reader(const char* data, size_t size) : data_(data), end_(size), file_done_(true) {}

Reader::Reader(std::unique_ptr<quire::platform::ReadableFile> file)
    : file_(std::move(file)), storage_(kBufferBytes) {
  data_ = storage_.data();
}

Reader::~Reader() = default;

std::string Reader::where() const {
  return binary_ ? "byte " + std::to_string(group_byte_) : "line " + std::to_string(group_line_);
}

bool Reader::fail(const std::string& message) { return fail_at(where(), message); }

bool Reader::fail_at(const std::string& at, const std::string& message, int error) {
  if (status_.ok())
    status_ = error != 0 ? file_failure(error, at + ": " + message, at)
                         : quire::Status::failure(quire::StatusCode::kInvalid, at + ": " + message, at);
  return false;
}

// Makes at least n bytes available from pos_ when the input still has them.
bool Reader::ensure(size_t n) {
  if (end_ - pos_ >= n) return true;
  if (file_done_) return false;
  size_t left = end_ - pos_;
  std::memmove(storage_.data(), storage_.data() + pos_, left);
  base_ += pos_;
  pos_ = 0;
  end_ = left;
  while (end_ < n && !file_done_) {
    const long got = file_->read_at(base_ + end_, storage_.data() + end_, storage_.size() - end_);
    if (got > 0) {
      end_ += static_cast<size_t>(got);
    } else {
      file_done_ = true;
      if (got < 0) {
        const int e = file_->status().error() ? file_->status().error() : EIO;
        fail_at("byte " + std::to_string(base_ + end_), std::string("cannot read: ") + std::strerror(e), e);
      }
    }
  }
  return end_ - pos_ >= n;
}

void Reader::start() {
  started_ = true;
  ensure(kBinarySentinel.size() + 3);
  std::string_view head(data_ + pos_, end_ - pos_);
  if (head.substr(0, kBinarySentinel.size()) == kBinarySentinel) {
    binary_ = true;
    pos_ += kBinarySentinel.size();
    // The first group is 0 SECTION: its code is 00 'S' with one-byte codes
    // and 00 00 'S' with two-byte codes.
    head.remove_prefix(kBinarySentinel.size());
    wide_codes_ = head.size() >= 2 && head[0] == 0 && head[1] == 0;
  }
}

bool Reader::next(Group* group) {
  if (!status_.ok()) return false;
  if (!started_) start();
  return binary_ ? next_binary(group) : next_ascii(group);
}

// One line without its LF (and CR). False at the end of the input (error()
// empty) or on a line over the limit or a read error.
bool Reader::read_line(std::string_view* line) {
  size_t scanned = 0, len = 0;
  bool newline = false;
  for (;;) {
    const void* nl = std::memchr(data_ + pos_ + scanned, '\n', end_ - pos_ - scanned);
    if (nl) {
      len = static_cast<size_t>(static_cast<const char*>(nl) - (data_ + pos_));
      newline = true;
      break;
    }
    scanned = end_ - pos_;
    if (scanned > kMaxLineBytes + 1) break;
    if (!ensure(scanned + 1)) {
      if (!status_.ok() || scanned == 0) return false;
      len = scanned;  // a last line without LF
      break;
    }
  }
  ++line_;
  auto too_long = [&] {
    return fail_at("line " + std::to_string(line_), "longer than " + std::to_string(kMaxLineBytes) + " bytes");
  };
  if (len > kMaxLineBytes + 1 || (!newline && len == 0)) return too_long();
  *line = std::string_view(data_ + pos_, len);
  pos_ += len + (newline ? 1 : 0);
  if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
  if (line->size() > kMaxLineBytes) return too_long();
  return true;
}

bool Reader::next_ascii(Group* group) {
  std::string_view code_line, value;
  *group = Group();
  group_line_ = line_ + 1;
  if (!read_line(&code_line)) return false;
  int64_t code = 0;
  if (!parse_integer(code_line, &code)) return fail("expected a group code, got " + shown(code_line));
  // A code outside the defined ranges is read as text in an ASCII file (some
  // exporters write their own); the value line still has to be there.
  if (code < 0 || code > 1071) return fail("group code " + std::to_string(code) + " is not a DXF group code");
  if (!value_type(static_cast<int>(code), &group->type)) group->type = ValueType::kText;
  group->code = static_cast<int>(code);
  if (!read_line(&value)) {
    if (!status_.ok()) return false;
    return fail("group code " + std::to_string(code) + " has no value (the file is cut short)");
  }
  group->text = value;
  switch (group->type) {
    case ValueType::kText:
    case ValueType::kChunk:
      return true;
    case ValueType::kReal:
      if (!parse_real(value, &group->real))
        return fail("group " + std::to_string(code) + ": expected a number, got " + shown(value));
      return true;
    default: {
      int64_t lo = INT64_MIN, hi = INT64_MAX;
      if (group->type == ValueType::kInt16) lo = INT16_MIN, hi = INT16_MAX;
      else if (group->type == ValueType::kInt32) lo = INT32_MIN, hi = INT32_MAX;
      else if (group->type == ValueType::kBool) lo = 0, hi = 255;
      // Some exporters write integers as reals ("0.000000"): taken when whole.
      double whole = 0;
      bool ok = parse_integer(value, &group->integer) ||
                (parse_real(value, &whole) && whole == std::trunc(whole) && std::fabs(whole) < 9.2e18 &&
                 (group->integer = static_cast<int64_t>(whole), true));
      if (!ok || group->integer < lo || group->integer > hi)
        return fail("group " + std::to_string(code) + ": expected an integer in " + std::to_string(lo) + ".." +
                    std::to_string(hi) + ", got " + shown(value));
      return true;
    }
  }
}

// A NUL-terminated text of a binary file, without its NUL.
bool Reader::read_cstring(std::string_view* text) {
  size_t scanned = 0;
  for (;;) {
    const void* nul = std::memchr(data_ + pos_ + scanned, 0, end_ - pos_ - scanned);
    if (nul) {
      size_t len = static_cast<size_t>(static_cast<const char*>(nul) - (data_ + pos_));
      if (len > kMaxLineBytes) break;
      *text = std::string_view(data_ + pos_, len);
      pos_ += len + 1;
      return true;
    }
    scanned = end_ - pos_;
    if (scanned > kMaxLineBytes) break;
    if (!ensure(scanned + 1)) return status_.ok() ? fail("text without its end (the file is cut short)") : false;
  }
  return fail("text longer than " + std::to_string(kMaxLineBytes) + " bytes");
}

bool Reader::next_binary(Group* group) {
  *group = Group();
  group_byte_ = base_ + pos_;
  if (!ensure(1)) return false;  // the end, or a read error already recorded
  int code;
  size_t code_bytes = wide_codes_ ? 2 : 1;
  if (!ensure(code_bytes)) return fail("group code cut short");
  if (wide_codes_) {
    code = static_cast<uint16_t>(load_le(data_ + pos_, 2));
    pos_ += 2;
  } else {
    code = static_cast<unsigned char>(data_[pos_]);
    pos_ += 1;
    if (code == 255) {
      if (!ensure(2)) return fail("group code cut short");
      code = static_cast<uint16_t>(load_le(data_ + pos_, 2));
      pos_ += 2;
    }
  }
  if (code > 1071 || !value_type(code, &group->type))
    return fail("group code " + std::to_string(code) +
                " is not a DXF group code (the file is damaged, cut short or not DXF)");
  group->code = code;
  auto fixed = [&](size_t n) {
    if (ensure(n)) return true;
    return status_.ok() ? fail("value of group " + std::to_string(code) + " cut short") : false;
  };
  switch (group->type) {
    case ValueType::kText:
      return read_cstring(&group->text);
    case ValueType::kChunk: {
      if (!fixed(1)) return false;
      size_t n = static_cast<unsigned char>(data_[pos_]);
      if (!fixed(1 + n)) return false;
      group->text = std::string_view(data_ + pos_ + 1, n);
      pos_ += 1 + n;
      return true;
    }
    case ValueType::kReal:
      if (!fixed(8)) return false;
      group->real = load_le_f64(data_ + pos_);
      pos_ += 8;
      if (!std::isfinite(group->real)) return fail("group " + std::to_string(code) + ": not a finite number");
      return true;
    case ValueType::kInt16:
    case ValueType::kInt32:
    case ValueType::kInt64: {
      const int bytes = group->type == ValueType::kInt16 ? 2 : group->type == ValueType::kInt32 ? 4 : 8;
      if (!fixed(static_cast<size_t>(bytes))) return false;
      group->integer = load_le_signed(data_ + pos_, bytes);
      pos_ += static_cast<size_t>(bytes);
      return true;
    }
    case ValueType::kBool:
      if (!fixed(1)) return false;
      group->integer = static_cast<unsigned char>(data_[pos_]);
      pos_ += 1;
      return true;
  }
  return false;
}

}  // namespace quire::areas::dxf
