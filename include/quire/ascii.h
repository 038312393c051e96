// Locale-independent character helpers: ASCII case folding and decimal
// integer scanning, the one place every module takes them from.
#ifndef QUIRE_ASCII_H_
#define QUIRE_ASCII_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quire::ascii {

// c with A-Z folded to a-z (to_lower) or a-z to A-Z (to_upper); every other
// byte, including those beyond ASCII, is returned unchanged whatever the
// locale.
constexpr char to_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The result of scan_integer.
struct ScannedInteger {
  std::size_t length = 0;     // characters read; 0 when there is no integer
  int64_t value = 0;          // held at the 64-bit range when beyond it
  bool out_of_range = false;  // the digits went beyond the 64-bit range
};

// Reads a decimal integer at the start of text: an optional sign and at
// least one digit (no white space; callers skip their own). Reading stops
// at the first character that is not a digit.
constexpr ScannedInteger scan_integer(std::string_view text) {
  ScannedInteger r;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::size_t digits = i;
  // Accumulated as a negative number, whose range holds the largest
  // magnitude.
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (r.out_of_range) continue;
    if (value < (INT64_MIN + digit) / 10) {
      r.out_of_range = true;
    } else {
      value = value * 10 - digit;
    }
  }
  if (i == digits) return ScannedInteger{};
  r.length = i;
  if (r.out_of_range) {
    r.value = negative ? INT64_MIN : INT64_MAX;
  } else if (negative) {
    r.value = value;
  } else if (value == INT64_MIN) {
    r.value = INT64_MAX;
    r.out_of_range = true;
  } else {
    r.value = -value;
  }
  return r;
}

}  // namespace quire::ascii

#endif  // QUIRE_ASCII_H_
