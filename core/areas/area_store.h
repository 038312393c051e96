// Area management: importing an area file (JSON), exporting it, listing
// the store and generating synthetic areas. A static library beside the
// storage-area library (libplotbase), whose store layout it shares;
// `quire area` and the tests use it.
//
// Texts inside the library are Latin-1 bytes; JSON texts are UTF-8. The
// format is docs/area-format.md, the database docs/area-store.md.
#ifndef QUIRE_AREA_STORE_H_
#define QUIRE_AREA_STORE_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "quire/status.h"

namespace quire::store {
class Statement;
}

namespace quire::areas {

// The numbers of items in an area.
struct AreaSummary {
  std::string name;  // as stored (Latin-1)
  int64_t markers = 0;
  int64_t models = 0;
  int64_t pieces = 0;
  int64_t orders = 0;
  std::string path;   // the area file
  std::string error;  // non-empty when the file could not be read
  // Set (with error saying what it is) for something named like an area
  // file that is no regular file: a directory, a FIFO, a device, a link to
  // nothing. It is no damaged area, only passed over.
  bool skipped = false;
};

// Fills the name and the counts of out from row, a row of the store
// layout's area row query (area_row_select_sql).
void read_area_row(store::Statement& row, AreaSummary* out);

// The path of the area file for the area called name (Latin-1), whether or
// not it exists; in a server's store, the server and the area.
std::string area_path(std::string_view name);

// Creates or replaces the area described by json (an area file, UTF-8).
// The text is read as a stream, item by item, so memory does not grow with
// the number of items. All or nothing: on any failure nothing in the store
// changes; a fault of the text is kInvalid, its message one line naming the
// item and key at fault (e.g. `markers[3] "M100": header.description: 23
// characters, at most 20`). No exception leaves it: running out of memory
// is kNoMemory.
quire::Status import_area_json(std::string_view json, AreaSummary* summary = nullptr);
// As import_area_json, reading the area file at path ("-" for standard
// input) as it goes. A file that cannot be opened or read fails with a
// message such as `cannot open: No such file or directory` or `cannot read:
// Is a directory`.
quire::Status import_area_file(const std::string& path, AreaSummary* summary = nullptr);

// Writes the area called name as JSON (UTF-8) to out. Importing the result
// gives the same area. No such area is kNotFound.
quire::Status export_area_json(std::string_view name, std::ostream& out);

// Writes the area called name as JSON into the file at path, as a whole: a
// new file beside it takes its place only when complete and on disk, so a
// failure leaves whatever stood at path as it was. A symbolic link at path
// is followed (its target is replaced); a FIFO, a character device or
// standard output (/dev/stdout, /dev/fd/1) is written straight into; a
// directory, socket or block device is refused. A failure's message names
// the file and the reason.
quire::Status export_area_file(std::string_view name, const std::string& path);

// One summary per area file in the store, in pb_stricmp order of the names.
// Files that cannot be read are listed with error set; anything else named
// like an area file (a directory, a FIFO, a device, a link to nothing) with
// skipped and error set. A store directory that cannot be read sets *status (when given) and gives none; a store
// not made yet is an empty one.
std::vector<AreaSummary> list_areas(quire::Status* status);

// What `quire area check` found in an area file.
struct AreaCheck {
  AreaSummary summary;                // the counts the area row declares, and the file's path
  std::vector<std::string> problems;  // one line each, naming the item or table (Latin-1); none: clean
  // What the check leaves to the store itself, one line each: on a server
  // the pages of its tables, which only the server's own tools check.
  std::vector<std::string> unchecked;
};

// Checks the area called name: SQLite's integrity check of the file, the
// items of each kind numbered 1..N as the area row counts them, every list
// of every item (pieces, overrides, splices, model lists, options, size
// entries, option groups) against the length its owner declares, rows of
// no owner, and the marker analysis's count lists. A change left
// unfinished in the file is rolled back first, as the readers do. Fails
// only when the area cannot be checked at all (no such area, a file that
// cannot be opened or holds no area row); damage is in out->problems.
quire::Status check_area(std::string_view name, AreaCheck* out);

struct GenerateOptions {
  std::string name;
  int64_t markers = 50;
  int64_t models = 20;
  int64_t orders = 20;
  int64_t pieces_per_marker = 8;
  uint64_t seed = 1;
};

// Creates or replaces a synthetic area with plausible values in every field,
// the same for the same options. All or nothing like import; options out
// of range are kInvalid.
quire::Status generate_area(const GenerateOptions& options, AreaSummary* summary = nullptr);

// Latin-1 <-> UTF-8. to_latin1 fails (returns false) on a character above
// U+00FF or on malformed UTF-8, setting *bad to the offending code point
// (or -1 for malformed input).
std::string latin1_to_utf8(std::string_view latin1);
bool utf8_to_latin1(std::string_view utf8, std::string* out, long* bad = nullptr);

}  // namespace quire::areas

#endif  // QUIRE_AREA_STORE_H_
