// The library's exported C interface (quire/plotbase.h): its global records,
// and every call. Each call runs inside one fence, so that no exception
// crosses the C boundary: running out of memory becomes kErrNoMemory, any
// other exception kErrInternal, set in pb_error like every failure. A call
// checks the caller's arguments, resolves the open item, consults the item's
// faults (faults.h), and hands the rest to the readers (internal.h), which
// know nothing of faults.
#include <cstdarg>
#include <new>
#include <type_traits>

#include "faults.h"
#include "internal.h"

extern "C" {
PB_API pb_error_record pb_error = {0, 0, {0}};
PB_API int pbc_item_num = 0;
PB_API int pbc_total_items = 0;
PB_API int32_t pbc_last_mod_time = -1;
PB_API int32_t pbc_creation_time = -1;
PB_API int32_t pbc_prev_mod_time = -1;
PB_API char pbc_user_last_mod[PB_USER_TEXT_SIZE] = {0};
PB_API char pbc_user_created[PB_USER_TEXT_SIZE] = {0};
PB_API char pbc_user_prev_mod[PB_USER_TEXT_SIZE] = {0};
}

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/api.cpp";
namespace rec = quire::records;

// The result of a fenced call whose body threw: the error code for calls
// that return one, null for those that return a record.
template <class R>
R thrown_result(int code) {
  if constexpr (std::is_pointer_v<R>) {
    (void)code;
    return nullptr;
  } else {
    return static_cast<R>(code);
  }
}

// Runs body, turning an exception into a failure at line.
template <class F>
auto fenced(int line, F&& body) noexcept -> decltype(body()) {
  using R = decltype(body());
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return thrown_result<R>(fail(kErrNoMemory, line, kSource, "out of memory"));
  } catch (...) {
    return thrown_result<R>(fail(kErrInternal, line, kSource, "unexpected failure"));
  }
}

// Opens the item called name of kind into item_area, unless its faults make
// the open fail.
int open_item(Kind kind, void* area, const char* name, void* item_area, int line) {
  if (!item_area || !name) return fail(kErrBadArgument, line, kSource, "null name or item area");
  FoundItem found;
  if (find_item(kind, area, name, &found) != 1) return pb_error.code;
  FaultSet faults;
  if (load_item_faults(found.conn.get(), kind, found.id, &faults) != 1) return pb_error.code;
  if (check_fault(faults, FaultCall::kOpen, 0, kSource, line) != 1) return pb_error.code;
  ItemSlot* slot = open_found_item(kind, found, item_area);
  if (!slot) return pb_error.code;
  slot->faults = faults;
  return 1;
}

// Closes the item of kind in item_area; a close fault fails the call after
// the item is closed all the same.
int close_item(Kind kind, void* item_area, int line) {
  uint32_t index = 0;
  ItemSlot* slot = slot_of(item_area, kind, kSource, line, &index);
  if (!slot) return pb_error.code;
  bool close_fails = check_fault(slot->faults, FaultCall::kClose, 0, kSource, line) != 1;
  release_slot(index, item_area);
  return close_fails ? pb_error.code : 1;
}

// The open marker of item_area for a header read, after its faults.
int marker_header(void* header, bool ex, void* item_area, int line) {
  ItemSlot* slot = slot_of(item_area, kMarker, kSource, line);
  if (!slot) return pb_error.code;
  if (!header) return fail(kErrBadArgument, line, kSource, ex ? "header buffer shorter than 534 bytes" : "null header");
  if (check_fault(slot->faults, ex ? FaultCall::kHeaderEx : FaultCall::kHeader, 0, kSource, line) != 1)
    return pb_error.code;
  return read_marker_header(slot, static_cast<unsigned char*>(header), ex);
}

int marker_piece(void* item_area, void* piece, bool first, int line) {
  ItemSlot* slot = slot_of(item_area, kMarker, kSource, line);
  if (!slot) return pb_error.code;
  if (!piece) return fail(kErrBadArgument, line, kSource, "null piece record");
  if (first) restart_marker_pieces(slot);
  if (check_fault(slot->faults, FaultCall::kPiece, count_piece_read(slot, first), kSource, line) != 1)
    return pb_error.code;
  return read_marker_piece(slot, static_cast<unsigned char*>(piece));
}

// An override or splice read: the marker, the record, the index within the
// marker's list, the faults.
int indexed_read(void* item_area, int index, void* record, ItemCount list, int line) {
  const bool override_list = list == kMarkerOverrides;
  ItemSlot* slot = slot_of(item_area, kMarker, kSource, line);
  if (!slot) return pb_error.code;
  if (!record)
    return fail(kErrBadArgument, line, kSource, override_list ? "null override record" : "null splice record");
  if (index < 0 || index >= slot->count[list])
    return fail(kErrIndexRange, line, kSource, override_list ? "no such override" : "no such splice");
  if (check_fault(slot->faults, override_list ? FaultCall::kOverride : FaultCall::kSplice, index, kSource, line) != 1)
    return pb_error.code;
  unsigned char* r = static_cast<unsigned char*>(record);
  return override_list ? read_piece_override(slot, index, r) : read_splice(slot, index, r);
}

