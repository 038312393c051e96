// Listing and exporting areas, and the Latin-1 / UTF-8 conversions.
#include "area_store.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "area_data.h"
#include "area_writer.h"
#include "internal.h"

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

std::string area_path(std::string_view name) { return store_directory() + "/" + area_file_name(name); }

namespace {

// A read-only connection for export and list (not the readers' cache).
struct Db {
  sqlite3* db = nullptr;
  ~Db() {
    if (db) sqlite3_close_v2(db);
  }
};

bool open_db(const std::string& path, Db* d, std::string* error) {
  if (sqlite3_open_v2(path.c_str(), &d->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
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
  if (!prepare(d.db, "SELECT name, markers, models, pieces, orders, format FROM area", &st, error)) return false;
  if (sqlite3_step(st.s) != SQLITE_ROW) {
    *error = std::string("damaged area file: ") + sqlite3_errmsg(d.db);
    return false;
  }
  if (sqlite3_column_int(st.s, 5) != kAreaFormat) {
    *error = "unknown area format " + std::to_string(sqlite3_column_int(st.s, 5));
    return false;
  }
  out->name = col_text(st.s, 0);
  out->markers = sqlite3_column_int64(st.s, 1);
  out->models = sqlite3_column_int64(st.s, 2);
  out->pieces = sqlite3_column_int64(st.s, 3);
  out->orders = sqlite3_column_int64(st.s, 4);
  out->path = path;
  return true;
}

using ojson = nlohmann::ordered_json;

ojson faults_json(sqlite3_stmt* s, int first) {
  ojson f = ojson::object();
  static const char* const bools[] = {"open", "close", "header", "header_ex", "analysis", "ordmod", "model"};
  static const char* const ints[] = {"piece_at", "override_at", "splice_at", "model_list_at"};
  if (sqlite3_column_type(s, first) == SQLITE_NULL) return f;  // no faults row
  for (int i = 0; i < 7; ++i)
    if (sqlite3_column_int(s, first + i)) f[bools[i]] = true;
  for (int i = 0; i < 4; ++i)
    if (sqlite3_column_type(s, first + 7 + i) != SQLITE_NULL) f[ints[i]] = sqlite3_column_int64(s, first + 7 + i);
  return f;
}

const char* const kFaultJoin =
    " f.open, f.close, f.header, f.header_ex, f.analysis, f.ordmod, f.model, f.piece_at, f.override_at, "
    "f.splice_at, f.model_list_at";

// Common item fields from columns 0..6 (name, modified, created,
// prev_modified, three users).
void common_json(ojson& o, sqlite3_stmt* s) {
  o["name"] = col_utf8(s, 0);
  o["modified"] = sqlite3_column_int(s, 1);
  o["created"] = sqlite3_column_int(s, 2);
  o["prev_modified"] = sqlite3_column_int(s, 3);
  o["user_last_mod"] = col_utf8(s, 4);
  o["user_created"] = col_utf8(s, 5);
  o["user_prev_mod"] = col_utf8(s, 6);
}

class Exporter {
 public:
  Exporter(sqlite3* db, std::ostream& out) : db_(db), out_(out) {}

  bool run(std::string* error) {
    if (!prepare_all(error)) return false;
    Stmt area;
    if (!prepare(db_, "SELECT name, notation, precision FROM area", &area, error)) return false;
    if (sqlite3_step(area.s) != SQLITE_ROW) return *error = "damaged area file: no area row", false;
    out_ << "{\n  \"name\": " << ojson(col_utf8(area.s, 0)).dump()
         << ",\n  \"notation\": " << sqlite3_column_int(area.s, 1)
         << ",\n  \"precision\": " << sqlite3_column_int(area.s, 2) << ",\n";
    return markers(error) && models(error) && pieces(error) && orders(error) && finish(error);
  }

 private:
  bool prepare_all(std::string* error) {
    return prepare(db_, "SELECT id FROM markers ORDER BY id", &marker_ids_, error) &&
           prepare(db_,
                   (std::string("SELECT m.name, m.modified, m.created, m.prev_modified, m.user_last_mod, "
                                "m.user_created, m.user_prev_mod, m.byte_size1, m.byte_size2, m.header_name, "
                                "m.description, m.order_name, m.order_number, m.lay_limits, m.annotation, "
                                "m.block_buffer, m.matching, m.notch, m.width, m.length, m.util, m.target_util, "
                                "m.total_perimeter, m.stripe_o, m.stripe_o2, m.stripe_o3, m.stripe_rpt, m.plaid_o, "
                                "m.plaid_o2, m.plaid_o3, m.plaid_rpt, m.shrink_stretch_x, m.shrink_stretch_y, "
                                "m.added, m.total_corners, m.total_notches, m.five_star, m.sizes, m.added_sizes,") +
                    kFaultJoin +
                    " FROM markers m LEFT JOIN faults f ON f.kind = 'marker' AND f.item_id = m.id WHERE m.id = ?1")
                       .c_str(),
                   &marker_, error) &&
           prepare(db_,
                   "SELECT straight_perimeter, curved_perimeter, total_internal, straight_internal, "
                   "curved_internal, placed_area, placed_perimeter, area_term, net_area, placed_pieces, "
                   "unplaced_pieces, placed_notches, placed_corners, notch_counts, internal_counts, "
                   "point_attribute_counts FROM marker_analysis WHERE marker_id = ?1",
                   &analysis_, error) &&
           prepare(db_,
                   "SELECT name, category, area, perimeter, size FROM marker_pieces WHERE marker_id = ?1 "
                   "ORDER BY position",
                   &marker_pieces_, error) &&
           prepare(db_,
                   "SELECT piece, right_hand, override, size, model FROM overrides WHERE marker_id = ?1 "
                   "ORDER BY position",
                   &overrides_, error) &&
           prepare(db_, "SELECT start, length FROM splices WHERE marker_id = ?1 ORDER BY position", &splices_,
                   error) &&
           prepare(db_,
                   "SELECT position, name, alteration, dynamic, size_code, fabric, add_piece_bundle FROM "
                   "order_models WHERE owner = ?1 AND owner_id = ?2 ORDER BY position",
                   &list_models_, error) &&
           prepare(db_,
                   "SELECT name FROM order_model_options WHERE owner = ?1 AND owner_id = ?2 AND "
                   "model_position = ?3 ORDER BY position",
                   &list_options_, error) &&
           prepare(db_,
                   "SELECT size, quantity, cutdown, half_piece, base_size, direction, placed FROM "
                   "order_model_sizes WHERE owner = ?1 AND owner_id = ?2 AND model_position = ?3 ORDER BY position",
                   &list_sizes_, error);
  }

  bool fail_db(std::string* error) {
    *error = std::string("cannot read the area: ") + sqlite3_errmsg(db_);
    return false;
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

  bool model_list(const char* owner, int64_t id, ojson* out, std::string* error) {
    *out = ojson::array();
    sqlite3_stmt* s = list_models_.s;
    sqlite3_reset(s);
    sqlite3_bind_text(s, 1, owner, -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, id);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      ojson m;
      int64_t position = sqlite3_column_int64(s, 0);
      m["name"] = col_utf8(s, 1);
      m["alteration"] = col_utf8(s, 2);
      m["dynamic"] = col_utf8(s, 3);
      m["size_code"] = col_utf8(s, 4);
      m["fabric"] = col_utf8(s, 5);
      m["add_piece_bundle"] = sqlite3_column_int(s, 6);
      ojson options = ojson::array();
      sqlite3_stmt* o = list_options_.s;
      sqlite3_reset(o);
      sqlite3_bind_text(o, 1, owner, -1, SQLITE_STATIC);
      sqlite3_bind_int64(o, 2, id);
      sqlite3_bind_int64(o, 3, position);
      while (sqlite3_step(o) == SQLITE_ROW) options.push_back(col_utf8(o, 0));
      m["options"] = std::move(options);
      ojson sizes = ojson::array();
      sqlite3_stmt* z = list_sizes_.s;
      sqlite3_reset(z);
      sqlite3_bind_text(z, 1, owner, -1, SQLITE_STATIC);
      sqlite3_bind_int64(z, 2, id);
      sqlite3_bind_int64(z, 3, position);
      while (sqlite3_step(z) == SQLITE_ROW) {
        ojson e;
        e["size"] = col_utf8(z, 0);
        e["quantity"] = sqlite3_column_int(z, 1);
        e["cutdown"] = col_utf8(z, 2);
        e["half_piece"] = col_utf8(z, 3);
        e["base_size"] = col_utf8(z, 4);
        e["direction"] = sqlite3_column_int(z, 5);
        e["placed"] = sqlite3_column_int(z, 6);
        sizes.push_back(std::move(e));
      }
      m["sizes"] = std::move(sizes);
      out->push_back(std::move(m));
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    return true;
  }

  static ojson counts_json(sqlite3_stmt* s, int col) {
    ojson a = ojson::array();
    std::string t = col_text(s, col);
    const char* p = t.c_str();
    while (*p == '[' || *p == ' ') ++p;
    while (*p && *p != ']') {
      char* end = nullptr;
      long v = std::strtol(p, &end, 10);
      if (end == p) break;
      a.push_back(v);
      p = end;
      while (*p == ',' || *p == ' ') ++p;
    }
    return a;
  }

  bool markers(std::string* error) {
    open_list("markers");
    int rc;
    while ((rc = sqlite3_step(marker_ids_.s)) == SQLITE_ROW) {
      int64_t id = sqlite3_column_int64(marker_ids_.s, 0);
      sqlite3_stmt* s = marker_.s;
      sqlite3_reset(s);
      sqlite3_bind_int64(s, 1, id);
      if (sqlite3_step(s) != SQLITE_ROW) return fail_db(error);
      ojson o;
      common_json(o, s);
      o["byte_size"] = {sqlite3_column_int(s, 7), sqlite3_column_int(s, 8)};
      ojson h;
      int c = 9;
      for (const auto& f : kHeaderTexts) h[f.key] = col_utf8(s, c++);
      // The query lists the reals and ints in the order of the tables.
      for (const auto& f : kHeaderReals) h[f.key] = sqlite3_column_double(s, c++);
      for (const auto& f : kHeaderInts) h[f.key] = sqlite3_column_int(s, c++);
      o["header"] = std::move(h);
      sqlite3_stmt* a = analysis_.s;
      sqlite3_reset(a);
      sqlite3_bind_int64(a, 1, id);
      ojson an;
      if (sqlite3_step(a) == SQLITE_ROW) {
        int k = 0;
        for (const auto& f : kAnalysisReals) an[f.key] = sqlite3_column_double(a, k++);
        for (const auto& f : kAnalysisInts) an[f.key] = sqlite3_column_int(a, k++);
        for (const auto& f : kAnalysisLists) an[f.key] = counts_json(a, k++);
      }
      o["analysis"] = std::move(an);
      ojson pieces = ojson::array();
      sqlite3_stmt* p = marker_pieces_.s;
      sqlite3_reset(p);
      sqlite3_bind_int64(p, 1, id);
      while (sqlite3_step(p) == SQLITE_ROW) {
        ojson e;
        e["name"] = col_utf8(p, 0);
        e["category"] = col_utf8(p, 1);
        e["area"] = sqlite3_column_double(p, 2);
        e["perimeter"] = sqlite3_column_double(p, 3);
        e["size"] = col_utf8(p, 4);
        pieces.push_back(std::move(e));
      }
      o["pieces"] = std::move(pieces);
      ojson overrides = ojson::array();
      sqlite3_stmt* v = overrides_.s;
      sqlite3_reset(v);
      sqlite3_bind_int64(v, 1, id);
      while (sqlite3_step(v) == SQLITE_ROW) {
        ojson e;
        e["piece"] = col_utf8(v, 0);
        e["right"] = sqlite3_column_int(v, 1);
        e["override"] = col_utf8(v, 2);
        e["size"] = col_utf8(v, 3);
        e["model"] = col_utf8(v, 4);
        overrides.push_back(std::move(e));
      }
      o["overrides"] = std::move(overrides);
      ojson splices = ojson::array();
      sqlite3_stmt* sp = splices_.s;
      sqlite3_reset(sp);
      sqlite3_bind_int64(sp, 1, id);
      while (sqlite3_step(sp) == SQLITE_ROW) {
        ojson e;
        e["start"] = sqlite3_column_double(sp, 0);
        e["length"] = sqlite3_column_double(sp, 1);
        splices.push_back(std::move(e));
      }
      o["splices"] = std::move(splices);
      ojson list;
      if (!model_list("marker", id, &list, error)) return false;
      o["models"] = std::move(list);
      ojson f = faults_json(s, c);
      if (!f.empty()) o["faults"] = std::move(f);
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(false);
    return true;
  }

  bool models(std::string* error) {
    Stmt ids, row, groups, mpieces;
    if (!prepare(db_,
                 (std::string("SELECT m.name, m.modified, m.created, m.prev_modified, m.user_last_mod, "
                              "m.user_created, m.user_prev_mod, m.comment1, m.comment2, m.id,") +
                  kFaultJoin +
                  " FROM models m LEFT JOIN faults f ON f.kind = 'model' AND f.item_id = m.id ORDER BY m.id")
                     .c_str(),
                 &row, error) ||
        !prepare(db_, "SELECT position, option FROM option_groups WHERE model_id = ?1 ORDER BY position", &groups,
                 error) ||
        !prepare(db_,
                 "SELECT option_group, name, fabric, type, as_in, mirror_x, mirror_y, mirror_xy, half, dy_sp, "
                 "add_piece FROM model_pieces WHERE model_id = ?1 ORDER BY option_group, position",
                 &mpieces, error))
      return false;
    open_list("models");
    int rc;
    while ((rc = sqlite3_step(row.s)) == SQLITE_ROW) {
      int64_t id = sqlite3_column_int64(row.s, 9);
      ojson o;
      common_json(o, row.s);
      o["comment1"] = col_utf8(row.s, 7);
      o["comment2"] = col_utf8(row.s, 8);
      ojson base = ojson::array();
      ojson gl = ojson::array();
      sqlite3_bind_int64(groups.s, 1, id);
      while (sqlite3_step(groups.s) == SQLITE_ROW) {
        ojson g;
        g["option"] = col_utf8(groups.s, 1);
        g["pieces"] = ojson::array();
        gl.push_back(std::move(g));
      }
      sqlite3_reset(groups.s);
      sqlite3_bind_int64(mpieces.s, 1, id);
      while (sqlite3_step(mpieces.s) == SQLITE_ROW) {
        sqlite3_stmt* p = mpieces.s;
        int64_t group = sqlite3_column_int64(p, 0);
        ojson e;
        e["name"] = col_utf8(p, 1);
        e["fabric"] = col_utf8(p, 2);
        static const char* const flags[] = {"type", "as_in", "mirror_x", "mirror_y",
                                            "mirror_xy", "half", "dy_sp", "add_piece"};
        for (int i = 0; i < 8; ++i) e[flags[i]] = sqlite3_column_int(p, 3 + i);
        if (group == 0) base.push_back(std::move(e));
        else if (group - 1 < static_cast<int64_t>(gl.size()))
          gl[static_cast<size_t>(group - 1)]["pieces"].push_back(std::move(e));
      }
      sqlite3_reset(mpieces.s);
      o["pieces"] = std::move(base);
      o["option_groups"] = std::move(gl);
      ojson f = faults_json(row.s, 10);
      if (!f.empty()) o["faults"] = std::move(f);
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(false);
    return true;
  }

  bool pieces(std::string* error) {
    Stmt row;
    if (!prepare(db_,
                 (std::string("SELECT p.name, p.category, p.description,") + kFaultJoin +
                  " FROM pieces p LEFT JOIN faults f ON f.kind = 'piece' AND f.item_id = p.id ORDER BY p.id")
                     .c_str(),
                 &row, error))
      return false;
    open_list("pieces");
    int rc;
    while ((rc = sqlite3_step(row.s)) == SQLITE_ROW) {
      ojson o;
      o["name"] = col_utf8(row.s, 0);
      o["category"] = col_utf8(row.s, 1);
      o["description"] = col_utf8(row.s, 2);
      ojson f = faults_json(row.s, 3);
      if (!f.empty()) o["faults"] = std::move(f);
      item(o);
    }
    if (rc != SQLITE_DONE) return fail_db(error);
    close_list(false);
    return true;
  }

  bool orders(std::string* error) {
    Stmt row;
    if (!prepare(db_,
                 (std::string("SELECT o.name, o.modified, o.created, o.prev_modified, o.user_last_mod, "
                              "o.user_created, o.user_prev_mod, o.id,") +
                  kFaultJoin +
                  " FROM orders o LEFT JOIN faults f ON f.kind = 'order' AND f.item_id = o.id ORDER BY o.id")
                     .c_str(),
                 &row, error))
      return false;
    open_list("orders");
    int rc;
    while ((rc = sqlite3_step(row.s)) == SQLITE_ROW) {
      ojson o;
      common_json(o, row.s);
      ojson list;
      if (!model_list("order", sqlite3_column_int64(row.s, 7), &list, error)) return false;
      o["models"] = std::move(list);
      ojson f = faults_json(row.s, 8);
      if (!f.empty()) o["faults"] = std::move(f);
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
  bool first_ = true;
  Stmt marker_ids_, marker_, analysis_, marker_pieces_, overrides_, splices_, list_models_, list_options_,
      list_sizes_;
};

}  // namespace

bool export_area_json(std::string_view name, std::ostream& out, std::string* error) {
  std::string scratch;
  if (!error) error = &scratch;
  std::string latin1;
  if (!utf8_to_latin1(name, &latin1)) latin1 = std::string(name);
  if (!valid_area_name(latin1)) return *error = "no area called " + std::string(name), false;
  std::string path = area_path(latin1);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) *error = "no area called " + std::string(name) + " in " + store_directory();
    else *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  Db d;
  if (!open_db(path, &d, error)) return false;
  AreaSummary s;
  if (!read_summary(path, &s, error)) return false;
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
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    if (errno != ENOENT && error) *error = "cannot read the store directory " + dir + ": " + std::strerror(errno);
    return out;
  }
  std::string suffix = kAreaFileSuffix;
  while (dirent* e = ::readdir(d)) {
    std::string file = e->d_name;
    if (file.empty() || file[0] == '.' || file.size() <= suffix.size() ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    AreaSummary s;
    std::string path = dir + "/" + file;
    std::string why;
    if (!read_summary(path, &s, &why)) {
      s = AreaSummary{};
      s.name = file.substr(0, file.size() - suffix.size());
      s.path = path;
      s.error = why;
    }
    out.push_back(std::move(s));
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(),
            [](const AreaSummary& a, const AreaSummary& b) { return pb_stricmp(a.name.c_str(), b.name.c_str()) < 0; });
  return out;
}

}  // namespace plotbase
