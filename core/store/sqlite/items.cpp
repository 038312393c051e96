// Items: lookups by name pattern, opening and closing, and the table of open
// items that item areas refer to.
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

namespace plotbase {

namespace {
constexpr const char* kSource = "plotbase/items.cpp";
namespace rec = quire::records;

std::vector<ItemSlot> g_slots;
std::vector<uint32_t> g_free;

// The longest pattern kept; a longer one can match no name of 20 characters
// unless it is made of '*', which the cut keeps.
constexpr size_t kPatternSize = 256;


// What a walk of the items of kind in order found instead of item expect
// of count: item found (-1: the end).
std::string walk_damage(Kind kind, int64_t expect, int64_t count, int64_t found) {
  std::string what = std::string("the ") + kind_name(kind) + "s cannot be read in order: ";
  if (found < 0) return what + "the walk ends before item " + std::to_string(expect) + " of " + std::to_string(count) +
                          " (the area file is damaged)";
  return what + "item " + std::to_string(found) + " where item " + std::to_string(expect) + " of " +
         std::to_string(count) + " belongs (the area file is damaged)";
}

}  // namespace

quire::Status lookup_item(Kind kind, void* area, char* name, const char* pattern, int mode, End* end,
                          LookedUp* looked_up) {
  // The caller may pass one buffer as both name and pattern: copy first.
  char pat[kPatternSize];
  std::snprintf(pat, sizeof pat, "%s", pattern ? pattern : "*");
  if (!name) return PB_ERROR(kErrBadArgument, "null name buffer");
  quire::Status status;
  Conn* conn = resolve_area(area, mode == 0, &status, kSource, __LINE__);
  if (!conn) return status;
  unsigned char* arec = static_cast<unsigned char*>(area);
  unsigned char* last_slot = arec + area_layout::kLastFound + 4 * kind;
  int64_t after = mode == 0 ? 0 : rec::load_i32(last_slot);
  ItemRow& found = conn->found[kind];

  if (!has_wildcards(pat)) {
    store::Statement* s = conn->stmt(kind_stmt(kStmtLookupExact, kind), &status);
    if (!s) return status;
    StatementReset reset(s);
    s->bind_text(1, pat);
    Step rc = step(s, &status);
    if (rc == Step::kFailed) return PB_DB_ERROR(conn, status);
    if (rc == Step::kDone || s->column_int64(0) <= after) {
      PB_END(end, kErrNotFound, "no such item");
      return status;
    }
    read_item_row(*s, &found, true);
  } else {
    // The literal prefix before the first wildcard bounds the scan: names
    // with that prefix are one run in pb_stricmp order.
    size_t prefix = std::strcspn(pat, "*?");
    if (prefix > 0) {
      store::Statement* p = conn->stmt(kind_stmt(kStmtLookupPrefix, kind), &status);
      if (!p) return status;
      StatementReset reset(p);
      p->bind_text(1, std::string_view(pat, prefix));
      Step rc = step(p, &status);
      if (rc == Step::kRow) {
        int64_t first = p->column_int64(0);
        if (first - 1 > after) after = first - 1;
      } else if (rc == Step::kDone) {
        PB_END(end, kErrNotFound, "no match");
        return status;
      } else {
        return PB_DB_ERROR(conn, status);
      }
    }
    // The scan statement stays positioned after a match, so walking on
    // from it is one step, not a new search.
    store::Statement* s = conn->stmt(kind_stmt(kStmtLookupScan, kind), &status);
    if (!s) return status;
    if (conn->scan_at[kind] == 0 || conn->scan_at[kind] != after) {
      s->reset();
      s->bind_int64(1, after);
    }
    conn->scan_at[kind] = 0;
    // Items are numbered 1, 2, 3, ... with no gaps, and the area row counts
    // them: a walk that skips a number or ends early reads a damaged file
    // (a table SQLite cannot walk in order) and must not pass for the end.
    int64_t expect = after + 1;
    for (;;) {
      Step rc = step(s, &status);
      if (rc != Step::kRow) {
        s->reset();
        if (rc == Step::kFailed) return PB_DB_ERROR(conn, status);
        if (expect <= conn->counts[kind])
          return area_damaged(conn, walk_damage(kind, expect, conn->counts[kind], -1), kSource, __LINE__);
        PB_END(end, kErrNotFound, "no match");
        return status;
      }
      const int64_t id = s->column_int64(0);
      if (id != expect) {
        s->reset();
        return area_damaged(conn, walk_damage(kind, expect, conn->counts[kind], id), kSource, __LINE__);
      }
      ++expect;
      const char* candidate = s->column_text(1);
      if (prefix > 0) {
        bool same = true;
        for (size_t i = 0; i < prefix; ++i) {
          if (fold(static_cast<unsigned char>(candidate[i])) != fold(static_cast<unsigned char>(pat[i]))) {
            same = false;
            break;
          }
        }
        if (!same) {
          s->reset();
          PB_END(end, kErrNotFound, "no match");
          return status;
        }
      }
      if (wildcard_match(pat, candidate)) break;
    }
    read_item_row(*s, &found, false);
    conn->scan_at[kind] = found.id;
  }
  size_t len = std::strlen(found.name);
  if (len > PB_NAME_BUFFER_SIZE - 1) len = PB_NAME_BUFFER_SIZE - 1;
  std::memcpy(name, found.name, len);
  name[len] = 0;
  looked_up->number = static_cast<int>(found.id);
  looked_up->total = conn->counts[kind];
  looked_up->modified = found.modified;
  rec::store_i32(last_slot, static_cast<int32_t>(found.id));
  return status;
}

namespace {

// Reads the columns of row that a lookup by pattern leaves out, through the
// statement that walks the items in id order: one step when items are
// opened in order, as a report opens them; a new search otherwise.
quire::Status load_item_details(Conn* conn, Kind kind, ItemRow* row) {
  // Stepping over this many items costs less than a new search.
  constexpr int64_t kStepLimit = 8;
  quire::Status status;
  store::Statement* s = conn->stmt(kind_stmt(kStmtDetailScan, kind), &status);
  if (!s) return status;
  int64_t& at = conn->detail_at[kind];
  if (at != row->id) {
    if (at == 0 || at > row->id || row->id - at > kStepLimit) {
      s->reset();
      s->bind_int64(1, row->id);
    }
    at = 0;
    for (;;) {
      Step rc = step(s, &status);
      if (rc != Step::kRow) {
        s->reset();
        if (rc == Step::kFailed) return PB_DB_ERROR(conn, status);
        return PB_ERROR(kErrNotFound, "no such item");
      }
      const int64_t id = s->column_int64(kRowId);
      if (id == row->id) break;
      if (id > row->id) {
        s->reset();
        return PB_ERROR(kErrNotFound, "no such item");
      }
    }
    at = row->id;
  }
  read_item_row(*s, row, true);
  return status;
}

}  // namespace

quire::Status find_item(Kind kind, void* area, const char* name, FoundItem* out) {
  quire::Status status;
  std::shared_ptr<Conn> conn = resolve_area_shared(area, &status, kSource, __LINE__);
  if (!conn) return status;
  // The report opens the item its lookup just found: that row is at hand.
  // Pieces are not looked up: they have no item row.
  ItemRow* row = kind == kPiece ? nullptr : &conn->found[kind];
  if (!row || !row->valid || compare_names(row->name, name) != 0) {
    store::Statement* s = conn->stmt(row ? kind_stmt(kStmtLookupExact, kind) : kStmtPieceOpen, &status);
    if (!s) return status;
    StatementReset reset(s);
    s->bind_text(1, name);
    Step rc = step(s, &status);
    if (rc == Step::kDone) return PB_ERROR(kErrNotFound, row ? "no such item" : "no such piece");
    if (rc == Step::kFailed) return PB_DB_ERROR(conn.get(), status);
    if (row) read_item_row(*s, row, true);
    else out->id = s->column_int64(0);
  } else if (!row->details) {
    status = load_item_details(conn.get(), kind, row);
    if (!status.ok()) return status;
  }
  if (row) out->id = row->id;
  out->row = row;
  out->conn = std::move(conn);
  return status;
}

ItemSlot* open_found_item(Kind kind, const FoundItem& found, void* item_area, quire::Status* status) {
  // An item area that still holds an open item is reused: that item is
  // closed first, so it cannot stay open unreachable.
  uint32_t old_index = 0;
  if (slot_of_any(item_area, &old_index)) release_slot(old_index, item_area);
  ItemSlot* taken = take_slot(kind, found.conn, found.id, item_area, status);
  if (!taken || !found.row) return taken;  // a piece has no item row
  ItemSlot& slot = *taken;
  const ItemRow& row = *found.row;
  for (int i = 0; i < 4; ++i) slot.count[i] = row.count[i];
  unsigned char* ia = static_cast<unsigned char*>(item_area);
  rec::store_i32(ia + rec::item_area::kModifiedTime, row.modified);
  rec::store_i32(ia + rec::item_area::kByteSize1, row.byte_size[0]);
  rec::store_i32(ia + rec::item_area::kByteSize2, row.byte_size[1]);
  return &slot;
}

ItemSlot* take_slot(Kind kind, std::shared_ptr<Conn> conn, int64_t id, void* item_area, quire::Status* status) {
  uint32_t index;
  if (!g_free.empty()) {
    index = g_free.back();
    g_free.pop_back();
  } else {
    if (g_slots.size() >= 0x7fffffffu) return *status = PB_ERROR(kErrNoMemory, "too many open items"), nullptr;
    index = static_cast<uint32_t>(g_slots.size());
    g_slots.emplace_back();
  }
  ItemSlot& slot = g_slots[index];
  ++slot.gen;
  if (slot.gen == 0) slot.gen = 1;
  slot.in_use = true;
  slot.kind = kind;
  slot.conn = std::move(conn);
  slot.id = id;
  slot.faults = FaultSet{};
  for (int32_t& c : slot.count) c = 0;
  slot.fault_reads = ItemSlot::FaultReads{};
  slot.piece_next_position = 0;
  slot.seq_active = false;
  slot.seq_models = 0;
  slot.seq_model = -1;
  slot.seq_option = slot.seq_options = slot.seq_size = slot.seq_sizes = 0;
  unsigned char* ia = static_cast<unsigned char*>(item_area);
  std::memset(ia, 0, PB_ITEM_AREA_SIZE);
  rec::store_u32(ia + item_layout::kMagic, item_layout::kMagicValue);
  rec::store_u32(ia + item_layout::kSlot, index);
  rec::store_u32(ia + item_layout::kGen, slot.gen);
  rec::store_i32(ia + item_layout::kKind, kind);
  rec::store_i32(ia + item_layout::kId, static_cast<int32_t>(id));
  return &slot;
}

bool slot_of_any(const void* item_area, uint32_t* index_out) {
  const unsigned char* ia = static_cast<const unsigned char*>(item_area);
  if (rec::load_u32(ia + item_layout::kMagic) != item_layout::kMagicValue) return false;
  uint32_t index = rec::load_u32(ia + item_layout::kSlot);
  uint32_t gen = rec::load_u32(ia + item_layout::kGen);
  if (index >= g_slots.size() || !g_slots[index].in_use || g_slots[index].gen != gen) return false;
  *index_out = index;
  return true;
}

ItemSlot* slot_of(const void* item_area, Kind kind, quire::Status* status, const char* source, int line,
                  uint32_t* index_out) {
  if (!item_area) return *status = store_error(kErrBadArgument, source, line, "null item area"), nullptr;
  const unsigned char* ia = static_cast<const unsigned char*>(item_area);
  const char* not_open = nullptr;
  uint32_t index = 0;
  if (rec::load_u32(ia + item_layout::kMagic) != item_layout::kMagicValue) not_open = "item area holds no open item";
  else if (!slot_of_any(item_area, &index)) not_open = "item is not open";
  if (not_open) return *status = store_error(kErrNotOpen, source, line, not_open), nullptr;
  ItemSlot& slot = g_slots[index];
  if (slot.kind != kind) return *status = store_error(kErrWrongKind, source, line, "item of another kind"), nullptr;
  if (index_out) *index_out = index;
  return &slot;
}

ItemSlot* slot_at(uint32_t index) { return &g_slots[index]; }

void release_slot(uint32_t index, void* item_area) {
  ItemSlot& slot = g_slots[index];
  slot.in_use = false;
  ++slot.gen;
  if (slot.gen == 0) slot.gen = 1;
  slot.conn.reset();
  g_free.push_back(index);
  unsigned char* ia = static_cast<unsigned char*>(item_area);
  rec::store_u32(ia + item_layout::kMagic, 0);
}

}  // namespace plotbase
