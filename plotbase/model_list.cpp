// The model-list sequence of markers (after pb_locate_ordmod_marker) and
// orders (after pb_get_order_header): a model record, its option entries,
// its size entries, then the next model record.
#include <cstring>

#include "internal.h"

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/model_list.cpp";
namespace rec = quire::records;

enum { kMarkerListModels = 3, kOrderModels = 3 };

const char* owner_of(const ItemSlot* slot) { return slot->kind == kMarker ? "marker" : "order"; }

// The open marker or order of item_area with an active sequence, after the
// model_list_at fault check that every read of the sequence counts.
ItemSlot* sequence_slot(void* item_area, int line) {
  if (!item_area) return fail(kErrBadArgument, line, kSource, "null item area"), nullptr;
  uint32_t index = 0;
  if (!slot_of_any(item_area, &index)) return fail(kErrNotOpen, line, kSource, "item is not open"), nullptr;
  ItemSlot* slot = slot_at(index);
  if (slot->kind != kMarker && slot->kind != kOrder)
    return fail(kErrWrongKind, line, kSource, "not a marker or an order"), nullptr;
  if (!slot->seq_active)
    return fail(kErrSequence, line, kSource, "model list not located (pb_locate_ordmod_marker or pb_get_order_header)"),
           nullptr;
  int64_t read = slot->seq_reads++;
  if (slot->faults.model_list_at == read) return fail(kErrFault, line, kSource, "fault: model_list_at"), nullptr;
  return slot;
}

// Binds the owner, the item and the model position (and, for an option or
// size entry, the entry's index) to a sequence statement and steps it.
// Returns 1 on a row, else the failure with pb_error set at the caller's line.
int step_sequence_row(const ItemSlot* slot, sqlite3_stmt* s, int32_t model, int32_t index,
                      const char* missing, int line) {
  sqlite3_bind_text(s, 1, owner_of(slot), -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, slot->id);
  sqlite3_bind_int(s, 3, model);
  if (index >= 0) sqlite3_bind_int(s, 4, index);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) return 1;
  return rc == SQLITE_DONE ? fail(kErrDamagedArea, line, kSource, missing)
                           : fail_db(slot->conn->db, line, kSource);
}

void start_sequence(ItemSlot* slot, int32_t models) {
  slot->seq_active = true;
  slot->seq_reads = 0;
  slot->seq_models = models;
  slot->seq_model = -1;
  slot->seq_option = slot->seq_options = 0;
  slot->seq_size = slot->seq_sizes = 0;
}

}  // namespace
}  // namespace plotbase

using namespace plotbase;

extern "C" {

PB_API int pb_locate_ordmod_marker(void* item_area) {
  ItemSlot* slot = slot_of(item_area, kMarker, kSource, __LINE__);
  if (!slot) return pb_error.code;
  if (slot->faults.ordmod) return PB_FAIL_MSG(kErrFault, "fault: ordmod");
  start_sequence(slot, slot->count[kMarkerListModels]);
  return 1;
}

PB_API int pb_get_order_header(const char* name, void* header, void* item_area) {
  (void)name;
  ItemSlot* slot = slot_of(item_area, kOrder, kSource, __LINE__);
  if (!slot) return pb_error.code;
  if (!header) return PB_FAIL_MSG(kErrBadArgument, "null header");
  if (slot->faults.header) return PB_FAIL_MSG(kErrFault, "fault: header");
  Conn* conn = slot->conn.get();
  sqlite3_stmt* s = conn->stmt(kStmtOrderHeader);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  sqlite3_bind_int64(s, 1, slot->id);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? PB_FAIL_MSG(kErrDamagedArea, "order row missing")
                                                 : PB_FAIL_DB(conn->db);
  namespace oh = rec::order_header;
  unsigned char* h = static_cast<unsigned char*>(header);
  std::memset(h, 0, oh::kSize);
  fill_record(s, 0, kOrdersTable, h, oh::kSize);
  start_sequence(slot, slot->count[kOrderModels]);
  return 1;
}

PB_API int pb_get_order_model(void* model, void* item_area) {
  ItemSlot* slot = sequence_slot(item_area, __LINE__);
  if (!slot) return pb_error.code;
  if (!model) return PB_FAIL_MSG(kErrBadArgument, "null model record");
  if (slot->seq_model + 1 >= slot->seq_models) {
    PB_FAIL_MSG(kErrEndOfList, "no more models in the list");
    return 0;
  }
  int32_t position = slot->seq_model + 1;
  Conn* conn = slot->conn.get();
  sqlite3_stmt* s = conn->stmt(kStmtListModel);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  int rc = step_sequence_row(slot, s, position, -1, "model-list row missing", __LINE__);
  if (rc != 1) return rc;
  namespace om = rec::order_model;
  unsigned char* m = static_cast<unsigned char*>(model);
  std::memset(m, 0, om::kSize);
  fill_record(s, 0, kOrderModelsTable, m, om::kSize);
  slot->seq_model = position;
  slot->seq_option = 0;
  slot->seq_options = rec::load_i32(m + om::kOptionCount);
  slot->seq_size = 0;
  slot->seq_sizes = rec::load_i32(m + om::kSizeCount);
  return 1;
}

PB_API int pb_get_option_list_entry(void* entry, void* item_area) {
  ItemSlot* slot = sequence_slot(item_area, __LINE__);
  if (!slot) return pb_error.code;
  if (!entry) return PB_FAIL_MSG(kErrBadArgument, "null option entry");
  if (slot->seq_model < 0 || slot->seq_option >= slot->seq_options) {
    PB_FAIL_MSG(kErrEndOfList, "no more option entries for this model");
    return 0;
  }
  Conn* conn = slot->conn.get();
  sqlite3_stmt* s = conn->stmt(kStmtListOption);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  int rc = step_sequence_row(slot, s, slot->seq_model, slot->seq_option, "option row missing", __LINE__);
  if (rc != 1) return rc;
  namespace oe = rec::option_entry;
  unsigned char* e = static_cast<unsigned char*>(entry);
  std::memset(e, 0, oe::kSize);
  fill_record(s, 0, kOptionsTable, e, oe::kSize);
  ++slot->seq_option;
  return 1;
}

PB_API int pb_get_order_model_entry(void* entry, void* item_area) {
  ItemSlot* slot = sequence_slot(item_area, __LINE__);
  if (!slot) return pb_error.code;
  if (!entry) return PB_FAIL_MSG(kErrBadArgument, "null size entry");
  if (slot->seq_model < 0 || slot->seq_size >= slot->seq_sizes) {
    PB_FAIL_MSG(kErrEndOfList, "no more size entries for this model");
    return 0;
  }
  Conn* conn = slot->conn.get();
  sqlite3_stmt* s = conn->stmt(kStmtListSize);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  int rc = step_sequence_row(slot, s, slot->seq_model, slot->seq_size, "size row missing", __LINE__);
  if (rc != 1) return rc;
  namespace se = rec::size_entry;
  unsigned char* e = static_cast<unsigned char*>(entry);
  std::memset(e, 0, se::kSize);
  fill_record(s, 0, kSizesTable, e, se::kSize);
  ++slot->seq_size;
  return 1;
}

}  // extern "C"
