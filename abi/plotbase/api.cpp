// The library's exported C interface (quire/plotbase.h): its global records,
// and every call. Each call runs inside one fence, so that no exception
// crosses the C boundary: running out of memory becomes kErrNoMemory, any
// other exception kErrInternal, set in pb_error like every failure. A call
// checks the caller's arguments, resolves the open item, consults the item's
// faults (faults.h), and hands the rest to the readers (internal.h), which
// know nothing of faults. The readers fail with a quire::Status (or note an
// End); here, and only here, that becomes pb_error and the call's result.
// Here too the current-item variables are written from what the readers
// found, and the lines the readers note for the user are printed.
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

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

namespace {
pb_print_handler g_handler = nullptr;
void* g_handler_context = nullptr;
}  // namespace

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/api.cpp";
namespace rec = quire::records;
using quire::Status;

// The detail of the last failure, for last_error_detail(). Its capacity
// stays: the details of the ends of lists, noted over and over, do not
// allocate.
std::string g_detail;

// Sets pb_error and the detail; returns code. Allocates nothing when the
// detail fits what the last one left, so that running out of memory can be
// reported too.
int set_error(int code, const char* source, int line, std::string_view detail) noexcept {
  pb_error.code = code;
  pb_error.line = line;
  const char* src = source ? source : "plotbase";
  size_t n = strnlen(src, sizeof pb_error.source - 1);
  std::memcpy(pb_error.source, src, n);
  pb_error.source[n] = 0;
  try {
    g_detail.assign(detail);
  } catch (...) {
    g_detail.clear();
  }
  return code;
}

// Reports the failure status through pb_error; returns its code.
int report_failure(const Status& status) {
  return set_error(status.error(), status.source(), status.line(), status.message());
}

// A call's result: 1 for a success, else the failure's code with pb_error
// set; with an end noted, 0 with pb_error set to the end.
int result_of(const Status& status, const End& end = {}) {
  if (!status.ok()) return report_failure(status);
  if (end.code != 0) return set_error(end.code, end.source, end.line, end.detail), 0;
  return 1;
}

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

// Hands text (n bytes, NUL-terminated) to the print handler, or writes it to
// standard error.
void deliver(const char* text, size_t n) {
  if (g_handler) {
    g_handler(text, g_handler_context);
  } else {
    std::fwrite(text, 1, n, stderr);
    std::fflush(stderr);
  }
}

int print_message(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(copy);
    return n;
  }
  std::string big;
  const char* text = small;
  if (static_cast<size_t>(n) >= sizeof small) {
    big.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    text = big.c_str();
  }
  va_end(copy);
  deliver(text, static_cast<size_t>(n));
  return n;
}

void set_print_handler(pb_print_handler handler, void* context) {
  g_handler = handler;
  g_handler_context = handler ? context : nullptr;
}

// Prints the lines the readers noted during a call, one print each, as the
// call ends.
void print_noted_lines() {
  static std::vector<std::string> lines;
  if (!take_lines(&lines)) return;
  for (const std::string& line : lines) deliver(line.c_str(), line.size());
  lines.clear();
}

// Runs body, turning an exception into a failure at line; then prints the
// lines the readers noted meanwhile.
template <class F>
auto fenced(int line, F&& body) noexcept -> decltype(body()) {
  using R = decltype(body());
  R result;
  try {
    result = body();
  } catch (const std::bad_alloc&) {
    result = thrown_result<R>(set_error(kErrNoMemory, kSource, line, "out of memory"));
  } catch (...) {
    result = thrown_result<R>(set_error(kErrInternal, kSource, line, "unexpected failure"));
  }
  try {
    print_noted_lines();
  } catch (...) {
    // A line that cannot be printed for want of memory is lost, not the call.
  }
  return result;
}

// Opens the item (or piece) called name of kind into item_area, unless its
// faults make the open fail.
Status open_item(Kind kind, void* area, const char* name, void* item_area, int line) {
  if (!item_area || !name)
    return store_error(kErrBadArgument, kSource, line,
                       kind == kPiece ? "null name or piece area" : "null name or item area");
  FoundItem found;
  Status status = find_item(kind, area, name, &found);
  if (!status.ok()) return status;
  FaultSet faults;
  status = load_item_faults(found.conn.get(), kind, found.id, &faults);
  if (!status.ok()) return status;
  status = check_fault(faults, FaultCall::kOpen, 0, kSource, line);
  if (!status.ok()) return status;
  ItemSlot* slot = open_found_item(kind, found, item_area, &status);
  if (!slot) return status;
  slot->faults = faults;
  if (const ItemRow* row = found.row) {  // pieces have no current-item values
    pbc_last_mod_time = row->modified;
    pbc_creation_time = row->created;
    pbc_prev_mod_time = row->prev_modified;
    std::memcpy(pbc_user_last_mod, row->user[0], PB_USER_TEXT_SIZE);
    std::memcpy(pbc_user_created, row->user[1], PB_USER_TEXT_SIZE);
    std::memcpy(pbc_user_prev_mod, row->user[2], PB_USER_TEXT_SIZE);
  }
  return status;
}

