// The area database schema and the writer that fills a new area file.
#include "area_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "failures.h"
#include "store_names.h"

namespace quire::areas {

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

quire::Status AreaWriter::write_failure() const {
  return quire::Status::failure(quire::StatusCode::kStore,
                                std::string("cannot write the area file: ") + sqlite3_errmsg(db_), name_,
                                sqlite3_errcode(db_));
}

quire::Status AreaWriter::exec(const char* sql) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
    quire::Status status = quire::Status::failure(
        quire::StatusCode::kStore, std::string("cannot write the area file: ") + (msg ? msg : sqlite3_errmsg(db_)),
        name_, sqlite3_errcode(db_));
    sqlite3_free(msg);
    return status;
  }
  return {};
}

sqlite3_stmt* AreaWriter::stmt(int id, quire::Status* status) {
  sqlite3_stmt* s = stmts_.get(id);
  if (!s) status->update(write_failure());
  return s;
}

quire::Status AreaWriter::step(sqlite3_stmt* s) {
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  duplicate_ = rc == SQLITE_CONSTRAINT && sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE;
  if (rc != SQLITE_DONE) return write_failure();
  return {};
}

quire::Status AreaWriter::begin(const std::string& name, int32_t notation, int32_t precision) {
  set_area(name, notation, precision);
  return begin();
}

void AreaWriter::set_area(const std::string& name, int32_t notation, int32_t precision) {
  name_ = name;
  notation_ = notation;
  precision_ = precision;
}

quire::Status AreaWriter::begin() {
  abandon();
  for (int k = 0; k < 4; ++k) {
    counts_[k] = 0;
    sorted_[k] = true;
    last_name_[k].clear();
  }
  std::string dir = store_directory();
  std::error_code ec;
  std::filesystem::create_directories(quire::platform::filesystem_path(dir), ec);
  if (ec)
    return quire::Status::failure(quire::StatusCode::kInvalid,
                                  "cannot create the store directory " + dir + ": " + ec.message(), dir, ec.value());
  // Create the file first so that an unwritable store is named as such. A
  // file of this naming that no writer holds was left by a killed one and
  // goes now.
  quire::Status status;
  if (!replacement_.begin(path_in(dir, area_file_name(name_)), kNewAreaPrefix, &status))
    return quire::Status::io_error(status.error(), "write to the store directory", dir);
  if (sqlite3_open_v2(sqlite_file_name(replacement_.temporary_path()).c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    status = quire::Status::failure(quire::StatusCode::kStore,
                                    "cannot write to the store directory " + dir + ": " +
                                        (db_ ? sqlite3_errmsg(db_) : ""),
                                    dir, db_ ? sqlite3_errcode(db_) : SQLITE_CANTOPEN);
    abandon();
    return status;
  }
  // A new private file that is renamed into place only when complete: no
  // journal or syncing is needed while it is filled.
  stmts_.attach(db_);
  status = exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
                "PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY;");
  if (status.ok()) status = exec(store_schema().c_str());
  if (status.ok()) status = exec("BEGIN");
  if (!status.ok()) abandon();
  return status;
}

int64_t AreaWriter::count(Kind kind) const { return counts_[kind]; }

