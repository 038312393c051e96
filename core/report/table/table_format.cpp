#include "table/table_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "quire/ascii.h"

namespace quire::table {

size_t file_name_start(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  if (separator == std::string_view::npos) separator = path.rfind(':');
  return separator == std::string_view::npos ? 0 : separator + 1;
}

std::string old_table_path(std::string_view path) {
  std::string result(path.substr(0, file_name_start(path)));
  result += kOldTableName;
  return result;
}

int compare_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(ascii::to_lower(*a));
    unsigned char cb = static_cast<unsigned char>(ascii::to_lower(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

size_t format_fixed(char* out, double value, int decimals) {
  decimals = std::clamp(decimals, 0, kMaxDecimals);
  if (std::isnan(value)) {
    // printf writes "nan" or "-nan"; to_chars agrees, but keep it explicit.
    const char* text = std::signbit(value) ? "-nan" : "nan";
    size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return n;
  }
  auto result = std::to_chars(out, out + kFixedTextSize, value, std::chars_format::fixed, decimals);
  return static_cast<size_t>(result.ptr - out);
}

size_t format_int(char* out, int32_t value) {
  auto result = std::to_chars(out, out + 12, value);
  return static_cast<size_t>(result.ptr - out);
}

double parse_double(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // from_chars takes no sign of its own here: a second sign is no number.
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0.0;
  double value = 0.0;
  auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (result.ec != std::errc()) return 0.0;
  return negative ? -value : value;
}

int32_t parse_int(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  // Digits beyond the 32-bit range saturate instead of wrapping; no
  // integer at all reads as 0.
  ascii::ScannedInteger n = ascii::scan_integer(text.substr(i));
  return static_cast<int32_t>(std::clamp<int64_t>(n.value, INT32_MIN, INT32_MAX));
}

}  // namespace quire::table
