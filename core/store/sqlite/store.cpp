// The store directory, area file names, the per-area connections and the
// area record that refers to them.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"
#include "piece_read_ahead.h"

namespace plotbase {

namespace {
constexpr const char* kSource = "plotbase/store.cpp";
namespace rec = quire::records;
}  // namespace

std::string statement_sql(int id) {
  static const char* const tables[kItemKinds] = {"markers", "models", "orders"};
  if (id >= kStmtLookupExact && id < kStmtLookupExact + kItemKinds) {
    int k = id - kStmtLookupExact;
    return "SELECT " + item_row_columns(static_cast<Kind>(k)) + " FROM " + tables[k] + " WHERE name = ?1";
  }
  if (id >= kStmtLookupScan && id < kStmtLookupScan + kItemKinds) {
    int k = id - kStmtLookupScan;
    return "SELECT " + item_row_columns(static_cast<Kind>(k), kRowKeyColumns) + " FROM " + tables[k] +
           " WHERE id > ?1 ORDER BY id";
  }
  if (id >= kStmtDetailScan && id < kStmtDetailScan + kItemKinds) {
    int k = id - kStmtDetailScan;
    return "SELECT " + item_row_columns(static_cast<Kind>(k)) + " FROM " + tables[k] + " WHERE id >= ?1 ORDER BY id";
  }
  if (id >= kStmtLookupPrefix && id < kStmtLookupPrefix + kItemKinds)
    return std::string("SELECT id FROM ") + tables[id - kStmtLookupPrefix] +
           " WHERE name >= ?1 ORDER BY name LIMIT 1";
  // Record statements select the record columns of the description, so
  // fill_record() finds each at its place.
  auto record = [](const Table& t, const char* before, const char* where) {
    return std::string("SELECT ") + before + column_list(t, true) + " FROM " + t.name + " WHERE " + where;
  };
  switch (id) {
    case kStmtMarkerHeader:
      return record(kMarkersTable, "", "id = ?1");
    case kStmtAnalysis:
      return record(kAnalysisTable, "", "marker_id = ?1");
    case kStmtMarkerPieces:  // kPieceMarkerColumn first
      return record(kMarkerPiecesTable, "marker_id, ", "marker_id >= ?1 ORDER BY marker_id, position");
    case kStmtOverride:
      return record(kOverridesTable, "", "marker_id = ?1 AND position = ?2");
    case kStmtSplice:
      return record(kSplicesTable, "", "marker_id = ?1 AND position = ?2");
    case kStmtListModel:
      return record(kOrderModelsTable, "", "owner = ?1 AND owner_id = ?2 AND position = ?3");
    case kStmtListOption:
      return record(kOptionsTable, "", "owner = ?1 AND owner_id = ?2 AND model_position = ?3 AND position = ?4");
    case kStmtListSize:
      return record(kSizesTable, "", "owner = ?1 AND owner_id = ?2 AND model_position = ?3 AND position = ?4");
    case kStmtOrderHeader:
      return record(kOrdersTable, "", "id = ?1");
    case kStmtModelRow:
      return record(kModelsTable, "", "id = ?1");
    case kStmtModelGroups:
      return record(kOptionGroupsTable, "", "model_id = ?1 ORDER BY position");
    case kStmtModelPieces:  // kModelPieceGroupColumn first
      return record(kModelPiecesTable, "option_group, ", "model_id = ?1 ORDER BY option_group, position");
    case kStmtFaults:
      return "SELECT " + column_list(kFaultsTable) + " FROM faults WHERE kind = ?1 AND item_id = ?2";
    case kStmtPieceOpen:
      return "SELECT id FROM pieces WHERE name = ?1";
    case kStmtPieceHeader:
      return record(kPiecesTable, "", "id = ?1");
    default:
      return "";
  }
}


namespace {

// ---- the table of area connections ----------------------------------------

struct AreaSlot {
  std::shared_ptr<Conn> conn;
  uint32_t gen = 1;
  uint64_t last_use = 0;
};
std::vector<AreaSlot> g_areas;
uint64_t g_use_clock = 0;
constexpr size_t kMaxIdleConnections = 8;

// Closes the least recently used connections beyond the limit that no open
// item holds. Their area records reopen them from the path they carry.
void evict_idle(size_t keep_index) {
  size_t live = 0;
  for (auto& a : g_areas)
    if (a.conn) ++live;
  while (live > kMaxIdleConnections) {
    size_t victim = g_areas.size();
    for (size_t i = 0; i < g_areas.size(); ++i) {
      if (i == keep_index || !g_areas[i].conn || g_areas[i].conn.use_count() > 1) continue;
      if (g_areas[i].conn->path.size() >= area_layout::kPathSize) continue;  // cannot reopen
      if (victim == g_areas.size() || g_areas[i].last_use < g_areas[victim].last_use) victim = i;
    }
    if (victim == g_areas.size()) return;
    g_areas[victim].conn.reset();
    ++g_areas[victim].gen;
    --live;
  }
}

size_t slot_for_path(const std::string& path) {
  for (size_t i = 0; i < g_areas.size(); ++i)
    if (g_areas[i].conn && g_areas[i].conn->path == path) return i;
  return g_areas.size();
}

void fill_record(unsigned char* rec, size_t index) {
  const AreaSlot& a = g_areas[index];
  std::memset(rec, 0, area_layout::kPath);
  quire::records::store_text(rec, quire::records::area::kNameSize, a.conn->name.c_str());
  quire::records::store_u32(rec + area_layout::kMagic, area_layout::kMagicValue);
  quire::records::store_u32(rec + area_layout::kSlot, static_cast<uint32_t>(index));
  quire::records::store_u32(rec + area_layout::kGen, a.gen);
  const std::string& path = a.conn->path;
  quire::records::store_text(rec + area_layout::kPath, area_layout::kPathSize,
                             path.size() < area_layout::kPathSize ? path.c_str() : "");
}

// Opens or reuses the connection for path (reopening a replaced file) and
// returns its slot index, or -1 with *status set.
long connect_path(const std::string& path, const std::string& name, const FileIdentity* known,
                  quire::Status* status, int line) {
  FileIdentity id;
  if (known) {
    id = *known;
  } else {
    FileStatus st = file_status(path);
    if (st.error != 0) {
      *status = st.error == ENOENT ? store_error(kErrNotFound, kSource, line, std::strerror(st.error), path)
                                   : cannot_open(name, path, system_error_text(st.system_error), kSource, line);
      return -1;
    }
    id = st.identity;
  }
  size_t index = slot_for_path(path);
  if (index < g_areas.size() && g_areas[index].conn->identity == id) {
    g_areas[index].last_use = ++g_use_clock;
    return static_cast<long>(index);
  }
  std::shared_ptr<Conn> conn = open_conn(path, name, id, status);
  if (!conn) return -1;
  if (index == g_areas.size()) {
    for (index = 0; index < g_areas.size(); ++index)
      if (!g_areas[index].conn) break;
    if (index == g_areas.size()) g_areas.emplace_back();
  }
  AreaSlot& a = g_areas[index];
  a.conn = std::move(conn);  // open items keep a replaced connection alive
  ++a.gen;
  a.last_use = ++g_use_clock;
  evict_idle(index);
  return static_cast<long>(index);
}

// SQLite's memory statistics take a global mutex on every allocation, and
// Debian's SQLite (built without lookaside memory) allocates for every text
// column read. The library does not use the statistics: turn them off before
// SQLite initialises (a no-op if the host initialised it already).
__attribute__((constructor)) void configure_sqlite() { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); }

}  // namespace