// A lookup by name or pattern of an item of kind.
int lookup(Kind kind, void* area, char* name, const char* pattern, int mode) {
  End end;
  LookedUp found;
  Status status = lookup_item(kind, area, name, pattern, mode, &end, &found);
  if (status.ok() && end.code == 0) {
    pbc_item_num = found.number;
    pbc_total_items = found.total;
    pbc_last_mod_time = found.modified;
  }
  return result_of(status, end);
}

// Closes the item of kind in item_area; a close fault fails the call after
// the item is closed all the same.
Status close_item(Kind kind, void* item_area, int line) {
  Status status;
  uint32_t index = 0;
  ItemSlot* slot = slot_of(item_area, kind, &status, kSource, line, &index);
  if (!slot) return status;
  status = check_fault(slot->faults, FaultCall::kClose, 0, kSource, line);
  release_slot(index, item_area);
  return status;
}

// The open item of kind in item_area for call, after its faults: null with
// *status set when no such item is open, when null_record names a record
// that is null, or when faults make call fail.
ItemSlot* item_for(const void* item_area, Kind kind, FaultCall call, Status* status, int line,
                   const void* record = nullptr, const char* null_record = nullptr) {
  ItemSlot* slot = slot_of(item_area, kind, status, kSource, line);
  if (!slot) return nullptr;
  if (null_record && !record) return *status = store_error(kErrBadArgument, kSource, line, null_record), nullptr;
  *status = check_fault(slot->faults, call, 0, kSource, line);
  return status->ok() ? slot : nullptr;
}

// A header read: the open item of kind, the record, the faults (call),
// then read(slot, record).
template <class Read>
int header_read(void* item_area, Kind kind, void* header, FaultCall call, int line, Read read,
                const char* null_header = "null header") {
  Status status;
  ItemSlot* slot = item_for(item_area, kind, call, &status, line, header, null_header);
  if (slot) status = read(slot, static_cast<unsigned char*>(header));
  return result_of(status);
}

// The marker's plain or extended header.
int marker_header(void* header, bool ex, void* item_area, int line) {
  auto read = [ex](ItemSlot* slot, unsigned char* h) { return read_marker_header(slot, h, ex); };
  if (!ex) return header_read(item_area, kMarker, header, FaultCall::kHeader, line, read);
  return header_read(item_area, kMarker, header, FaultCall::kHeaderEx, line, read,
                     "header buffer shorter than 534 bytes");
}

int marker_piece(void* item_area, void* piece, bool first, int line) {
  Status status;
  ItemSlot* slot = slot_of(item_area, kMarker, &status, kSource, line);
  if (!slot) return report_failure(status);
  if (!piece) return report_failure(store_error(kErrBadArgument, kSource, line, "null piece record"));
  if (first) restart_marker_pieces(slot);
  status = check_fault(slot->faults, FaultCall::kPiece, count_piece_read(slot, first), kSource, line);
  if (!status.ok()) return report_failure(status);
  End end;
  status = read_marker_piece(slot, static_cast<unsigned char*>(piece), &end);
  return result_of(status, end);
}

// An override or splice read: the marker, the record, the index within the
// marker's list, the faults.
Status indexed_read(void* item_area, int index, void* record, ItemCount list, int line) {
  const bool override_list = list == kMarkerOverrides;
  Status status;
  ItemSlot* slot = slot_of(item_area, kMarker, &status, kSource, line);
  if (!slot) return status;
  if (!record)
    return store_error(kErrBadArgument, kSource, line, override_list ? "null override record" : "null splice record");
  if (index < 0 || index >= slot->count[list])
    return store_error(kErrIndexRange, kSource, line, override_list ? "no such override" : "no such splice");
  status = check_fault(slot->faults, override_list ? FaultCall::kOverride : FaultCall::kSplice, index, kSource, line);
  if (!status.ok()) return status;
  return read_marker_entry(slot, list, index, static_cast<unsigned char*>(record));
}

// A read of the model-list sequence: the located sequence, its faults, the
// record, then read.
int sequence_read(void* record, void* item_area, const char* null_record,
                  Status (*read)(ItemSlot*, unsigned char*, End*), int line) {
  Status status;
  ItemSlot* slot = sequence_slot(item_area, &status, kSource, line);
  if (!slot) return report_failure(status);
  status = check_fault(slot->faults, FaultCall::kModelList, count_model_list_read(slot), kSource, line);
  if (!status.ok()) return report_failure(status);
  if (!record) return report_failure(store_error(kErrBadArgument, kSource, line, null_record));
  End end;
  status = read(slot, static_cast<unsigned char*>(record), &end);
  return result_of(status, end);
}

}  // namespace

std::string last_error_detail() { return g_detail; }

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
    if (!area || !name) return result_of(store_error(kErrBadArgument, kSource, __LINE__, "null area record or name"));
    End end;
    Status status = lookup_storage_area(area, name, &end);
    return result_of(status, end);
  });
}

