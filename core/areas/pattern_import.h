// Importing pattern files (styles exchanged as ASTM D6673 / AAMA DXF) into a
// storage area: pieces, a model and an order per style and, on request, a
// marker read from the placed pieces. docs/area-format.md has the mapping.
#ifndef QUIRE_PATTERN_IMPORT_H_
#define QUIRE_PATTERN_IMPORT_H_

#include <string>
#include <string_view>
#include <vector>

#include "quire/status.h"

namespace quire::areas {

struct AreaSummary;

// One pattern file: read from `path`, or from `bytes` when in_memory (for
// standard input; the bytes must outlive the call). `name` names it in
// messages and in the model's comment.
struct PatternSource {
  std::string name;
  std::string path;
  bool in_memory = false;
  std::string_view bytes;
};

struct PatternImportOptions {
  std::string area;    // UTF-8; empty: the first style's name, else the first file's name
  std::string units;   // "mm", "cm", "in", or empty to take them from each file
  std::string marker;  // UTF-8; non-empty: also store the placed pieces as this marker
};

// True when the first bytes of a file are those of a DXF file (binary, or a
// group code on the first line) rather than an area file (JSON).
bool looks_like_dxf(std::string_view head);

// Creates or replaces one area from the pattern files, all or nothing as the
// JSON import. Warnings (entities that are not read, an open boundary,
// assumed units) are appended to *warnings, one line each naming the file.
// A failure's message is one line naming the file and the block or line at
// fault (e.g. `a.dxf: line 120: group 10: expected a number, got "1,5"`);
// a fault of a file or an option is kInvalid, a file that cannot be opened
// or read kNotFound or kInvalid with the system's error number. No exception
// leaves it: running out of memory is kNoMemory.
quire::Status import_pattern_files(const std::vector<PatternSource>& files, const PatternImportOptions& options,
                                   std::vector<std::string>* warnings, AreaSummary* summary);

}  // namespace quire::areas

#endif  // QUIRE_PATTERN_IMPORT_H_
