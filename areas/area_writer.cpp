// The area database schema and the writer that fills a new area file.
#include "area_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "store_layout.h"

namespace plotbase {

namespace {

enum WriterStmt {
  kInsMarker, kInsAnalysis, kInsMarkerPiece, kInsOverride, kInsSplice, kInsListModel, kInsListOption,
  kInsListSize, kInsModel, kInsGroup, kInsModelPiece, kInsPiece, kInsOrder, kInsFaults, kInsArea,
  kFindMarker, kFindModel, kFindOrder, kFindPiece, kWriterStmtCount
};

// The table each insert statement fills, in WriterStmt order.
const Table* const kInsertTables[] = {
    &kMarkersTable, &kAnalysisTable, &kMarkerPiecesTable, &kOverridesTable, &kSplicesTable,
    &kOrderModelsTable, &kOptionsTable, &kSizesTable, &kModelsTable, &kOptionGroupsTable,
    &kModelPiecesTable, &kPiecesTable, &kOrdersTable, &kFaultsTable};

const Table* const kItemTables[] = {&kMarkersTable, &kModelsTable, &kOrdersTable, &kPiecesTable};  // by Kind

// "INSERT INTO t (key columns, field columns) VALUES (?1, ...)": the key
// columns are the first word of each part of the table's keys.
std::string insert_sql(const Table& t) {
  std::string columns;
  int n = 0;
  std::string keys = t.keys;
  for (size_t at = 0; at < keys.size();) {
    size_t end = keys.find(',', at);
    if (end == std::string::npos) end = keys.size();
    size_t word = keys.find_first_not_of(' ', at);
    columns += (n ? ", " : "") + keys.substr(word, keys.find(' ', word) - word);
    ++n;
    at = end + 1;
  }
  columns += ", " + column_list(t);
  n += static_cast<int>(t.field_count);
  std::string values;
  for (int i = 1; i <= n; ++i) values += (i > 1 ? ", ?" : "?") + std::to_string(i);
  return std::string("INSERT INTO ") + t.name + " (" + columns + ") VALUES (" + values + ")";
}

std::string writer_sql(int id) {
  if (id < kInsArea) return insert_sql(*kInsertTables[id]);
  if (id == kInsArea) return area_row_insert_sql();
  return std::string("SELECT id, name FROM ") + kItemTables[id - kFindMarker]->name + " WHERE name = ?1";
}

void bind_text(sqlite3_stmt* s, int i, const std::string& t) {
  sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
}

// The name prefix of a new area file while it is written.
constexpr const char* kNewAreaPrefix = ".tmp-area-";

}  // namespace

AreaWriter::AreaWriter() : stmts_(kWriterStmtCount, writer_sql) {}

AreaWriter::~AreaWriter() { abandon(); }

void AreaWriter::abandon() {
  stmts_.clear();
  if (db_) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  replacement_.abandon();
}

bool AreaWriter::exec(const char* sql, std::string* error) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
    *error = std::string("cannot write the area file: ") + (msg ? msg : sqlite3_errmsg(db_));
    sqlite3_free(msg);
    return false;
  }
  return true;
}

sqlite3_stmt* AreaWriter::stmt(int id, std::string* error) {
  sqlite3_stmt* s = stmts_.get(id);
  if (!s) *error = std::string("cannot write the area file: ") + sqlite3_errmsg(db_);
  return s;
}

