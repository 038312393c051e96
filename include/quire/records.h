// Record layouts exchanged with the storage-area library.
//
// Every record is packed and little-endian: each field sits at exactly the
// offset given here, doubles included (most of them at offsets that are not
// multiples of 8). Read and write them only with the helpers below, never by
// casting a struct over the bytes. Texts are NUL-terminated within their
// field; a field of N bytes holds at most N - 1 characters.
#ifndef QUIRE_RECORDS_H_
#define QUIRE_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quire::records {

// ---- byte helpers --------------------------------------------------------

inline int16_t load_i16(const unsigned char* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
inline uint16_t load_u16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int32_t load_i32(const unsigned char* p) {
  uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}
inline uint32_t load_u32(const unsigned char* p) { return static_cast<uint32_t>(load_i32(p)); }
inline int8_t load_i8(const unsigned char* p) { return static_cast<int8_t>(p[0]); }
inline double load_double(const unsigned char* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
// The text of a field: the bytes up to the first NUL, never past size bytes.
// Returns the length.
inline size_t text_length(const unsigned char* p, size_t size) {
  const void* nul = std::memchr(p, 0, size);
  return nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - p) : size;
}

inline void store_i16(unsigned char* p, int16_t v) {
  uint16_t u = static_cast<uint16_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
}
inline void store_u16(unsigned char* p, uint16_t u) {
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
}
inline void store_i32(unsigned char* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(u >> (8 * i));
}
inline void store_u32(unsigned char* p, uint32_t u) { store_i32(p, static_cast<int32_t>(u)); }
inline void store_i8(unsigned char* p, int8_t v) { p[0] = static_cast<unsigned char>(v); }
inline void store_double(unsigned char* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(bits >> (8 * i));
}
// Copies text into a field of size bytes: cut to size - 1 characters, the
// rest of the field filled with NUL bytes.
inline void store_text(unsigned char* p, size_t size, const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  if (n > size - 1) n = size - 1;
  if (n) std::memcpy(p, text, n);
  std::memset(p + n, 0, size - n);
}

// ---- the area record (256 bytes) -------------------------------------------
namespace area {
constexpr size_t kSize = 256;
constexpr size_t kName = 0;  // text 21: the area's name
constexpr size_t kNameSize = 21;
}  // namespace area

// ---- item_area (168 bytes): the fields report kinds read -------------------
namespace item_area {
constexpr size_t kSize = 168;
constexpr size_t kModifiedTime = 12;  // int32, the item's modification time
constexpr size_t kByteSize1 = 44;     // int32, first byte count
constexpr size_t kByteSize2 = 48;     // int32, second byte count
}  // namespace item_area

// ---- MarkerHeader (468) and MarkerHeaderEx (534): one layout ---------------
// The plain header is the first 468 bytes of the extended layout, with the
// override count at 436 and the splice count at 464 filled in both.
namespace marker_header {
constexpr size_t kSize = 468;
constexpr size_t kSizeEx = 534;
constexpr size_t kTextSize = 21;
constexpr size_t kName = 4;
constexpr size_t kDescription = 25;
constexpr size_t kOrderName = 46;
constexpr size_t kOrderNumber = 67;
constexpr size_t kLayLimits = 88;
constexpr size_t kAnnotation = 109;
constexpr size_t kBlockBuffer = 130;
constexpr size_t kMatching = 151;
constexpr size_t kNotch = 172;
constexpr size_t kStripeO = 236;    // double
constexpr size_t kStripeRpt = 244;  // double
constexpr size_t kPlaidO = 252;     // double
constexpr size_t kPlaidRpt = 260;   // double
constexpr size_t kStripeO2 = 268;   // double
constexpr size_t kPlaidO2 = 284;    // double
constexpr size_t kStripeO3 = 300;   // double
constexpr size_t kPlaidO3 = 316;    // double
constexpr size_t kWidth = 332;      // double
constexpr size_t kLength = 340;     // double
constexpr size_t kTotalPerimeter = 364;  // double
constexpr size_t kTargetUtil = 380;      // double
constexpr size_t kUtil = 388;            // double
constexpr size_t kAdded = 412;           // int32
constexpr size_t kTotalCorners = 416;    // int32
constexpr size_t kTotalNotches = 424;    // int32
constexpr size_t kModels = 432;          // int32, number of models
constexpr size_t kOverrides = 436;       // int32, number of piece overrides
constexpr size_t kFiveStar = 448;        // int32
constexpr size_t kSizes = 456;           // int32
constexpr size_t kAddedSizes = 460;      // int32
constexpr size_t kSplices = 464;         // int32, number of splices
constexpr size_t kShrinkStretchX = 468;  // double (extended header only)
constexpr size_t kShrinkStretchY = 476;  // double (extended header only)
}  // namespace marker_header

// ---- MarkerAnalysis (5376), owned by the library ---------------------------
namespace marker_analysis {
constexpr size_t kSize = 5376;
constexpr size_t kStraightPerimeter = 8;   // double, inches
constexpr size_t kCurvedPerimeter = 16;    // double
constexpr size_t kTotalInternal = 24;      // double
constexpr size_t kStraightInternal = 32;   // double
constexpr size_t kCurvedInternal = 40;     // double
constexpr size_t kNotchCounts = 48;        // int16 x 99
constexpr size_t kNotchSlots = 99;
constexpr size_t kInternalCounts = 246;    // int16 x 26
constexpr size_t kInternalSlots = 26;
constexpr size_t kPointAttributeCounts = 298;  // int16 x 52
constexpr size_t kPointAttributeSlots = 52;
constexpr size_t kPlacedPieces = 5324;     // int16
constexpr size_t kUnplacedPieces = 5326;   // int16
constexpr size_t kPlacedArea = 5336;       // double, square inches
constexpr size_t kPlacedPerimeter = 5344;  // double
constexpr size_t kPlacedNotches = 5352;    // int32
constexpr size_t kPlacedCorners = 5356;    // int32
constexpr size_t kAreaTerm = 5360;         // double
constexpr size_t kNetArea = 5368;          // double
}  // namespace marker_analysis

// ---- MarkerPiece (68) ------------------------------------------------------
namespace marker_piece {
constexpr size_t kSize = 68;
constexpr size_t kName = 0;        // text 21
constexpr size_t kNameSize = 21;
constexpr size_t kCategory = 21;   // text 21
constexpr size_t kCategorySize = 21;
constexpr size_t kArea = 42;       // double
constexpr size_t kPerimeter = 50;  // double
constexpr size_t kSizeName = 58;   // text 10
constexpr size_t kSizeNameSize = 10;
}  // namespace marker_piece

// ---- PieceOverride (68) ----------------------------------------------------
namespace piece_override {
constexpr size_t kSize = 68;
constexpr size_t kPiece = 0;          // text 21
constexpr size_t kPieceSize = 21;
constexpr size_t kRight = 21;         // 1 byte, not 0 = right-hand piece
constexpr size_t kOverride = 22;      // text 11
constexpr size_t kOverrideSize = 11;
constexpr size_t kSizeName = 33;      // text 7
constexpr size_t kSizeNameSize = 7;
constexpr size_t kModel = 40;         // text 28
constexpr size_t kModelSize = 28;
}  // namespace piece_override

// ---- SpliceInfo (16) -------------------------------------------------------
namespace splice_info {
constexpr size_t kSize = 16;
constexpr size_t kStart = 0;   // double
constexpr size_t kLength = 8;  // double
}  // namespace splice_info

// ---- OrderHeader (372) -----------------------------------------------------
namespace order_header {
constexpr size_t kSize = 372;
constexpr size_t kName = 0;  // text 21
constexpr size_t kNameSize = 21;
constexpr size_t kModels = 352;    // int32, number of models
constexpr size_t kListHead = 364;  // 32-bit link slot, left zero here
}  // namespace order_header

// ---- OrderModel (118) ------------------------------------------------------
namespace order_model {
constexpr size_t kSize = 118;
constexpr size_t kTextSize = 21;
constexpr size_t kName = 0;         // text 21
constexpr size_t kAlteration = 21;  // text 21
constexpr size_t kDynamic = 42;     // text 21
constexpr size_t kSizeCode = 63;    // text 21
constexpr size_t kFabric = 84;      // text 6
constexpr size_t kFabricSize = 6;
constexpr size_t kAddPieceBundle = 90;  // int32
constexpr size_t kOptionCount = 94;     // int32
constexpr size_t kFirstOption = 98;     // 32-bit link slot
constexpr size_t kSizeCount = 102;      // int32
constexpr size_t kFirstSize = 106;      // 32-bit link slot
constexpr size_t kNext = 114;           // 32-bit link slot
}  // namespace order_model

// ---- OptionListEntry (12) --------------------------------------------------
namespace option_entry {
constexpr size_t kSize = 12;
constexpr size_t kName = 0;  // text 8
constexpr size_t kNameSize = 8;
constexpr size_t kNext = 8;  // 32-bit link slot
}  // namespace option_entry

// ---- SizeEntry (72) --------------------------------------------------------
namespace size_entry {
constexpr size_t kSize = 72;
constexpr size_t kSizeName = 0;    // text 8
constexpr size_t kSizeNameSize = 8;
constexpr size_t kQuantity = 8;    // int32
constexpr size_t kCutdown = 12;    // text 7
constexpr size_t kCutdownSize = 7;
constexpr size_t kHalfPiece = 19;  // text 7
constexpr size_t kHalfPieceSize = 7;
constexpr size_t kBaseSize = 26;   // text 8
constexpr size_t kBaseSizeSize = 8;
constexpr size_t kDirection = 34;  // int32
constexpr size_t kPlaced = 38;     // int32
constexpr size_t kNext = 46;       // 32-bit link slot
}  // namespace size_entry

// ---- ModelRecord (120), OptionGroup (20), ModelPiece (72) ------------------
namespace model_record {
constexpr size_t kSize = 120;
constexpr size_t kName = 0;        // text 21
constexpr size_t kNameSize = 21;
constexpr size_t kComment1 = 21;   // text 41
constexpr size_t kComment1Size = 41;
constexpr size_t kComment2 = 62;   // text 42
constexpr size_t kComment2Size = 42;
constexpr size_t kBasePieceCount = 104;  // int32
constexpr size_t kFirstPiece = 108;      // 32-bit link slot
constexpr size_t kGroupCount = 112;      // int32
constexpr size_t kFirstGroup = 116;      // 32-bit link slot
}  // namespace model_record

namespace option_group {
constexpr size_t kSize = 20;
constexpr size_t kOption = 0;  // text 8
constexpr size_t kOptionSize = 8;
constexpr size_t kPieceCount = 8;  // int32
constexpr size_t kFirstPiece = 12;  // 32-bit link slot
constexpr size_t kNext = 16;        // 32-bit link slot
}  // namespace option_group

namespace model_piece {
constexpr size_t kSize = 72;
constexpr size_t kName = 9;  // text 21
constexpr size_t kNameSize = 21;
constexpr size_t kType = 30;      // int8
constexpr size_t kAsIn = 31;      // int8
constexpr size_t kMirrorX = 32;   // int8
constexpr size_t kMirrorY = 33;   // int8
constexpr size_t kMirrorXY = 34;  // int8
constexpr size_t kHalf = 35;      // int8
constexpr size_t kDySp = 36;      // int8
constexpr size_t kAddPiece = 37;  // int8
constexpr size_t kFabric = 38;    // text 30
constexpr size_t kFabricSize = 30;
constexpr size_t kNext = 68;  // 32-bit link slot
}  // namespace model_piece

// ---- PieceHeader (156) -----------------------------------------------------
namespace piece_header {
constexpr size_t kSize = 156;
constexpr size_t kName = 0;  // text 21
constexpr size_t kNameSize = 21;
constexpr size_t kCategory = 21;  // text 21
constexpr size_t kCategorySize = 21;
constexpr size_t kDescription = 42;  // text 114
constexpr size_t kDescriptionSize = 114;
}  // namespace piece_header

}  // namespace quire::records

#endif  // QUIRE_RECORDS_H_
