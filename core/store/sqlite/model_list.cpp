// The model-list sequence of markers (after pb_locate_ordmod_marker) and
// orders (after pb_get_order_header): a model record, its option entries,
// its size entries, then the next model record.
#include <cstring>
#include <string>

#include "internal.h"

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/model_list.cpp";
namespace rec = quire::records;

const char* owner_of(const ItemSlot* slot) { return slot->kind == kMarker ? "marker" : "order"; }

// Steps the sequence statement id to the row of the owner, the item and the
// model position (and, for an option or size entry, the entry's index):
// *s is then at the row, its record from column *first on, and *reset
// resets it once read (a server's cursor in key order stays open). When
// there is no row the item is damaged, and missing names the entry.
quire::Status step_sequence_row(const ItemSlot* slot, StmtId id, store::Statement** s, int* first,
                                store::Statement** reset, int32_t model, int32_t index, const char* missing) {
  quire::Status failure;
  Step rc;
  *first = 0;
  if (const StmtId from = keyed_stmt(slot->conn.get(), id); from != kStmtCount) {
    RowKey key{slot->kind, index >= 0 ? 3 : 2, {slot->id, model, index}};
    rc = read_keyed(slot->conn.get(), from, key, s, &failure);
    *first = key.parts;
  } else {
    *s = *reset = slot->conn->stmt(id, &failure);
    if (!*s) return failure;
    (*s)->bind_text(1, owner_of(slot));
    (*s)->bind_int64(2, slot->id);
    (*s)->bind_int64(3, model);
    if (index >= 0) (*s)->bind_int64(4, index);
    rc = step(*s, &failure);
  }
  if (rc == Step::kRow) return {};
  if (rc == Step::kFailed) return PB_DB_ERROR(slot->conn.get(), failure);
  // Within the counts the item and its model declare: the row is missing.
  std::string what = "model list: model " + std::to_string(model);
  if (index >= 0) what += std::string(", ") + missing + " " + std::to_string(index);
  return item_damaged(slot->conn.get(), slot->kind, slot->id, what + " is missing (the area file is damaged)",
                      kSource, __LINE__);
}

void start_sequence(ItemSlot* slot, int32_t models) {
  slot->seq_active = true;
  slot->seq_models = models;
  slot->seq_model = -1;
  slot->seq_option = slot->seq_options = 0;
  slot->seq_size = slot->seq_sizes = 0;
}

// The entries of the current model of one of its two lists: options or
// sizes.
struct EntryList {
  int32_t ItemSlot::*next;   // the index of the next entry to read
  int32_t ItemSlot::*count;  // the model's number of entries
  StmtId stmt;
  const Table& table;
  size_t size;
  const char* end;      // the detail at the end of the list
  const char* missing;  // the detail when a row the count promises is missing
};

// Reads the next entry of list into e, or notes the end of the list.
quire::Status read_entry(ItemSlot* slot, const EntryList& list, unsigned char* e, End* end) {
  int32_t& next = slot->*list.next;
  if (slot->seq_model < 0 || next >= slot->*list.count) {
    PB_END(end, kErrEndOfList, list.end);
    return {};
  }
  store::Statement *s = nullptr, *point = nullptr;
  int first = 0;
  quire::Status status = step_sequence_row(slot, list.stmt, &s, &first, &point, slot->seq_model, next, list.missing);
  StatementReset reset(point);
  if (!status.ok()) return status;
  std::memset(e, 0, list.size);
  fill_record(*s, first, list.table, e, list.size);
  ++next;
  return status;
}

}  // namespace

ItemSlot* sequence_slot(void* item_area, quire::Status* status, const char* source, int line) {
  auto refuse = [&](int code, const char* detail) -> ItemSlot* {
    *status = store_error(code, source, line, detail);
    return nullptr;
  };
  if (!item_area) return refuse(kErrBadArgument, "null item area");
  uint32_t index = 0;
  if (!slot_of_any(item_area, &index)) return refuse(kErrNotOpen, "item is not open");
  ItemSlot* slot = slot_at(index);
  if (slot->kind != kMarker && slot->kind != kOrder) return refuse(kErrWrongKind, "not a marker or an order");
  if (!slot->seq_active)
    return refuse(kErrSequence, "model list not located (pb_locate_ordmod_marker or pb_get_order_header)");
  return slot;
}

void locate_marker_model_list(ItemSlot* slot) { start_sequence(slot, slot->count[kMarkerListModels]); }

quire::Status read_order_header(ItemSlot* slot, unsigned char* h) {
  quire::Status status = read_row(slot->conn.get(), kStmtOrderHeader, slot->id, -1, kOrdersTable, h,
                                  rec::order_header::kSize, kErrDamagedArea, "order row missing", kSource, __LINE__);
  if (status.ok()) start_sequence(slot, slot->count[kOrderModels]);
  return status;
}

quire::Status read_order_model(ItemSlot* slot, unsigned char* m, End* end) {
  if (slot->seq_model + 1 >= slot->seq_models) {
    PB_END(end, kErrEndOfList, "no more models in the list");
    return {};
  }
  int32_t position = slot->seq_model + 1;
  store::Statement *s = nullptr, *point = nullptr;
  int first = 0;
  quire::Status status = step_sequence_row(slot, kStmtListModel, &s, &first, &point, position, -1, nullptr);
  StatementReset reset(point);
  if (!status.ok()) return status;
  namespace om = rec::order_model;
  std::memset(m, 0, om::kSize);
  fill_record(*s, first, kOrderModelsTable, m, om::kSize);
  slot->seq_model = position;
  slot->seq_option = 0;
  slot->seq_options = rec::load_i32(m + om::kOptionCount);
  slot->seq_size = 0;
  slot->seq_sizes = rec::load_i32(m + om::kSizeCount);
  return status;
}

quire::Status read_option_entry(ItemSlot* slot, unsigned char* e, End* end) {
  static const EntryList kOptions = {&ItemSlot::seq_option, &ItemSlot::seq_options, kStmtListOption,
                                     kOptionsTable, rec::option_entry::kSize,
                                     "no more option entries for this model", "option"};
  return read_entry(slot, kOptions, e, end);
}

quire::Status read_size_entry(ItemSlot* slot, unsigned char* e, End* end) {
  static const EntryList kSizes = {&ItemSlot::seq_size, &ItemSlot::seq_sizes, kStmtListSize,
                                   kSizesTable, rec::size_entry::kSize,
                                   "no more size entries for this model", "size entry"};
  return read_entry(slot, kSizes, e, end);
}

}  // namespace plotbase
