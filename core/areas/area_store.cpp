// Listing and exporting areas, and the Latin-1 / UTF-8 conversions.
#include "area_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "area_writer.h"
#include "failures.h"
#include "store_names.h"

namespace quire::areas {

std::string latin1_to_utf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool utf8_to_latin1(std::string_view utf8, std::string* out, long* bad) {
  std::string r;
  r.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      r += static_cast<char>(c);
      ++i;
      continue;
    }
    int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + static_cast<size_t>(len) > utf8.size()) {
      if (bad) *bad = -1;
      return false;
    }
    unsigned long cp = c & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
      if ((d & 0xC0) != 0x80) {
        if (bad) *bad = -1;
        return false;
      }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp > 0xFF) {
      if (bad) *bad = static_cast<long>(cp);
      return false;
    }
    if (cp < 0x80) {  // overlong form
      if (bad) *bad = -1;
      return false;
    }
    r += static_cast<char>(cp);
    i += static_cast<size_t>(len);
  }
  *out = std::move(r);
  return true;
}

std::string area_path(std::string_view name) { return path_in(store_directory(), area_file_name(name)); }

namespace {

// A read-only connection for export and list (not the readers' cache).
struct Db {
  sqlite3* db = nullptr;
  ~Db() {
    if (db) sqlite3_close_v2(db);
  }
};

quire::Status open_db(const std::string& path, Db* d) {
  if (sqlite3_open_v2(sqlite_file_name(path).c_str(), &d->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    return quire::Status::failure(quire::StatusCode::kStore,
                                  std::string("cannot open ") + path + ": " + (d->db ? sqlite3_errmsg(d->db) : ""), path,
                                  d->db ? sqlite3_errcode(d->db) : SQLITE_CANTOPEN);
  return {};
}

// The area file of db cannot be read as one: message says why.
quire::Status damaged(sqlite3* db, const std::string& message) {
  return quire::Status::failure(quire::StatusCode::kCorrupt, "damaged area file: " + message, {}, sqlite3_errcode(db));
}

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() {
    if (s) sqlite3_finalize(s);
  }
};

quire::Status prepare(sqlite3* db, const char* sql, Stmt* st) {
  if (sqlite3_prepare_v2(db, sql, -1, &st->s, nullptr) != SQLITE_OK) return damaged(db, sqlite3_errmsg(db));
  return {};
}

std::string col_text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string();
}
std::string col_utf8(sqlite3_stmt* s, int i) { return latin1_to_utf8(col_text(s, i)); }

quire::Status read_summary(const std::string& path, AreaSummary* out) {
  Db d;
  quire::Status status = open_db(path, &d);
  Stmt st;
  if (status.ok()) status = prepare(d.db, area_row_select_sql().c_str(), &st);
  if (!status.ok()) return status;
  if (sqlite3_step(st.s) != SQLITE_ROW) return damaged(d.db, sqlite3_errmsg(d.db));
  if (sqlite3_column_int(st.s, kAreaFormatColumn) != kAreaFormat)
    return quire::Status::failure(quire::StatusCode::kCorrupt,
                                  "unknown area format " + std::to_string(sqlite3_column_int(st.s, kAreaFormatColumn)),
                                  path);
  read_area_row(st.s, out);
  out->path = path;
  return {};
}

}  // namespace

void read_area_row(sqlite3_stmt* row, AreaSummary* out) {
  out->name = col_text(row, kAreaNameColumn);
  out->markers = sqlite3_column_int64(row, kAreaMarkersColumn);
  out->models = sqlite3_column_int64(row, kAreaModelsColumn);
  out->pieces = sqlite3_column_int64(row, kAreaPiecesColumn);
  out->orders = sqlite3_column_int64(row, kAreaOrdersColumn);
}

