// The writer that fills a new area through the store's engine.
#include "area_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "failures.h"

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

// The columns of a lookup by name (kFind*).
constexpr int kFoundId = 0, kFoundName = 1;

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

// Names are unique and looked up without regard to ASCII case: an SQLite
// file's name columns compare so themselves (COLLATE NOCASE); a server
// compares the names folded.
constexpr const char* kFoldedName = "translate(name, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')";

std::string writer_sql(int id, store::Dialect dialect) {
  if (id < kInsArea) return insert_sql(*kInsertTables[id]);
  if (id == kInsArea) return area_row_insert_sql();
  const std::string table = kItemTables[id - kFindMarker]->name;
  if (dialect == store::Dialect::kSqlite) return "SELECT id, name FROM " + table + " WHERE name = ?1";
  return "SELECT id, name FROM " + table + " WHERE " + kFoldedName +
         " = translate(?1, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')";
}

// FNV-1a over the name's bytes with ASCII letters folded to lower case, as
// the stores compare names; never 0, the mark of an empty slot.
uint64_t folded_name_hash(const std::string& name) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + ('a' - 'A'));
    h = (h ^ c) * 1099511628211ull;
  }
  return h ? h : 1;
}

// The name a new area of a folder store is begun under while the text that
// names it is still being read; the area's own name replaces it.
constexpr const char* kUnnamedArea = "new area";

}  // namespace

bool AreaWriter::NameHashes::insert(uint64_t h) {
  if ((used + 1) * 2 > slots.size()) {
    // Kept at most half full: doubled and filled again.
    std::vector<uint64_t> old = std::move(slots);
    slots.assign(old.empty() ? 1024 : old.size() * 2, 0);
    used = 0;
    for (uint64_t v : old)
      if (v) insert(v);
  }
  const size_t mask = slots.size() - 1;
  for (size_t i = static_cast<size_t>(h) & mask;; i = (i + 1) & mask) {
    if (slots[i] == h) return false;
    if (slots[i] == 0) {
      slots[i] = h;
      ++used;
      return true;
    }
  }
}

AreaWriter::AreaWriter() = default;

AreaWriter::~AreaWriter() { abandon(); }

void AreaWriter::abandon() {
  stmts_.clear();
  connection_ = nullptr;
  area_.reset();
}

quire::Status AreaWriter::write_failure(const quire::Status& why) const {
  return quire::Status::failure(quire::StatusCode::kStore, "cannot write the area file: " + why.message(), name_,
                                why.error());
}

quire::Status AreaWriter::exec(const std::string& sql) {
  quire::Status status = connection_->execute(sql);
  return status.ok() ? status : write_failure(status);
}

store::Statement* AreaWriter::stmt(int id, quire::Status* status) {
  std::unique_ptr<store::Statement>& s = stmts_[static_cast<size_t>(id)];
  if (!s) {
    quire::Status prepared = connection_->prepare(writer_sql(id, connection_->dialect()), &s);
    if (!prepared.ok()) {
      status->update(write_failure(prepared));
      return nullptr;
    }
  }
  return s.get();
}

quire::Status AreaWriter::step(store::Statement& s) {
  bool row = false;
  quire::Status status = s.step(&row);
  s.reset();
  return status.ok() ? status : write_failure(status);
}

quire::Status AreaWriter::begin(const std::string& name, int32_t notation, int32_t precision) {
  set_area(name, notation, precision);
  return begin();
}

void AreaWriter::set_area(const std::string& name, int32_t notation, int32_t precision) {
  name_area(name);
  notation_ = notation;
  precision_ = precision;
}

void AreaWriter::name_area(const std::string& name) {
  name_ = name;
  named_ = !name.empty();
}

quire::Status AreaWriter::begin() {
  abandon();
  for (int k = 0; k < 4; ++k) {
    counts_[k] = 0;
    sorted_[k] = true;
    last_name_[k].clear();
    names_[k] = NameHashes{};
  }
  started_ = true;
  if (quire::Status opened = open_store(&store_); !opened.ok()) {
    started_ = false;
    return opened;
  }
  return named_ || store_.folder ? start() : quire::Status();
}

quire::Status AreaWriter::start() {
  if (!started_) return quire::Status::failure(quire::StatusCode::kInternal, "no area being written");
  begun_name_ = named_ ? name_ : kUnnamedArea;
  quire::Status status = store_.engine->begin_area(begun_name_, &area_);
  if (!status.ok()) {
    abandon();
    started_ = false;
    return status;
  }
  connection_ = &area_->connection();
  stmts_.resize(kWriterStmtCount);
  return {};
}

int64_t AreaWriter::count(Kind kind) const { return counts_[kind]; }

bool AreaWriter::find_item(Kind kind, const std::string& name, int64_t* id, std::string* stored) {
  if (!connection_) return false;
  quire::Status ignored;
  store::Statement* s = stmt(kFindMarker + static_cast<int>(kind), &ignored);
  if (!s) return false;
  s->bind_text(1, name);
  bool row = false;
  const bool found = s->step(&row).ok() && row;
  if (found) {
    *id = s->column_int64(kFoundId);
    *stored = column_string(*s, kFoundName);
  }
  s->reset();
  return found;
}