bool AreaWriter::find_item(Kind kind, const std::string& name, int64_t* id, std::string* stored) {
  quire::Status ignored;
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
quire::Status AreaWriter::add_item(Kind kind, int64_t id, const void* row) {
  static const int inserts[] = {kInsMarker, kInsModel, kInsOrder, kInsPiece};
  quire::Status status;
  sqlite3_stmt* s = stmt(inserts[kind], &status);
  if (!s) return status;
  sqlite3_bind_int64(s, 1, id);
  bind_fields(s, 2, *kItemTables[kind], row);
  if (status = step(s); !status.ok()) return status;
  const std::string& name = *static_cast<const std::string*>(kItemTables[kind]->fields[0].at(const_cast<void*>(row)));
  if (sorted_[kind] && counts_[kind] > 0 && pb_stricmp(last_name_[kind].c_str(), name.c_str()) > 0)
    sorted_[kind] = false;
  last_name_[kind] = name;
  ++counts_[kind];
  return {};
}

quire::Status AreaWriter::add_faults(Kind kind, int64_t id, const FaultSet& f) {
  if (!f.any()) return {};
  quire::Status status;
  sqlite3_stmt* s = stmt(kInsFaults, &status);
  if (!s) return status;
  sqlite3_bind_text(s, 1, kind_name(kind), -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, id);
  bind_fields(s, 3, kFaultsTable, &f);
  return step(s);
}

quire::Status AreaWriter::add_model_list(Kind owner, int64_t id, const std::vector<OrderModelData>& models) {
  quire::Status status;
  sqlite3_stmt* ms = stmt(kInsListModel, &status);
  sqlite3_stmt* os = stmt(kInsListOption, &status);
  sqlite3_stmt* zs = stmt(kInsListSize, &status);
  if (!ms || !os || !zs) return status;
  const char* owner_name = kind_name(owner);
  for (size_t m = 0; m < models.size(); ++m) {
    const OrderModelData& om = models[m];
    sqlite3_bind_text(ms, 1, owner_name, -1, SQLITE_STATIC);
    sqlite3_bind_int64(ms, 2, id);
    sqlite3_bind_int64(ms, 3, static_cast<int64_t>(m));
    bind_fields(ms, 4, kOrderModelsTable, &om);
    if (status = step(ms); !status.ok()) return status;
    // A row of the model's options or sizes, keyed (owner, id, model, position).
    auto add_entry = [&](sqlite3_stmt* s, size_t position, const Table& table, const void* row) {
      sqlite3_bind_text(s, 1, owner_name, -1, SQLITE_STATIC);
      sqlite3_bind_int64(s, 2, id);
      sqlite3_bind_int64(s, 3, static_cast<int64_t>(m));
      sqlite3_bind_int64(s, 4, static_cast<int64_t>(position));
      bind_fields(s, 5, table, row);
      return step(s);
    };
    for (size_t o = 0; o < om.options.size() && status.ok(); ++o)
      status = add_entry(os, o, kOptionsTable, &om.options[o]);
    for (size_t z = 0; z < om.sizes.size() && status.ok(); ++z) status = add_entry(zs, z, kSizesTable, &om.sizes[z]);
    if (!status.ok()) return status;
  }
  return {};
}

template <typename T>
quire::Status AreaWriter::add_rows(sqlite3_stmt* s, int64_t id, const std::vector<T>& rows, const Table& table) {
  for (size_t i = 0; i < rows.size(); ++i) {
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(i));
    bind_fields(s, 3, table, &rows[i]);
    if (quire::Status status = step(s); !status.ok()) return status;
  }
  return {};
}

quire::Status AreaWriter::add_marker(int64_t id, const MarkerData& m) {
  quire::Status status = add_item(kMarker, id, &m);
  if (!status.ok()) return status;
  sqlite3_stmt* s = stmt(kInsAnalysis, &status);
  if (!s) return status;
  sqlite3_bind_int64(s, 1, id);
  bind_fields(s, 2, kAnalysisTable, &m.analysis);
  if (status = step(s); !status.ok()) return status;
  sqlite3_stmt* pieces = stmt(kInsMarkerPiece, &status);
  sqlite3_stmt* overrides = stmt(kInsOverride, &status);
  sqlite3_stmt* splices = stmt(kInsSplice, &status);
  if (!pieces || !overrides || !splices) return status;
  if (status = add_rows(pieces, id, m.pieces, kMarkerPiecesTable); !status.ok()) return status;
  if (status = add_rows(overrides, id, m.overrides, kOverridesTable); !status.ok()) return status;
  if (status = add_rows(splices, id, m.splices, kSplicesTable); !status.ok()) return status;
  if (status = add_model_list(kMarker, id, m.models); !status.ok()) return status;
  return add_faults(kMarker, id, m.faults);
}

quire::Status AreaWriter::add_model(int64_t id, const ModelData& m) {
  quire::Status status = add_item(kModel, id, &m);
  if (!status.ok()) return status;
  sqlite3_stmt* q = stmt(kInsModelPiece, &status);
  sqlite3_stmt* g = stmt(kInsGroup, &status);
  if (!q || !g) return status;
  // Option group 0 holds the base pieces; group n the pieces of option_groups[n - 1].
  auto add_pieces = [&](int64_t group, const std::vector<ModelPieceData>& pieces) {
    for (size_t p = 0; p < pieces.size(); ++p) {
      sqlite3_bind_int64(q, 1, id);
      sqlite3_bind_int64(q, 2, group);
      sqlite3_bind_int64(q, 3, static_cast<int64_t>(p));
      bind_fields(q, 4, kModelPiecesTable, &pieces[p]);
      if (quire::Status s = step(q); !s.ok()) return s;
    }
    return quire::Status();
  };
  if (status = add_pieces(0, m.pieces); !status.ok()) return status;
  if (status = add_rows(g, id, m.option_groups, kOptionGroupsTable); !status.ok()) return status;
  for (size_t k = 0; k < m.option_groups.size(); ++k)
    if (status = add_pieces(static_cast<int64_t>(k) + 1, m.option_groups[k].pieces); !status.ok()) return status;
  return add_faults(kModel, id, m.faults);
}