bool AreaWriter::step(sqlite3_stmt* s, std::string* error) {
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  duplicate_ = rc == SQLITE_CONSTRAINT && sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE;
  if (rc != SQLITE_DONE) {
    *error = std::string("cannot write the area file: ") + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool AreaWriter::begin(const std::string& name, int32_t notation, int32_t precision, std::string* error) {
  set_area(name, notation, precision);
  return begin(error);
}

void AreaWriter::set_area(const std::string& name, int32_t notation, int32_t precision) {
  name_ = name;
  notation_ = notation;
  precision_ = precision;
}

bool AreaWriter::begin(std::string* error) {
  abandon();
  for (int k = 0; k < 4; ++k) {
    counts_[k] = 0;
    sorted_[k] = true;
    last_name_[k].clear();
  }
  std::string dir = store_directory();
  std::error_code ec;
  std::filesystem::create_directories(quire::platform::filesystem_path(dir), ec);
  if (ec) {
    *error = "cannot create the store directory " + dir + ": " + ec.message();
    return false;
  }
  // Create the file first so that an unwritable store is named as such. A
  // file of this naming that no writer holds was left by a killed one and
  // goes now.
  quire::Status status;
  if (!replacement_.begin(path_in(dir, area_file_name(name_)), kNewAreaPrefix, &status)) {
    *error = "cannot write to the store directory " + dir + ": " + std::strerror(status.error());
    return false;
  }
  if (sqlite3_open_v2(sqlite_file_name(replacement_.temporary_path()).c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                      nullptr) !=
      SQLITE_OK) {
    *error = "cannot write to the store directory " + dir + ": " + (db_ ? sqlite3_errmsg(db_) : "");
    abandon();
    return false;
  }
  // A new private file that is renamed into place only when complete: no
  // journal or syncing is needed while it is filled.
  stmts_.attach(db_);
  if (!exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
            "PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY;",
            error) ||
      !exec(store_schema().c_str(), error) || !exec("BEGIN", error)) {
    abandon();
    return false;
  }
  return true;
}

int64_t AreaWriter::count(Kind kind) const { return counts_[kind]; }

bool AreaWriter::find_item(Kind kind, const std::string& name, int64_t* id, std::string* stored) {
  std::string ignored;
  sqlite3_stmt* s = stmt(kFindMarker + static_cast<int>(kind), &ignored);
  if (!s) return false;
  StmtReset reset(s);
  bind_text(s, 1, name);
  if (sqlite3_step(s) != SQLITE_ROW) return false;
  *id = sqlite3_column_int64(s, kRowId);
  const unsigned char* t = sqlite3_column_text(s, kRowName);
  stored->assign(t ? reinterpret_cast<const char*>(t) : "", static_cast<size_t>(sqlite3_column_bytes(s, kRowName)));
  return true;
}

// Inserts the item's own row and notes whether ids still follow the names.
bool AreaWriter::add_item(Kind kind, int64_t id, const void* row, std::string* error) {
  static const int inserts[] = {kInsMarker, kInsModel, kInsOrder, kInsPiece};
  sqlite3_stmt* s = stmt(inserts[kind], error);
  if (!s) return false;
  sqlite3_bind_int64(s, 1, id);
  bind_fields(s, 2, *kItemTables[kind], row);
  if (!step(s, error)) return false;
  const std::string& name = *static_cast<const std::string*>(kItemTables[kind]->fields[0].at(const_cast<void*>(row)));
  if (sorted_[kind] && counts_[kind] > 0 && pb_stricmp(last_name_[kind].c_str(), name.c_str()) > 0)
    sorted_[kind] = false;
  last_name_[kind] = name;
  ++counts_[kind];
  return true;
}

bool AreaWriter::add_faults(Kind kind, int64_t id, const FaultSet& f, std::string* error) {
  if (!f.any()) return true;
  sqlite3_stmt* s = stmt(kInsFaults, error);
  if (!s) return false;
  sqlite3_bind_text(s, 1, kind_name(kind), -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, id);
  bind_fields(s, 3, kFaultsTable, &f);
  return step(s, error);
}

bool AreaWriter::add_model_list(Kind owner, int64_t id, const std::vector<OrderModelData>& models,
                                std::string* error) {
  sqlite3_stmt* ms = stmt(kInsListModel, error);
  sqlite3_stmt* os = stmt(kInsListOption, error);
  sqlite3_stmt* zs = stmt(kInsListSize, error);
  if (!ms || !os || !zs) return false;
  const char* owner_name = kind_name(owner);
  for (size_t m = 0; m < models.size(); ++m) {
    const OrderModelData& om = models[m];
    sqlite3_bind_text(ms, 1, owner_name, -1, SQLITE_STATIC);
    sqlite3_bind_int64(ms, 2, id);
    sqlite3_bind_int64(ms, 3, static_cast<int64_t>(m));
    bind_fields(ms, 4, kOrderModelsTable, &om);
    if (!step(ms, error)) return false;
    // A row of the model's options or sizes, keyed (owner, id, model, position).
    auto add_entry = [&](sqlite3_stmt* s, size_t position, const Table& table, const void* row) {
      sqlite3_bind_text(s, 1, owner_name, -1, SQLITE_STATIC);
      sqlite3_bind_int64(s, 2, id);
      sqlite3_bind_int64(s, 3, static_cast<int64_t>(m));
      sqlite3_bind_int64(s, 4, static_cast<int64_t>(position));
      bind_fields(s, 5, table, row);
      return step(s, error);
    };
    for (size_t o = 0; o < om.options.size(); ++o)
      if (!add_entry(os, o, kOptionsTable, &om.options[o])) return false;
    for (size_t z = 0; z < om.sizes.size(); ++z)
      if (!add_entry(zs, z, kSizesTable, &om.sizes[z])) return false;
  }
  return true;
}

// Inserts the rows of a list kept under (owner id, position).
template <typename T>
bool add_rows(AreaWriter* w, sqlite3_stmt* s, int64_t id, const std::vector<T>& rows, const Table& table,
              bool (AreaWriter::*step)(sqlite3_stmt*, std::string*), std::string* error) {
  if (!s) return false;
  for (size_t i = 0; i < rows.size(); ++i) {
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(i));
    bind_fields(s, 3, table, &rows[i]);
    if (!(w->*step)(s, error)) return false;
  }
  return true;
}

