// Internals shared by the sources of libplotbase: error reporting, the
// per-area SQLite connections with their prepared statements, the table of
// open items, and the readers the exported calls (api.cpp) hand over to.
// What area management shares with the reader is in shared/store_layout.h.
#ifndef PLOTBASE_INTERNAL_H_
#define PLOTBASE_INTERNAL_H_

#include <sqlite3.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quire/plotbase.h"
#include "quire/records.h"
#include "quire/status.h"
#include "store_layout.h"

namespace plotbase {

// ---- names -------------------------------------------------------------------

// Case-insensitive wildcard match ('*' any run, '?' one character).
bool wildcard_match(const char* pattern, const char* text);
bool has_wildcards(const char* pattern);

// ---- failures ----------------------------------------------------------------
// Below the exported calls a failure is a quire::Status: its error() is the
// pb_error code (pb_errors.h), its message() the detail last_error_detail()
// returns, its source() and line() the place it was detected. Only api.cpp
// turns it into pb_error and the call's result.

// The failure code (a kErr... code) detected at source and line, with detail
// for last_error_detail() and subject naming the area file or item concerned.
quire::Status store_error(int code, const char* source, int line, std::string detail = {},
                          std::string subject = {});
// The failure (kErrDatabase) of the last call on db, with SQLite's message
// as the detail. When that error says the file is damaged (malformed, not a
// database, an I/O error), the area and its file are also named on the print
// routine, once per connection.
quire::Status db_error(sqlite3* db, const char* source, int line);

#define PB_ERROR(code, detail) ::plotbase::store_error((code), kSource, __LINE__, (detail))
#define PB_DB_ERROR(db) ::plotbase::db_error((db), kSource, __LINE__)

// How a lookup that matches nothing (more) and a read past the end of a list
// end: the exported call returns 0 and sets pb_error to code as for a
// failure, but every walk ends so, and noting it costs no allocation (no
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
  kStmtCount
};

// The SQL of the prepared statement id.
std::string statement_sql(int id);

// The columns that come before the record columns in the statements that
// walk a table (kStmtMarkerPieces, kStmtModelPieces).
constexpr int kPieceMarkerColumn = 0;      // marker_id; the record from column 1
constexpr int kModelPieceGroupColumn = 0;  // option_group; the record from column 1

// The statement of a per-kind family (kStmtLookupExact + kind, ...).
inline StmtId kind_stmt(StmtId family, Kind kind) {
  return static_cast<StmtId>(static_cast<int>(family) + static_cast<int>(kind));
}



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
// Reads the item columns s selects: the key columns, and the others when it
// selects them too (details is set then).
void read_item_row(sqlite3_stmt* s, ItemRow* row);

// One open SQLite connection to one area file (read-only, immutable: area
// files are replaced whole, never changed in place). Statements are prepared
// on first use and kept for the life of the connection.
struct Conn {
  sqlite3* db = nullptr;
  std::string path;
  FileIdentity identity;
  std::string name;  // the area's name as stored
  int notation = 0;
  int precision = 2;
  int32_t counts[kItemKinds] = {0, 0, 0};  // markers, models, orders
  StatementCache stmts;
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
  // after use (StmtReset).
  sqlite3_stmt* stmt(StmtId id, quire::Status* status);
};


// Opens path as the area called name (as looked up). On failure returns null
// with *status set; a file that is no readable area is reported as damaged().
std::shared_ptr<Conn> open_conn(const std::string& path, const std::string& name, const FileIdentity& identity,
                                quire::Status* status);
// Reports that the area file of conn cannot be read: prints one line,
// `area NAME: PATH: reason`, through pb_printf (once per connection), and
// returns the failure kErrDamagedArea with reason as its detail.
quire::Status damaged(Conn* conn, const char* reason, const char* source, int line);
// Reports that the area file at path (of the area looked up as name) cannot
// be opened: prints `area NAME: cannot open the area file PATH: reason`
// through pb_printf and returns the failure kErrStore with reason as its
// detail.
quire::Status cannot_open(const std::string& name, const std::string& path, const std::string& reason,
                          const char* source, int line);
// The failure (kErrDamagedArea) of a read that found the area file
// damaged in a way SQLite does not see (a list that disagrees with its
// declared length, items missing from a walk): prints `area NAME: PATH:
// what` through pb_printf, each time.
quire::Status area_damaged(Conn* conn, const std::string& what, const char* source, int line);
// area_damaged() for one item: what is said of `KIND NAME` (the name is
// read only now: failures are rare, and reads keep no names).
quire::Status item_damaged(Conn* conn, Kind kind, int64_t id, const std::string& what, const char* source,
                           int line);
// The name of the item id of kind, or "number ID" when it cannot be read.
std::string item_name(Conn* conn, Kind kind, int64_t id);
// "7 pieces stored, 8 declared (the area file is damaged)".
std::string disagreement(int64_t walked, int64_t declared, const char* what);
// Prints `area NAME: PATH: reason` for conn unless it was printed before.
void name_damage(Conn* conn, const char* reason);
// The open connection whose SQLite handle is db, or null.
Conn* conn_of(sqlite3* db);

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

// Looks up (or opens) the connection of the area file at path (of the area
// looked up as name), reopening it when the file was replaced. Fills the
// area record.
quire::Status bind_area(void* area, const std::string& name, const std::string& path,
                        const FileIdentity& identity);
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

// Messages for the user (pb_printf, pb_set_print_handler).
int print_message(const char* format, va_list args);
void set_print_handler(pb_print_handler handler, void* context);
// pb_is_read_failure and pb_stricmp.
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
quire::Status lookup_item(Kind kind, void* area, char* name, const char* pattern, int mode, End* end);
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
bool fill_record(sqlite3_stmt* s, int first, const Table& table, unsigned char* record, size_t size);

// ---- small helpers -------------------------------------------------------------------

// Copies column col of s into a text field of size bytes: at most size - 1
// bytes, the rest of the field NUL.
// (Texts hold no NUL bytes: import refuses them. One API call per text.)
inline void fill_text(unsigned char* p, size_t size, sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  size_t n = t ? strnlen(reinterpret_cast<const char*>(t), size - 1) : 0;
  if (n) std::memcpy(p, t, n);
  std::memset(p + n, 0, size - n);
}
inline void copy_text(char* out, size_t size, sqlite3_stmt* s, int col) {
  fill_text(reinterpret_cast<unsigned char*>(out), size, s, col);
}

}  // namespace plotbase

#endif  // PLOTBASE_INTERNAL_H_
