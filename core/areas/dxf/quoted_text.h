// Texts from an input file (an area file's keys and names, a pattern file's
// texts) as error lines quote them: short, on one line, every byte visible.
// Kept here, in the lowest of the storage-area library's parts, so that the
// pattern-file reader and every import quote the same way.
#ifndef PLOTBASE_DXF_QUOTED_TEXT_H_
#define PLOTBASE_DXF_QUOTED_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quire::areas {

// How the bytes of an input text are read: UTF-8 (area files) or Latin-1
// (pattern files and the store's own texts).
enum class TextEncoding { kUtf8, kLatin1 };

// The most characters of an input text an error line shows.
constexpr size_t kShownCharacters = 60;

// text as an error line (UTF-8) shows it: at most kShownCharacters of its
// characters, then "…" (U+2026) when it is longer; NUL as \0, tab, line
// feed and carriage return as \t, \n and \r; other control characters and
// bytes that are not UTF-8 as \xNN. A backslash stays as it is: pattern
// files write characters as \U+XXXX, which the user should see as written.
std::string shown_text(std::string_view text, TextEncoding encoding = TextEncoding::kUtf8);

// shown_text in double quotes, a double quote inside shown as \".
std::string quoted_text(std::string_view text, TextEncoding encoding = TextEncoding::kUtf8);

}  // namespace quire::areas

#endif  // PLOTBASE_DXF_QUOTED_TEXT_H_
