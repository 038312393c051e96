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

std::string statement_sql(int id, store::Dialect dialect) {
  static const char* const tables[kItemKinds] = {"markers", "models", "orders"};
  // Names compare and sort case-blind on every engine.
  const std::string name_is = " WHERE " + store::folded_name(dialect, "name") + " = " + store::folded_name(dialect, "?1");
  if (id >= kStmtLookupExact && id < kStmtLookupExact + kItemKinds) {
    int k = id - kStmtLookupExact;
    return "SELECT " + item_row_columns(static_cast<Kind>(k)) + " FROM " + tables[k] + name_is;
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
    return std::string("SELECT id FROM ") + tables[id - kStmtLookupPrefix] + " WHERE " +
           store::folded_name(dialect, "name") + " >= " + store::folded_name(dialect, "?1") + " ORDER BY " +
           store::folded_name(dialect, "name") + " LIMIT 1";
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
      return "SELECT id FROM pieces" + name_is;
    case kStmtPieceHeader:
      return record(kPiecesTable, "", "id = ?1");
    case kStmtMarkerHeaderFrom:
      return record(kMarkersTable, "id, ", "id >= ?1 ORDER BY id");
    case kStmtAnalysisFrom:
      return record(kAnalysisTable, "marker_id, ", "marker_id >= ?1 ORDER BY marker_id");
    case kStmtOrderHeaderFrom:
      return record(kOrdersTable, "id, ", "id >= ?1 ORDER BY id");
    case kStmtModelRowFrom:
      return record(kModelsTable, "id, ", "id >= ?1 ORDER BY id");
    case kStmtPieceHeaderFrom:
      return record(kPiecesTable, "id, ", "id >= ?1 ORDER BY id");
    case kStmtOverrideFrom:
      return record(kOverridesTable, "marker_id, position, ",
                    "(marker_id, position) >= (?1, ?2) ORDER BY marker_id, position");
    case kStmtSpliceFrom:
      return record(kSplicesTable, "marker_id, position, ",
                    "(marker_id, position) >= (?1, ?2) ORDER BY marker_id, position");
    case kStmtListModelFrom:
      return record(kOrderModelsTable, "owner_id, position, ",
                    "owner = ?1 AND (owner_id, position) >= (?2, ?3) ORDER BY owner_id, position");
    case kStmtListOptionFrom:
      return record(kOptionsTable, "owner_id, model_position, position, ",
                    "owner = ?1 AND (owner_id, model_position, position) >= (?2, ?3, ?4) "
                    "ORDER BY owner_id, model_position, position");
    case kStmtListSizeFrom:
      return record(kSizesTable, "owner_id, model_position, position, ",
                    "owner = ?1 AND (owner_id, model_position, position) >= (?2, ?3, ?4) "
                    "ORDER BY owner_id, model_position, position");
    default:
      return "";
  }
}


