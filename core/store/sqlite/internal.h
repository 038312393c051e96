// Internals shared by the sources of the reader: error reporting, the
// per-area connections (through the store's engine, engine.h) with their
// prepared statements, the table of open items, and the readers the
// exported calls (api.cpp) hand over to. What area management shares with
// the reader is in store_layout.h.
#ifndef PLOTBASE_INTERNAL_H_
#define PLOTBASE_INTERNAL_H_

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quire/plotbase.h"
#include "quire/records.h"
#include "engine.h"
#include "quire/status.h"
#include "store_layout.h"

namespace plotbase {

namespace store = quire::store;

// ---- names -------------------------------------------------------------------

// Case-insensitive wildcard match ('*' any run, '?' one character).
bool wildcard_match(const char* pattern, const char* text);
bool has_wildcards(const char* pattern);

// ---- failures ----------------------------------------------------------------
// Below the exported calls a failure is a quire::Status: its error() is the
// library's error code (store_errors.h), its message() the detail
// last_error_detail() returns, its source() and line() the place it was
// detected. Only the exported calls (api.cpp) turn it into the library's
// error record and the call's result.

// The failure code (a kErr... code) detected at source and line, with detail
// for last_error_detail() and subject naming the area file or item concerned.
quire::Status store_error(int code, const char* source, int line, std::string detail = {},
                          std::string subject = {});
struct Conn;
// The failure (kErrDatabase) of a statement of conn that failed as failure
// says, with its message as the detail. When it says the area is damaged
// (kCorrupt: malformed, not a database, an I/O error), the area and where
// it is are also noted for the user (note_line), once per connection.
quire::Status db_error(Conn* conn, const quire::Status& failure, const char* source, int line);

#define PB_ERROR(code, detail) ::plotbase::store_error((code), kSource, __LINE__, (detail))
#define PB_DB_ERROR(conn, failure) ::plotbase::db_error((conn), (failure), kSource, __LINE__)

// What a step of a statement came to.
enum class Step { kRow, kDone, kFailed };
// Steps s; a failure is kept in *failure.
inline Step step(store::Statement* s, quire::Status* failure) {
  bool row = false;
  quire::Status status = s->step(&row);
  if (!status.ok()) {
    *failure = std::move(status);
    return Step::kFailed;
  }
  return row ? Step::kRow : Step::kDone;
}

// Resets a statement at the end of a scope.
class StatementReset {
 public:
  explicit StatementReset(store::Statement* s) : s_(s) {}
  ~StatementReset() {
    if (s_) s_->reset();
  }
  StatementReset(const StatementReset&) = delete;
  StatementReset& operator=(const StatementReset&) = delete;

