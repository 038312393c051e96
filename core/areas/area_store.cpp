// Listing and exporting areas, and the Latin-1 / UTF-8 conversions.
#include "area_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "area_writer.h"
#include "failures.h"
#include "sqlite/sqlite_engine.h"
#include "store_access.h"
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

std::string area_path(std::string_view name) {
  Store store;
  if (open_store(&store).ok()) return store.place(name);
  return path_in(store_directory(), area_file_name(name));
}

namespace {

// The area's row cannot be read as one: message says why.
quire::Status damaged(const std::string& message, int error = 0) {
  return quire::Status::failure(quire::StatusCode::kCorrupt, "damaged area file: " + message, {}, error);
}

// Reads the area row of the area open at c into *out.
quire::Status read_summary(store::Connection& c, AreaSummary* out) {
  std::unique_ptr<store::Statement> row;
  quire::Status status = c.prepare(area_row_select_sql(), &row);
  if (!status.ok()) return damaged(status.message(), status.error());
  bool found = false;
  status = row->step(&found);
  if (!status.ok()) return damaged(status.message(), status.error());
  if (!found) return damaged(no_area_row(c));
  if (row->column_int64(kAreaFormatColumn) != kAreaFormat)
    return quire::Status::failure(quire::StatusCode::kCorrupt,
                                  "unknown area format " + std::to_string(row->column_int64(kAreaFormatColumn)));
  read_area_row(*row, out);
  return {};
}

}  // namespace

