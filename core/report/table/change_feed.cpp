#include "table/change_feed.h"

#include <cstdint>

namespace quire::table {
namespace {

std::string g_feed_path;

// The characters of the bytes 0x80 to 0x9F in code page 1252; the five the
// code page leaves undefined stand for the C1 controls of their values.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

void append_escaped_control(unsigned code, std::string* out) {
  static const char kDigits[] = "0123456789abcdef";
  char escape[6] = {'\\', 'u', '0', '0', kDigits[(code >> 4) & 0xf], kDigits[code & 0xf]};
  out->append(escape, sizeof escape);
}

void append_utf8(unsigned code, std::string* out) {
  if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
  }
  out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
}

}  // namespace

void set_change_feed_path(std::string_view path) { g_feed_path.assign(path); }

const std::string& change_feed_path() { return g_feed_path; }

void append_json_text(std::string_view text, std::string* out) {
  for (char c : text) {
    const unsigned byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      if (c == '"' || c == '\\') out->push_back('\\');
      out->push_back(c);
      continue;
    }
    switch (c) {
      case '\n': out->append("\\n"); continue;
      case '\r': out->append("\\r"); continue;
      case '\t': out->append("\\t"); continue;
      default: break;
    }
    const unsigned code = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
    if (code < 0xA0) append_escaped_control(code, out);
    else append_utf8(code, out);
  }
}

}  // namespace quire::table
