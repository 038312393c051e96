// The layout of an area file as both halves of the storage-area library
// see it: the reader (libplotbase) and area management (import, export,
// generate). The record kinds themselves are described in area_data.h; this
// adds the area's own row, the item kinds, the file names of the store and
// the statement cache every connection keeps. Implemented in the store
// library (libquire_store.a), which the reader and area management link.
#ifndef PLOTBASE_STORE_LAYOUT_H_
#define PLOTBASE_STORE_LAYOUT_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "area_data.h"
#include "host_system.h"
#include "store_errors.h"
#include "quire/plotbase.h"
#include "quire/status.h"

namespace quire::store {
class Statement;
}  // namespace quire::store

namespace plotbase {

// ASCII lower case of c, as names are compared.
inline unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// ---- the store ------------------------------------------------------------

// The store directory as the environment says now: $QUIRE_STORE, else
// $XDG_DATA_HOME/quire/store, else $HOME/.local/share/quire/store.
std::string store_directory();
// The file name (not path) of the area called name: lower-cased, with every
// byte outside [a-z0-9_-] (and a leading '.') written as %XX, plus ".sqlite".
std::string area_file_name(std::string_view name);
constexpr const char* kAreaFileSuffix = ".sqlite";
// Rolls back a change left unfinished in place in the area file at path
// (a rollback journal or write-ahead log beside it, from a program that
// stopped while writing it), so that the area is never read half-written.
// When that cannot be done (no write access, another program writing now)
// the failure (kStore, error kErrStore) says what happened and what to do.
// Nothing beside the file: no work but looking. *settled (when given) is
// set when the file was opened for writing to settle a change (it may have
// changed).
quire::Status settle_unfinished_change(const std::string& path, bool* settled = nullptr);
// The URI that opens the area file at path read-only as an immutable file
// (sqlite3_open_v2 with SQLITE_OPEN_URI).
std::string file_uri(const std::string& path);
// True when name is acceptable as an area name: 1..20 bytes, no '/' or '\\',
// no control characters.
bool valid_area_name(std::string_view name);

// ---- item kinds -----------------------------------------------------------

enum Kind : int { kMarker = 0, kModel = 1, kOrder = 2, kPiece = 3 };
constexpr int kItemKinds = 3;  // markers, models, orders (looked up by name)
// The kind as the faults and order_models tables name it ("marker", ...).
inline const char* kind_name(Kind kind) {
  static const char* const names[] = {"marker", "model", "order", "piece"};
  return names[kind];
}

static_assert(kOwnedByMarker == 1u << kMarker && kOwnedByModel == 1u << kModel && kOwnedByOrder == 1u << kOrder &&
              kOwnedByPiece == 1u << kPiece);

// ---- the area row -----------------------------------------------------------

// The version of the area database's layout, in its area row.
constexpr int kAreaFormat = 1;
// The area's own row, the one row of the table "area": its columns in the
// order of AreaRowColumn (the name is a text, the others integers).
inline constexpr const char* kAreaColumns[] = {"name",   "notation", "precision", "markers",
                                               "models", "pieces",   "orders",    "format"};
enum AreaRowColumn : int {
  kAreaNameColumn, kAreaNotationColumn, kAreaPrecisionColumn, kAreaMarkersColumn, kAreaModelsColumn,
  kAreaPiecesColumn, kAreaOrdersColumn, kAreaFormatColumn, kAreaColumnCount
};
static_assert(sizeof kAreaColumns / sizeof kAreaColumns[0] == kAreaColumnCount);
// The statement that reads the row, as opening, listing and exporting do.
std::string area_row_select_sql();
// The statement that writes it, the columns bound as ?1, ?2, ... in order.
std::string area_row_insert_sql();
// The CREATE TABLE statement of the area table.
std::string area_table_sql();

// ---- statements -------------------------------------------------------------

// The prepared statements of one connection, by number: each is prepared on
// first use from the SQL its source gives and kept until clear() or the end
// of the cache. Readers, the writer and the exporter each keep one.
class StatementCache {
 public:
  using SqlSource = std::string (*)(int id);
  StatementCache(int count, SqlSource source) : source_(source), stmts_(static_cast<size_t>(count), nullptr) {}
  ~StatementCache() { clear(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // Prepares statements on db from now on (after clear()).
  void attach(sqlite3* db) { db_ = db; }
  // The statement id, or null when it cannot be prepared (sqlite3_errmsg of
  // the connection says why).
  sqlite3_stmt* get(int id);
  // Finalizes every statement.
  void clear();

 private:
  sqlite3* db_ = nullptr;
  SqlSource source_;
  std::vector<sqlite3_stmt*> stmts_;
};

// Resets a statement at the end of a scope.
class StmtReset {
 public:
  explicit StmtReset(sqlite3_stmt* s) : s_(s) {}
  ~StmtReset() {
    if (s_) sqlite3_reset(s_);
  }
  StmtReset(const StmtReset&) = delete;
  StmtReset& operator=(const StmtReset&) = delete;

 private:
  sqlite3_stmt* s_;
};

// The columns of an item that a lookup reads and an open hands out, in the
// order the exact-name and detail statements select them. A lookup by
// pattern selects the key columns only (id to modified): an unchanged
// item of a rerun is never opened, and the rest of a wide row costs more
// to decode than the rest of the walk.
enum ItemRowColumn : int {
  kRowId, kRowName, kRowModified,
  kRowKeyColumns,
  kRowCreated = kRowKeyColumns, kRowPrevModified,
  kRowUsers,                     // user_last_mod, user_created, user_prev_mod
  kRowByteSizes = kRowUsers + 3,  // byte_size1, byte_size2
  kRowCounts = kRowByteSizes + 2,  // the lengths of the item's four lists
  kRowColumnCount = kRowCounts + 4
};
// The column of each kind's table (markers, models, orders) that gives each
// ItemRowColumn; "0" where the kind has none.
inline constexpr const char* kItemRowColumns[kRowColumnCount][kItemKinds] = {
    {"id", "id", "id"},
    {"name", "name", "name"},
    {"modified", "modified", "modified"},
    {"created", "created", "created"},
    {"prev_modified", "prev_modified", "prev_modified"},
    {"user_last_mod", "user_last_mod", "user_last_mod"},
    {"user_created", "user_created", "user_created"},
    {"user_prev_mod", "user_prev_mod", "user_prev_mod"},
    {"byte_size1", "0", "0"},
    {"byte_size2", "0", "0"},
    {"piece_count", "base_piece_count", "0"},
    {"override_count", "group_count", "0"},
    {"splice_count", "0", "0"},
    {"model_count", "0", "model_count"},
};
// "id, name, ...": the first count ItemRowColumns of kind, for a SELECT.
std::string item_row_columns(Kind kind, int count = kRowColumnCount);

// ---- moving described fields ------------------------------------------------

// Binds the fields of table, taken from row (the struct they describe), to
// the parameters of s from first on, in the order of the table, its texts
// bound in place (no copy per text): row must stay unchanged until s is
// stepped. Returns the next parameter.
int bind_fields(quire::store::Statement& s, int first, const Table& table, const void* row);
// Reads the columns column_list(table) of s, from column first on, into row.
void read_fields(quire::store::Statement& s, int first, const Table& table, void* row);

// A text describing the last library failure beyond its code (for tests
// and diagnostics); empty when there is none.
std::string last_error_detail();

}  // namespace plotbase

#endif  // PLOTBASE_STORE_LAYOUT_H_