// A read of the model-list sequence: the located sequence, its faults, the
// record, then read.
int sequence_read(void* record, void* item_area, const char* null_record, int (*read)(ItemSlot*, unsigned char*),
                  int line) {
  ItemSlot* slot = sequence_slot(item_area, kSource, line);
  if (!slot) return pb_error.code;
  if (check_fault(slot->faults, FaultCall::kModelList, count_model_list_read(slot), kSource, line) != 1)
    return pb_error.code;
  if (!record) return fail(kErrBadArgument, line, kSource, null_record);
  return read(slot, static_cast<unsigned char*>(record));
}

}  // namespace
}  // namespace plotbase

using namespace plotbase;

extern "C" {

PB_API int pb_is_read_failure(int code) {
  return fenced(__LINE__, [&] { return is_read_failure(code) ? 1 : 0; });
}

PB_API int pb_printf(const char* format, ...) {
  if (!format) return 0;
  va_list args;
  va_start(args, format);
  int n = fenced(__LINE__, [&] { return print_message(format, args); });
  va_end(args);
  return n;
}

PB_API void pb_set_print_handler(pb_print_handler handler, void* context) {
  fenced(__LINE__, [&] {
    set_print_handler(handler, context);
    return 1;
  });
}

PB_API int pb_stricmp(const char* a, const char* b) {
  return fenced(__LINE__, [&] { return compare_names(a, b); });
}

// ---- the area ------------------------------------------------------------

PB_API int pb_connect_to_network(void) {
  return fenced(__LINE__, [] { return 1; });
}

PB_API int pb_set_notation_state(int notation) {
  return fenced(__LINE__, [&] { return set_notation_state(notation); });
}

PB_API int pb_lookup_storage_areas(void* area, const char* name, int mode) {
  (void)mode;
  return fenced(__LINE__, [&] {
    if (!area || !name) return fail(kErrBadArgument, __LINE__, kSource, "null area record or name");
    return lookup_storage_area(area, name);
  });
}

PB_API int pb_use_area_notation(void* area) {
  return fenced(__LINE__, [&] { return use_area_notation(area); });
}

PB_API int pb_get_notationprecision(void* area, int* notation, int* precision) {
  return fenced(__LINE__, [&] { return get_notation_precision(area, notation, precision); });
}

PB_API int pb_convert_path(char* out, void* area, int mode) {
  (void)mode;
  return fenced(__LINE__, [&] {
    if (!out) return fail(kErrBadArgument, __LINE__, kSource, "null output buffer");
    return convert_path(out, area);
  });
}

// ---- items -----------------------------------------------------------------

PB_API int pb_lookup_markers(void* area, char* name, const char* pattern, int mode) {
  return fenced(__LINE__, [&] { return lookup_item(kMarker, area, name, pattern, mode); });
}
PB_API int pb_lookup_models(void* area, char* name, const char* pattern, int mode) {
  return fenced(__LINE__, [&] { return lookup_item(kModel, area, name, pattern, mode); });
}
PB_API int pb_lookup_orders(void* area, char* name, const char* pattern, int mode) {
  return fenced(__LINE__, [&] { return lookup_item(kOrder, area, name, pattern, mode); });
}

PB_API int pb_open_marker(void* area, const char* name, void* item_area) {
  return fenced(__LINE__, [&] { return open_item(kMarker, area, name, item_area, __LINE__); });
}
PB_API int pb_open_model(void* area, const char* name, void* item_area) {
  return fenced(__LINE__, [&] { return open_item(kModel, area, name, item_area, __LINE__); });
}
PB_API int pb_open_order(void* area, const char* name, void* item_area) {
  return fenced(__LINE__, [&] { return open_item(kOrder, area, name, item_area, __LINE__); });
}

PB_API int pb_close_marker(void* area, const char* name, void* item_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return close_item(kMarker, item_area, __LINE__); });
}
PB_API int pb_close_model(void* area, const char* name, void* item_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return close_item(kModel, item_area, __LINE__); });
}
PB_API int pb_close_order(void* area, const char* name, void* item_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return close_item(kOrder, item_area, __LINE__); });
}

// ---- marker readers --------------------------------------------------------

PB_API int pb_get_marker_header_ex(const char* name, void* header, int length, void* item_area) {
  (void)name;
  return fenced(__LINE__, [&] {
    void* full = length < static_cast<int>(rec::marker_header::kSizeEx) ? nullptr : header;
    return marker_header(full, true, item_area, __LINE__);
  });
}

PB_API int pb_get_marker_header(const char* name, void* header, void* item_area) {
  (void)name;
  return fenced(__LINE__, [&] { return marker_header(header, false, item_area, __LINE__); });
}

PB_API const void* pb_hdr_analyze(void* item_area) {
  return fenced(__LINE__, [&]() -> const void* {
    ItemSlot* slot = slot_of(item_area, kMarker, kSource, __LINE__);
    if (!slot) return nullptr;
    if (check_fault(slot->faults, FaultCall::kAnalysis, 0, kSource, __LINE__) != 1) return nullptr;
    return analyze_marker(slot);
  });
}

