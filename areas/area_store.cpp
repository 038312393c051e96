// Listing and exporting areas, and the Latin-1 / UTF-8 conversions.
#include "area_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "area_data.h"
#include "area_writer.h"
#include "store_layout.h"

namespace plotbase {

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

bool open_db(const std::string& path, Db* d, std::string* error) {
  if (sqlite3_open_v2(sqlite_file_name(path).c_str(), &d->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    *error = std::string("cannot open ") + path + ": " + (d->db ? sqlite3_errmsg(d->db) : "");
    return false;
  }
  return true;
}

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() {
    if (s) sqlite3_finalize(s);
  }
};

bool prepare(sqlite3* db, const char* sql, Stmt* st, std::string* error) {
  if (sqlite3_prepare_v2(db, sql, -1, &st->s, nullptr) != SQLITE_OK) {
    *error = std::string("damaged area file: ") + sqlite3_errmsg(db);
    return false;
  }
  return true;
}

std::string col_text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string();
}
std::string col_utf8(sqlite3_stmt* s, int i) { return latin1_to_utf8(col_text(s, i)); }

bool read_summary(const std::string& path, AreaSummary* out, std::string* error) {
  Db d;
  if (!open_db(path, &d, error)) return false;
  Stmt st;
  if (!prepare(d.db, area_row_select_sql().c_str(), &st, error)) return false;
  if (sqlite3_step(st.s) != SQLITE_ROW) {
    *error = std::string("damaged area file: ") + sqlite3_errmsg(d.db);
    return false;
  }
  if (sqlite3_column_int(st.s, kAreaFormatColumn) != kAreaFormat) {
    *error = "unknown area format " + std::to_string(sqlite3_column_int(st.s, kAreaFormatColumn));
    return false;
  }
  out->name = col_text(st.s, kAreaNameColumn);
  out->markers = sqlite3_column_int64(st.s, kAreaMarkersColumn);
  out->models = sqlite3_column_int64(st.s, kAreaModelsColumn);
  out->pieces = sqlite3_column_int64(st.s, kAreaPiecesColumn);
  out->orders = sqlite3_column_int64(st.s, kAreaOrdersColumn);
  out->path = path;
  return true;
}

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

class Exporter {
 public:
  Exporter(sqlite3* db, std::ostream& out) : db_(db), out_(out), stmts_(kExportStmtCount, export_sql) {
    stmts_.attach(db);
  }

  bool run(std::string* error) {
    Stmt area;
    if (!prepare(db_, area_row_select_sql().c_str(), &area, error)) return false;
    if (sqlite3_step(area.s) != SQLITE_ROW) return *error = "damaged area file: no area row", false;
    out_ << "{\n  \"name\": " << ojson(col_utf8(area.s, kAreaNameColumn)).dump()
         << ",\n  \"notation\": " << sqlite3_column_int(area.s, kAreaNotationColumn)
         << ",\n  \"precision\": " << sqlite3_column_int(area.s, kAreaPrecisionColumn) << ",\n";
    return markers(error) && models(error) && pieces(error) && orders(error) && finish(error);
  }

 private:
  sqlite3_stmt* stmt(int id, std::string* error) {
    sqlite3_stmt* s = stmts_.get(id);
    if (!s) *error = std::string("damaged area file: ") + sqlite3_errmsg(db_);
    else sqlite3_reset(s);
    return s;
  }

  bool fail_db(std::string* error) {
    *error = std::string("cannot read the area: ") + sqlite3_errmsg(db_);
    return false;
  }