bool AreaWriter::add_marker(int64_t id, const MarkerData& m, std::string* error) {
  if (!add_item(kMarker, id, &m, error)) return false;
  sqlite3_stmt* s = stmt(kInsAnalysis, error);
  if (!s) return false;
  sqlite3_bind_int64(s, 1, id);
  bind_fields(s, 2, kAnalysisTable, &m.analysis);
  if (!step(s, error)) return false;
  sqlite3_stmt* pieces = stmt(kInsMarkerPiece, error);
  sqlite3_stmt* overrides = stmt(kInsOverride, error);
  sqlite3_stmt* splices = stmt(kInsSplice, error);
  return add_rows(this, pieces, id, m.pieces, kMarkerPiecesTable, &AreaWriter::step, error) &&
         add_rows(this, overrides, id, m.overrides, kOverridesTable, &AreaWriter::step, error) &&
         add_rows(this, splices, id, m.splices, kSplicesTable, &AreaWriter::step, error) &&
         add_model_list(kMarker, id, m.models, error) && add_faults(kMarker, id, m.faults, error);
}

bool AreaWriter::add_model(int64_t id, const ModelData& m, std::string* error) {
  if (!add_item(kModel, id, &m, error)) return false;
  sqlite3_stmt* q = stmt(kInsModelPiece, error);
  sqlite3_stmt* g = stmt(kInsGroup, error);
  if (!q || !g) return false;
  // Option group 0 holds the base pieces; group n the pieces of option_groups[n - 1].
  auto add_pieces = [&](int64_t group, const std::vector<ModelPieceData>& pieces) {
    for (size_t p = 0; p < pieces.size(); ++p) {
      sqlite3_bind_int64(q, 1, id);
      sqlite3_bind_int64(q, 2, group);
      sqlite3_bind_int64(q, 3, static_cast<int64_t>(p));
      bind_fields(q, 4, kModelPiecesTable, &pieces[p]);
      if (!step(q, error)) return false;
    }
    return true;
  };
  if (!add_pieces(0, m.pieces)) return false;
  if (!add_rows(this, g, id, m.option_groups, kOptionGroupsTable, &AreaWriter::step, error)) return false;
  for (size_t k = 0; k < m.option_groups.size(); ++k)
    if (!add_pieces(static_cast<int64_t>(k) + 1, m.option_groups[k].pieces)) return false;
  return add_faults(kModel, id, m.faults, error);
}

bool AreaWriter::add_piece(int64_t id, const PieceData& p, std::string* error) {
  return add_item(kPiece, id, &p, error) && add_faults(kPiece, id, p.faults, error);
}

bool AreaWriter::add_order(int64_t id, const OrderData& o, std::string* error) {
  return add_item(kOrder, id, &o, error) && add_model_list(kOrder, id, o.models, error) &&
         add_faults(kOrder, id, o.faults, error);
}