// Inserts the item's own row and notes whether ids still follow the names.
// An insert that fails where an item of the kind has the name already
// failed for that name.
quire::Status AreaWriter::add_item(Kind kind, int64_t id, const void* row) {
  static const int inserts[] = {kInsMarker, kInsModel, kInsOrder, kInsPiece};
  duplicate_ = false;
  if (!area_)
    if (quire::Status started = start(); !started.ok()) return started;
  quire::Status status;
  store::Statement* s = stmt(inserts[kind], &status);
  if (!s) return status;
  s->bind_int64(1, id);
  bind_fields(*s, 2, *kItemTables[kind], row);
  const std::string& name = *static_cast<const std::string*>(kItemTables[kind]->fields[0].at(const_cast<void*>(row)));
  if (connection_->dialect() != store::Dialect::kSqlite && !names_[kind].insert(folded_name_hash(name))) {
    // Perhaps a name taken already: asked before the insert, while the
    // transaction can still answer (a hash shared by two names goes on).
    int64_t first = 0;
    std::string stored;
    if (find_item(kind, name, &first, &stored)) {
      duplicate_ = true;
      return write_failure(quire::Status::failure(quire::StatusCode::kStore, "the name " + stored + " is taken"));
    }
  }
  if (status = step(*s); !status.ok()) {
    int64_t first = 0;
    std::string stored;
    duplicate_ = find_item(kind, name, &first, &stored);
    return status;
  }
  if (sorted_[kind] && counts_[kind] > 0 && pb_stricmp(last_name_[kind].c_str(), name.c_str()) > 0)
    sorted_[kind] = false;
  last_name_[kind] = name;
  ++counts_[kind];
  return {};
}

quire::Status AreaWriter::add_faults(Kind kind, int64_t id, const FaultSet& f) {
  if (!f.any()) return {};
  quire::Status status;
  store::Statement* s = stmt(kInsFaults, &status);
  if (!s) return status;
  s->bind_text_in_place(1, kind_name(kind));
  s->bind_int64(2, id);
  bind_fields(*s, 3, kFaultsTable, &f);
  return step(*s);
}

quire::Status AreaWriter::add_model_list(Kind owner, int64_t id, const std::vector<OrderModelData>& models) {
  quire::Status status;
  store::Statement* ms = stmt(kInsListModel, &status);
  store::Statement* os = stmt(kInsListOption, &status);
  store::Statement* zs = stmt(kInsListSize, &status);
  if (!ms || !os || !zs) return status;
  const char* owner_name = kind_name(owner);
  for (size_t m = 0; m < models.size(); ++m) {
    const OrderModelData& om = models[m];
    ms->bind_text_in_place(1, owner_name);
    ms->bind_int64(2, id);
    ms->bind_int64(3, static_cast<int64_t>(m));
    bind_fields(*ms, 4, kOrderModelsTable, &om);
    if (status = step(*ms); !status.ok()) return status;
    // A row of the model's options or sizes, keyed (owner, id, model, position).
    auto add_entry = [&](store::Statement& s, size_t position, const Table& table, const void* row) {
      s.bind_text_in_place(1, owner_name);
      s.bind_int64(2, id);
      s.bind_int64(3, static_cast<int64_t>(m));
      s.bind_int64(4, static_cast<int64_t>(position));
      bind_fields(s, 5, table, row);
      return step(s);
    };
    for (size_t o = 0; o < om.options.size() && status.ok(); ++o)
      status = add_entry(*os, o, kOptionsTable, &om.options[o]);
    for (size_t z = 0; z < om.sizes.size() && status.ok(); ++z) status = add_entry(*zs, z, kSizesTable, &om.sizes[z]);
    if (!status.ok()) return status;
  }
  return {};
}

template <typename T>
quire::Status AreaWriter::add_rows(store::Statement& s, int64_t id, const std::vector<T>& rows, const Table& table) {
  for (size_t i = 0; i < rows.size(); ++i) {
    s.bind_int64(1, id);
    s.bind_int64(2, static_cast<int64_t>(i));
    bind_fields(s, 3, table, &rows[i]);
    if (quire::Status status = step(s); !status.ok()) return status;
  }
  return {};
}