namespace {

using ojson = nlohmann::ordered_json;

enum ExportStmt {
  kExMarkers, kExAnalysis, kExMarkerPieces, kExOverrides, kExSplices, kExListModels, kExListOptions,
  kExListSizes, kExModels, kExGroups, kExModelPieces, kExPieces, kExOrders, kExFaults, kExportStmtCount
};

// The queries of the export: every column of the description, items in id
// order, lists in position order. Columns before the fields are named in
// kEx*Column below.
std::string export_sql(int id) {
  auto rows = [](const Table& t, const char* before, const char* rest) {
    return std::string("SELECT ") + before + column_list(t) + " FROM " + t.name + rest;
  };
  const char* kOwned = " WHERE owner = ?1 AND owner_id = ?2 AND model_position = ?3 ORDER BY position";
  switch (id) {
    case kExMarkers: return rows(kMarkersTable, "id, ", " ORDER BY id");
    case kExAnalysis: return rows(kAnalysisTable, "", " WHERE marker_id = ?1");
    case kExMarkerPieces: return rows(kMarkerPiecesTable, "", " WHERE marker_id = ?1 ORDER BY position");
    case kExOverrides: return rows(kOverridesTable, "", " WHERE marker_id = ?1 ORDER BY position");
    case kExSplices: return rows(kSplicesTable, "", " WHERE marker_id = ?1 ORDER BY position");
    case kExListModels:
      return rows(kOrderModelsTable, "position, ", " WHERE owner = ?1 AND owner_id = ?2 ORDER BY position");
    case kExListOptions: return rows(kOptionsTable, "", kOwned);
    case kExListSizes: return rows(kSizesTable, "", kOwned);
    case kExModels: return rows(kModelsTable, "id, ", " ORDER BY id");
    case kExGroups: return rows(kOptionGroupsTable, "", " WHERE model_id = ?1 ORDER BY position");
    case kExModelPieces:
      return rows(kModelPiecesTable, "option_group, ", " WHERE model_id = ?1 ORDER BY option_group, position");
    case kExPieces: return rows(kPiecesTable, "id, ", " ORDER BY id");
    case kExOrders: return rows(kOrdersTable, "id, ", " ORDER BY id");
    case kExFaults: return rows(kFaultsTable, "", " WHERE kind = ?1 AND item_id = ?2");
    default: return "";
  }
}
constexpr int kExIdColumn = 0;        // item queries: id, then the fields
constexpr int kExPositionColumn = 0;  // kExListModels: position, then the fields
constexpr int kExGroupColumn = 0;     // kExModelPieces: option_group, then the fields

// The keys of table's fields in group (null: the row's own keys) as JSON,
// in the order of the description. Faults appear only when set.
void put_fields(ojson& o, const Table& table, const void* row, const char* group) {
  void* r = const_cast<void*>(row);
  for (const Field& f : table) {
    if (!f.key || (f.group == nullptr) != (group == nullptr)) continue;
    if (group && std::strcmp(f.group, group) != 0) continue;
    switch (f.type) {
      case FieldType::kText: o[f.key] = latin1_to_utf8(*static_cast<const std::string*>(f.at(r))); break;
      case FieldType::kInt: o[f.key] = *static_cast<const int32_t*>(f.at(r)); break;
      case FieldType::kReal: o[f.key] = *static_cast<const double*>(f.at(r)); break;
      case FieldType::kFlag:
        if (*static_cast<const bool*>(f.at(r))) o[f.key] = true;
        break;
      case FieldType::kIndex:
        if (*static_cast<const int64_t*>(f.at(r)) >= 0) o[f.key] = *static_cast<const int64_t*>(f.at(r));
        break;
      case FieldType::kCounts: o[f.key] = *static_cast<const std::vector<int32_t>*>(f.at(r)); break;
      case FieldType::kLength: break;
    }
  }
}

template <typename T>
ojson rows_json(const std::vector<T>& rows, const Table& table) {
  ojson a = ojson::array();
  for (const T& row : rows) {
    ojson e = ojson::object();
    put_fields(e, table, &row, nullptr);
    a.push_back(std::move(e));
  }
  return a;
}

// Writes an area file's area as JSON. Each step returns false on a failure,
// which status() then holds.
class Exporter {
 public:
  Exporter(sqlite3* db, std::ostream& out) : db_(db), out_(out), stmts_(kExportStmtCount, export_sql) {
    stmts_.attach(db);
  }

  const quire::Status& status() const { return status_; }