// Gives the items of kind the ids 1, 2, ... in pb_stricmp order of their
// names (COLLATE NOCASE, the name column's collation), in every table whose
// rows belong to them (the owners of the table descriptions). Ids pass through their negatives so that no two rows
// share a key on the way.
bool AreaWriter::renumber(Kind kind, std::string* error) {
  const char* table = kItemTables[kind]->name;
  std::string k = std::string("'") + kind_name(kind) + "'";
  struct Ref {
    const char* table;
    const char* column;
    std::string where;
  };
  std::vector<Ref> refs = {{table, "id", ""}};
  for (const Table* t : kStoreTables)
    if (t->owner_kinds & (1u << kind))
      refs.push_back({t->name, t->owner_id,
                      t->owner_kind_column ? std::string(" WHERE ") + t->owner_kind_column + " = " + k : ""});
  std::string sql = std::string("DROP TABLE IF EXISTS temp.renumber; CREATE TEMP TABLE renumber "
                                "(old INTEGER PRIMARY KEY, new INTEGER NOT NULL); "
                                "INSERT INTO renumber SELECT id, ROW_NUMBER() OVER (ORDER BY name) FROM ") +
                    table + ";";
  for (const Ref& r : refs)
    sql += std::string(" UPDATE ") + r.table + " SET " + r.column + " = -(SELECT new FROM renumber WHERE old = " +
           r.column + ")" + r.where + "; UPDATE " + r.table + " SET " + r.column + " = -" + r.column + r.where + ";";
  return exec(sql.c_str(), error);
}

bool AreaWriter::commit(std::string* error, const std::string& area_name, AreaSummary* summary) {
  if (!db_) {
    *error = "no area being written";
    return false;
  }
  for (Kind kind : {kMarker, kModel, kOrder, kPiece}) {
    if (!sorted_[kind] && !renumber(kind, error)) {
      abandon();
      return false;
    }
  }
  sqlite3_stmt* s = stmt(kInsArea, error);
  if (!s) {
    abandon();
    return false;
  }
  bind_text(s, 1, name_);
  sqlite3_bind_int(s, 2, notation_);
  sqlite3_bind_int(s, 3, precision_);
  const Kind order[] = {kMarker, kModel, kPiece, kOrder};  // the area row's order
  for (int i = 0; i < 4; ++i) sqlite3_bind_int64(s, 4 + i, counts_[order[i]]);
  sqlite3_bind_int(s, 8, kAreaFormat);
  if (!step(s, error) || !exec("COMMIT", error)) {
    abandon();
    return false;
  }
  stmts_.clear();
  if (sqlite3_close(db_) != SQLITE_OK) {
    *error = std::string("cannot complete the area file: ") + sqlite3_errmsg(db_);
    abandon();
    return false;
  }
  db_ = nullptr;
  const std::string& temporary = replacement_.temporary_path();
  size_t end = temporary.size();
  while (end > 0 && !is_path_separator(temporary[end - 1])) --end;
  std::string target = temporary.substr(0, end) + area_file_name(name_);
  // Only an area file is replaced: a FIFO, a directory or a device under
  // the area file's name is the user's, and is left as it is.
  FileStatus existing = file_status(target);
  if (existing.error == 0 && !existing.regular) {
    *error = "cannot replace " + target + ": not a regular file (an area file is one)";
    abandon();
    return false;
  }
  // Another program holding the area file open is said before it is touched.
  quire::Status status;
  if (!quire::platform::check_changeable(target, quire::platform::FileChange::kReplaceAnyway, &status)) {
    *error = status.message();
    abandon();
    return false;
  }
  // Make the file durable, then put it in place in one step.
  replacement_.set_target(target);
  if (!replacement_.finish(&status) || !replacement_.put_in_place(&status)) {
    *error = "cannot replace " + target + ": " + std::strerror(status.error());
    abandon();
    return false;
  }
  if (!replacement_.sync_directory(&status)) {
    *error = "the area file " + target + " is written, but " + status.message();
    return false;
  }
  if (summary) {
    summary->name = area_name;
    summary->markers = count(kMarker);
    summary->models = count(kModel);
    summary->pieces = count(kPiece);
    summary->orders = count(kOrder);
    summary->path = target;
    summary->error.clear();
  }
  return true;
}

}  // namespace plotbase
