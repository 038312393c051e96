// An area in memory, as the area file (JSON) describes it and as the area
// writer stores it (texts are Latin-1 bytes), and the description of every
// record kind of the store that import, export, schema and readers share.
#ifndef PLOTBASE_AREA_DATA_H_
#define PLOTBASE_AREA_DATA_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "quire/records.h"

namespace plotbase {

// The library calls made to fail for one item, for testing error paths
// (an area file's "faults"). Indexes are -1 when no such read fails.
struct FaultSet {
  bool open = false, close = false, header = false, header_ex = false, analysis = false,
       ordmod = false, model = false;
  int64_t piece_at = -1, override_at = -1, splice_at = -1, model_list_at = -1;
  // True when any call is made to fail (the item then has a faults row).
  bool any() const {
    return open || close || header || header_ex || analysis || ordmod || model || piece_at >= 0 ||
           override_at >= 0 || splice_at >= 0 || model_list_at >= 0;
  }
};

struct ItemCommon {
  std::string name;
  int32_t modified = 0;
  int32_t created = -1;
  int32_t prev_modified = -1;
  std::string user_last_mod, user_created, user_prev_mod;
  FaultSet faults;
};

struct SizeEntryData {
  std::string size;
  int32_t quantity = 0;
  std::string cutdown, half_piece, base_size;
  int32_t direction = 0;
  int32_t placed = 0;
};

struct OrderModelData {
  std::string name, alteration, dynamic, size_code, fabric;
  int32_t add_piece_bundle = 0;
  std::vector<std::string> options;
  std::vector<SizeEntryData> sizes;
};

struct MarkerHeaderData {
  std::string name, description, order_name, order_number, lay_limits, annotation, block_buffer,
      matching, notch;
  double width = 0, length = 0, util = 0, target_util = 0, total_perimeter = 0, stripe_o = 0,
         stripe_o2 = 0, stripe_o3 = 0, stripe_rpt = 0, plaid_o = 0, plaid_o2 = 0, plaid_o3 = 0,
         plaid_rpt = 0, shrink_stretch_x = 0, shrink_stretch_y = 0;
  int32_t added = 0, total_corners = 0, total_notches = 0, five_star = 0, sizes = 0, added_sizes = 0;
};

struct MarkerAnalysisData {
  double straight_perimeter = 0, curved_perimeter = 0, total_internal = 0, straight_internal = 0,
         curved_internal = 0, placed_area = 0, placed_perimeter = 0, area_term = 0, net_area = 0;
  int32_t placed_pieces = 0, unplaced_pieces = 0;  // int16 range
  int32_t placed_notches = 0, placed_corners = 0;
  std::vector<int32_t> notch_counts, internal_counts, point_attribute_counts;  // int16 range
};

struct MarkerPieceData {
  std::string name, category;
  double area = 0, perimeter = 0;
  std::string size;
};

struct OverrideData {
  std::string piece;
  int32_t right = 0;  // 0..255
  std::string override_text, size, model;
};

struct SpliceData {
  double start = 0, length = 0;
};

struct MarkerData : ItemCommon {
  int32_t byte_size[2] = {0, 0};
  MarkerHeaderData header;
  MarkerAnalysisData analysis;
  std::vector<MarkerPieceData> pieces;
  std::vector<OverrideData> overrides;
  std::vector<SpliceData> splices;
  std::vector<OrderModelData> models;
};

struct ModelPieceData {
  std::string name, fabric;
  int32_t type = 0, as_in = 0, mirror_x = 0, mirror_y = 0, mirror_xy = 0, half = 0, dy_sp = 0,
          add_piece = 0;  // int8 range
};

struct OptionGroupData {
  std::string option;
  std::vector<ModelPieceData> pieces;
};

struct ModelData : ItemCommon {
  std::string comment1, comment2;
  std::vector<ModelPieceData> pieces;
  std::vector<OptionGroupData> option_groups;
};

struct PieceData {
  std::string name, category, description;
  FaultSet faults;
};

struct OrderData : ItemCommon {
  std::vector<OrderModelData> models;
};

struct AreaData {
  std::string name;
  int32_t notation = 0;
  int32_t precision = 2;
  std::vector<MarkerData> markers;
  std::vector<ModelData> models;
  std::vector<PieceData> pieces;
  std::vector<OrderData> orders;
};

// ---- the description of every record kind ----------------------------------
//
// Each store table is described once, field by field: its JSON key (and the
// sub-object it sits in), its SQLite column, its type and limits, where it
// lives in the data structs above, and its offset in the record the library
// hands out (include/quire/records.h). The importer, the exporter, the
// schema, the writer and the readers all work from these tables, so a new
// field of a store record is one member above plus one line below.

enum class FieldType : uint8_t {
  kText,    // std::string of lo..hi Latin-1 characters; a record field of width bytes
  kInt,     // int32_t within lo..hi; width bytes (1, 2 or 4) in the record
  kReal,    // double
  kFlag,    // bool; JSON true/false, stored 0/1
  kIndex,   // int64_t within 0..hi, or -1 for none (a NULL column, no JSON key)
  kCounts,  // std::vector<int32_t> of at most hi int16 slots; the column holds "[a,b]"
  kLength,  // the number of elements of a list of the item; no JSON key
};

struct Field {
  const char* key;     // JSON key; null when the field has no key of its own
  const char* column;  // SQLite column
  FieldType type;
  int64_t lo, hi;      // kText: characters; kInt, kIndex: values; kCounts: hi slots
  int32_t offset;      // offset in the record the readers fill; -1 when none
  uint16_t width;      // bytes at offset
  const char* group;   // JSON sub-object holding the key ("header"); null: the item itself
  bool required;       // an error when the key is missing
  bool unique;         // names: unique per kind without regard to ASCII case
  void* (*at)(void* row);                // the member inside the row's struct
  size_t (*length)(const void* row);     // kLength: the list's number of elements