Conn::Conn() : stmts(kStmtCount, statement_sql) {}

Conn::~Conn() {
  if (process_is_ending()) {
    // The piece reader's thread is gone, maybe in the middle of a read: it
    // is not joined, and the system takes back what it held.
    (void)read_ahead.release();
  }
  read_ahead.reset();  // joins its thread
  stmts.clear();
  if (db) sqlite3_close_v2(db);
}

sqlite3_stmt* Conn::stmt(StmtId id, quire::Status* status) {
  sqlite3_stmt* s = stmts.get(id);
  if (!s) *status = damaged(this, sqlite3_errmsg(db), kSource, __LINE__);
  return s;
}

quire::Status cannot_open(const std::string& name, const std::string& path, const std::string& reason,
                          const char* source, int line) {
  pb_printf("area %s: cannot open the area file %s: %s\n", name.c_str(), path.c_str(), reason.c_str());
  return store_error(kErrStore, source, line, reason, path);
}



std::shared_ptr<Conn> open_conn(const std::string& path, const std::string& name, const FileIdentity& identity,
                                quire::Status* status) {
  bool rolled_back = false;
  quire::Status settled = settle_unfinished_change(path, &rolled_back);
  if (!settled.ok()) {
    pb_printf("area %s: %s: %s\n", name.c_str(), path.c_str(), settled.message().c_str());
    *status = store_error(kErrStore, kSource, __LINE__, settled.message(), path);
    return nullptr;
  }
  auto conn = std::make_shared<Conn>();
  conn->path = path;
  conn->name = name;  // until the file's own area row is read
  conn->identity = identity;
  if (rolled_back) {
    // The rollback changed the file: the connection is to the file as it
    // is now (the read-ahead and later lookups compare with it).
    FileStatus now = file_status(path);
    if (now.error == 0) conn->identity = now.identity;
  }
  int rc = sqlite3_open_v2(file_uri(sqlite_file_name(path)).c_str(), &conn->db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    int system_error = conn->db ? sqlite3_system_errno(conn->db) : 0;
    *status = cannot_open(name, path,
                          system_error != 0 ? system_error_text(system_error)
                          : conn->db        ? sqlite3_errmsg(conn->db)
                                            : "out of memory",
                          kSource, __LINE__);
    return nullptr;
  }
  conn->stmts.attach(conn->db);
  // A bounded page cache: memory stays flat however large the area is.
  sqlite3_exec(conn->db, "PRAGMA cache_size = -2048", nullptr, nullptr, nullptr);
  // One read transaction for the life of the connection: the file never
  // changes (areas are replaced whole), and statements then skip starting
  // and ending a transaction of their own.
  sqlite3_exec(conn->db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(conn->db, area_row_select_sql().c_str(), -1, &s, nullptr) != SQLITE_OK) {
    *status = damaged(conn.get(), sqlite3_errmsg(conn->db), kSource, __LINE__);
    return nullptr;
  }
  rc = sqlite3_step(s);
  if (rc != SQLITE_ROW || sqlite3_column_int(s, kAreaFormatColumn) != kAreaFormat) {
    *status = damaged(conn.get(),
                      rc == SQLITE_ROW    ? "unknown area format"
                      : rc == SQLITE_DONE ? "no area row"
                                          : sqlite3_errmsg(conn->db),
                      kSource, __LINE__);
    sqlite3_finalize(s);
    return nullptr;
  }
  const unsigned char* stored = sqlite3_column_text(s, kAreaNameColumn);
  conn->name = stored ? reinterpret_cast<const char*>(stored) : "";
  conn->notation = sqlite3_column_int(s, kAreaNotationColumn);
  conn->precision = sqlite3_column_int(s, kAreaPrecisionColumn);
  conn->counts[kMarker] = sqlite3_column_int(s, kAreaMarkersColumn);
  conn->counts[kModel] = sqlite3_column_int(s, kAreaModelsColumn);
  conn->counts[kOrder] = sqlite3_column_int(s, kAreaOrdersColumn);
  sqlite3_finalize(s);
  s = nullptr;
  if (sqlite3_prepare_v2(conn->db, "SELECT EXISTS (SELECT 1 FROM faults)", -1, &s, nullptr) != SQLITE_OK ||
      sqlite3_step(s) != SQLITE_ROW) {
    *status = damaged(conn.get(), sqlite3_errmsg(conn->db), kSource, __LINE__);
    sqlite3_finalize(s);
    return nullptr;
  }
  conn->has_faults = sqlite3_column_int(s, 0) != 0;
  sqlite3_finalize(s);
  // An area that rehearses failures reads every piece directly, where its
  // faults are carried out in the order of the caller's reads.
  conn->read_ahead_off = conn->has_faults;
  return conn;
}