namespace {

// ---- the table of area connections ----------------------------------------

// One area looked up: its connection while open, and what reopens it once
// it was closed to save resources. An area keeps its slot for the life of
// the process (a store holds few areas), so an area record's slot and
// generation always refer to the area it was filled for; the generation
// changes when the area is replaced by a new one.
struct AreaSlot {
  std::shared_ptr<Conn> conn;
  std::shared_ptr<store::Engine> engine;
  std::string lookup;  // the name it was looked up by
  std::string where;   // the connection's describe(): the area record's path
  uint32_t gen = 1;
  uint64_t last_use = 0;
};
std::vector<AreaSlot> g_areas;
uint64_t g_use_clock = 0;
constexpr size_t kMaxIdleConnections = 8;

// The engines of the store settings met, each made once.
std::vector<std::pair<std::string, std::shared_ptr<store::Engine>>> g_engines;

quire::Status engine_for(const std::string& setting, std::shared_ptr<store::Engine>* out) {
  for (const auto& [known, engine] : g_engines)
    if (known == setting) return *out = engine, quire::Status();
  std::unique_ptr<store::Engine> made;
  quire::Status status = store::open_engine(setting, &made);
  if (!status.ok()) return status;
  *out = std::shared_ptr<store::Engine>(std::move(made));
  g_engines.emplace_back(setting, *out);
  return status;
}

// Closes the least recently used connections beyond the limit that no open
// item holds. Their slots reopen them when their areas are used again.
void evict_idle(size_t keep_index) {
  size_t live = 0;
  for (auto& a : g_areas)
    if (a.conn) ++live;
  while (live > kMaxIdleConnections) {
    size_t victim = g_areas.size();
    for (size_t i = 0; i < g_areas.size(); ++i) {
      if (i == keep_index || !g_areas[i].conn || g_areas[i].conn.use_count() > 1) continue;
      if (victim == g_areas.size() || g_areas[i].last_use < g_areas[victim].last_use) victim = i;
    }
    if (victim == g_areas.size()) return;
    g_areas[victim].conn.reset();
    --live;
  }
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

// The failure of an engine that could not open the area looked up as name,
// told the user as `area NAME: what`.
quire::Status open_failure(const std::string& name, const quire::Status& failure, int line) {
  note_line("area " + name + ": " + failure.message() + "\n");
  int code = failure.error() == kErrDamagedArea || failure.code() == quire::StatusCode::kCorrupt ? kErrDamagedArea
                                                                                                 : kErrStore;
  return store_error(code, kSource, line, failure.message(), failure.subject());
}

// Opens the area of slot index anew: after its connection was closed to
// save resources, or (with replaced) because the area was replaced, which
// makes the area records filled before stale. Returns the connection; null
// with *status set on failure, or with *gone set (and *status a success)
// when the area is no longer there.
std::shared_ptr<Conn> reopen(size_t index, bool replaced, bool* gone, quire::Status* status, int line) {
  AreaSlot& a = g_areas[index];
  *gone = false;
  std::unique_ptr<store::Connection> connection;
  quire::Status opened = a.engine->open_area(a.lookup, &connection);
  if (!opened.ok()) return *status = open_failure(a.lookup, opened, line), nullptr;
  if (!connection) return *gone = true, nullptr;
  std::shared_ptr<Conn> conn = open_conn(a.engine, std::move(connection), a.lookup, status);
  if (!conn) return nullptr;
  a.conn = conn;  // open items keep a replaced connection alive
  if (replaced) ++a.gen;
  a.where = conn->path;
  a.last_use = ++g_use_clock;
  evict_idle(index);
  return conn;
}

}  // namespace

Conn::Conn() = default;

Conn::~Conn() {
  if (process_is_ending()) {
    // The piece reader's thread is gone, maybe in the middle of a read: it
    // is not joined, and the system takes back what it held.
    (void)read_ahead.release();
  }
  read_ahead.reset();  // joins its thread
  for (auto& s : stmts) s.reset();
  connection.reset();
}

store::Statement* Conn::prepare(StmtId id, quire::Status* status) {
  quire::Status prepared = connection->prepare(statement_sql(id, connection->dialect()), &stmts[id]);
  if (!prepared.ok()) {
    stmts[id].reset();
    *status = damaged(this, prepared.message().c_str(), kSource, __LINE__);
  }
  return stmts[id].get();
}

std::shared_ptr<Conn> open_conn(std::shared_ptr<store::Engine> engine, std::unique_ptr<store::Connection> connection,
                                const std::string& name, quire::Status* status) {
  auto conn = std::make_shared<Conn>();
  conn->engine = std::move(engine);
  conn->connection = std::move(connection);
  conn->path = conn->connection->describe();
  conn->name = name;  // until the area's own row is read
  // One read transaction for the life of the connection: the area never
  // changes under it (area files are replaced whole), and statements then
  // skip starting and ending a transaction of their own.
  (void)conn->connection->begin(store::TransactionMode::kReadSnapshot);
  std::unique_ptr<store::Statement> s;
  quire::Status failure = conn->connection->prepare(area_row_select_sql(), &s);
  if (!failure.ok()) {
    *status = damaged(conn.get(), failure.message().c_str(), kSource, __LINE__);
    return nullptr;
  }
  Step rc = step(s.get(), &failure);
  if (rc != Step::kRow || s->column_int64(kAreaFormatColumn) != kAreaFormat) {
    std::string reason = rc == Step::kRow    ? "unknown area format"
                         : rc == Step::kDone ? "no area row"
                                             : failure.message();
    *status = damaged(conn.get(), reason.c_str(), kSource, __LINE__);
    return nullptr;
  }
  conn->name = s->column_text(kAreaNameColumn);
  conn->notation = static_cast<int>(s->column_int64(kAreaNotationColumn));
  conn->precision = static_cast<int>(s->column_int64(kAreaPrecisionColumn));
  conn->counts[kMarker] = static_cast<int32_t>(s->column_int64(kAreaMarkersColumn));
  conn->counts[kModel] = static_cast<int32_t>(s->column_int64(kAreaModelsColumn));
  conn->counts[kOrder] = static_cast<int32_t>(s->column_int64(kAreaOrdersColumn));
  s.reset();
  failure = conn->connection->prepare("SELECT EXISTS (SELECT 1 FROM faults)", &s);
  if (failure.ok() && step(s.get(), &failure) != Step::kRow && failure.ok())
    failure = quire::Status::failure(quire::StatusCode::kStore, "not an error");
  if (!failure.ok()) {
    *status = damaged(conn.get(), failure.message().c_str(), kSource, __LINE__);
    return nullptr;
  }
  conn->has_faults = s->column_int64(0) != 0;
  // An area that rehearses failures reads every piece directly, where its
  // faults are carried out in the order of the caller's reads.
  conn->read_ahead_off = conn->has_faults;
  return conn;
}

quire::Status bind_area(void* area, const std::string& name, End* end) {
  std::shared_ptr<store::Engine> engine;
  quire::Status status = engine_for(store_directory(), &engine);
  if (!status.ok()) return open_failure(name, status, __LINE__);
  size_t index = 0;
  while (index < g_areas.size() &&
         !(g_areas[index].engine == engine && compare_names(g_areas[index].lookup.c_str(), name.c_str()) == 0))
    ++index;
  unsigned char* rec = static_cast<unsigned char*>(area);
  if (index < g_areas.size() && g_areas[index].conn && g_areas[index].conn->connection->is_current()) {
    g_areas[index].last_use = ++g_use_clock;
    fill_record(rec, index);
    return status;
  }
  if (index == g_areas.size()) {
    // A new slot, taken only once the area is found.
    std::unique_ptr<store::Connection> connection;
    quire::Status opened = engine->open_area(name, &connection);
    if (!opened.ok()) return open_failure(name, opened, __LINE__);
    if (!connection) {
      PB_END(end, kErrNotFound, "no such area");
      return status;
    }
    std::shared_ptr<Conn> conn = open_conn(engine, std::move(connection), name, &status);
    if (!conn) return status;
    AreaSlot& a = g_areas.emplace_back();
    a.conn = std::move(conn);
    a.engine = engine;
    a.lookup = name;
    a.where = a.conn->path;
    a.last_use = ++g_use_clock;
    evict_idle(index);
  } else {
    bool gone = false;
    if (!reopen(index, g_areas[index].conn != nullptr, &gone, &status, __LINE__)) {
      if (gone) PB_END(end, kErrNotFound, "no such area");
      return status;
    }
  }
  fill_record(rec, index);
  return status;
}

namespace {

// Fills the area record rec from connection slot index, keeping the lookup
// positions it holds: the caller's mode 0 resets them.
Conn* refill_record(unsigned char* rec, size_t index) {
  unsigned char keep[12];
  std::memcpy(keep, rec + area_layout::kLastFound, sizeof keep);
  fill_record(rec, index);
  std::memcpy(rec + area_layout::kLastFound, keep, sizeof keep);
  return g_areas[index].conn.get();
}

}  // namespace

Conn* resolve_area(void* area, bool refresh, quire::Status* status, const char* source, int line) {
  std::shared_ptr<Conn> c = resolve_area_shared(area, status, source, line);
  if (!c) return nullptr;
  if (refresh && !c->connection->is_current()) {
    size_t index = quire::records::load_u32(static_cast<unsigned char*>(area) + area_layout::kSlot);
    bool gone = false;
    // An area removed meanwhile is read as it was.
    if (!reopen(index, true, &gone, status, line)) return gone ? c.get() : nullptr;
    return refill_record(static_cast<unsigned char*>(area), index);
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
  bool stale = index >= g_areas.size() || g_areas[index].gen != gen;
  if (stale) {
    // A record filled before its area was replaced: the area it names now,
    // found by where the record says it is.
    size_t len = quire::records::text_length(rec + area_layout::kPath, area_layout::kPathSize);
    std::string where(reinterpret_cast<const char*>(rec + area_layout::kPath), len);
    index = 0;
    while (index < g_areas.size() && (where.empty() || g_areas[index].where != where)) ++index;
    if (index == g_areas.size())
      return *status = store_error(kErrBadArea, source, line, "stale area record"), nullptr;
  }
  AreaSlot& a = g_areas[index];
  if (!a.conn) {
    // The connection was closed to save resources: reopened.
    bool gone = false;
    if (!reopen(index, false, &gone, status, line)) {
      if (gone) *status = store_error(kErrNotFound, source, line, "no such area", a.where);
      return nullptr;
    }
  }
  a.last_use = ++g_use_clock;
  if (stale) refill_record(rec, index);
  return a.conn;
}

StmtId keyed_stmt(const Conn* conn, StmtId id) {
  if (conn->connection->dialect() == store::Dialect::kSqlite) return kStmtCount;
  switch (id) {
    case kStmtMarkerHeader: return kStmtMarkerHeaderFrom;
    case kStmtAnalysis: return kStmtAnalysisFrom;
    case kStmtOrderHeader: return kStmtOrderHeaderFrom;
    case kStmtModelRow: return kStmtModelRowFrom;
    case kStmtPieceHeader: return kStmtPieceHeaderFrom;
    case kStmtOverride: return kStmtOverrideFrom;
    case kStmtSplice: return kStmtSpliceFrom;
    case kStmtListModel: return kStmtListModelFrom;
    case kStmtListOption: return kStmtListOptionFrom;
    case kStmtListSize: return kStmtListSizeFrom;
    default: return kStmtCount;
  }
}

namespace {

// -1, 0 or 1 as a is before, at or after b (keys of one owner and length).
int compare_keys(const RowKey& a, const RowKey& b) {
  for (int i = 0; i < a.parts; ++i)
    if (a.v[i] != b.v[i]) return a.v[i] < b.v[i] ? -1 : 1;
  return 0;
}

const char* owner_text(int owner) { return owner == kMarker ? "marker" : "order"; }

}  // namespace

Step read_keyed(Conn* conn, StmtId from, const RowKey& key, store::Statement** out, quire::Status* failure) {
  *out = nullptr;
  // Stepping over this many rows costs less than a new search.
  constexpr int kStepLimit = 16;
  store::Statement* s = conn->stmt(from, failure);
  if (!s) return Step::kFailed;
  Conn::KeyCursor& c = conn->keyed[from];
  // Steps to the next row of the cursor: pending, or the end.
  auto fetch = [&]() {
    Step rc = step(s, failure);
    if (rc == Step::kFailed) {
      c.valid = false;
      s->reset();
      return false;
    }
    c.at_end = rc == Step::kDone;
    if (!c.at_end)
      for (int i = 0; i < key.parts; ++i) c.key.v[i] = s->column_int64(i);
    return true;
  };
  bool search = !c.valid || c.gap.owner != key.owner || compare_keys(key, c.gap) < 0;
  for (int steps = 0; !search && !c.at_end && compare_keys(c.key, key) < 0; ++steps) {
    if (steps == kStepLimit) search = true;
    else if (!fetch()) return Step::kFailed;
  }
  if (search) {
    s->reset();
    int param = 1;
    if (key.owner >= 0) s->bind_text(param++, owner_text(key.owner));
    for (int i = 0; i < key.parts; ++i) s->bind_int64(param++, key.v[i]);
    c.valid = true;
    c.key = key;
    if (!fetch()) return Step::kFailed;
  }
  c.gap = key;
  if (c.at_end || compare_keys(c.key, key) != 0) return Step::kDone;
  *out = s;
  return Step::kRow;
}

quire::Status read_row(Conn* conn, StmtId id, int64_t key, int index, const Table& table, unsigned char* record,
                       size_t size, int missing_code, const char* missing, const char* source, int line) {
  quire::Status status;
  if (const StmtId from = keyed_stmt(conn, id); from != kStmtCount) {
    RowKey at;
    at.parts = index >= 0 ? 2 : 1;
    at.v[0] = key;
    at.v[1] = index;
    store::Statement* keyed = nullptr;
    Step rc = read_keyed(conn, from, at, &keyed, &status);
    if (rc == Step::kDone) return store_error(missing_code, source, line, missing);
    if (rc == Step::kFailed) return db_error(conn, status, source, line);
    std::memset(record, 0, size);
    fill_record(*keyed, at.parts, table, record, size);
    return status;
  }
  store::Statement* s = conn->stmt(id, &status);
  if (!s) return status;
  StatementReset reset(s);
  s->bind_int64(1, key);
  if (index >= 0) s->bind_int64(2, index);
  Step rc = step(s, &status);
  if (rc == Step::kDone) return store_error(missing_code, source, line, missing);
  if (rc == Step::kFailed) return db_error(conn, status, source, line);
  std::memset(record, 0, size);
  fill_record(*s, 0, table, record, size);
  return status;
}

void name_damage(Conn* conn, const char* reason) {
  if (conn->damage_named) return;
  conn->damage_named = true;
  note_line("area " + conn->name + ": " + conn->path + ": " + (reason ? reason : "(null)") + "\n");
}

quire::Status damaged(Conn* conn, const char* reason, const char* source, int line) {
  name_damage(conn, reason);
  return store_error(kErrDamagedArea, source, line, reason ? reason : "", conn->path);
}

quire::Status area_damaged(Conn* conn, const std::string& what, const char* source, int line) {
  note_line("area " + conn->name + ": " + conn->path + ": " + what + "\n");
  return store_error(kErrDamagedArea, source, line, what, conn->path);
}

std::string item_name(Conn* conn, Kind kind, int64_t id) {
  static const char* const tables[] = {"markers", "models", "orders", "pieces"};
  std::string sql = std::string("SELECT name FROM ") + tables[kind] + " WHERE id = ?1";
  std::unique_ptr<store::Statement> s;
  std::string name;
  quire::Status ignored;
  if (conn->connection->prepare(sql, &s).ok()) {
    s->bind_int64(1, id);
    if (step(s.get(), &ignored) == Step::kRow) name = s->column_text(0);
  }
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

void read_item_row(store::Statement& s, ItemRow* row, bool details) {
  row->valid = true;
  row->id = s.column_int64(kRowId);
  copy_text(row->name, sizeof row->name, s, kRowName);
  row->modified = static_cast<int32_t>(s.column_int64(kRowModified));
  row->details = details;
  if (!details) return;
  row->created = static_cast<int32_t>(s.column_int64(kRowCreated));
  row->prev_modified = static_cast<int32_t>(s.column_int64(kRowPrevModified));
  for (int i = 0; i < 3; ++i) copy_text(row->user[i], sizeof row->user[i], s, kRowUsers + i);
  row->byte_size[0] = static_cast<int32_t>(s.column_int64(kRowByteSizes));
  row->byte_size[1] = static_cast<int32_t>(s.column_int64(kRowByteSizes + 1));
  for (int i = 0; i < 4; ++i) row->count[i] = static_cast<int32_t>(s.column_int64(kRowCounts + i));
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

bool fill_record(store::Statement& s, int first, const Table& table, unsigned char* record, size_t size) {
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
        rec::store_double(p, s.column_double(col));
        break;
      case FieldType::kCounts:
        if (!fill_counts(p, f.width, static_cast<size_t>(f.hi), s.column_is_null(col) ? nullptr : s.column_text(col)))
          sound = false;
        break;
      default: {
        int64_t v = s.column_int64(col);
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