 private:
  store::Statement* s_;
};

// How a lookup that matches nothing (more) and a read past the end of a list
// end: the exported call returns 0 and sets the error record to code as
// for a failure, but every walk ends so, and noting it costs no allocation (no
// Status). code is 0 while no end is met.
struct End {
  int code = 0;
  const char* detail = "";  // a literal, for last_error_detail()
  const char* source = nullptr;
  int line = 0;
};
#define PB_END(end, code, detail) (*(end) = ::plotbase::End{(code), (detail), kSource, __LINE__})

class PieceReadAhead;

// ---- connections -------------------------------------------------------------------


enum StmtId : int {
  kStmtLookupExact,  // + kind (3 statements)
  kStmtLookupScan = kStmtLookupExact + kItemKinds,
  kStmtLookupPrefix = kStmtLookupScan + kItemKinds,
  kStmtDetailScan = kStmtLookupPrefix + kItemKinds,
  kStmtMarkerHeader = kStmtDetailScan + kItemKinds,
  kStmtFaults,
  kStmtAnalysis,
  kStmtMarkerPieces,
  kStmtOverride,
  kStmtSplice,
  kStmtListModel,
  kStmtListOption,
  kStmtListSize,
  kStmtOrderHeader,
  kStmtModelRow,
  kStmtModelGroups,
  kStmtModelPieces,
  kStmtPieceOpen,
  kStmtPieceHeader,
  // The same rows as the point statements of keyed_stmt(), walked from key
  // (?1, ...) on in key order with the key columns first: a server reads
  // items and lists opened in order through one cursor each instead of a
  // round trip per row.
  kStmtMarkerHeaderFrom,
  kStmtAnalysisFrom,
  kStmtOrderHeaderFrom,
  kStmtModelRowFrom,
  kStmtPieceHeaderFrom,
  kStmtOverrideFrom,
  kStmtSpliceFrom,
  kStmtListModelFrom,   // owner ?1, then the key from ?2
  kStmtListOptionFrom,  // likewise
  kStmtListSizeFrom,    // likewise
  kStmtCount
};

// The SQL of the prepared statement id.
std::string statement_sql(int id, store::Dialect dialect);

// The columns that come before the record columns in the statements that
// walk a table (kStmtMarkerPieces, kStmtModelPieces).
constexpr int kPieceMarkerColumn = 0;      // marker_id; the record from column 1
constexpr int kModelPieceGroupColumn = 0;  // option_group; the record from column 1

// The statement of a per-kind family (kStmtLookupExact + kind, ...).
inline StmtId kind_stmt(StmtId family, Kind kind) {
  return static_cast<StmtId>(static_cast<int>(family) + static_cast<int>(kind));
}



// The key of a row that a kStmt...From statement walks to: up to three
// whole numbers compared in order, within the rows of one owner kind (a
// list's owner column; -1 for tables of none).
struct RowKey {
  int owner = -1;
  int parts = 1;
  int64_t v[3] = {0, 0, 0};
};

struct ItemRow {
  bool valid = false;
  int64_t id = 0;
  char name[64] = {};
  int32_t modified = -1, created = -1, prev_modified = -1;
  char user[3][PB_USER_TEXT_SIZE] = {};
  int32_t byte_size[2] = {0, 0};
  int32_t count[4] = {0, 0, 0, 0};
  bool details = false;  // created to count are read
};
// Reads the item columns s selects: the key columns, and with details the
// others too (the statements that select every ItemRowColumn).
void read_item_row(store::Statement& s, ItemRow* row, bool details);

// One open connection to one area, read in one read-only transaction (an
// area file is replaced whole, never changed in place; a server's area is
// read as one snapshot). Statements are prepared on first use and kept for
// the life of the connection.
struct Conn {
  std::shared_ptr<store::Engine> engine;  // the store the area is in
  std::unique_ptr<store::Connection> connection;
  std::string path;  // where the area is: connection->describe()
  std::string name;  // the area's name as stored
  int notation = 0;
  int precision = 2;
  int32_t counts[kItemKinds] = {0, 0, 0};  // markers, models, orders
  std::unique_ptr<store::Statement> stmts[kStmtCount];
  bool has_faults = false;  // the faults table has rows
  bool damage_named = false;  // damaged() or fail_db() has named the file once
  // The marker-piece statement is one cursor over marker_pieces in key
  // order (marker_id, position) that always holds the next row ("pending")
  // fetched: walking markers in order steps it from one marker's pieces to
  // the next without a new search. No row lies in [gap, pending).
  struct PieceCursor {
    bool valid = false;   // positioned; gap and pending are meaningful
    bool at_end = false;  // no pending row: the table ends
    int64_t gap_marker = 0, gap_position = 0;
    int64_t marker = 0, position = 0;  // the pending row's key
  } pieces;
  // The rows after the pending one, read ahead by a thread of their own
  // while the caller walks the markers in order (null until such a walk,
  // or when it failed; never for an area with faults). Pieces read
  // directly in a row without a search count up to starting it.
  std::unique_ptr<PieceReadAhead> read_ahead;
  bool read_ahead_off = false;
  int64_t in_order_reads = 0;
  // The cursors of the kStmt...From statements (by StmtId), each holding
  // the next row at or after the key last asked for ("pending"). No row
  // of the owner lies in [gap, pending key).
  struct KeyCursor {
    bool valid = false;   // positioned; gap and pending are meaningful
    bool at_end = false;  // no pending row: the owner's rows end
    RowKey gap, key;
  } keyed[kStmtCount];
  // The item each kind's lookup found last: opening it needs no query.
  ItemRow found[kItemKinds];
  // The id the scan statement of each kind is positioned at (0: reset).
  int64_t scan_at[kItemKinds] = {0, 0, 0};
  // The id the detail statement of each kind is positioned at (0: reset):
  // it walks on in step with the items a report opens.
  int64_t detail_at[kItemKinds] = {0, 0, 0};

  Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;
  ~Conn();