  // Reads the rows s gives (its fields from column first on) into out.
  template <typename T>
  bool read_rows(sqlite3_stmt* s, int first, const Table& table, std::vector<T>* out, std::string* error) {
    out->clear();
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) read_fields(s, first, table, &out->emplace_back());
    return rc == SQLITE_DONE || fail_db(error);
  }

  // Writes one item of a list: the separator and the item on its own line.
  void item(const ojson& o) {
    out_ << (first_ ? "\n    " : ",\n    ") << o.dump();
    first_ = false;
  }
  void open_list(const char* key) {
    out_ << "  \"" << key << "\": [";
    first_ = true;
  }
  void close_list(bool last) { out_ << (first_ ? "]" : "\n  ]") << (last ? "\n" : ",\n"); }

  bool faults(ojson& o, Kind kind, int64_t id, std::string* error) {
    sqlite3_stmt* s = stmt(kExFaults, error);
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
      return fail_db(error);
    }
    return true;
  }

  bool model_list(Kind owner, int64_t id, ojson* out, std::string* error) {
    *out = ojson::array();
    sqlite3_stmt* s = stmt(kExListModels, error);
    if (!s) return false;
    sqlite3_bind_text(s, 1, kind_name(owner), -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, id);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      OrderModelData m;
      read_fields(s, kExPositionColumn + 1, kOrderModelsTable, &m);
      int64_t position = sqlite3_column_int64(s, kExPositionColumn);
      sqlite3_stmt* o = stmt(kExListOptions, error);
      sqlite3_stmt* z = stmt(kExListSizes, error);
      if (!o || !z) return false;
      for (sqlite3_stmt* q : {o, z}) {
        sqlite3_bind_text(q, 1, kind_name(owner), -1, SQLITE_STATIC);
        sqlite3_bind_int64(q, 2, id);
        sqlite3_bind_int64(q, 3, position);
      }
      if (!read_rows(o, 0, kOptionsTable, &m.options, error) || !read_rows(z, 0, kSizesTable, &m.sizes, error))
        return false;
      ojson j = ojson::object();
      put_fields(j, kOrderModelsTable, &m, nullptr);
      ojson options = ojson::array();
      for (const std::string& t : m.options) options.push_back(latin1_to_utf8(t));
      j["options"] = std::move(options);
      j["sizes"] = rows_json(m.sizes, kSizesTable);
      out->push_back(std::move(j));
    }
    return rc == SQLITE_DONE || fail_db(error);
  }

  bool markers(std::string* error) {
    open_list("markers");
    sqlite3_stmt* s = stmt(kExMarkers, error);
    if (!s) return false;
    int rc;
    MarkerData m;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      int64_t id = sqlite3_column_int64(s, kExIdColumn);
      read_fields(s, kExIdColumn + 1, kMarkersTable, &m);
      ojson o = ojson::object();
      put_fields(o, kMarkersTable, &m, nullptr);
      o["byte_size"] = {m.byte_size[0], m.byte_size[1]};
      ojson h = ojson::object();
      put_fields(h, kMarkersTable, &m, "header");
      o["header"] = std::move(h);
      sqlite3_stmt* a = stmt(kExAnalysis, error);
      if (!a) return false;
      sqlite3_bind_int64(a, 1, id);
      ojson an = ojson::object();
      int arc = sqlite3_step(a);
      if (arc == SQLITE_ROW) {
        read_fields(a, 0, kAnalysisTable, &m.analysis);
        put_fields(an, kAnalysisTable, &m.analysis, nullptr);
      } else if (arc != SQLITE_DONE) {
        return fail_db(error);
      }
      o["analysis"] = std::move(an);
      sqlite3_stmt* p = stmt(kExMarkerPieces, error);
      sqlite3_stmt* v = stmt(kExOverrides, error);
      sqlite3_stmt* sp = stmt(kExSplices, error);
      if (!p || !v || !sp) return false;
      for (sqlite3_stmt* q : {p, v, sp}) sqlite3_bind_int64(q, 1, id);
      if (!read_rows(p, 0, kMarkerPiecesTable, &m.pieces, error) ||
          !read_rows(v, 0, kOverridesTable, &m.overrides, error) ||
          !read_rows(sp, 0, kSplicesTable, &m.splices, error))
        return false;
      o["pieces"] = rows_json(m.pieces, kMarkerPiecesTable);
      o["overrides"] = rows_json(m.overrides, kOverridesTable);
      o["splices"] = rows_json(m.splices, kSplicesTable);
      ojson list;
      if (!model_list(kMarker, id, &list, error)) return false;
      o["models"] = std::move(list);
      if (!faults(o, kMarker, id, error)) return false;
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(false);
    return true;
  }

  bool models(std::string* error) {
    open_list("models");
    sqlite3_stmt* s = stmt(kExModels, error);
    if (!s) return false;
    int rc;
    ModelData m;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      int64_t id = sqlite3_column_int64(s, kExIdColumn);
      read_fields(s, kExIdColumn + 1, kModelsTable, &m);
      sqlite3_stmt* g = stmt(kExGroups, error);
      sqlite3_stmt* q = stmt(kExModelPieces, error);
      if (!g || !q) return false;
      sqlite3_bind_int64(g, 1, id);
      if (!read_rows(g, 0, kOptionGroupsTable, &m.option_groups, error)) return false;
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
      if (prc != SQLITE_DONE) return fail_db(error);
      ojson o = ojson::object();
      put_fields(o, kModelsTable, &m, nullptr);
      o["pieces"] = rows_json(m.pieces, kModelPiecesTable);
      ojson groups = ojson::array();
      for (const OptionGroupData& og : m.option_groups) {
        ojson j = ojson::object();
        put_fields(j, kOptionGroupsTable, &og, nullptr);
        j["pieces"] = rows_json(og.pieces, kModelPiecesTable);
        groups.push_back(std::move(j));
      }
      o["option_groups"] = std::move(groups);
      if (!faults(o, kModel, id, error)) return false;
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(false);
    return true;
  }

  bool pieces(std::string* error) {
    open_list("pieces");
    sqlite3_stmt* s = stmt(kExPieces, error);
    if (!s) return false;
    int rc;
    PieceData p;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      read_fields(s, kExIdColumn + 1, kPiecesTable, &p);
      ojson o = ojson::object();
      put_fields(o, kPiecesTable, &p, nullptr);
      if (!faults(o, kPiece, sqlite3_column_int64(s, kExIdColumn), error)) return false;
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(false);
    return true;
  }

  bool orders(std::string* error) {
    open_list("orders");
    sqlite3_stmt* s = stmt(kExOrders, error);
    if (!s) return false;
    int rc;
    OrderData od;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      int64_t id = sqlite3_column_int64(s, kExIdColumn);
      read_fields(s, kExIdColumn + 1, kOrdersTable, &od);
      ojson o = ojson::object();
      put_fields(o, kOrdersTable, &od, nullptr);
      ojson list;
      if (!model_list(kOrder, id, &list, error)) return false;
      o["models"] = std::move(list);
      if (!faults(o, kOrder, id, error)) return false;
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(true);
    return true;
  }

  bool finish(std::string* error) {
    out_ << "}\n";
    out_.flush();
    if (!out_) return *error = "cannot write the export", false;
    return true;
  }

  sqlite3* db_;
  std::ostream& out_;
  StatementCache stmts_;
  bool first_ = true;
};

}  // namespace

