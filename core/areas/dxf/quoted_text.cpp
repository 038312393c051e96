#include "quoted_text.h"

#include <cstdint>
#include <cstdio>

namespace quire::areas {

namespace {

// The length of the UTF-8 sequence at the start of s, or 0 when it is not
// one (a stray byte, an overlong or cut sequence, a surrogate).
size_t utf8_sequence(std::string_view s, uint32_t* code_point) {
  unsigned char c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return *code_point = c, 1;
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? (c < 0xF0 ? 3 : 0) : c >= 0xC2 ? 2 : 0;
  if (n == 0 || s.size() < n) return 0;
  uint32_t cp = c & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    unsigned char t = static_cast<unsigned char>(s[i]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code_point = cp;
  return n;
}

void append_escaped_byte(std::string* out, unsigned char c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02x", c);
  *out += hex;
}

void append_utf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string shown(std::string_view text, TextEncoding encoding, bool in_quotes) {
  std::string out;
  size_t characters = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (characters == kShownCharacters) {
      out += "\xE2\x80\xA6";  // …
      break;
    }
    ++characters;
    uint32_t cp = 0;
    size_t n = 1;
    if (encoding == TextEncoding::kLatin1) cp = static_cast<unsigned char>(text[i]);
    else n = utf8_sequence(text.substr(i), &cp);
    if (n == 0) {
      append_escaped_byte(&out, static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    i += n;
    switch (cp) {
      case 0: out += "\\0"; continue;
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '"':
        out += in_quotes ? "\\\"" : "\"";
        continue;
      default:
        break;
    }
    // C0 and C1 controls and DEL.
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) append_escaped_byte(&out, static_cast<unsigned char>(cp));
    else append_utf8(&out, cp);
  }
  return out;
}

}  // namespace

std::string shown_text(std::string_view text, TextEncoding encoding) { return shown(text, encoding, false); }

std::string quoted_text(std::string_view text, TextEncoding encoding) {
  // Appended rather than concatenated: g++ 12 optimising `"x" + string`
  // reports overlapping copies that cannot happen.
  std::string quoted(1, '"');
  quoted += shown(text, encoding, true);
  quoted += '"';
  return quoted;
}

}  // namespace quire::areas
