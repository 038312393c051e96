// A pattern file (one style exchanged as DXF: a BLOCK per piece and size,
// an INSERT per placed piece, numbered layers, "Key: value" texts) read into
// its texts, pieces and placements with their measures, in file units.
//
// The file is read twice as a stream: the first pass finds the header, the
// block names, the style texts and the INSERTs; the second measures each
// inserted block under each of its inserts. Only one block's geometry is
// held at a time, so memory does not grow with the size of the file.
#ifndef PLOTBASE_DXF_PATTERN_READER_H_
#define PLOTBASE_DXF_PATTERN_READER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dxf_reader.h"
#include "quire/status.h"

namespace quire::areas::dxf {

// Limits of one file: beyond them the file is refused with a one-line error.
constexpr size_t kMaxBlockVertices = 1000000;  // vertices of one block, all polylines
constexpr size_t kMaxBlockPoints = 1000000;    // turn and curve points of one block
constexpr uint64_t kMaxEntities = 50000000;    // entities of the file
constexpr size_t kMaxInserts = 100000;         // INSERTs of the file
constexpr size_t kMaxBlocks = 100000;          // BLOCKs of the file
constexpr size_t kMaxTexts = 100000;           // texts kept (style and piece texts) of the file

// The notch layers, in slot order of PatternBlock::notches.
inline constexpr std::array<int, 5> kNotchLayers = {4, 80, 81, 82, 83};

// A "Key: value" text, split at the first colon, blanks around both removed.
// Bytes as the file holds them (single-byte texts; \U+XXXX escapes kept).
struct PatternText {
  std::string key, value;
};

// The measures of one block as one INSERT places it, in file units.
struct Placement {
  size_t block = 0;  // index in PatternFile::blocks
  double x = 0, y = 0, scale_x = 1, scale_y = 1, rotation = 0;  // rotation in degrees
  double area = 0, perimeter = 0, straight_perimeter = 0, curved_perimeter = 0;
  double internal_straight = 0, internal_curved = 0;
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;  // extent of the placed boundary
};

// An inserted block: one piece in one size.
struct PatternBlock {
  std::string name;
  std::string where;  // where its BLOCK starts: "line N" or "byte N"
  std::vector<PatternText> texts;  // the piece texts (layer 1), in file order
  bool has_boundary = false;
  std::array<int32_t, kNotchLayers.size()> notches{};
  int32_t drill_holes = 0, cut_outs = 0, corners = 0;
};

struct PatternFile {
  int insunits = -1;  // $INSUNITS, -1 when absent
  // $TDCREATE and $TDUPDATE: when the drawing was made and last saved, as
  // Julian dates (days and their fraction); 0 when absent.
  double created_julian = 0;
  double updated_julian = 0;
  std::vector<PatternText> style_texts;  // texts of ENTITIES, in file order
  std::vector<PatternBlock> blocks;      // inserted blocks, in file order
  std::vector<Placement> placements;     // INSERTs, in file order
};

// Opens the bytes of the file again for each pass; null with *status set
// when it cannot.
using ReaderFactory = std::function<std::unique_ptr<Reader>(quire::Status* status)>;

// Reads a pattern file. Warnings (one line each, naming the block and the
// entity) are appended to *warnings. Malformed input fails with a message of
// one line naming the place ("line 12: ..." or "byte 345: ..."); a failure
// to open the file is the factory's.
quire::Status read_pattern(const ReaderFactory& open, PatternFile* out, std::vector<std::string>* warnings);

// True when the text's key is `key`, compared without regard to ASCII case.
bool key_is(const PatternText& text, std::string_view key);

// The value of the text whose key is `key` (compared without regard to ASCII
// case), or null.
const std::string* find_text(const std::vector<PatternText>& texts, std::string_view key);

}  // namespace quire::areas::dxf

#endif  // PLOTBASE_DXF_PATTERN_READER_H_
