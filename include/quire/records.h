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

// ---- field descriptors -----------------------------------------------------
// Each record below declares every field once: its offset and, in the
// descriptor's type, what it holds and how many bytes. A descriptor converts
// to its offset, so `record + kField` points at the field and a descriptor
// can stand wherever an offset is expected.

// A fixed-size little-endian value of type T (read and written with the
// load_/store_ helper of that type).
template <class T>
struct Value {
  size_t offset;
  constexpr operator size_t() const { return offset; }
};
using Int8 = Value<int8_t>;
using Byte = Value<uint8_t>;
using Int16 = Value<int16_t>;
using Int32 = Value<int32_t>;
using Real = Value<double>;
// A 32-bit slot the library links its records with.
using Link = Value<uint32_t>;

// A NUL-terminated text in a field of size bytes (at most size - 1
// characters).
struct Text {
  size_t offset;
  size_t size;
  constexpr operator size_t() const { return offset; }
};

// slots int16 counts, one after the other.
struct Counts {
  size_t offset;
  size_t slots;
  constexpr operator size_t() const { return offset; }
};

// ---- the area record (256 bytes) -------------------------------------------
namespace area {
constexpr size_t kSize = 256;
constexpr Text kName{0, 21};  // the area's name
constexpr size_t kNameSize = kName.size;
}  // namespace area

// ---- item_area (168 bytes): the fields report kinds read -------------------
namespace item_area {
constexpr size_t kSize = 168;
constexpr Int32 kModifiedTime{12};
constexpr Int32 kByteSize1{44}, kByteSize2{48};  // the item's two byte counts
}  // namespace item_area

// ---- MarkerHeader (468) and MarkerHeaderEx (534): one layout ---------------
// The plain header is the first 468 bytes of the extended layout, with the
// override count at 436 and the splice count at 464 filled in both.
namespace marker_header {
constexpr size_t kSize = 468;
constexpr size_t kSizeEx = 534;
constexpr size_t kTextSize = 21;  // every text of the header
constexpr Text kName{4, kTextSize}, kDescription{25, kTextSize}, kOrderName{46, kTextSize},
    kOrderNumber{67, kTextSize}, kLayLimits{88, kTextSize}, kAnnotation{109, kTextSize},
    kBlockBuffer{130, kTextSize}, kMatching{151, kTextSize}, kNotch{172, kTextSize};
constexpr Real kStripeO{236}, kStripeRpt{244}, kPlaidO{252}, kPlaidRpt{260}, kStripeO2{268},
    kPlaidO2{284}, kStripeO3{300}, kPlaidO3{316}, kWidth{332}, kLength{340}, kTotalPerimeter{364},
    kTargetUtil{380}, kUtil{388};
constexpr Int32 kAdded{412}, kTotalCorners{416}, kTotalNotches{424}, kFiveStar{448}, kSizes{456},
    kAddedSizes{460};
// The lengths of the marker's lists: models, piece overrides, splices.
constexpr Int32 kModels{432}, kOverrides{436}, kSplices{464};
// The extended header only.
constexpr Real kShrinkStretchX{468}, kShrinkStretchY{476};
}  // namespace marker_header

// ---- MarkerAnalysis (5376), owned by the library ---------------------------
// Lengths in inches, areas in square inches.
namespace marker_analysis {
constexpr size_t kSize = 5376;
constexpr Real kStraightPerimeter{8}, kCurvedPerimeter{16}, kTotalInternal{24}, kStraightInternal{32},
    kCurvedInternal{40};
constexpr Counts kNotchCounts{48, 99}, kInternalCounts{246, 26}, kPointAttributeCounts{298, 52};
constexpr size_t kNotchSlots = kNotchCounts.slots;
constexpr size_t kInternalSlots = kInternalCounts.slots;
constexpr size_t kPointAttributeSlots = kPointAttributeCounts.slots;
constexpr Int16 kPlacedPieces{5324}, kUnplacedPieces{5326};
constexpr Real kPlacedArea{5336}, kPlacedPerimeter{5344};
constexpr Int32 kPlacedNotches{5352}, kPlacedCorners{5356};
constexpr Real kAreaTerm{5360}, kNetArea{5368};
}  // namespace marker_analysis

// ---- MarkerPiece (68) ------------------------------------------------------
namespace marker_piece {
constexpr size_t kSize = 68;
constexpr Text kName{0, 21}, kCategory{21, 21}, kSizeName{58, 10};
constexpr Real kArea{42}, kPerimeter{50};
constexpr size_t kNameSize = kName.size, kCategorySize = kCategory.size, kSizeNameSize = kSizeName.size;
}  // namespace marker_piece