  // The prepared statement (prepared on first use), or null with *status
  // set (the area is damaged()). Callers bind every parameter and reset it
  // after use (StatementReset).
  store::Statement* stmt(StmtId id, quire::Status* status) {
    store::Statement* s = stmts[id].get();
    return s ? s : prepare(id, status);
  }

 private:
  store::Statement* prepare(StmtId id, quire::Status* status);
};


// Reads the area that connection (of engine) opened, looked up as name. On
// failure returns null with *status set; an area that cannot be read is
// reported as damaged().
std::shared_ptr<Conn> open_conn(std::shared_ptr<store::Engine> engine, std::unique_ptr<store::Connection> connection,
                                const std::string& name, quire::Status* status);
// Reports that the area file of conn cannot be read: notes one line for the
// user, `area NAME: PATH: reason` (once per connection), and
// returns the failure kErrDamagedArea with reason as its detail.
quire::Status damaged(Conn* conn, const char* reason, const char* source, int line);
// The failure (kErrDamagedArea) of a read that found the area file
// damaged in a way SQLite does not see (a list that disagrees with its
// declared length, items missing from a walk): notes `area NAME: PATH:
// what` for the user, each time.
quire::Status area_damaged(Conn* conn, const std::string& what, const char* source, int line);
// area_damaged() for one item: what is said of `KIND NAME` (the name is
// read only now: failures are rare, and reads keep no names).
quire::Status item_damaged(Conn* conn, Kind kind, int64_t id, const std::string& what, const char* source,
                           int line);
// The name of the item id of kind, or "number ID" when it cannot be read.
std::string item_name(Conn* conn, Kind kind, int64_t id);
// "7 pieces stored, 8 declared (the area file is damaged)".
std::string disagreement(int64_t walked, int64_t declared, const char* what);
// Notes `area NAME: PATH: reason` for conn unless it was noted before.
void name_damage(Conn* conn, const char* reason);

// ---- the area record -------------------------------------------------------------------

namespace area_layout {
constexpr size_t kMagic = 24;     // u32
constexpr size_t kSlot = 28;      // u32
constexpr size_t kGen = 32;       // u32
constexpr size_t kLastFound = 36; // i32 x 3 (markers, models, orders)
constexpr size_t kPath = 64;      // text, to the end of the record
constexpr size_t kPathSize = 256 - kPath;
constexpr uint32_t kMagicValue = 0x52414250u;  // "PBAR"
}  // namespace area_layout

// Looks up (or opens) the connection to the area called name in the store
// the store setting names now, reopening it when the area was replaced.
// Fills the area record; notes an end (kErrNotFound) when there is no such
// area.
quire::Status bind_area(void* area, const std::string& name, End* end);
// The connection for an area record filled by pb_lookup_storage_areas, or
// null with *status set (a record that is none fails at source and line).
// With refresh, a replaced area file is reopened.
Conn* resolve_area(void* area, bool refresh, quire::Status* status, const char* source, int line);
std::shared_ptr<Conn> resolve_area_shared(void* area, quire::Status* status, const char* source, int line);

// Fills record (size bytes, cleared first) as table describes from the one
// row that statement id of conn selects for key (?1) and, when index >= 0,
// index (?2). When there is no such row the failure is missing_code with
// the detail missing; failures name source and line.
quire::Status read_row(Conn* conn, StmtId id, int64_t key, int index, const Table& table, unsigned char* record,
                       size_t size, int missing_code, const char* missing, const char* source, int line);
// The statement that walks the rows of the point statement id in key
// order on a server (kStmtMarkerHeader, kStmtAnalysis, kStmtOrderHeader,
// kStmtModelRow, kStmtPieceHeader, kStmtOverride, kStmtSplice,
// kStmtListModel, kStmtListOption, kStmtListSize); kStmtCount for other
// statements and on SQLite, which reads the point statements as before.
StmtId keyed_stmt(const Conn* conn, StmtId id);
// The row of key read through the cursor of from (a keyed_stmt()), which
// steps on when keys come in order and searches again otherwise: kRow
// leaves *out at the row (the record from column key.parts on; the
// statement stays open, the cursor's), kDone when there is no such row,
// kFailed with *failure set.
Step read_keyed(Conn* conn, StmtId from, const RowKey& key, store::Statement** out, quire::Status* failure);
inline Step read_keyed(Conn* conn, StmtId from, int64_t id, store::Statement** out, quire::Status* failure) {
  return read_keyed(conn, from, RowKey{-1, 1, {id, 0, 0}}, out, failure);
}

// ---- open items -------------------------------------------------------------------

namespace item_layout {
constexpr size_t kMagic = 0;   // u32
constexpr size_t kSlot = 4;    // u32
constexpr size_t kGen = 8;     // u32
constexpr size_t kKind = 16;   // i32
constexpr size_t kId = 20;     // i32
constexpr uint32_t kMagicValue = 0x54494250u;  // "PBIT"
}  // namespace item_layout

// The lists whose lengths an item slot keeps in count[].
enum ItemCount : int {
  kMarkerPieces = 0, kMarkerOverrides = 1, kMarkerSplices = 2, kMarkerListModels = 3,
  kOrderModels = 3,
};

struct ItemSlot {
  uint32_t gen = 0;
  bool in_use = false;
  Kind kind = kMarker;
  std::shared_ptr<Conn> conn;
  int64_t id = 0;
  // The item's faults and the reads they count (faults.h).
  FaultSet faults;
  struct FaultReads {
    int64_t pieces = 0, model_list = 0;
  } fault_reads;
  // markers: pieces, overrides, splices, model-list models; models: base
  // pieces, option groups; orders: models (the ItemCount slots).
  int32_t count[4] = {0, 0, 0, 0};
  // marker pieces
  int64_t piece_next_position = 0;
  // model-list sequence
  bool seq_active = false;
  int32_t seq_models = 0;
  int32_t seq_model = -1;
  int32_t seq_option = 0, seq_options = 0;
  int32_t seq_size = 0, seq_sizes = 0;
  // analysis record, kept for reuse by later items in this slot
  std::unique_ptr<unsigned char[]> analysis;

};

// Takes a free slot for an item of kind on conn and fills item_area (168
// bytes) with its reference. Returns the slot, or null with *status set.
ItemSlot* take_slot(Kind kind, std::shared_ptr<Conn> conn, int64_t id, void* item_area, quire::Status* status);
// The open item of item_area, checked for kind (kPiece areas only accept
// kPiece); null with *status set (at source and line) when item_area holds
// no open item of kind.
ItemSlot* slot_of(const void* item_area, Kind kind, quire::Status* status, const char* source, int line,
                  uint32_t* index = nullptr);
// True (with the slot index) when item_area refers to an open item of any
// kind; sets no error.
bool slot_of_any(const void* item_area, uint32_t* index);
// The slot at index (from slot_of_any).
ItemSlot* slot_at(uint32_t index);
// Releases the slot (and clears the reference in item_area).
void release_slot(uint32_t index, void* item_area);

// ---- the readers ------------------------------------------------------------
// What the exported calls (api.cpp) do once they have checked the caller's
// arguments and the item's faults. Each returns a success or the failure
// (or a record, or null with *status set); those that walk a list or look up
// a name note in *end that it is at its end instead.

// Lines for the user. The reader prints nothing: a line the user must see
// (an area that cannot be opened or read, and where) is noted, and the
// exported call that met it prints the lines noted, in order, before it
// returns.
void note_line(std::string line);
// Moves the lines noted so far into *out (emptied first); false when none.
bool take_lines(std::vector<std::string>* out);
// Whether a failure code is a failure to read the store, and the names'
// order (ASCII case-blind, unsigned bytes).
bool is_read_failure(int code);
int compare_names(const char* a, const char* b);

// The area (area.cpp). lookup_storage_area takes non-null arguments (an
// area of no such name is an end), and convert_path a non-null out (empty
// on failure). area_notation gives notation 0 and precision 2 on failure;
// either pointer may be null.
int set_notation_state(int notation);
quire::Status lookup_storage_area(void* area, const char* name, End* end);
quire::Status area_notation(void* area, int* notation, int* precision);
quire::Status convert_path(char* out, void* area);

// Lookups and opening (items.cpp). An open is in two steps, so that the
// item's faults can be consulted between them: find_item (of any kind,
// pieces too) fills *found (name non-null), then open_found_item takes a
// slot for it in item_area (non-null; an item it still holds is closed
// first) and returns it, or null with *status set.
struct FoundItem {
  std::shared_ptr<Conn> conn;
  int64_t id = 0;
  const ItemRow* row = nullptr;  // not for pieces: the row the lookup read
};
// What a lookup found, for the caller's current-item values.
struct LookedUp {
  int number = 0;  // the item's number: 1, 2, ... in name order
  int total = 0;   // the items of its kind in the area
  int32_t modified = -1;
};
quire::Status lookup_item(Kind kind, void* area, char* name, const char* pattern, int mode, End* end,
                          LookedUp* looked_up);
quire::Status find_item(Kind kind, void* area, const char* name, FoundItem* found);
ItemSlot* open_found_item(Kind kind, const FoundItem& found, void* item_area, quire::Status* status);

// Markers (markers.cpp); records are non-null and of their full size.
quire::Status read_marker_header(ItemSlot* slot, unsigned char* header, bool ex);
const void* analyze_marker(ItemSlot* slot, quire::Status* status);
// Starts a marker's pieces again from the first.
void restart_marker_pieces(ItemSlot* slot);
// The next piece, or an end (kErrEndOfList) after the last.
quire::Status read_marker_piece(ItemSlot* slot, unsigned char* piece, End* end);
// Override or splice index (list is kMarkerOverrides or kMarkerSplices),
// which is within the marker's list.
quire::Status read_marker_entry(ItemSlot* slot, ItemCount list, int index, unsigned char* record);

// The model-list sequence (model_list.cpp). sequence_slot is the open marker
// or order of item_area with a located sequence, else null with *status set
// at source and line. The reads note an end (kErrEndOfList) past the last.
ItemSlot* sequence_slot(void* item_area, quire::Status* status, const char* source, int line);
void locate_marker_model_list(ItemSlot* slot);
quire::Status read_order_header(ItemSlot* slot, unsigned char* header);  // and locates its list
quire::Status read_order_model(ItemSlot* slot, unsigned char* model, End* end);
quire::Status read_option_entry(ItemSlot* slot, unsigned char* entry, End* end);
quire::Status read_size_entry(ItemSlot* slot, unsigned char* entry, End* end);

// Models and piece headers (models.cpp).
quire::Status read_model(ItemSlot* slot, pb_model** model);
quire::Status release_model(pb_model** model);
quire::Status read_piece_header(ItemSlot* slot, unsigned char* header);

// ---- moving described fields -------------------------------------------------------

// Fills the record of size bytes from the columns column_list(table, true)
// of s, from column first on: each at its offset (fields beyond size, such
// as those of an extended record only, are left out). False when a count
// list's text is no list of 16-bit values that fits its slots (the record
// is filled all the same): the area file is damaged.
bool fill_record(store::Statement& s, int first, const Table& table, unsigned char* record, size_t size);

// ---- small helpers -------------------------------------------------------------------

// Copies column col of s into a text field of size bytes: at most size - 1
// bytes, the rest of the field NUL.
// (Texts hold no NUL bytes: import refuses them. One API call per text.)
inline void fill_text(unsigned char* p, size_t size, store::Statement& s, int col) {
  const char* t = s.column_text(col);
  size_t n = t ? strnlen(t, size - 1) : 0;
  if (n) std::memcpy(p, t, n);
  std::memset(p + n, 0, size - n);
}
inline void copy_text(char* out, size_t size, store::Statement& s, int col) {
  fill_text(reinterpret_cast<unsigned char*>(out), size, s, col);
}

}  // namespace plotbase

#endif  // PLOTBASE_INTERNAL_H_