  bool run() {
    Stmt area;
    status_ = prepare(db_, area_row_select_sql().c_str(), &area);
    if (!status_.ok()) return false;
    if (sqlite3_step(area.s) != SQLITE_ROW) return fail(damaged(db_, "no area row"));
    out_ << "{\n  \"name\": " << ojson(col_utf8(area.s, kAreaNameColumn)).dump()
         << ",\n  \"notation\": " << sqlite3_column_int(area.s, kAreaNotationColumn)
         << ",\n  \"precision\": " << sqlite3_column_int(area.s, kAreaPrecisionColumn) << ",\n";
    return markers() && models() && pieces() && orders() && finish();
  }

 private:
  bool fail(const quire::Status& why) {
    status_.update(why);
    return false;
  }

  sqlite3_stmt* stmt(int id) {
    sqlite3_stmt* s = stmts_.get(id);
    if (!s) fail(damaged(db_, sqlite3_errmsg(db_)));
    else sqlite3_reset(s);
    return s;
  }

  bool fail_db() {
    return fail(quire::Status::failure(quire::StatusCode::kStore,
                                       std::string("cannot read the area: ") + sqlite3_errmsg(db_), {},
                                       sqlite3_errcode(db_)));
  }

  // Reads the rows s gives (its fields from column first on) into out.
  template <typename T>
  bool read_rows(sqlite3_stmt* s, int first, const Table& table, std::vector<T>* out) {
    out->clear();
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) read_fields(s, first, table, &out->emplace_back());
    return rc == SQLITE_DONE || fail_db();
  }

