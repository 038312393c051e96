// PlotbaseReader: StoreReader on the storage library's calls. Results are
// turned into Status values here, with the library's error record copied
// into them when a call fails, so that a failure printed later names what
// the library said at the time.
#include "plotbase_reader.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "quire/plotbase.h"
#include "quire/records.h"

namespace quire {
namespace {

// The library's calls of one kind of item.
struct ItemCalls {
  int (*lookup)(void* area, char* name, const char* pattern, int mode);
  int (*open)(void* area, const char* name, void* item_area);
  int (*close)(void* area, const char* name, void* item_area);
};

const ItemCalls& calls_of(StoreKind kind) {
  static const ItemCalls kMarkers{pb_lookup_markers, pb_open_marker, pb_close_marker};
  static const ItemCalls kModels{pb_lookup_models, pb_open_model, pb_close_model};
  static const ItemCalls kOrders{pb_lookup_orders, pb_open_order, pb_close_order};
  switch (kind) {
    case StoreKind::kModel: return kModels;
    case StoreKind::kOrder: return kOrders;
    case StoreKind::kMarker: break;
  }
  return kMarkers;
}

// The source name of the library's error record, kept for the life of the
// process: a Status holds its source by pointer, and the record is
// overwritten by the library's next failure. The library names a handful
// of sources, so the set stays small.
const char* kept_source() {
  static std::mutex mutex;
  static std::set<std::string, std::less<>> sources;
  const size_t n = records::text_length(reinterpret_cast<const unsigned char*>(pb_error.source),
                                        sizeof pb_error.source);
  std::string_view source(pb_error.source, n);
  std::lock_guard<std::mutex> lock(mutex);
  auto found = sources.find(source);
  if (found == sources.end()) found = sources.emplace(source).first;
  return found->c_str();
}

// A text of the library's current-item variables (size bytes, perhaps
// unterminated).
std::string_view library_text(const char* text, size_t size) {
  return std::string_view(text, records::text_length(reinterpret_cast<const unsigned char*>(text), size));
}

// The status of a read whose result is result.
Status read_result(int result) { return result == 1 ? Status() : library_failure(result, false); }

// The status of a step of a walk whose result is result: the library's 0 is
// the walk's end (found false), not a failure.
Status walk_result(int result, bool& found) {
  found = result == 1;
  return result == 1 || result == 0 ? Status() : library_failure(result, false);
}

}  // namespace

Status library_failure(int result, bool is_lookup) {
  const bool file_failed = is_lookup ? result != 0 : pb_is_read_failure(result) != 0;
  const int code = pb_error.code;
  const int line = pb_error.line;
  Status failure = Status::failure(file_failed ? StatusCode::kStore : StatusCode::kNotFound,
                                   "storage library error " + std::to_string(code), {}, code);
  failure.at(kept_source(), line);
  return failure;
}

PrintFunction PlotbaseReader::printer() const { return pb_printf; }

void PlotbaseReader::connect() { pb_connect_to_network(); }

int PlotbaseReader::set_notation(int notation) { return pb_set_notation_state(notation); }

Status PlotbaseReader::lookup_area(const char* name, unsigned char* area) {
  const int r = pb_lookup_storage_areas(area, name, 0);
  return r == 1 ? Status() : library_failure(r, true);
}

int PlotbaseReader::area_notation(unsigned char* area) { return pb_use_area_notation(area); }

int PlotbaseReader::area_precision(unsigned char* area) {
  int notation = 0;
  int precision = 0;
  pb_get_notationprecision(area, &notation, &precision);
  return precision;
}

void PlotbaseReader::area_path(unsigned char* area, char* out) { pb_convert_path(out, area, 1); }

Status PlotbaseReader::lookup_item(StoreKind kind, unsigned char* area, const char* pattern, int mode, char* name,
                                   ItemPlace& place) {
  const int r = calls_of(kind).lookup(area, name, pattern, mode);
  if (r != 1) return library_failure(r, true);
  place.number = pbc_item_num;
  place.total = pbc_total_items;
  place.mod_time = pbc_last_mod_time;
  return Status();
}

Status PlotbaseReader::open_item(StoreKind kind, unsigned char* area, const char* name, unsigned char* item_area,
                                 ItemHistory& history) {
  const int r = calls_of(kind).open(area, name, item_area);
  if (r != 1) return library_failure(r, false);
  history.mod_time = pbc_last_mod_time;
  history.creation_time = pbc_creation_time;
  history.prev_mod_time = pbc_prev_mod_time;
  history.user_last_mod = library_text(pbc_user_last_mod, sizeof pbc_user_last_mod);
  history.user_created = library_text(pbc_user_created, sizeof pbc_user_created);
  history.user_prev_mod = library_text(pbc_user_prev_mod, sizeof pbc_user_prev_mod);
  return Status();
}

Status PlotbaseReader::close_item(StoreKind kind, unsigned char* area, const char* name, unsigned char* item_area) {
  return read_result(calls_of(kind).close(area, name, item_area));
}

Status PlotbaseReader::marker_header(const char* name, unsigned char* item_area, unsigned char* header) {
  return read_result(pb_get_marker_header(name, header, item_area));
}

Status PlotbaseReader::marker_header_ex(const char* name, unsigned char* item_area, unsigned char* header) {
  return read_result(
      pb_get_marker_header_ex(name, header, static_cast<int>(records::marker_header::kSizeEx), item_area));
}

Status PlotbaseReader::marker_analysis(unsigned char* item_area, const unsigned char** analysis) {
  *analysis = static_cast<const unsigned char*>(pb_hdr_analyze(item_area));
  return *analysis != nullptr ? Status() : library_failure(pb_error.code, false);
}

Status PlotbaseReader::first_marker_piece(unsigned char* item_area, unsigned char* piece, bool& found) {
  return walk_result(pb_first_marker_piece(item_area, piece), found);
}

Status PlotbaseReader::next_marker_piece(unsigned char* item_area, unsigned char* piece, bool& found) {
  return walk_result(pb_next_marker_piece(item_area, piece), found);
}

Status PlotbaseReader::piece_override(unsigned char* item_area, int index, unsigned char* header,
                                      unsigned char* record) {
  return read_result(pb_get_piece_override(item_area, index, header, record));
}

Status PlotbaseReader::splice(unsigned char* item_area, int index, unsigned char* record) {
  return read_result(pb_get_splice_info(record, index, item_area));
}

Status PlotbaseReader::locate_marker_model_list(unsigned char* item_area) {
  return read_result(pb_locate_ordmod_marker(item_area));
}

Status PlotbaseReader::order_header(const char* name, unsigned char* item_area, unsigned char* header) {
  return read_result(pb_get_order_header(name, header, item_area));
}

Status PlotbaseReader::list_model(unsigned char* item_area, unsigned char* record) {
  return read_result(pb_get_order_model(record, item_area));
}

Status PlotbaseReader::list_option(unsigned char* item_area, unsigned char* record) {
  return read_result(pb_get_option_list_entry(record, item_area));
}

Status PlotbaseReader::list_size(unsigned char* item_area, unsigned char* record) {
  return read_result(pb_get_order_model_entry(record, item_area));
}

Status PlotbaseReader::model(const char* name, unsigned char* item_area, ModelValue& model) {
  model.clear();
  pb_model* tree = nullptr;
  const int r = pb_get_model_ex(name, &tree, item_area);
  // The failure is taken before the release, which may set the error record.
  Status read = read_result(r);
  // Released on every way out, a failed read (the library may leave a model
  // behind) and a value that cannot grow included.
  struct Release {
    pb_model** tree;
    ~Release() { pb_free_model_ex(tree); }
  } release{&tree};
  if (!read.ok() || tree == nullptr) return read;

  model.present = true;
  std::memcpy(model.record, tree->record, sizeof model.record);
  auto add_piece = [&model](const pb_model_piece& piece) {
    ModelValue::Piece& added = model.pieces.emplace_back();
    std::memcpy(added.record, piece.record, sizeof added.record);
  };
  for (const pb_model_piece* piece = tree->first_piece; piece; piece = piece->next) add_piece(*piece);
  model.base_pieces = model.pieces.size();
  for (const pb_option_group* group = tree->first_group; group; group = group->next) {
    ModelValue::Group& added = model.groups.emplace_back();
    std::memcpy(added.record, group->record, sizeof added.record);
    added.first_piece = model.pieces.size();
    for (const pb_model_piece* piece = group->first_piece; piece; piece = piece->next) add_piece(*piece);
    added.piece_count = model.pieces.size() - added.first_piece;
  }
  return Status();
}

Status PlotbaseReader::piece_header(unsigned char* area, const char* piece_name, unsigned char* header,
                                    bool& found) {
  unsigned char piece_area[records::item_area::kSize] = {};
  const int opened = pb_open_piece(area, piece_name, piece_area);
  found = opened == 1;
  if (!found) return library_failure(opened, false);
  Status read = read_result(pb_get_piece_header(piece_name, header, piece_area));
  pb_close_piece(area, piece_name, piece_area);
  return read;
}

}  // namespace quire
