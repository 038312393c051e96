// The model-list sequence of markers (after pb_locate_ordmod_marker) and
// orders (after pb_get_order_header): a model record, its option entries,
// its size entries, then the next model record.
#include <cstring>

#include "internal.h"

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/model_list.cpp";
namespace rec = quire::records;

const char* owner_of(const ItemSlot* slot) { return slot->kind == kMarker ? "marker" : "order"; }

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
  slot->seq_models = models;
  slot->seq_model = -1;
  slot->seq_option = slot->seq_options = 0;
  slot->seq_size = slot->seq_sizes = 0;
}

}  // namespace

ItemSlot* sequence_slot(void* item_area, const char* source, int line) {
  if (!item_area) return fail(kErrBadArgument, line, source, "null item area"), nullptr;
  uint32_t index = 0;
  if (!slot_of_any(item_area, &index)) return fail(kErrNotOpen, line, source, "item is not open"), nullptr;
  ItemSlot* slot = slot_at(index);
  if (slot->kind != kMarker && slot->kind != kOrder)
    return fail(kErrWrongKind, line, source, "not a marker or an order"), nullptr;
  if (!slot->seq_active)
    return fail(kErrSequence, line, source, "model list not located (pb_locate_ordmod_marker or pb_get_order_header)"),
           nullptr;
  return slot;
}

void locate_marker_model_list(ItemSlot* slot) { start_sequence(slot, slot->count[kMarkerListModels]); }

int read_order_header(ItemSlot* slot, unsigned char* h) {
  Conn* conn = slot->conn.get();
  sqlite3_stmt* s = conn->stmt(kStmtOrderHeader);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  sqlite3_bind_int64(s, 1, slot->id);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? PB_FAIL_MSG(kErrDamagedArea, "order row missing")
                                                 : PB_FAIL_DB(conn->db);
  namespace oh = rec::order_header;
  std::memset(h, 0, oh::kSize);
  fill_record(s, 0, kOrdersTable, h, oh::kSize);
  start_sequence(slot, slot->count[kOrderModels]);
  return 1;
}

int read_order_model(ItemSlot* slot, unsigned char* m) {
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
  std::memset(m, 0, om::kSize);
  fill_record(s, 0, kOrderModelsTable, m, om::kSize);
  slot->seq_model = position;
  slot->seq_option = 0;
  slot->seq_options = rec::load_i32(m + om::kOptionCount);
  slot->seq_size = 0;
  slot->seq_sizes = rec::load_i32(m + om::kSizeCount);
  return 1;
}

int read_option_entry(ItemSlot* slot, unsigned char* e) {
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
  std::memset(e, 0, oe::kSize);
  fill_record(s, 0, kOptionsTable, e, oe::kSize);
  ++slot->seq_option;
  return 1;
}

int read_size_entry(ItemSlot* slot, unsigned char* e) {
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
  std::memset(e, 0, se::kSize);
  fill_record(s, 0, kSizesTable, e, se::kSize);
  ++slot->seq_size;
  return 1;
}

}  // namespace plotbase
