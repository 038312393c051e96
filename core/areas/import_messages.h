// The messages both importers (area files and pattern files) give about a
// value, so that the same fault reads the same from either.
#ifndef QUIRE_AREAS_IMPORT_MESSAGES_H_
#define QUIRE_AREAS_IMPORT_MESSAGES_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace quire::areas::import_messages {

// A text that contains a NUL character.
inline constexpr const char* kContainsNul = "contains a NUL character";

// A name (of an item, or of one an item refers to) holding the control
// character c (below 0x20, or 0x7F): names end up in one-line logs and
// messages, where such a byte would end or split the line.
inline std::string control_character(unsigned char c) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "contains the control character U+%04X (names cannot hold control characters)",
                static_cast<unsigned>(c));
  return buf;
}
// The first control character (below 0x20, or 0x7F) of a name, or 0 when it
// has none.
inline unsigned char first_control_character(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return c;
  return 0;
}

// A text of chars characters where at most max are allowed.
inline std::string too_long(size_t chars, int64_t max) {
  return std::to_string(chars) + " characters, at most " + std::to_string(max);
}
// An empty text where at least min characters are required.
inline std::string too_short(int64_t min) { return "empty, at least " + std::to_string(min) + " character"; }
// A character (code point) that Latin-1 cannot hold.
inline std::string not_latin1(unsigned long code_point) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "character U+%04lX is not in Latin-1", code_point);
  return buf;
}
// An item name equal, without regard to case, to the name of the item that
// first_label names (`pieces[2] "P1"`).
inline std::string duplicate_name(const std::string& first_label) {
  return "duplicates " + first_label + " (names are compared without regard to case)";
}
// A file that cannot be opened, or read once open, for reason.
inline std::string cannot_open(const std::string& reason) { return "cannot open: " + reason; }
inline std::string cannot_read(const std::string& reason) { return "cannot read: " + reason; }

}  // namespace quire::areas::import_messages

#endif  // QUIRE_AREAS_IMPORT_MESSAGES_H_