PB_API int pb_use_area_notation(void* area) {
  return fenced(__LINE__, [&] {
    int notation = 0;
    Status status = area_notation(area, &notation, nullptr);
    if (!status.ok()) report_failure(status);
    return notation;
  });
}

PB_API int pb_get_notationprecision(void* area, int* notation, int* precision) {
  return fenced(__LINE__, [&] { return result_of(area_notation(area, notation, precision)); });
}

PB_API int pb_convert_path(char* out, void* area, int mode) {
  (void)mode;
  return fenced(__LINE__, [&] {
    if (!out) return result_of(store_error(kErrBadArgument, kSource, __LINE__, "null output buffer"));
    return result_of(convert_path(out, area));
  });
}

// ---- items -----------------------------------------------------------------

PB_API int pb_lookup_markers(void* area, char* name, const char* pattern, int mode) {
  return fenced(__LINE__, [&] { return lookup(kMarker, area, name, pattern, mode); });
}
PB_API int pb_lookup_models(void* area, char* name, const char* pattern, int mode) {
  return fenced(__LINE__, [&] { return lookup(kModel, area, name, pattern, mode); });
}
PB_API int pb_lookup_orders(void* area, char* name, const char* pattern, int mode) {
  return fenced(__LINE__, [&] { return lookup(kOrder, area, name, pattern, mode); });
}

PB_API int pb_open_marker(void* area, const char* name, void* item_area) {
  return fenced(__LINE__, [&] { return result_of(open_item(kMarker, area, name, item_area, __LINE__)); });
}
PB_API int pb_open_model(void* area, const char* name, void* item_area) {
  return fenced(__LINE__, [&] { return result_of(open_item(kModel, area, name, item_area, __LINE__)); });
}
PB_API int pb_open_order(void* area, const char* name, void* item_area) {
  return fenced(__LINE__, [&] { return result_of(open_item(kOrder, area, name, item_area, __LINE__)); });
}

PB_API int pb_close_marker(void* area, const char* name, void* item_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return result_of(close_item(kMarker, item_area, __LINE__)); });
}
PB_API int pb_close_model(void* area, const char* name, void* item_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return result_of(close_item(kModel, item_area, __LINE__)); });
}
PB_API int pb_close_order(void* area, const char* name, void* item_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return result_of(close_item(kOrder, item_area, __LINE__)); });
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
    Status status;
    ItemSlot* slot = item_for(item_area, kMarker, FaultCall::kAnalysis, &status, __LINE__);
    const void* analysis = slot ? analyze_marker(slot, &status) : nullptr;
    if (!status.ok()) report_failure(status);
    return analysis;
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
  return fenced(__LINE__, [&] {
    return result_of(indexed_read(item_area, index, override_record, kMarkerOverrides, __LINE__));
  });
}

PB_API int pb_get_splice_info(void* splice, int index, void* item_area) {
  return fenced(__LINE__, [&] { return result_of(indexed_read(item_area, index, splice, kMarkerSplices, __LINE__)); });
}

PB_API int pb_locate_ordmod_marker(void* item_area) {
  return fenced(__LINE__, [&] {
    Status status;
    ItemSlot* slot = item_for(item_area, kMarker, FaultCall::kOrdmod, &status, __LINE__);
    if (!slot) return report_failure(status);
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
    return header_read(item_area, kOrder, header, FaultCall::kHeader, __LINE__, [](ItemSlot* slot, unsigned char* h) {
      Status status = read_order_header(slot, h);
      if (status.ok()) slot->fault_reads.model_list = 0;  // the list's reads count from here
      return status;
    });
  });
}

// ---- models and pieces -------------------------------------------------------

PB_API int pb_get_model_ex(const char* name, pb_model** model, void* item_area) {
  (void)name;
  return fenced(__LINE__, [&] {
    if (!model) return result_of(store_error(kErrBadArgument, kSource, __LINE__, "null model pointer"));
    *model = nullptr;
    Status status;
    ItemSlot* slot = item_for(item_area, kModel, FaultCall::kModel, &status, __LINE__);
    if (slot) status = read_model(slot, model);
    return result_of(status);
  });
}

PB_API int pb_free_model_ex(pb_model** model) {
  return fenced(__LINE__, [&] { return result_of(release_model(model)); });
}

PB_API int pb_open_piece(void* area, const char* name, void* piece_area) {
  return fenced(__LINE__, [&] { return result_of(open_item(kPiece, area, name, piece_area, __LINE__)); });
}

PB_API int pb_get_piece_header(const char* name, void* header, void* piece_area) {
  (void)name;
  return fenced(__LINE__, [&] {
    return header_read(piece_area, kPiece, header, FaultCall::kHeader, __LINE__, read_piece_header);
  });
}

PB_API int pb_close_piece(void* area, const char* name, void* piece_area) {
  (void)area;
  (void)name;
  return fenced(__LINE__, [&] { return result_of(close_item(kPiece, piece_area, __LINE__)); });
}

}  // extern "C"