  // Writes the list called key: one item, on its own line, for each row of
  // the query query. The row's id and fields (table's, read into *row) make
  // the item's object; rest(id, object) adds what other tables hold.
  template <typename Row, typename Rest>
  bool list(const char* key, int query, const Table& table, Row* row, bool last, Rest&& rest) {
    out_ << "  \"" << key << "\": [";
    sqlite3_stmt* s = stmt(query);
    if (!s) return false;
    bool first = true;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      const int64_t id = sqlite3_column_int64(s, kExIdColumn);
      read_fields(s, kExIdColumn + 1, table, row);
      ojson o = ojson::object();
      put_fields(o, table, row, nullptr);
      if (!rest(id, o)) return false;
      out_ << (first ? "\n    " : ",\n    ") << o.dump();
      first = false;
    }
    if (rc != SQLITE_DONE) return fail_db();
    out_ << (first ? "]" : "\n  ]") << (last ? "\n" : ",\n");
    return true;
  }

  bool faults(ojson& o, Kind kind, int64_t id) {
    sqlite3_stmt* s = stmt(kExFaults);
    if (!s) return false;
    sqlite3_bind_text(s, 1, kind_name(kind), -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, id);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      FaultSet f;
      read_fields(s, 0, kFaultsTable, &f);
      ojson j = ojson::object();
      put_fields(j, kFaultsTable, &f, nullptr);
      if (!j.empty()) o["faults"] = std::move(j);
    } else if (rc != SQLITE_DONE) {
      return fail_db();
    }
    return true;
  }

  // The item's model list (its models with their options and sizes) and
  // faults into o.
  bool models_and_faults(ojson& o, Kind owner, int64_t id) {
    ojson list = ojson::array();
    sqlite3_stmt* s = stmt(kExListModels);
    if (!s) return false;
    sqlite3_bind_text(s, 1, kind_name(owner), -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, id);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      OrderModelData m;
      read_fields(s, kExPositionColumn + 1, kOrderModelsTable, &m);
      int64_t position = sqlite3_column_int64(s, kExPositionColumn);
      sqlite3_stmt* o = stmt(kExListOptions);
      sqlite3_stmt* z = stmt(kExListSizes);
      if (!o || !z) return false;
      for (sqlite3_stmt* q : {o, z}) {
        sqlite3_bind_text(q, 1, kind_name(owner), -1, SQLITE_STATIC);
        sqlite3_bind_int64(q, 2, id);
        sqlite3_bind_int64(q, 3, position);
      }
      if (!read_rows(o, 0, kOptionsTable, &m.options) || !read_rows(z, 0, kSizesTable, &m.sizes)) return false;
      ojson j = ojson::object();
      put_fields(j, kOrderModelsTable, &m, nullptr);
      ojson options = ojson::array();
      for (const std::string& t : m.options) options.push_back(latin1_to_utf8(t));
      j["options"] = std::move(options);
      j["sizes"] = rows_json(m.sizes, kSizesTable);
      list.push_back(std::move(j));
    }
    if (rc != SQLITE_DONE) return fail_db();
    o["models"] = std::move(list);
    return faults(o, owner, id);
  }

  bool markers() {
    MarkerData m;
    return list("markers", kExMarkers, kMarkersTable, &m, false, [&](int64_t id, ojson& o) {
      o["byte_size"] = {m.byte_size[0], m.byte_size[1]};
      ojson h = ojson::object();
      put_fields(h, kMarkersTable, &m, "header");
      o["header"] = std::move(h);
      sqlite3_stmt* a = stmt(kExAnalysis);
      if (!a) return false;
      sqlite3_bind_int64(a, 1, id);
      ojson an = ojson::object();
      int arc = sqlite3_step(a);
      if (arc == SQLITE_ROW) {
        read_fields(a, 0, kAnalysisTable, &m.analysis);
        put_fields(an, kAnalysisTable, &m.analysis, nullptr);
      } else if (arc != SQLITE_DONE) {
        return fail_db();
      }
      o["analysis"] = std::move(an);
      sqlite3_stmt* p = stmt(kExMarkerPieces);
      sqlite3_stmt* v = stmt(kExOverrides);
      sqlite3_stmt* sp = stmt(kExSplices);
      if (!p || !v || !sp) return false;
      for (sqlite3_stmt* q : {p, v, sp}) sqlite3_bind_int64(q, 1, id);
      if (!read_rows(p, 0, kMarkerPiecesTable, &m.pieces) || !read_rows(v, 0, kOverridesTable, &m.overrides) ||
          !read_rows(sp, 0, kSplicesTable, &m.splices))
        return false;
      o["pieces"] = rows_json(m.pieces, kMarkerPiecesTable);
      o["overrides"] = rows_json(m.overrides, kOverridesTable);
      o["splices"] = rows_json(m.splices, kSplicesTable);
      return models_and_faults(o, kMarker, id);
    });
  }

  bool models() {
    ModelData m;
    return list("models", kExModels, kModelsTable, &m, false, [&](int64_t id, ojson& o) {
      sqlite3_stmt* g = stmt(kExGroups);
      sqlite3_stmt* q = stmt(kExModelPieces);
      if (!g || !q) return false;
      sqlite3_bind_int64(g, 1, id);
      if (!read_rows(g, 0, kOptionGroupsTable, &m.option_groups)) return false;
      m.pieces.clear();
      sqlite3_bind_int64(q, 1, id);
      int prc;
      while ((prc = sqlite3_step(q)) == SQLITE_ROW) {
        int64_t group = sqlite3_column_int64(q, kExGroupColumn);
        std::vector<ModelPieceData>* into = nullptr;
        if (group == 0) into = &m.pieces;
        else if (group - 1 < static_cast<int64_t>(m.option_groups.size()))
          into = &m.option_groups[static_cast<size_t>(group - 1)].pieces;
        if (into) read_fields(q, kExGroupColumn + 1, kModelPiecesTable, &into->emplace_back());
      }
      if (prc != SQLITE_DONE) return fail_db();
      o["pieces"] = rows_json(m.pieces, kModelPiecesTable);
      ojson groups = ojson::array();
      for (const OptionGroupData& og : m.option_groups) {
        ojson j = ojson::object();
        put_fields(j, kOptionGroupsTable, &og, nullptr);
        j["pieces"] = rows_json(og.pieces, kModelPiecesTable);
        groups.push_back(std::move(j));
      }
      o["option_groups"] = std::move(groups);
      return faults(o, kModel, id);
    });
  }

  bool pieces() {
    PieceData p;
    return list("pieces", kExPieces, kPiecesTable, &p, false,
                [&](int64_t id, ojson& o) { return faults(o, kPiece, id); });
  }

  bool orders() {
    OrderData od;
    return list("orders", kExOrders, kOrdersTable, &od, true,
                [&](int64_t id, ojson& o) { return models_and_faults(o, kOrder, id); });
  }

  bool finish() {
    out_ << "}\n";
    out_.flush();
    if (!out_) return fail(file_failure(EIO, "cannot write the export"));
    return true;
  }

  sqlite3* db_;
  std::ostream& out_;
  StatementCache stmts_;
  quire::Status status_;
};

}  // namespace