  // The same field stored in another column, or found in a JSON sub-object.
  constexpr Field in_column(const char* c) const { Field f = *this; f.column = c; return f; }
  constexpr Field in_group(const char* g) const { Field f = *this; f.group = g; return f; }
  constexpr Field as_required() const { Field f = *this; f.required = true; return f; }
};

// The kinds of item a table's rows can belong to, one bit each (1 << Kind).
enum OwnerKinds : unsigned {
  kOwnedByMarker = 1, kOwnedByModel = 2, kOwnedByOrder = 4, kOwnedByPiece = 8
};

// One store table: its key columns (written by the writer, not described
// fields), the described fields, and the record size of its readers.
struct Table {
  const char* name;
  const char* keys;         // SQL of the key columns before the fields
  const char* constraints;  // SQL after the fields ("" or ", PRIMARY KEY (...)")
  bool without_rowid;
  const Field* fields;
  size_t field_count;
  // For the rows of an item (a marker's pieces, ...): the column that holds
  // the item's id, the kinds of item (OwnerKinds) and, when several, the
  // column that names the item's kind. Null / 0 for the item tables.
  const char* owner_id = nullptr;
  unsigned owner_kinds = 0;
  const char* owner_kind_column = nullptr;

  // The table with rows that belong to items of kinds.
  constexpr Table owned_by(const char* id_column, unsigned kinds, const char* kind_column = nullptr) const {
    Table t = *this;
    t.owner_id = id_column;
    t.owner_kinds = kinds;
    t.owner_kind_column = kind_column;
    return t;
  }
  const Field* begin() const { return fields; }
  const Field* end() const { return fields + field_count; }
  // The field whose JSON key is key in group (null = the item itself), or null.
  const Field* find(std::string_view key, const char* group) const;
};

namespace field_access {
template <class C, auto M>
void* member(void* row) { return &(static_cast<C*>(row)->*M); }
template <class C, auto Sub, auto M>
void* nested(void* row) { return &((static_cast<C*>(row)->*Sub).*M); }
template <class C, auto Array, size_t I>
void* element(void* row) { return &(static_cast<C*>(row)->*Array)[I]; }
inline void* self(void* row) { return row; }
template <class C, auto M>
size_t length(const void* row) { return (static_cast<const C*>(row)->*M).size(); }
}  // namespace field_access

constexpr Field text_field(const char* key, void* (*at)(void*), int64_t max, int32_t offset = -1) {
  return Field{key, key, FieldType::kText, 0, max, offset, static_cast<uint16_t>(max + 1), nullptr, false, false,
               at, nullptr};
}
constexpr Field int_field(const char* key, void* (*at)(void*), int64_t lo, int64_t hi, int32_t offset = -1,
                          uint16_t width = 4) {
  return Field{key, key, FieldType::kInt, lo, hi, offset, width, nullptr, false, false, at, nullptr};
}
constexpr Field int32_field(const char* key, void* (*at)(void*), int32_t offset = -1) {
  return int_field(key, at, INT32_MIN, INT32_MAX, offset, 4);
}
constexpr Field int16_field(const char* key, void* (*at)(void*), int32_t offset = -1) {
  return int_field(key, at, INT16_MIN, INT16_MAX, offset, 2);
}
constexpr Field int8_field(const char* key, void* (*at)(void*), int32_t offset = -1) {
  return int_field(key, at, INT8_MIN, INT8_MAX, offset, 1);
}
constexpr Field real_field(const char* key, void* (*at)(void*), int32_t offset = -1) {
  return Field{key, key, FieldType::kReal, 0, 0, offset, 8, nullptr, false, false, at, nullptr};
}
constexpr Field flag_field(const char* key, void* (*at)(void*)) {
  return Field{key, key, FieldType::kFlag, 0, 1, -1, 0, nullptr, false, false, at, nullptr};
}
constexpr Field index_field(const char* key, void* (*at)(void*)) {
  return Field{key, key, FieldType::kIndex, 0, INT32_MAX, -1, 0, nullptr, false, false, at, nullptr};
}
constexpr Field counts_field(const char* key, void* (*at)(void*), int64_t slots, int32_t offset) {
  return Field{key, key, FieldType::kCounts, 0, slots, offset, static_cast<uint16_t>(2 * slots), nullptr, false,
               false, at, nullptr};
}
constexpr Field length_field(const char* column, size_t (*length)(const void*), int32_t offset = -1) {
  return Field{nullptr, column, FieldType::kLength, 0, INT32_MAX, offset, 4, nullptr, false, false, nullptr, length};
}
// An item's name: 1..20 characters, required, unique per kind.
constexpr Field name_field(void* (*at)(void*), int32_t offset = -1) {
  Field f = text_field("name", at, 20, offset);
  f.lo = 1;
  f.required = true;
  f.unique = true;
  return f;
}

namespace rec = quire::records;

#define PB_M(C, m) &field_access::member<C, &C::m>
#define PB_LEN(C, m) &field_access::length<C, &C::m>
#define PB_HEADER(m) &field_access::nested<MarkerData, &MarkerData::header, &MarkerHeaderData::m>
// The fields every item (marker, model, order) has, at the start of its table.
#define PB_ITEM_FIELDS(C, name_offset)                                                      \
  name_field(PB_M(C, name), name_offset), int32_field("modified", PB_M(C, modified)).as_required(),     \
      int32_field("created", PB_M(C, created)), int32_field("prev_modified", PB_M(C, prev_modified)), \
      text_field("user_last_mod", PB_M(C, user_last_mod), 43),                               \
      text_field("user_created", PB_M(C, user_created), 43),                                 \
      text_field("user_prev_mod", PB_M(C, user_prev_mod), 43)

inline constexpr Field kAreaFields[] = {
    name_field(PB_M(AreaData, name)),
    int_field("notation", PB_M(AreaData, notation), 0, 1),
    int_field("precision", PB_M(AreaData, precision), 0, 9),
};

// markers: the item, its byte sizes (JSON "byte_size": [a, b]) and its
// header (JSON "header"); the record is the (extended) marker header.
inline constexpr Field kMarkerFields[] = {
    PB_ITEM_FIELDS(MarkerData, -1),  // the record's name is the header's
    int32_field(nullptr, &field_access::element<MarkerData, &MarkerData::byte_size, 0>).in_column("byte_size1"),
    int32_field(nullptr, &field_access::element<MarkerData, &MarkerData::byte_size, 1>).in_column("byte_size2"),
    text_field("name", PB_HEADER(name), 20, rec::marker_header::kName).in_column("header_name").in_group("header"),
    text_field("description", PB_HEADER(description), 20, rec::marker_header::kDescription).in_group("header"),
    text_field("order_name", PB_HEADER(order_name), 20, rec::marker_header::kOrderName).in_group("header"),
    text_field("order_number", PB_HEADER(order_number), 20, rec::marker_header::kOrderNumber).in_group("header"),
    text_field("lay_limits", PB_HEADER(lay_limits), 20, rec::marker_header::kLayLimits).in_group("header"),
    text_field("annotation", PB_HEADER(annotation), 20, rec::marker_header::kAnnotation).in_group("header"),
    text_field("block_buffer", PB_HEADER(block_buffer), 20, rec::marker_header::kBlockBuffer).in_group("header"),
    text_field("matching", PB_HEADER(matching), 20, rec::marker_header::kMatching).in_group("header"),
    text_field("notch", PB_HEADER(notch), 20, rec::marker_header::kNotch).in_group("header"),
    real_field("width", PB_HEADER(width), rec::marker_header::kWidth).in_group("header"),
    real_field("length", PB_HEADER(length), rec::marker_header::kLength).in_group("header"),
    real_field("util", PB_HEADER(util), rec::marker_header::kUtil).in_group("header"),
    real_field("target_util", PB_HEADER(target_util), rec::marker_header::kTargetUtil).in_group("header"),
    real_field("total_perimeter", PB_HEADER(total_perimeter), rec::marker_header::kTotalPerimeter).in_group("header"),
    real_field("stripe_o", PB_HEADER(stripe_o), rec::marker_header::kStripeO).in_group("header"),
    real_field("stripe_o2", PB_HEADER(stripe_o2), rec::marker_header::kStripeO2).in_group("header"),
    real_field("stripe_o3", PB_HEADER(stripe_o3), rec::marker_header::kStripeO3).in_group("header"),
    real_field("stripe_rpt", PB_HEADER(stripe_rpt), rec::marker_header::kStripeRpt).in_group("header"),
    real_field("plaid_o", PB_HEADER(plaid_o), rec::marker_header::kPlaidO).in_group("header"),
    real_field("plaid_o2", PB_HEADER(plaid_o2), rec::marker_header::kPlaidO2).in_group("header"),
    real_field("plaid_o3", PB_HEADER(plaid_o3), rec::marker_header::kPlaidO3).in_group("header"),
    real_field("plaid_rpt", PB_HEADER(plaid_rpt), rec::marker_header::kPlaidRpt).in_group("header"),
    real_field("shrink_stretch_x", PB_HEADER(shrink_stretch_x), rec::marker_header::kShrinkStretchX).in_group("header"),
    real_field("shrink_stretch_y", PB_HEADER(shrink_stretch_y), rec::marker_header::kShrinkStretchY).in_group("header"),
    int32_field("added", PB_HEADER(added), rec::marker_header::kAdded).in_group("header"),
    int32_field("total_corners", PB_HEADER(total_corners), rec::marker_header::kTotalCorners).in_group("header"),
    int32_field("total_notches", PB_HEADER(total_notches), rec::marker_header::kTotalNotches).in_group("header"),
    int32_field("five_star", PB_HEADER(five_star), rec::marker_header::kFiveStar).in_group("header"),
    int32_field("sizes", PB_HEADER(sizes), rec::marker_header::kSizes).in_group("header"),
    int32_field("added_sizes", PB_HEADER(added_sizes), rec::marker_header::kAddedSizes).in_group("header"),
    length_field("piece_count", PB_LEN(MarkerData, pieces)),
    length_field("override_count", PB_LEN(MarkerData, overrides), rec::marker_header::kOverrides),
    length_field("splice_count", PB_LEN(MarkerData, splices), rec::marker_header::kSplices),
    length_field("model_count", PB_LEN(MarkerData, models), rec::marker_header::kModels),
};

// marker_analysis (JSON "analysis" of a marker); the record is MarkerAnalysis.
inline constexpr Field kAnalysisFields[] = {
    real_field("straight_perimeter", PB_M(MarkerAnalysisData, straight_perimeter), rec::marker_analysis::kStraightPerimeter),
    real_field("curved_perimeter", PB_M(MarkerAnalysisData, curved_perimeter), rec::marker_analysis::kCurvedPerimeter),
    real_field("total_internal", PB_M(MarkerAnalysisData, total_internal), rec::marker_analysis::kTotalInternal),
    real_field("straight_internal", PB_M(MarkerAnalysisData, straight_internal), rec::marker_analysis::kStraightInternal),
    real_field("curved_internal", PB_M(MarkerAnalysisData, curved_internal), rec::marker_analysis::kCurvedInternal),
    real_field("placed_area", PB_M(MarkerAnalysisData, placed_area), rec::marker_analysis::kPlacedArea),
    real_field("placed_perimeter", PB_M(MarkerAnalysisData, placed_perimeter), rec::marker_analysis::kPlacedPerimeter),
    real_field("area_term", PB_M(MarkerAnalysisData, area_term), rec::marker_analysis::kAreaTerm),
    real_field("net_area", PB_M(MarkerAnalysisData, net_area), rec::marker_analysis::kNetArea),
    int16_field("placed_pieces", PB_M(MarkerAnalysisData, placed_pieces), rec::marker_analysis::kPlacedPieces),
    int16_field("unplaced_pieces", PB_M(MarkerAnalysisData, unplaced_pieces), rec::marker_analysis::kUnplacedPieces),
    int32_field("placed_notches", PB_M(MarkerAnalysisData, placed_notches), rec::marker_analysis::kPlacedNotches),
    int32_field("placed_corners", PB_M(MarkerAnalysisData, placed_corners), rec::marker_analysis::kPlacedCorners),
    counts_field("notch_counts", PB_M(MarkerAnalysisData, notch_counts), rec::marker_analysis::kNotchSlots,
                 rec::marker_analysis::kNotchCounts),
    counts_field("internal_counts", PB_M(MarkerAnalysisData, internal_counts), rec::marker_analysis::kInternalSlots,
                 rec::marker_analysis::kInternalCounts),
    counts_field("point_attribute_counts", PB_M(MarkerAnalysisData, point_attribute_counts),
                 rec::marker_analysis::kPointAttributeSlots, rec::marker_analysis::kPointAttributeCounts),
};

// marker_pieces (a marker's "pieces"); the record is MarkerPiece.
inline constexpr Field kMarkerPieceFields[] = {
    text_field("name", PB_M(MarkerPieceData, name), 20, rec::marker_piece::kName),
    text_field("category", PB_M(MarkerPieceData, category), 20, rec::marker_piece::kCategory),
    real_field("area", PB_M(MarkerPieceData, area), rec::marker_piece::kArea),
    real_field("perimeter", PB_M(MarkerPieceData, perimeter), rec::marker_piece::kPerimeter),
    text_field("size", PB_M(MarkerPieceData, size), 9, rec::marker_piece::kSizeName),
};

// overrides (a marker's "overrides"); the record is PieceOverride.
inline constexpr Field kOverrideFields[] = {
    text_field("piece", PB_M(OverrideData, piece), 20, rec::piece_override::kPiece),
    int_field("right", PB_M(OverrideData, right), 0, 255, rec::piece_override::kRight, 1).in_column("right_hand"),
    text_field("override", PB_M(OverrideData, override_text), 10, rec::piece_override::kOverride),
    text_field("size", PB_M(OverrideData, size), 6, rec::piece_override::kSizeName),
    text_field("model", PB_M(OverrideData, model), 27, rec::piece_override::kModel),
};

// splices (a marker's "splices"); the record is SpliceInfo.
inline constexpr Field kSpliceFields[] = {
    real_field("start", PB_M(SpliceData, start), rec::splice_info::kStart),
    real_field("length", PB_M(SpliceData, length), rec::splice_info::kLength),
};

// order_models (the "models" of a marker or an order); the record is OrderModel.
inline constexpr Field kOrderModelFields[] = {
    text_field("name", PB_M(OrderModelData, name), 20, rec::order_model::kName),
    text_field("alteration", PB_M(OrderModelData, alteration), 20, rec::order_model::kAlteration),
    text_field("dynamic", PB_M(OrderModelData, dynamic), 20, rec::order_model::kDynamic),
    text_field("size_code", PB_M(OrderModelData, size_code), 20, rec::order_model::kSizeCode),
    text_field("fabric", PB_M(OrderModelData, fabric), 5, rec::order_model::kFabric),
    int32_field("add_piece_bundle", PB_M(OrderModelData, add_piece_bundle), rec::order_model::kAddPieceBundle),
    length_field("option_count", PB_LEN(OrderModelData, options), rec::order_model::kOptionCount),
    length_field("size_count", PB_LEN(OrderModelData, sizes), rec::order_model::kSizeCount),
};

// order_model_options (an order model's "options": a list of texts); the
// record is OptionListEntry.
inline constexpr Field kOptionFields[] = {
    text_field("option", &field_access::self, 7, rec::option_entry::kName).in_column("name"),
};

// order_model_sizes (an order model's "sizes"); the record is SizeEntry.
inline constexpr Field kSizeEntryFields[] = {
    text_field("size", PB_M(SizeEntryData, size), 7, rec::size_entry::kSizeName),
    int32_field("quantity", PB_M(SizeEntryData, quantity), rec::size_entry::kQuantity),
    text_field("cutdown", PB_M(SizeEntryData, cutdown), 6, rec::size_entry::kCutdown),
    text_field("half_piece", PB_M(SizeEntryData, half_piece), 6, rec::size_entry::kHalfPiece),
    text_field("base_size", PB_M(SizeEntryData, base_size), 7, rec::size_entry::kBaseSize),
    int32_field("direction", PB_M(SizeEntryData, direction), rec::size_entry::kDirection),
    int32_field("placed", PB_M(SizeEntryData, placed), rec::size_entry::kPlaced),
};

// models; the record is ModelRecord.
inline constexpr Field kModelFields[] = {
    PB_ITEM_FIELDS(ModelData, rec::model_record::kName),
    text_field("comment1", PB_M(ModelData, comment1), 40, rec::model_record::kComment1),
    text_field("comment2", PB_M(ModelData, comment2), 41, rec::model_record::kComment2),
    length_field("base_piece_count", PB_LEN(ModelData, pieces), rec::model_record::kBasePieceCount),
    length_field("group_count", PB_LEN(ModelData, option_groups), rec::model_record::kGroupCount),
};

// option_groups (a model's "option_groups"); the record is OptionGroup.
inline constexpr Field kOptionGroupFields[] = {
    text_field("option", PB_M(OptionGroupData, option), 7, rec::option_group::kOption),
    length_field("piece_count", PB_LEN(OptionGroupData, pieces), rec::option_group::kPieceCount),
};

// model_pieces (the "pieces" of a model and of its option groups); the
// record is ModelPiece.
inline constexpr Field kModelPieceFields[] = {
    text_field("name", PB_M(ModelPieceData, name), 20, rec::model_piece::kName),
    text_field("fabric", PB_M(ModelPieceData, fabric), 29, rec::model_piece::kFabric),
    int8_field("type", PB_M(ModelPieceData, type), rec::model_piece::kType),
    int8_field("as_in", PB_M(ModelPieceData, as_in), rec::model_piece::kAsIn),
    int8_field("mirror_x", PB_M(ModelPieceData, mirror_x), rec::model_piece::kMirrorX),
    int8_field("mirror_y", PB_M(ModelPieceData, mirror_y), rec::model_piece::kMirrorY),
    int8_field("mirror_xy", PB_M(ModelPieceData, mirror_xy), rec::model_piece::kMirrorXY),
    int8_field("half", PB_M(ModelPieceData, half), rec::model_piece::kHalf),
    int8_field("dy_sp", PB_M(ModelPieceData, dy_sp), rec::model_piece::kDySp),
    int8_field("add_piece", PB_M(ModelPieceData, add_piece), rec::model_piece::kAddPiece),
};

// pieces (the area's "pieces"); the record is PieceHeader.
inline constexpr Field kPieceFields[] = {
    name_field(PB_M(PieceData, name), rec::piece_header::kName),
    text_field("category", PB_M(PieceData, category), 20, rec::piece_header::kCategory),
    text_field("description", PB_M(PieceData, description), 113, rec::piece_header::kDescription),
};

// orders; the record is OrderHeader.
inline constexpr Field kOrderFields[] = {
    PB_ITEM_FIELDS(OrderData, rec::order_header::kName),
    length_field("model_count", PB_LEN(OrderData, models), rec::order_header::kModels),
};

// faults (an item's "faults"): the calls made to fail for the item.
inline constexpr Field kFaultFields[] = {
    flag_field("open", PB_M(FaultSet, open)),
    flag_field("close", PB_M(FaultSet, close)),
    flag_field("header", PB_M(FaultSet, header)),
    flag_field("header_ex", PB_M(FaultSet, header_ex)),
    flag_field("analysis", PB_M(FaultSet, analysis)),
    flag_field("ordmod", PB_M(FaultSet, ordmod)),
    flag_field("model", PB_M(FaultSet, model)),
    index_field("piece_at", PB_M(FaultSet, piece_at)),
    index_field("override_at", PB_M(FaultSet, override_at)),
    index_field("splice_at", PB_M(FaultSet, splice_at)),
    index_field("model_list_at", PB_M(FaultSet, model_list_at)),
};

#undef PB_M
#undef PB_LEN
#undef PB_HEADER
#undef PB_ITEM_FIELDS

template <size_t N>
constexpr Table table(const char* name, const char* keys, const char* constraints, bool without_rowid,
                      const Field (&fields)[N]) {
  return Table{name, keys, constraints, without_rowid, fields, N};
}

// The tables, in the order of the schema.
inline constexpr Table kMarkersTable = table("markers", "id INTEGER PRIMARY KEY", "", false, kMarkerFields);
inline constexpr Table kAnalysisTable =
    table("marker_analysis", "marker_id INTEGER PRIMARY KEY", "", false, kAnalysisFields).owned_by("marker_id", kOwnedByMarker);
inline constexpr Table kMarkerPiecesTable =
    table("marker_pieces", "marker_id INTEGER NOT NULL, position INTEGER NOT NULL",
          ", PRIMARY KEY (marker_id, position)", true, kMarkerPieceFields).owned_by("marker_id", kOwnedByMarker);
inline constexpr Table kOverridesTable =
    table("overrides", "marker_id INTEGER NOT NULL, position INTEGER NOT NULL",
          ", PRIMARY KEY (marker_id, position)", true, kOverrideFields).owned_by("marker_id", kOwnedByMarker);
inline constexpr Table kSplicesTable = table("splices", "marker_id INTEGER NOT NULL, position INTEGER NOT NULL",
                                             ", PRIMARY KEY (marker_id, position)", true, kSpliceFields).owned_by("marker_id", kOwnedByMarker);
inline constexpr Table kOrderModelsTable =
    table("order_models", "owner TEXT NOT NULL, owner_id INTEGER NOT NULL, position INTEGER NOT NULL",
          ", PRIMARY KEY (owner, owner_id, position)", true, kOrderModelFields).owned_by("owner_id", kOwnedByMarker | kOwnedByOrder, "owner");
inline constexpr Table kOptionsTable = table(
    "order_model_options",
    "owner TEXT NOT NULL, owner_id INTEGER NOT NULL, model_position INTEGER NOT NULL, position INTEGER NOT NULL",
    ", PRIMARY KEY (owner, owner_id, model_position, position)", true, kOptionFields).owned_by("owner_id", kOwnedByMarker | kOwnedByOrder, "owner");
inline constexpr Table kSizesTable = table(
    "order_model_sizes",
    "owner TEXT NOT NULL, owner_id INTEGER NOT NULL, model_position INTEGER NOT NULL, position INTEGER NOT NULL",
    ", PRIMARY KEY (owner, owner_id, model_position, position)", true, kSizeEntryFields).owned_by("owner_id", kOwnedByMarker | kOwnedByOrder, "owner");
inline constexpr Table kModelsTable = table("models", "id INTEGER PRIMARY KEY", "", false, kModelFields);
inline constexpr Table kOptionGroupsTable =
    table("option_groups", "model_id INTEGER NOT NULL, position INTEGER NOT NULL",
          ", PRIMARY KEY (model_id, position)", true, kOptionGroupFields).owned_by("model_id", kOwnedByModel);
inline constexpr Table kModelPiecesTable =
    table("model_pieces", "model_id INTEGER NOT NULL, option_group INTEGER NOT NULL, position INTEGER NOT NULL",
          ", PRIMARY KEY (model_id, option_group, position)", true, kModelPieceFields).owned_by("model_id", kOwnedByModel);
inline constexpr Table kPiecesTable = table("pieces", "id INTEGER PRIMARY KEY", "", false, kPieceFields);
inline constexpr Table kOrdersTable = table("orders", "id INTEGER PRIMARY KEY", "", false, kOrderFields);
inline constexpr Table kFaultsTable = table("faults", "kind TEXT NOT NULL, item_id INTEGER NOT NULL",
                                            ", PRIMARY KEY (kind, item_id)", true, kFaultFields).owned_by("item_id", kOwnedByMarker | kOwnedByModel | kOwnedByOrder | kOwnedByPiece, "kind");

inline constexpr const Table* kStoreTables[] = {
    &kMarkersTable, &kAnalysisTable, &kMarkerPiecesTable, &kOverridesTable, &kSplicesTable,
    &kOrderModelsTable, &kOptionsTable, &kSizesTable, &kModelsTable, &kOptionGroupsTable,
    &kModelPiecesTable, &kPiecesTable, &kOrdersTable, &kFaultsTable};

// ---- working from the description -------------------------------------------

// "a, b, c": the columns of table's fields; with record_only, only those
// with a record offset. prefix goes before each column ("m.").
std::string column_list(const Table& table, bool record_only = false, const char* prefix = "");
// The CREATE TABLE statements of every store table.
std::string store_schema();
// "[a,b]" without trailing zero slots; parse_counts reads it back.
std::string counts_text(const std::vector<int32_t>& counts);
void parse_counts(const char* text, std::vector<int32_t>* out);
// Reads the counts text "[a,b,...]" (slot 0 first, as counts_text writes
// it), handing each value to take in turn until the text ends or take
// returns false. A null text has no values.
template <class Take>
void for_each_count(const char* t, Take take) {
  if (!t) return;
  while (*t == '[' || *t == ' ') ++t;
  while (*t && *t != ']') {
    char* end = nullptr;
    long v = std::strtol(t, &end, 10);
    if (end == t || !take(v)) return;
    t = end;
    while (*t == ',' || *t == ' ') ++t;
  }
}

}  // namespace plotbase

#endif  // PLOTBASE_AREA_DATA_H_