PB_API int pb_first_marker_piece(void* item_area, void* piece) {
  return fenced(__LINE__, [&] { return marker_piece(item_area, piece, true, __LINE__); });
}

PB_API int pb_next_marker_piece(void* item_area, void* piece) {
  return fenced(__LINE__, [&] { return marker_piece(item_area, piece, false, __LINE__); });
}

PB_API int pb_get_piece_override(void* item_area, int index, void* header, void* override_record) {
  (void)header;
  return fenced(__LINE__, [&] { return indexed_read(item_area, index, override_record, kMarkerOverrides, __LINE__); });
}

PB_API int pb_get_splice_info(void* splice, int index, void* item_area) {
  return fenced(__LINE__, [&] { return indexed_read(item_area, index, splice, kMarkerSplices, __LINE__); });
}

PB_API int pb_locate_ordmod_marker(void* item_area) {
  return fenced(__LINE__, [&] {
    ItemSlot* slot = slot_of(item_area, kMarker, kSource, __LINE__);
    if (!slot) return pb_error.code;
    if (check_fault(slot->faults, FaultCall::kOrdmod, 0, kSource, __LINE__) != 1) return pb_error.code;
    locate_marker_model_list(slot);
    slot->fault_reads.model_list = 0;
    return 1;
  });
}

// ---- the model-list sequence -------------------------------------------------

PB_API int pb_get_order_model(void* model, void* item_area) {
  return fenced(__LINE__, [&] { return sequence_read(model, item_area, "null model record", read_order_model, __LINE__); });
}

PB_API int pb_get_option_list_entry(void* entry, void* item_area) {
  return fenced(__LINE__, [&] {
    return sequence_read(entry, item_area, "null option entry", read_option_entry, __LINE__);
  });
}

PB_API int pb_get_order_model_entry(void* entry, void* item_area) {
  return fenced(__LINE__, [&] { return sequence_read(entry, item_area, "null size entry", read_size_entry, __LINE__); });
}

// ---- orders ------------------------------------------------------------------

PB_API int pb_get_order_header(const char* name, void* header, void* item_area) {
  (void)name;
  return fenced(__LINE__, [&] {
    ItemSlot* slot = slot_of(item_area, kOrder, kSource, __LINE__);
    if (!slot) return pb_error.code;
    if (!header) return fail(kErrBadArgument, __LINE__, kSource, "null header");
    if (check_fault(slot->faults, FaultCall::kHeader, 0, kSource, __LINE__) != 1) return pb_error.code;
    int r = read_order_header(slot, static_cast<unsigned char*>(header));
    if (r == 1) slot->fault_reads.model_list = 0;
    return r;
  });
}

// ---- models and pieces -------------------------------------------------------

PB_API int pb_get_model_ex(const char* name, pb_model** model, void* item_area) {
  (void)name;
  return fenced(__LINE__, [&] {
    if (!model) return fail(kErrBadArgument, __LINE__, kSource, "null model pointer");
    *model = nullptr;
    ItemSlot* slot = slot_of(item_area, kModel, kSource, __LINE__);
    if (!slot) return pb_error.code;
    if (check_fault(slot->faults, FaultCall::kModel, 0, kSource, __LINE__) != 1) return pb_error.code;
    return read_model(slot, model);
  });
}

PB_API int pb_free_model_ex(pb_model** model) {
  return fenced(__LINE__, [&] { return release_model(model); });
}

PB_API int pb_open_piece(void* area, const char* name, void* piece_area) {
  return fenced(__LINE__, [&] {
    if (!piece_area || !name) return fail(kErrBadArgument, __LINE__, kSource, "null name or piece area");
    FoundItem found;
    if (find_piece(area, name, &found) != 1) return pb_error.code;
    FaultSet faults;
    if (load_item_faults(found.conn.get(), kPiece, found.id, &faults) != 1) return pb_error.code;
    if (check_fault(faults, FaultCall::kOpen, 0, kSource, __LINE__) != 1) return pb_error.code;
    ItemSlot* slot = open_found_piece(found, piece_area);
    if (!slot) return pb_error.code;
    slot->faults = faults;
    return 1;
  });
}

PB_API int pb_get_piece_header(const char* name, void* header, void* piece_area) {
  (void)name;
  return fenced(__LINE__, [&] {
    ItemSlot* slot = slot_of(piece_area, kPiece, kSource, __LINE__);
    if (!slot) return pb_error.code;
    if (!header) return fail(kErrBadArgument, __LINE__, kSource, "null header");
    if (check_fault(slot->faults, FaultCall::kHeader, 0, kSource, __LINE__) != 1) return pb_error.code;
    return read_piece_header(slot, static_cast<unsigned char*>(header));
  });
}

PB_API int pb_close_piece(void* area, const char* name, void* piece_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return close_item(kPiece, piece_area, __LINE__); });
}

}  // extern "C"