void read_area_row(store::Statement& row, AreaSummary* out) {
  out->name = column_string(row, kAreaNameColumn);
  out->markers = row.column_int64(kAreaMarkersColumn);
  out->models = row.column_int64(kAreaModelsColumn);
  out->pieces = row.column_int64(kAreaPiecesColumn);
  out->orders = row.column_int64(kAreaOrdersColumn);
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

// Writes an area as JSON. Each step returns false on a failure, which
// status() then holds.
class Exporter {
 public:
  Exporter(store::Connection& connection, std::ostream& out)
      : connection_(connection), out_(out), stmts_(kExportStmtCount) {}

  const quire::Status& status() const { return status_; }

  bool run() {
    std::unique_ptr<store::Statement> area;
    if (quire::Status prepared = connection_.prepare(area_row_select_sql(), &area); !prepared.ok())
      return fail(damaged(prepared.message(), prepared.error()));
    bool row = false;
    if (!area->step(&row).ok() || !row) return fail(damaged("no area row"));
    out_ << "{\n  \"name\": " << ojson(latin1_to_utf8(column_string(*area, kAreaNameColumn))).dump()
         << ",\n  \"notation\": " << static_cast<int32_t>(area->column_int64(kAreaNotationColumn))
         << ",\n  \"precision\": " << static_cast<int32_t>(area->column_int64(kAreaPrecisionColumn)) << ",\n";
    return markers() && models() && pieces() && orders() && finish();
  }

 private:
  bool fail(const quire::Status& why) {
    status_.update(why);
    return false;
  }

  // The statement id, prepared on first use and reset.
  store::Statement* stmt(int id) {
    std::unique_ptr<store::Statement>& s = stmts_[static_cast<size_t>(id)];
    if (!s) {
      if (quire::Status prepared = connection_.prepare(export_sql(id), &s); !prepared.ok()) {
        fail(damaged(prepared.message(), prepared.error()));
        return nullptr;
      }
    } else {
      s->reset();
    }
    return s.get();
  }

  bool fail_read(const quire::Status& why) {
    return fail(quire::Status::failure(quire::StatusCode::kStore, "cannot read the area: " + why.message(), {},
                                       why.error()));
  }

  // Moves s to its next row: true with a row, false at the end or on a
  // failure (then ok false).
  bool next(store::Statement& s, bool* ok) {
    bool row = false;
    if (quire::Status stepped = s.step(&row); !stepped.ok()) {
      *ok = fail_read(stepped);
      return false;
    }
    return row;
  }

  // Reads the rows s gives (its fields from column first on) into out.
  template <typename T>
  bool read_rows(store::Statement& s, int first, const Table& table, std::vector<T>* out) {
    out->clear();
    bool ok = true;
    while (next(s, &ok)) read_fields(s, first, table, &out->emplace_back());
    return ok;
  }

  // Writes the list called key: one item, on its own line, for each row of
  // the query query. The row's id and fields (table's, read into *row) make
  // the item's object; rest(id, object) adds what other tables hold.
  template <typename Row, typename Rest>
  bool list(const char* key, int query, const Table& table, Row* row, bool last, Rest&& rest) {
    out_ << "  \"" << key << "\": [";
    store::Statement* s = stmt(query);
    if (!s) return false;
    bool first = true;
    bool ok = true;
    while (next(*s, &ok)) {
      const int64_t id = s->column_int64(kExIdColumn);
      read_fields(*s, kExIdColumn + 1, table, row);
      ojson o = ojson::object();
      put_fields(o, table, row, nullptr);
      if (!rest(id, o)) return false;
      out_ << (first ? "\n    " : ",\n    ") << o.dump();
      first = false;
    }
    if (!ok) return false;
    out_ << (first ? "]" : "\n  ]") << (last ? "\n" : ",\n");
    return true;
  }

  bool faults(ojson& o, Kind kind, int64_t id) {
    store::Statement* s = stmt(kExFaults);
    if (!s) return false;
    s->bind_text(1, kind_name(kind));
    s->bind_int64(2, id);
    bool ok = true;
    if (next(*s, &ok)) {
      FaultSet f;
      read_fields(*s, 0, kFaultsTable, &f);
      ojson j = ojson::object();
      put_fields(j, kFaultsTable, &f, nullptr);
      if (!j.empty()) o["faults"] = std::move(j);
    }
    return ok;
  }

  // The item's model list (its models with their options and sizes) and
  // faults into o.
  bool models_and_faults(ojson& o, Kind owner, int64_t id) {
    ojson list = ojson::array();
    store::Statement* s = stmt(kExListModels);
    if (!s) return false;
    s->bind_text(1, kind_name(owner));
    s->bind_int64(2, id);
    bool ok = true;
    while (next(*s, &ok)) {
      OrderModelData m;
      read_fields(*s, kExPositionColumn + 1, kOrderModelsTable, &m);
      const int64_t position = s->column_int64(kExPositionColumn);
      store::Statement* o = stmt(kExListOptions);
      store::Statement* z = stmt(kExListSizes);
      if (!o || !z) return false;
      for (store::Statement* q : {o, z}) {
        q->bind_text(1, kind_name(owner));
        q->bind_int64(2, id);
        q->bind_int64(3, position);
      }
      if (!read_rows(*o, 0, kOptionsTable, &m.options) || !read_rows(*z, 0, kSizesTable, &m.sizes)) return false;
      ojson j = ojson::object();
      put_fields(j, kOrderModelsTable, &m, nullptr);
      ojson options = ojson::array();
      for (const std::string& t : m.options) options.push_back(latin1_to_utf8(t));
      j["options"] = std::move(options);
      j["sizes"] = rows_json(m.sizes, kSizesTable);
      list.push_back(std::move(j));
    }
    if (!ok) return false;
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
      store::Statement* a = stmt(kExAnalysis);
      if (!a) return false;
      a->bind_int64(1, id);
      ojson an = ojson::object();
      bool ok = true;
      if (next(*a, &ok)) {
        read_fields(*a, 0, kAnalysisTable, &m.analysis);
        put_fields(an, kAnalysisTable, &m.analysis, nullptr);
      }
      if (!ok) return false;
      o["analysis"] = std::move(an);
      store::Statement* p = stmt(kExMarkerPieces);
      store::Statement* v = stmt(kExOverrides);
      store::Statement* sp = stmt(kExSplices);
      if (!p || !v || !sp) return false;
      for (store::Statement* q : {p, v, sp}) q->bind_int64(1, id);
      if (!read_rows(*p, 0, kMarkerPiecesTable, &m.pieces) || !read_rows(*v, 0, kOverridesTable, &m.overrides) ||
          !read_rows(*sp, 0, kSplicesTable, &m.splices))
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
      store::Statement* g = stmt(kExGroups);
      store::Statement* q = stmt(kExModelPieces);
      if (!g || !q) return false;
      g->bind_int64(1, id);
      if (!read_rows(*g, 0, kOptionGroupsTable, &m.option_groups)) return false;
      m.pieces.clear();
      q->bind_int64(1, id);
      bool ok = true;
      while (next(*q, &ok)) {
        const int64_t group = q->column_int64(kExGroupColumn);
        std::vector<ModelPieceData>* into = nullptr;
        if (group == 0) into = &m.pieces;
        else if (group - 1 < static_cast<int64_t>(m.option_groups.size()))
          into = &m.option_groups[static_cast<size_t>(group - 1)].pieces;
        if (into) read_fields(*q, kExGroupColumn + 1, kModelPiecesTable, &into->emplace_back());
      }
      if (!ok) return false;
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

  store::Connection& connection_;
  std::ostream& out_;
  std::vector<std::unique_ptr<store::Statement>> stmts_;
  quire::Status status_;
};

}  // namespace

quire::Status export_area_json(std::string_view name, std::ostream& out) {
  return fenced([&]() -> quire::Status {
    std::string latin1;
    if (!utf8_to_latin1(name, &latin1)) latin1 = std::string(name);
    if (!valid_area_name(latin1))
      return quire::Status::failure(quire::StatusCode::kNotFound, "no area called " + std::string(name));
    Store store;
    if (quire::Status opened = open_store(&store); !opened.ok()) return opened;
    const std::string path = store.place(latin1);
    if (store.folder) {
      // An area file's own checks: something there that is no file is said
      // as such, and a FIFO is never opened (it would wait for a writer
      // that never comes).
      FileStatus st = file_status(path);
      if (st.error == ENOENT || st.error == ENOTDIR)
        return quire::Status::failure(quire::StatusCode::kNotFound,
                                      "no area called " + std::string(name) + " in " + store.where(), path);
      if (st.error != 0) return quire::Status::io_error(st.error, "read", path);
      if (!st.regular)
        return quire::Status::failure(quire::StatusCode::kInvalid,
                                      "cannot read " + path + ": not a regular file (an area file is one)", path);
    }
    std::unique_ptr<store::Connection> connection;
    if (quire::Status opened = store.engine->open_area(latin1, &connection); !opened.ok()) return opened;
    if (!connection)
      return quire::Status::failure(quire::StatusCode::kNotFound,
                                    "no area called " + std::string(name) + " in " + store.where(), path);
    AreaSummary s;
    if (quire::Status read = read_summary(*connection, &s); !read.ok())
      return quire::Status::failure(read.code(), path + ": " + read.message(), path, read.error());
    // One read transaction for a consistent export.
    if (quire::Status begun = connection->begin(store::TransactionMode::kReadSnapshot); !begun.ok())
      return quire::Status::failure(quire::StatusCode::kStore, "cannot read the area: " + begun.message(), path,
                                    begun.error());
    Exporter e(*connection, out);
    e.run();
    connection->commit();
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

namespace {

// Reads the area row of the area file at path (a folder store's file, read
// as the folder's engine reads its areas) into *out.
quire::Status read_file_summary(const std::string& path, AreaSummary* out) {
  std::unique_ptr<store::SqliteConnection> connection;
  if (quire::Status opened = store::SqliteConnection::open_read(path, &connection); !opened.ok()) {
    // Its message names the file already, as the listing does.
    std::string message = opened.message();
    if (message.compare(0, path.size() + 2, path + ": ") == 0) message.erase(0, path.size() + 2);
    return quire::Status::failure(opened.code(), message, path, opened.error());
  }
  return read_summary(*connection, out);
}

// The areas of a folder store: one per area file, read as a file (a file
// whose area row cannot be read is listed under its file's name, with the
// reason), and what is named like an area file but is none.
quire::Status list_folder(const std::string& dir, std::vector<AreaSummary>* out) {
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
    if (quire::Status read = read_file_summary(path, &s); !read.ok()) {
      s = AreaSummary{};
      s.name = file.substr(0, file.size() - suffix.size());
      s.error = read.message();
    }
    s.path = path;
    out->push_back(std::move(s));
  }
  add_skipped(dir, suffix, out);
  return {};
}

// The areas of a server's store, as its engine lists them.
quire::Status list_server(const Store& store, std::vector<AreaSummary>* out) {
  std::vector<std::string> names;
  if (quire::Status listed = store.engine->list_areas(&names); !listed.ok()) return listed;
  for (const std::string& name : names) {
    AreaSummary s;
    std::unique_ptr<store::Connection> connection;
    quire::Status read = store.engine->open_area(name, &connection);
    if (read.ok() && !connection) continue;  // gone since it was listed
    if (read.ok()) read = read_summary(*connection, &s);
    if (!read.ok()) {
      s = AreaSummary{};
      s.name = name;
      s.error = read.message();
    }
    s.path = store.place(name);
    out->push_back(std::move(s));
  }
  return {};
}

}  // namespace

std::vector<AreaSummary> list_areas(quire::Status* status) {
  std::vector<AreaSummary> out;
  quire::Status listed = fenced([&] {
    Store store;
    quire::Status read = open_store(&store);
    if (read.ok()) read = store.folder ? list_folder(store.where(), &out) : list_server(store, &out);
    if (!read.ok()) return read;
    std::sort(out.begin(), out.end(), [](const AreaSummary& a, const AreaSummary& b) {
      return pb_stricmp(a.name.c_str(), b.name.c_str()) < 0;
    });
    return quire::Status();
  });
  if (status) *status = std::move(listed);
  return out;
}

}  // namespace quire::areas