quire::Status export_area_json(std::string_view name, std::ostream& out) {
  return fenced([&]() -> quire::Status {
    std::string latin1;
    if (!utf8_to_latin1(name, &latin1)) latin1 = std::string(name);
    if (!valid_area_name(latin1))
      return quire::Status::failure(quire::StatusCode::kNotFound, "no area called " + std::string(name));
    std::string path = area_path(latin1);
    FileStatus st = file_status(path);
    if (st.error == ENOENT || st.error == ENOTDIR)
      return quire::Status::failure(quire::StatusCode::kNotFound,
                                    "no area called " + std::string(name) + " in " + store_directory(), path);
    if (st.error != 0) return quire::Status::io_error(st.error, "read", path);
    // Opening a FIFO would wait for a writer that never comes.
    if (!st.regular)
      return quire::Status::failure(quire::StatusCode::kInvalid,
                                    "cannot read " + path + ": not a regular file (an area file is one)", path);
    Db d;
    if (quire::Status opened = open_db(path, &d); !opened.ok()) return opened;
    AreaSummary s;
    if (quire::Status read = read_summary(path, &s); !read.ok())
      return quire::Status::failure(read.code(), path + ": " + read.message(), path, read.error());
    Exporter e(d.db, out);
    // One read transaction for a consistent export.
    sqlite3_exec(d.db, "BEGIN", nullptr, nullptr, nullptr);
    e.run();
    sqlite3_exec(d.db, "COMMIT", nullptr, nullptr, nullptr);
    return e.status();
  });
}

namespace {

// What a file of the store is when it is no regular file (links followed).
const char* not_an_area_file(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory: return "a directory";
    case std::filesystem::file_type::fifo: return "a FIFO";
    case std::filesystem::file_type::character: return "a character device";
    case std::filesystem::file_type::block: return "a block device";
    case std::filesystem::file_type::socket: return "a socket";
    case std::filesystem::file_type::not_found: return "a symbolic link to nothing";
    default: return "no regular file";
  }
}

// Adds to out a skipped entry for each thing in dir that is named like an
// area file but is no regular file, so that the listing names what it leaves
// out rather than passing over it in silence.
void add_skipped(const std::string& dir, const std::string& suffix, std::vector<AreaSummary>* out) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string file;
    try {
      file = it->path().filename().string();
    } catch (const std::exception&) {
      continue;  // a name this system's code page cannot hold is no area's
    }
    if (file.empty() || file[0] == '.' || file.size() <= suffix.size() ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::error_code type_error;
    std::filesystem::file_status st = std::filesystem::status(it->path(), type_error);
    if (st.type() == std::filesystem::file_type::regular) continue;  // listed as an area
    AreaSummary s;
    s.name = file.substr(0, file.size() - suffix.size());
    s.path = path_in(dir, file);
    s.error = std::string("it is ") + not_an_area_file(st.type()) + ", not an area file";
    s.skipped = true;
    out->push_back(std::move(s));
  }
}

}  // namespace

std::vector<AreaSummary> list_areas(quire::Status* status) {
  std::vector<AreaSummary> out;
  quire::Status listed = fenced([&] {
    std::string dir = store_directory();
    std::vector<std::string> files;
    int why_not = 0;
    if (!regular_files_in(dir, &files, &why_not))
      return why_not == ENOENT ? quire::Status() : quire::Status::io_error(why_not, "read the store directory", dir);
    std::string suffix = kAreaFileSuffix;
    for (const std::string& file : files) {
      if (file.empty() || file[0] == '.' || file.size() <= suffix.size() ||
          file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
        continue;
      AreaSummary s;
      std::string path = path_in(dir, file);
      if (quire::Status read = read_summary(path, &s); !read.ok()) {
        s = AreaSummary{};
        s.name = file.substr(0, file.size() - suffix.size());
        s.path = path;
        s.error = read.message();
      }
      out.push_back(std::move(s));
    }
    add_skipped(dir, suffix, &out);
    std::sort(out.begin(), out.end(), [](const AreaSummary& a, const AreaSummary& b) {
      return pb_stricmp(a.name.c_str(), b.name.c_str()) < 0;
    });
    return quire::Status();
  });
  if (status) *status = std::move(listed);
  return out;
}

}  // namespace quire::areas
