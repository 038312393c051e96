// Looking at one area of the store and removing one: `quire area info` and
// `quire area rm`. Beside area_store.h, on the same store layout.
//
// Names are Latin-1 bytes, as the library keeps them.
#ifndef QUIRE_AREA_INFO_H_
#define QUIRE_AREA_INFO_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "area_store.h"
#include "quire/status.h"

namespace quire::areas {

// What `quire area info` shows of an area.
struct AreaInfo {
  AreaSummary summary;  // the name, the counts and the area file's path
  // The oldest and the newest modification stamp of the area's markers,
  // models and orders (seconds since 1970); has_stamps is false when no
  // item has one.
  bool has_stamps = false;
  int64_t oldest_modified = 0;
  int64_t newest_modified = 0;
  uint64_t size = 0;   // the area file's size in bytes
  const char* engine = "SQLite";
};

// Reads what AreaInfo holds of the area called name. No such area is
// kNotFound ("no area called NAME in STORE"); a file that is not a readable
// area names the file and the reason.
quire::Status area_info(std::string_view name, AreaInfo* info);

// "2006-07-01T14:03:12Z": a modification stamp as a date and time (UTC).
std::string stamp_text(int64_t seconds);

// Why remove_area did not remove an area, beyond the Status code.
enum class RemoveRefusal {
  kNone,
  kBadName,      // a path separator, or "." or "..": never a name to remove by
  kNotAnArea,    // something at the area file's name that is no file nor link
  kBeingWritten, // a journal beside the area file: another program writes it
  kInUse,        // the file is open in a program that does not let it go
};

// Removes the area called name: its file is renamed to a name of its own
// in the store (which lists and lookups skip) and then unlinked, so that
// the area is gone at one instant and a program that has it open goes on
// reading what it opened, where the system allows. A symbolic link at the
// area's name is removed itself, never what it points to. Refused while
// the area file has a journal (name-journal or name-wal) beside it: a
// program is writing it, or was when it stopped, and that journal must not
// be parted from it. *removed gets the path of the file removed.
quire::Status remove_area(std::string_view name, std::string* removed, RemoveRefusal* refusal = nullptr);

}  // namespace quire::areas

#endif  // QUIRE_AREA_INFO_H_