// ---- PieceOverride (68) ----------------------------------------------------
namespace piece_override {
constexpr size_t kSize = 68;
constexpr Text kPiece{0, 21}, kOverride{22, 11}, kSizeName{33, 7}, kModel{40, 28};
constexpr Byte kRight{21};  // not 0: a right-hand piece
constexpr size_t kPieceSize = kPiece.size, kOverrideSize = kOverride.size, kSizeNameSize = kSizeName.size,
                 kModelSize = kModel.size;
}  // namespace piece_override

// ---- SpliceInfo (16) -------------------------------------------------------
namespace splice_info {
constexpr size_t kSize = 16;
constexpr Real kStart{0}, kLength{8};
}  // namespace splice_info

// ---- OrderHeader (372) -----------------------------------------------------
namespace order_header {
constexpr size_t kSize = 372;
constexpr Text kName{0, 21};
constexpr Int32 kModels{352};  // the number of models
constexpr Link kListHead{364};  // left zero here
}  // namespace order_header

// ---- OrderModel (118) ------------------------------------------------------
namespace order_model {
constexpr size_t kSize = 118;
constexpr size_t kTextSize = 21;  // every text but the fabric
constexpr Text kName{0, kTextSize}, kAlteration{21, kTextSize}, kDynamic{42, kTextSize}, kSizeCode{63, kTextSize},
    kFabric{84, 6};
constexpr size_t kFabricSize = kFabric.size;
constexpr Int32 kAddPieceBundle{90}, kOptionCount{94}, kSizeCount{102};
constexpr Link kFirstOption{98}, kFirstSize{106}, kNext{114};
}  // namespace order_model

// ---- OptionListEntry (12) --------------------------------------------------
namespace option_entry {
constexpr size_t kSize = 12;
constexpr Text kName{0, 8};
constexpr Link kNext{8};
constexpr size_t kNameSize = kName.size;
}  // namespace option_entry

// ---- SizeEntry (72) --------------------------------------------------------
namespace size_entry {
constexpr size_t kSize = 72;
constexpr Text kSizeName{0, 8}, kCutdown{12, 7}, kHalfPiece{19, 7}, kBaseSize{26, 8};
constexpr size_t kSizeNameSize = kSizeName.size, kCutdownSize = kCutdown.size, kHalfPieceSize = kHalfPiece.size,
                 kBaseSizeSize = kBaseSize.size;
constexpr Int32 kQuantity{8}, kDirection{34}, kPlaced{38};
constexpr Link kNext{46};
}  // namespace size_entry

// ---- ModelRecord (120), OptionGroup (20), ModelPiece (72) ------------------
namespace model_record {
constexpr size_t kSize = 120;
constexpr Text kName{0, 21}, kComment1{21, 41}, kComment2{62, 42};
constexpr Int32 kBasePieceCount{104};  // the pieces outside the option groups
constexpr Link kFirstPiece{108};
constexpr Int32 kGroupCount{112};      // the option groups
constexpr Link kFirstGroup{116};
constexpr size_t kNameSize = kName.size, kComment1Size = kComment1.size, kComment2Size = kComment2.size;
}  // namespace model_record

namespace option_group {
constexpr size_t kSize = 20;
constexpr Text kOption{0, 8};
constexpr Int32 kPieceCount{8};
constexpr Link kFirstPiece{12}, kNext{16};
constexpr size_t kOptionSize = kOption.size;
}  // namespace option_group

namespace model_piece {
constexpr size_t kSize = 72;
constexpr Text kName{9, 21}, kFabric{38, 30};
constexpr size_t kNameSize = kName.size, kFabricSize = kFabric.size;
constexpr Int8 kType{30}, kAsIn{31}, kMirrorX{32}, kMirrorY{33}, kMirrorXY{34}, kHalf{35}, kDySp{36}, kAddPiece{37};
constexpr Link kNext{68};
}  // namespace model_piece

// ---- PieceHeader (156) -----------------------------------------------------
namespace piece_header {
constexpr size_t kSize = 156;
constexpr Text kName{0, 21}, kCategory{21, 21}, kDescription{42, 114};
constexpr size_t kNameSize = kName.size, kCategorySize = kCategory.size, kDescriptionSize = kDescription.size;
}  // namespace piece_header

}  // namespace quire::records

#endif  // QUIRE_RECORDS_H_
