// An area in memory, as the area file (JSON) describes it and as the area
// writer stores it. Texts are Latin-1 bytes. Also the tables of the marker
// header and analysis fields, shared by import, export and the writer.
#ifndef PLOTBASE_AREA_DATA_H_
#define PLOTBASE_AREA_DATA_H_

#include <cstdint>
#include <string>
#include <vector>

namespace plotbase {

struct FaultSpec {
  bool open = false, close = false, header = false, header_ex = false, analysis = false,
       ordmod = false, model = false;
  int64_t piece_at = -1, override_at = -1, splice_at = -1, model_list_at = -1;
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
  FaultSpec faults;
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
  FaultSpec faults;
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

// ---- field tables: JSON key = database column ------------------------------

struct HeaderText {
  const char* key;
  std::string MarkerHeaderData::*member;
};
struct HeaderReal {
  const char* key;
  double MarkerHeaderData::*member;
};
struct HeaderInt {
  const char* key;
  int32_t MarkerHeaderData::*member;
};

// The header texts, each at most 20 characters. "name" is stored in the
// column header_name; the others under their key.
inline const HeaderText kHeaderTexts[] = {
    {"name", &MarkerHeaderData::name},
    {"description", &MarkerHeaderData::description},
    {"order_name", &MarkerHeaderData::order_name},
    {"order_number", &MarkerHeaderData::order_number},
    {"lay_limits", &MarkerHeaderData::lay_limits},
    {"annotation", &MarkerHeaderData::annotation},
    {"block_buffer", &MarkerHeaderData::block_buffer},
    {"matching", &MarkerHeaderData::matching},
    {"notch", &MarkerHeaderData::notch},
};
inline const HeaderReal kHeaderReals[] = {
    {"width", &MarkerHeaderData::width},
    {"length", &MarkerHeaderData::length},
    {"util", &MarkerHeaderData::util},
    {"target_util", &MarkerHeaderData::target_util},
    {"total_perimeter", &MarkerHeaderData::total_perimeter},
    {"stripe_o", &MarkerHeaderData::stripe_o},
    {"stripe_o2", &MarkerHeaderData::stripe_o2},
    {"stripe_o3", &MarkerHeaderData::stripe_o3},
    {"stripe_rpt", &MarkerHeaderData::stripe_rpt},
    {"plaid_o", &MarkerHeaderData::plaid_o},
    {"plaid_o2", &MarkerHeaderData::plaid_o2},
    {"plaid_o3", &MarkerHeaderData::plaid_o3},
    {"plaid_rpt", &MarkerHeaderData::plaid_rpt},
    {"shrink_stretch_x", &MarkerHeaderData::shrink_stretch_x},
    {"shrink_stretch_y", &MarkerHeaderData::shrink_stretch_y},
};
inline const HeaderInt kHeaderInts[] = {
    {"added", &MarkerHeaderData::added},
    {"total_corners", &MarkerHeaderData::total_corners},
    {"total_notches", &MarkerHeaderData::total_notches},
    {"five_star", &MarkerHeaderData::five_star},
    {"sizes", &MarkerHeaderData::sizes},
    {"added_sizes", &MarkerHeaderData::added_sizes},
};

struct AnalysisReal {
  const char* key;
  double MarkerAnalysisData::*member;
};
struct AnalysisInt {
  const char* key;
  int32_t MarkerAnalysisData::*member;
  bool int16;
};
struct AnalysisList {
  const char* key;
  std::vector<int32_t> MarkerAnalysisData::*member;
  size_t slots;
};

inline const AnalysisReal kAnalysisReals[] = {
    {"straight_perimeter", &MarkerAnalysisData::straight_perimeter},
    {"curved_perimeter", &MarkerAnalysisData::curved_perimeter},
    {"total_internal", &MarkerAnalysisData::total_internal},
    {"straight_internal", &MarkerAnalysisData::straight_internal},
    {"curved_internal", &MarkerAnalysisData::curved_internal},
    {"placed_area", &MarkerAnalysisData::placed_area},
    {"placed_perimeter", &MarkerAnalysisData::placed_perimeter},
    {"area_term", &MarkerAnalysisData::area_term},
    {"net_area", &MarkerAnalysisData::net_area},
};
inline const AnalysisInt kAnalysisInts[] = {
    {"placed_pieces", &MarkerAnalysisData::placed_pieces, true},
    {"unplaced_pieces", &MarkerAnalysisData::unplaced_pieces, true},
    {"placed_notches", &MarkerAnalysisData::placed_notches, false},
    {"placed_corners", &MarkerAnalysisData::placed_corners, false},
};
inline const AnalysisList kAnalysisLists[] = {
    {"notch_counts", &MarkerAnalysisData::notch_counts, 99},
    {"internal_counts", &MarkerAnalysisData::internal_counts, 26},
    {"point_attribute_counts", &MarkerAnalysisData::point_attribute_counts, 52},
};

}  // namespace plotbase

#endif  // PLOTBASE_AREA_DATA_H_