quire::Status AreaWriter::add_piece(int64_t id, const PieceData& p) {
  quire::Status status = add_item(kPiece, id, &p);
  return status.ok() ? add_faults(kPiece, id, p.faults) : status;
}

quire::Status AreaWriter::add_order(int64_t id, const OrderData& o) {
  quire::Status status = add_item(kOrder, id, &o);
  if (status.ok()) status = add_model_list(kOrder, id, o.models);
  return status.ok() ? add_faults(kOrder, id, o.faults) : status;
}

// Gives the items of kind the ids 1, 2, ... in pb_stricmp order of their
// names (COLLATE NOCASE, the name column's collation), in every table whose
// rows belong to them (the owners of the table descriptions). Ids pass through their negatives so that no two rows
// share a key on the way.
quire::Status AreaWriter::renumber(Kind kind) {
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
  return exec(sql.c_str());
}

quire::Status AreaWriter::commit(const std::string& area_name, AreaSummary* summary) {
  if (!db_) return quire::Status::failure(quire::StatusCode::kInternal, "no area being written");
  quire::Status status;
  for (Kind kind : {kMarker, kModel, kOrder, kPiece})
    if (!sorted_[kind] && status.ok()) status = renumber(kind);
  sqlite3_stmt* s = status.ok() ? stmt(kInsArea, &status) : nullptr;
  if (s) {
    bind_text(s, 1, name_);
    sqlite3_bind_int(s, 2, notation_);
    sqlite3_bind_int(s, 3, precision_);
    const Kind order[] = {kMarker, kModel, kPiece, kOrder};  // the area row's order
    for (int i = 0; i < 4; ++i) sqlite3_bind_int64(s, 4 + i, counts_[order[i]]);
    sqlite3_bind_int(s, 8, kAreaFormat);
    status = step(s);
    if (status.ok()) status = exec("COMMIT");
  }
  if (status.ok()) {
    stmts_.clear();
    if (sqlite3_close(db_) != SQLITE_OK)
      status = quire::Status::failure(quire::StatusCode::kStore,
                                      std::string("cannot complete the area file: ") + sqlite3_errmsg(db_), name_,
                                      sqlite3_errcode(db_));
    else
      db_ = nullptr;
  }
  if (!status.ok()) {
    abandon();
    return status;
  }
  const std::string& temporary = replacement_.temporary_path();
  size_t end = temporary.size();
  while (end > 0 && !is_path_separator(temporary[end - 1])) --end;
  std::string target = temporary.substr(0, end) + area_file_name(name_);
  // Only an area file is replaced: a FIFO, a directory or a device under
  // the area file's name is the user's, and is left as it is.
  FileStatus existing = file_status(target);
  if (existing.error == 0 && !existing.regular)
    status = quire::Status::failure(quire::StatusCode::kInvalid,
                                    "cannot replace " + target + ": not a regular file (an area file is one)", target);
  // Another program holding the area file open is said before it is touched.
  if (status.ok())
    quire::platform::check_changeable(target, quire::platform::FileChange::kReplaceAnyway, &status);
  // Make the file durable, then put it in place in one step.
  if (status.ok()) {
    replacement_.set_target(target);
    quire::Status replaced;
    if (!replacement_.finish(&replaced) || !replacement_.put_in_place(&replaced))
      status = quire::Status::io_error(replaced.error(), "replace", target);
  }
  if (!status.ok()) {
    abandon();
    return status;
  }
  if (!replacement_.sync_directory(&status))
    return file_failure(status.error(), "the area file " + target + " is written, but " + status.message(), target);
  if (summary) {
    summary->name = area_name;
    summary->markers = count(kMarker);
    summary->models = count(kModel);
    summary->pieces = count(kPiece);
    summary->orders = count(kOrder);
    summary->path = target;
    summary->error.clear();
  }
  return {};
}

}  // namespace quire::areas