quire::Status AreaWriter::add_marker(int64_t id, const MarkerData& m) {
  quire::Status status = add_item(kMarker, id, &m);
  if (!status.ok()) return status;
  store::Statement* s = stmt(kInsAnalysis, &status);
  if (!s) return status;
  s->bind_int64(1, id);
  bind_fields(*s, 2, kAnalysisTable, &m.analysis);
  if (status = step(*s); !status.ok()) return status;
  store::Statement* pieces = stmt(kInsMarkerPiece, &status);
  store::Statement* overrides = stmt(kInsOverride, &status);
  store::Statement* splices = stmt(kInsSplice, &status);
  if (!pieces || !overrides || !splices) return status;
  if (status = add_rows(*pieces, id, m.pieces, kMarkerPiecesTable); !status.ok()) return status;
  if (status = add_rows(*overrides, id, m.overrides, kOverridesTable); !status.ok()) return status;
  if (status = add_rows(*splices, id, m.splices, kSplicesTable); !status.ok()) return status;
  if (status = add_model_list(kMarker, id, m.models); !status.ok()) return status;
  return add_faults(kMarker, id, m.faults);
}

quire::Status AreaWriter::add_model(int64_t id, const ModelData& m) {
  quire::Status status = add_item(kModel, id, &m);
  if (!status.ok()) return status;
  store::Statement* q = stmt(kInsModelPiece, &status);
  store::Statement* g = stmt(kInsGroup, &status);
  if (!q || !g) return status;
  // Option group 0 holds the base pieces; group n the pieces of option_groups[n - 1].
  auto add_pieces = [&](int64_t group, const std::vector<ModelPieceData>& pieces) {
    for (size_t p = 0; p < pieces.size(); ++p) {
      q->bind_int64(1, id);
      q->bind_int64(2, group);
      q->bind_int64(3, static_cast<int64_t>(p));
      bind_fields(*q, 4, kModelPiecesTable, &pieces[p]);
      if (quire::Status s = step(*q); !s.ok()) return s;
    }
    return quire::Status();
  };
  if (status = add_pieces(0, m.pieces); !status.ok()) return status;
  if (status = add_rows(*g, id, m.option_groups, kOptionGroupsTable); !status.ok()) return status;
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
// names (an SQLite file's COLLATE NOCASE, the name column's collation; a
// server's names folded and compared byte by byte), in every table whose
// rows belong to them (the owners of the table descriptions). Ids pass
// through their negatives so that no two rows share a key on the way.
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
  std::string sql = connection_->dialect() == store::Dialect::kSqlite
                        ? std::string("DROP TABLE IF EXISTS temp.renumber; CREATE TEMP TABLE renumber "
                                      "(old INTEGER PRIMARY KEY, new INTEGER NOT NULL); "
                                      "INSERT INTO renumber SELECT id, ROW_NUMBER() OVER (ORDER BY name) FROM ") +
                              table + ";"
                        : std::string("DROP TABLE IF EXISTS pg_temp.renumber; CREATE TEMP TABLE renumber "
                                      "(old BIGINT PRIMARY KEY, new BIGINT NOT NULL); "
                                      "INSERT INTO renumber SELECT id, ROW_NUMBER() OVER (ORDER BY ") +
                              kFoldedName + " COLLATE \"C\") FROM " + table + ";";
  for (const Ref& r : refs)
    sql += std::string(" UPDATE ") + r.table + " SET " + r.column + " = -(SELECT new FROM renumber WHERE old = " +
           r.column + ")" + r.where + "; UPDATE " + r.table + " SET " + r.column + " = -" + r.column + r.where + ";";
  return exec(sql);
}

quire::Status AreaWriter::commit(const std::string& area_name, AreaSummary* summary) {
  if (!started_) return quire::Status::failure(quire::StatusCode::kInternal, "no area being written");
  quire::Status status;
  if (!area_) status = start();
  // The area is put in place under its own name.
  if (status.ok() && name_ != begun_name_) status = area_->set_name(name_);
  for (Kind kind : {kMarker, kModel, kOrder, kPiece})
    if (!sorted_[kind] && status.ok()) status = renumber(kind);
  store::Statement* s = status.ok() ? stmt(kInsArea, &status) : nullptr;
  if (s) {
    s->bind_text(1, name_);
    s->bind_int64(2, notation_);
    s->bind_int64(3, precision_);
    const Kind order[] = {kMarker, kModel, kPiece, kOrder};  // the area row's order
    for (int i = 0; i < 4; ++i) s->bind_int64(4 + i, counts_[order[i]]);
    s->bind_int64(8, kAreaFormat);
    status = step(*s);
    // An SQLite file's own transaction ends here, so that a failure to
    // write its last pages reads as every other failure to write it; a
    // server's ends with the commit that puts the area in place.
    if (status.ok() && connection_->dialect() == store::Dialect::kSqlite) {
      if (quire::Status committed = connection_->commit(); !committed.ok()) status = write_failure(committed);
    }
  }
  if (status.ok()) {
    stmts_.clear();  // a connection closes only without statements
    status = area_->commit();
  }
  if (!status.ok()) {
    abandon();
    started_ = false;
    return status;
  }
  abandon();
  started_ = false;
  if (summary) {
    summary->name = area_name;
    summary->markers = count(kMarker);
    summary->models = count(kModel);
    summary->pieces = count(kPiece);
    summary->orders = count(kOrder);
    summary->path = store_.place(name_);
    summary->error.clear();
  }
  return {};
}

}  // namespace quire::areas