bool export_area_json(std::string_view name, std::ostream& out, std::string* error) {
  std::string scratch;
  if (!error) error = &scratch;
  std::string latin1;
  if (!utf8_to_latin1(name, &latin1)) latin1 = std::string(name);
  if (!valid_area_name(latin1)) return *error = "no area called " + std::string(name), false;
  std::string path = area_path(latin1);
  FileStatus st = file_status(path);
  if (st.error != 0) {
    if (st.error == ENOENT || st.error == ENOTDIR)
      *error = "no area called " + std::string(name) + " in " + store_directory();
    else
      *error = "cannot read " + path + ": " + std::strerror(st.error);
    return false;
  }
  // Opening a FIFO would wait for a writer that never comes.
  if (!st.regular) return *error = "cannot read " + path + ": not a regular file (an area file is one)", false;
  Db d;
  if (!open_db(path, &d, error)) return false;
  AreaSummary s;
  if (!read_summary(path, &s, error)) return *error = path + ": " + *error, false;
  Exporter e(d.db, out);
  // One read transaction for a consistent export.
  sqlite3_exec(d.db, "BEGIN", nullptr, nullptr, nullptr);
  bool ok = e.run(error);
  sqlite3_exec(d.db, "COMMIT", nullptr, nullptr, nullptr);
  return ok;
}

std::vector<AreaSummary> list_areas(std::string* error) {
  std::vector<AreaSummary> out;
  std::string dir = store_directory();
  std::vector<std::string> files;
  int why_not = 0;
  if (!regular_files_in(dir, &files, &why_not)) {
    if (why_not != ENOENT && error)
      *error = "cannot read the store directory " + dir + ": " + std::strerror(why_not);
    return out;
  }
  std::string suffix = kAreaFileSuffix;
  for (const std::string& file : files) {
    if (file.empty() || file[0] == '.' || file.size() <= suffix.size() ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    AreaSummary s;
    std::string path = path_in(dir, file);
    std::string why;
    if (!read_summary(path, &s, &why)) {
      s = AreaSummary{};
      s.name = file.substr(0, file.size() - suffix.size());
      s.path = path;
      s.error = why;
    }
    out.push_back(std::move(s));
  }
  std::sort(out.begin(), out.end(),
            [](const AreaSummary& a, const AreaSummary& b) { return pb_stricmp(a.name.c_str(), b.name.c_str()) < 0; });
  return out;
}

}  // namespace plotbase