quire::Status bind_area(void* area, const std::string& name, const std::string& path,
                        const FileIdentity& identity) {
  quire::Status status;
  long index = connect_path(path, name, &identity, &status, __LINE__);
  if (index >= 0) fill_record(static_cast<unsigned char*>(area), static_cast<size_t>(index));
  return status;
}

namespace {

// Fills the area record rec from connection slot index, keeping the lookup
// positions it holds: the caller's mode 0 resets them.
Conn* refill_record(unsigned char* rec, long index) {
  unsigned char keep[12];
  std::memcpy(keep, rec + area_layout::kLastFound, sizeof keep);
  fill_record(rec, static_cast<size_t>(index));
  std::memcpy(rec + area_layout::kLastFound, keep, sizeof keep);
  return g_areas[static_cast<size_t>(index)].conn.get();
}

}  // namespace

Conn* resolve_area(void* area, bool refresh, quire::Status* status, const char* source, int line) {
  std::shared_ptr<Conn> c = resolve_area_shared(area, status, source, line);
  if (!c) return nullptr;
  if (refresh) {
    FileStatus st = file_status(c->path);
    if (st.error == 0 && !(st.identity == c->identity)) {
      long index = connect_path(c->path, c->name, &st.identity, status, line);
      if (index < 0) return nullptr;
      return refill_record(static_cast<unsigned char*>(area), index);
    }
  }
  return c.get();
}

