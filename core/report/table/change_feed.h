// The change feed: the file a host names for a script to follow a run's
// changes, one JSON object a line (see ChangeLog, which writes it beside
// delta.lst). This part holds the process's choice of file and the JSON
// text of the library's byte strings.
#ifndef QUIRE_TABLE_CHANGE_FEED_H_
#define QUIRE_TABLE_CHANGE_FEED_H_

#include <string>
#include <string_view>

namespace quire::table {

// Sets the change feed of the following report runs of the process: path,
// relative to the current directory of each run, or none when empty.
void set_change_feed_path(std::string_view path);

// The change feed's path as set, or "" for none.
const std::string& change_feed_path();

// Appends text to out as the inside of a JSON string (no quotes around it):
// the text's bytes read as Windows code page 1252, the library's encoding,
// written as UTF-8; '"' and '\' escaped by a backslash; controls (below
// 0x20, 0x7F, and the five bytes the code page leaves undefined, which are
// taken as the C1 controls of their values) as \uXXXX or their short form.
void append_json_text(std::string_view text, std::string* out);

}  // namespace quire::table

#endif  // QUIRE_TABLE_CHANGE_FEED_H_
