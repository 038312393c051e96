// What the table layer needs from its host: where its messages for the user
// go, and the order of item names.
#ifndef QUIRE_TABLE_TABLE_MESSAGES_H_
#define QUIRE_TABLE_TABLE_MESSAGES_H_

namespace quire {

// A printf-like function that shows one message to the user (the storage
// library's message function in a report run). Returns what printf would.
typedef int (*PrintFunction)(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Compares two item names as the store orders them: byte by byte as unsigned
// values, with only A-Z folded to a-z (bytes from 0x80 up are compared as
// they are, whatever the locale). Only the sign is meaningful: negative when
// a comes first, 0 when the names are the same but for case. A null pointer
// counts as the empty name.
inline int compare_item_names(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;;) {
    unsigned char cx = *x++;
    unsigned char cy = *y++;
    if (cx >= 'A' && cx <= 'Z') cx = static_cast<unsigned char>(cx + 32);
    if (cy >= 'A' && cy <= 'Z') cy = static_cast<unsigned char>(cy + 32);
    if (cx != cy) return static_cast<int>(cx) - static_cast<int>(cy);
    if (cx == 0) return 0;
  }
}

}  // namespace quire

#endif  // QUIRE_TABLE_TABLE_MESSAGES_H_