std::shared_ptr<Conn> resolve_area_shared(void* area, quire::Status* status, const char* source, int line) {
  if (!area) return *status = store_error(kErrBadArgument, source, line, "null area record"), nullptr;
  unsigned char* rec = static_cast<unsigned char*>(area);
  if (quire::records::load_u32(rec + area_layout::kMagic) != area_layout::kMagicValue) {
    *status = store_error(kErrBadArea, source, line, "area record not filled by pb_lookup_storage_areas");
    return nullptr;
  }
  uint32_t index = quire::records::load_u32(rec + area_layout::kSlot);
  uint32_t gen = quire::records::load_u32(rec + area_layout::kGen);
  if (index < g_areas.size() && g_areas[index].gen == gen && g_areas[index].conn) {
    g_areas[index].last_use = ++g_use_clock;
    return g_areas[index].conn;
  }
  // The connection was closed to save resources (or replaced): reopen it
  // from the path the record carries.
  size_t len = quire::records::text_length(rec + area_layout::kPath, area_layout::kPathSize);
  if (len == 0 || len >= area_layout::kPathSize)
    return *status = store_error(kErrBadArea, source, line, "stale area record"), nullptr;
  std::string path(reinterpret_cast<const char*>(rec + area_layout::kPath), len);
  std::string name(reinterpret_cast<const char*>(rec),
                   quire::records::text_length(rec, quire::records::area::kNameSize));
  long found = connect_path(path, name, nullptr, status, line);
  if (found < 0) return nullptr;
  refill_record(rec, found);
  return g_areas[static_cast<size_t>(found)].conn;
}

quire::Status read_row(Conn* conn, StmtId id, int64_t key, int index, const Table& table, unsigned char* record,
                       size_t size, int missing_code, const char* missing, const char* source, int line) {
  quire::Status status;
  sqlite3_stmt* s = conn->stmt(id, &status);
  if (!s) return status;
  StmtReset reset(s);
  sqlite3_bind_int64(s, 1, key);
  if (index >= 0) sqlite3_bind_int(s, 2, index);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return store_error(missing_code, source, line, missing);
  if (rc != SQLITE_ROW) return db_error(conn->db, source, line);
  std::memset(record, 0, size);
  fill_record(s, 0, table, record, size);
  return status;
}

void name_damage(Conn* conn, const char* reason) {
  if (conn->damage_named) return;
  conn->damage_named = true;
  pb_printf("area %s: %s: %s\n", conn->name.c_str(), conn->path.c_str(), reason);
}

quire::Status damaged(Conn* conn, const char* reason, const char* source, int line) {
  name_damage(conn, reason);
  return store_error(kErrDamagedArea, source, line, reason ? reason : "", conn->path);
}

quire::Status area_damaged(Conn* conn, const std::string& what, const char* source, int line) {
  pb_printf("area %s: %s: %s\n", conn->name.c_str(), conn->path.c_str(), what.c_str());
  return store_error(kErrDamagedArea, source, line, what, conn->path);
}

std::string item_name(Conn* conn, Kind kind, int64_t id) {
  static const char* const tables[] = {"markers", "models", "orders", "pieces"};
  std::string sql = std::string("SELECT name FROM ") + tables[kind] + " WHERE id = ?1";
  sqlite3_stmt* s = nullptr;
  std::string name;
  if (sqlite3_prepare_v2(conn->db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(s, 1, id);
    if (sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(s, 0);
      if (t) name = reinterpret_cast<const char*>(t);
    }
  }
  sqlite3_finalize(s);
  return name.empty() ? "number " + std::to_string(id) : name;
}

quire::Status item_damaged(Conn* conn, Kind kind, int64_t id, const std::string& what, const char* source,
                           int line) {
  return area_damaged(conn, std::string(kind_name(kind)) + " " + item_name(conn, kind, id) + ": " + what, source,
                      line);
}

std::string disagreement(int64_t walked, int64_t declared, const char* what) {
  return std::to_string(walked) + " " + what + " stored, " + std::to_string(declared) +
         " declared (the area file is damaged)";
}

Conn* conn_of(sqlite3* db) {
  for (const AreaSlot& a : g_areas)
    if (a.conn && a.conn->db == db) return a.conn.get();
  return nullptr;
}

void read_item_row(sqlite3_stmt* s, ItemRow* row) {
  row->valid = true;
  row->id = sqlite3_column_int64(s, kRowId);
  copy_text(row->name, sizeof row->name, s, kRowName);
  row->modified = sqlite3_column_int(s, kRowModified);
  row->details = sqlite3_column_count(s) > kRowKeyColumns;
  if (!row->details) return;
  row->created = sqlite3_column_int(s, kRowCreated);
  row->prev_modified = sqlite3_column_int(s, kRowPrevModified);
  for (int i = 0; i < 3; ++i) copy_text(row->user[i], sizeof row->user[i], s, kRowUsers + i);
  row->byte_size[0] = sqlite3_column_int(s, kRowByteSizes);
  row->byte_size[1] = sqlite3_column_int(s, kRowByteSizes + 1);
  for (int i = 0; i < 4; ++i) row->count[i] = sqlite3_column_int(s, kRowCounts + i);
}

namespace {

// Fills the slots of a count list from its text "[a,b,...]" (slot 0 first;
// slots it leaves out stay 0). False when the text is not such a list of
// 16-bit values that fits the slots: the area file is damaged. A null text
// is an empty list.
bool fill_counts(unsigned char* p, size_t width, size_t slots, const char* t) {
  std::memset(p, 0, width);
  if (!t) return true;
  auto skip_spaces = [&] {
    while (*t == ' ') ++t;
  };
  skip_spaces();
  if (*t++ != '[') return false;
  skip_spaces();
  size_t k = 0;
  if (*t == ']') {
    ++t;
  } else {
    for (;;) {
      char* end = nullptr;
      long v = std::strtol(t, &end, 10);
      if (end == t || v < INT16_MIN || v > INT16_MAX || k >= slots) return false;
      rec::store_i16(p + 2 * k++, static_cast<int16_t>(v));
      t = end;
      skip_spaces();
      if (*t == ']') {
        ++t;
        break;
      }
      if (*t++ != ',') return false;
      skip_spaces();
    }
  }
  skip_spaces();
  return *t == 0;
}

}  // namespace

bool fill_record(sqlite3_stmt* s, int first, const Table& table, unsigned char* record, size_t size) {
  bool sound = true;
  int i = first;
  for (const Field& f : table) {
    if (f.offset < 0) continue;
    int col = i++;
    size_t at = static_cast<size_t>(f.offset);
    if (at + f.width > size) continue;  // a field of the extended record only
    unsigned char* p = record + at;
    switch (f.type) {
      case FieldType::kText:
        fill_text(p, f.width, s, col);
        break;
      case FieldType::kReal:
        rec::store_double(p, sqlite3_column_double(s, col));
        break;
      case FieldType::kCounts:
        if (!fill_counts(p, f.width, static_cast<size_t>(f.hi),
                         reinterpret_cast<const char*>(sqlite3_column_text(s, col))))
          sound = false;
        break;
      default: {
        int64_t v = sqlite3_column_int64(s, col);
        if (f.width == 1) rec::store_i8(p, static_cast<int8_t>(v));
        else if (f.width == 2) rec::store_i16(p, static_cast<int16_t>(v));
        else rec::store_i32(p, static_cast<int32_t>(v));
        break;
      }
    }
  }
  return sound;
}

}  // namespace plotbase
