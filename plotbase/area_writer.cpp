// The area database schema and the writer that fills a new area file.
#include "area_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "internal.h"

namespace plotbase {

const char* const kAreaSchema = R"sql(
CREATE TABLE area (
  name TEXT NOT NULL,
  notation INTEGER NOT NULL,
  precision INTEGER NOT NULL,
  markers INTEGER NOT NULL,
  models INTEGER NOT NULL,
  pieces INTEGER NOT NULL,
  orders INTEGER NOT NULL,
  format INTEGER NOT NULL
);
CREATE TABLE markers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL COLLATE NOCASE UNIQUE,
  modified INTEGER NOT NULL,
  created INTEGER NOT NULL,
  prev_modified INTEGER NOT NULL,
  user_last_mod TEXT NOT NULL,
  user_created TEXT NOT NULL,
  user_prev_mod TEXT NOT NULL,
  byte_size1 INTEGER NOT NULL,
  byte_size2 INTEGER NOT NULL,
  header_name TEXT NOT NULL,
  description TEXT NOT NULL,
  order_name TEXT NOT NULL,
  order_number TEXT NOT NULL,
  lay_limits TEXT NOT NULL,
  annotation TEXT NOT NULL,
  block_buffer TEXT NOT NULL,
  matching TEXT NOT NULL,
  notch TEXT NOT NULL,
  width REAL NOT NULL,
  length REAL NOT NULL,
  util REAL NOT NULL,
  target_util REAL NOT NULL,
  total_perimeter REAL NOT NULL,
  stripe_o REAL NOT NULL,
  stripe_o2 REAL NOT NULL,
  stripe_o3 REAL NOT NULL,
  stripe_rpt REAL NOT NULL,
  plaid_o REAL NOT NULL,
  plaid_o2 REAL NOT NULL,
  plaid_o3 REAL NOT NULL,
  plaid_rpt REAL NOT NULL,
  shrink_stretch_x REAL NOT NULL,
  shrink_stretch_y REAL NOT NULL,
  added INTEGER NOT NULL,
  total_corners INTEGER NOT NULL,
  total_notches INTEGER NOT NULL,
  five_star INTEGER NOT NULL,
  sizes INTEGER NOT NULL,
  added_sizes INTEGER NOT NULL,
  piece_count INTEGER NOT NULL,
  override_count INTEGER NOT NULL,
  splice_count INTEGER NOT NULL,
  model_count INTEGER NOT NULL
);
CREATE TABLE marker_analysis (
  marker_id INTEGER PRIMARY KEY,
  straight_perimeter REAL NOT NULL,
  curved_perimeter REAL NOT NULL,
  total_internal REAL NOT NULL,
  straight_internal REAL NOT NULL,
  curved_internal REAL NOT NULL,
  placed_area REAL NOT NULL,
  placed_perimeter REAL NOT NULL,
  area_term REAL NOT NULL,
  net_area REAL NOT NULL,
  placed_pieces INTEGER NOT NULL,
  unplaced_pieces INTEGER NOT NULL,
  placed_notches INTEGER NOT NULL,
  placed_corners INTEGER NOT NULL,
  notch_counts TEXT NOT NULL,
  internal_counts TEXT NOT NULL,
  point_attribute_counts TEXT NOT NULL
);
CREATE TABLE marker_pieces (
  marker_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  category TEXT NOT NULL,
  area REAL NOT NULL,
  perimeter REAL NOT NULL,
  size TEXT NOT NULL,
  PRIMARY KEY (marker_id, position)
) WITHOUT ROWID;
CREATE TABLE overrides (
  marker_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  piece TEXT NOT NULL,
  right_hand INTEGER NOT NULL,
  override TEXT NOT NULL,
  size TEXT NOT NULL,
  model TEXT NOT NULL,
  PRIMARY KEY (marker_id, position)
) WITHOUT ROWID;
CREATE TABLE splices (
  marker_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  start REAL NOT NULL,
  length REAL NOT NULL,
  PRIMARY KEY (marker_id, position)
) WITHOUT ROWID;
CREATE TABLE order_models (
  owner TEXT NOT NULL,
  owner_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  alteration TEXT NOT NULL,
  dynamic TEXT NOT NULL,
  size_code TEXT NOT NULL,
  fabric TEXT NOT NULL,
  add_piece_bundle INTEGER NOT NULL,
  option_count INTEGER NOT NULL,
  size_count INTEGER NOT NULL,
  PRIMARY KEY (owner, owner_id, position)
) WITHOUT ROWID;
CREATE TABLE order_model_options (
  owner TEXT NOT NULL,
  owner_id INTEGER NOT NULL,
  model_position INTEGER NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  PRIMARY KEY (owner, owner_id, model_position, position)
) WITHOUT ROWID;
CREATE TABLE order_model_sizes (
  owner TEXT NOT NULL,
  owner_id INTEGER NOT NULL,
  model_position INTEGER NOT NULL,
  position INTEGER NOT NULL,
  size TEXT NOT NULL,
  quantity INTEGER NOT NULL,
  cutdown TEXT NOT NULL,
  half_piece TEXT NOT NULL,
  base_size TEXT NOT NULL,
  direction INTEGER NOT NULL,
  placed INTEGER NOT NULL,
  PRIMARY KEY (owner, owner_id, model_position, position)
) WITHOUT ROWID;
CREATE TABLE models (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL COLLATE NOCASE UNIQUE,
  modified INTEGER NOT NULL,
  created INTEGER NOT NULL,
  prev_modified INTEGER NOT NULL,
  user_last_mod TEXT NOT NULL,
  user_created TEXT NOT NULL,
  user_prev_mod TEXT NOT NULL,
  comment1 TEXT NOT NULL,
  comment2 TEXT NOT NULL,
  base_piece_count INTEGER NOT NULL,
  group_count INTEGER NOT NULL
);
CREATE TABLE option_groups (
  model_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  option TEXT NOT NULL,
  piece_count INTEGER NOT NULL,
  PRIMARY KEY (model_id, position)
) WITHOUT ROWID;
CREATE TABLE model_pieces (
  model_id INTEGER NOT NULL,
  option_group INTEGER NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  fabric TEXT NOT NULL,
  type INTEGER NOT NULL,
  as_in INTEGER NOT NULL,
  mirror_x INTEGER NOT NULL,
  mirror_y INTEGER NOT NULL,
  mirror_xy INTEGER NOT NULL,
  half INTEGER NOT NULL,
  dy_sp INTEGER NOT NULL,
  add_piece INTEGER NOT NULL,
  PRIMARY KEY (model_id, option_group, position)
) WITHOUT ROWID;
CREATE TABLE pieces (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL COLLATE NOCASE UNIQUE,
  category TEXT NOT NULL,
  description TEXT NOT NULL
);
CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL COLLATE NOCASE UNIQUE,
  modified INTEGER NOT NULL,
  created INTEGER NOT NULL,
  prev_modified INTEGER NOT NULL,
  user_last_mod TEXT NOT NULL,
  user_created TEXT NOT NULL,
  user_prev_mod TEXT NOT NULL,
  model_count INTEGER NOT NULL
);
CREATE TABLE faults (
  kind TEXT NOT NULL,
  item_id INTEGER NOT NULL,
  open INTEGER NOT NULL,
  close INTEGER NOT NULL,
  header INTEGER NOT NULL,
  header_ex INTEGER NOT NULL,
  analysis INTEGER NOT NULL,
  ordmod INTEGER NOT NULL,
  model INTEGER NOT NULL,
  piece_at INTEGER,
  override_at INTEGER,
  splice_at INTEGER,
  model_list_at INTEGER,
  PRIMARY KEY (kind, item_id)
) WITHOUT ROWID;
)sql";

namespace {

std::string placeholders(int n, int first = 1) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ", ";
    s += '?';
    s += std::to_string(first + i);
  }
  return s;
}

void bind_text(sqlite3_stmt* s, int i, const std::string& t) {
  sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
}

std::string counts_text(const std::vector<int32_t>& v) {
  size_t n = v.size();
  while (n > 0 && v[n - 1] == 0) --n;
  std::string s = "[";
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ',';
    s += std::to_string(v[i]);
  }
  return s + "]";
}

std::string errno_text() { return std::strerror(errno); }

}  // namespace

AreaWriter::~AreaWriter() { abandon(); }

void AreaWriter::abandon() {
  for (sqlite3_stmt*& s : ins_) {
    if (s) sqlite3_finalize(s);
    s = nullptr;
  }
  if (db_) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    ::unlink((temp_path_ + "-journal").c_str());
    temp_path_.clear();
  }
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

bool AreaWriter::prepare(sqlite3_stmt** s, const std::string& sql, std::string* error) {
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, s, nullptr) != SQLITE_OK) {
    *error = std::string("cannot write the area file: ") + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool AreaWriter::step(sqlite3_stmt* s, std::string* error) {
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) {
    *error = std::string("cannot write the area file: ") + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool AreaWriter::begin(const std::string& name, int32_t notation, int32_t precision, std::string* error) {
  abandon();
  name_ = name;
  notation_ = notation;
  precision_ = precision;
  for (int64_t& c : counts_) c = 0;
  std::string dir = store_directory();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    *error = "cannot create the store directory " + dir + ": " + ec.message();
    return false;
  }
  final_path_ = dir + "/" + area_file_name(name);
  std::random_device rd;
  temp_path_ = dir + "/.tmp-" + std::to_string(::getpid()) + "-" + std::to_string(rd()) + "-" +
               area_file_name(name);
  // Create the file first so that an unwritable store is named as such.
  int fd = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot write to the store directory " + dir + ": " + errno_text();
    temp_path_.clear();
    return false;
  }
  ::close(fd);
  if (sqlite3_open_v2(temp_path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    *error = "cannot write to the store directory " + dir + ": " + (db_ ? sqlite3_errmsg(db_) : "");
    abandon();
    return false;
  }
  // A new private file that is renamed into place only when complete: no
  // journal or syncing is needed while it is filled.
  if (!exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
            "PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY;",
            error) ||
      !exec(kAreaSchema, error) || !exec("BEGIN", error)) {
    abandon();
    return false;
  }
  std::string marker_columns =
      "id, name, modified, created, prev_modified, user_last_mod, user_created, user_prev_mod, "
      "byte_size1, byte_size2";
  int n = 10;
  for (const auto& f : kHeaderTexts) {
    marker_columns += std::string(", ") + (std::strcmp(f.key, "name") == 0 ? "header_name" : f.key);
    ++n;
  }
  for (const auto& f : kHeaderReals) marker_columns += std::string(", ") + f.key, ++n;
  for (const auto& f : kHeaderInts) marker_columns += std::string(", ") + f.key, ++n;
  marker_columns += ", piece_count, override_count, splice_count, model_count";
  n += 4;
  std::string analysis_columns = "marker_id";
  int na = 1;
  for (const auto& f : kAnalysisReals) analysis_columns += std::string(", ") + f.key, ++na;
  for (const auto& f : kAnalysisInts) analysis_columns += std::string(", ") + f.key, ++na;
  for (const auto& f : kAnalysisLists) analysis_columns += std::string(", ") + f.key, ++na;
  const std::string common =
      "id, name, modified, created, prev_modified, user_last_mod, user_created, user_prev_mod";
  bool ok =
      prepare(&ins_[kInsMarker], "INSERT INTO markers (" + marker_columns + ") VALUES (" + placeholders(n) + ")",
              error) &&
      prepare(&ins_[kInsAnalysis],
              "INSERT INTO marker_analysis (" + analysis_columns + ") VALUES (" + placeholders(na) + ")", error) &&
      prepare(&ins_[kInsMarkerPiece],
              "INSERT INTO marker_pieces (marker_id, position, name, category, area, perimeter, size) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
              error) &&
      prepare(&ins_[kInsOverride],
              "INSERT INTO overrides (marker_id, position, piece, right_hand, override, size, model) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
              error) &&
      prepare(&ins_[kInsSplice], "INSERT INTO splices (marker_id, position, start, length) VALUES (?1, ?2, ?3, ?4)",
              error) &&
      prepare(&ins_[kInsListModel],
              "INSERT INTO order_models (owner, owner_id, position, name, alteration, dynamic, size_code, "
              "fabric, add_piece_bundle, option_count, size_count) VALUES (" + placeholders(11) + ")",
              error) &&
      prepare(&ins_[kInsListOption],
              "INSERT INTO order_model_options (owner, owner_id, model_position, position, name) "
              "VALUES (?1, ?2, ?3, ?4, ?5)",
              error) &&
      prepare(&ins_[kInsListSize],
              "INSERT INTO order_model_sizes (owner, owner_id, model_position, position, size, quantity, "
              "cutdown, half_piece, base_size, direction, placed) VALUES (" + placeholders(11) + ")",
              error) &&
      prepare(&ins_[kInsModel],
              "INSERT INTO models (" + common + ", comment1, comment2, base_piece_count, group_count) VALUES (" +
                  placeholders(12) + ")",
              error) &&
      prepare(&ins_[kInsGroup],
              "INSERT INTO option_groups (model_id, position, option, piece_count) VALUES (?1, ?2, ?3, ?4)",
              error) &&
      prepare(&ins_[kInsModelPiece],
              "INSERT INTO model_pieces (model_id, option_group, position, name, fabric, type, as_in, mirror_x, "
              "mirror_y, mirror_xy, half, dy_sp, add_piece) VALUES (" + placeholders(13) + ")",
              error) &&
      prepare(&ins_[kInsPiece], "INSERT INTO pieces (id, name, category, description) VALUES (?1, ?2, ?3, ?4)",
              error) &&
      prepare(&ins_[kInsOrder], "INSERT INTO orders (" + common + ", model_count) VALUES (" + placeholders(9) + ")",
              error) &&
      prepare(&ins_[kInsFaults],
              "INSERT INTO faults (kind, item_id, open, close, header, header_ex, analysis, ordmod, model, "
              "piece_at, override_at, splice_at, model_list_at) VALUES (" + placeholders(13) + ")",
              error);
  if (!ok) abandon();
  return ok;
}

bool AreaWriter::add_common(sqlite3_stmt* s, int64_t id, const ItemCommon& item) {
  sqlite3_bind_int64(s, 1, id);
  bind_text(s, 2, item.name);
  sqlite3_bind_int(s, 3, item.modified);
  sqlite3_bind_int(s, 4, item.created);
  sqlite3_bind_int(s, 5, item.prev_modified);
  bind_text(s, 6, item.user_last_mod);
  bind_text(s, 7, item.user_created);
  bind_text(s, 8, item.user_prev_mod);
  return true;
}

bool AreaWriter::add_faults(const char* kind, int64_t id, const FaultSpec& f, std::string* error) {
  if (!f.any()) return true;
  sqlite3_stmt* s = ins_[kInsFaults];
  sqlite3_bind_text(s, 1, kind, -1, SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, id);
  int i = 3;
  for (bool b : {f.open, f.close, f.header, f.header_ex, f.analysis, f.ordmod, f.model})
    sqlite3_bind_int(s, i++, b ? 1 : 0);
  for (int64_t v : {f.piece_at, f.override_at, f.splice_at, f.model_list_at}) {
    if (v >= 0) sqlite3_bind_int64(s, i++, v);
    else sqlite3_bind_null(s, i++);
  }
  return step(s, error);
}

bool AreaWriter::add_model_list(const char* owner, int64_t id, const std::vector<OrderModelData>& models,
                                std::string* error) {
  for (size_t m = 0; m < models.size(); ++m) {
    const OrderModelData& om = models[m];
    sqlite3_stmt* s = ins_[kInsListModel];
    sqlite3_bind_text(s, 1, owner, -1, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, id);
    sqlite3_bind_int64(s, 3, static_cast<int64_t>(m));
    bind_text(s, 4, om.name);
    bind_text(s, 5, om.alteration);
    bind_text(s, 6, om.dynamic);
    bind_text(s, 7, om.size_code);
    bind_text(s, 8, om.fabric);
    sqlite3_bind_int(s, 9, om.add_piece_bundle);
    sqlite3_bind_int64(s, 10, static_cast<int64_t>(om.options.size()));
    sqlite3_bind_int64(s, 11, static_cast<int64_t>(om.sizes.size()));
    if (!step(s, error)) return false;
    for (size_t o = 0; o < om.options.size(); ++o) {
      s = ins_[kInsListOption];
      sqlite3_bind_text(s, 1, owner, -1, SQLITE_STATIC);
      sqlite3_bind_int64(s, 2, id);
      sqlite3_bind_int64(s, 3, static_cast<int64_t>(m));
      sqlite3_bind_int64(s, 4, static_cast<int64_t>(o));
      bind_text(s, 5, om.options[o]);
      if (!step(s, error)) return false;
    }
    for (size_t z = 0; z < om.sizes.size(); ++z) {
      const SizeEntryData& e = om.sizes[z];
      s = ins_[kInsListSize];
      sqlite3_bind_text(s, 1, owner, -1, SQLITE_STATIC);
      sqlite3_bind_int64(s, 2, id);
      sqlite3_bind_int64(s, 3, static_cast<int64_t>(m));
      sqlite3_bind_int64(s, 4, static_cast<int64_t>(z));
      bind_text(s, 5, e.size);
      sqlite3_bind_int(s, 6, e.quantity);
      bind_text(s, 7, e.cutdown);
      bind_text(s, 8, e.half_piece);
      bind_text(s, 9, e.base_size);
      sqlite3_bind_int(s, 10, e.direction);
      sqlite3_bind_int(s, 11, e.placed);
      if (!step(s, error)) return false;
    }
  }
  return true;
}

bool AreaWriter::add_marker(int64_t id, const MarkerData& m, std::string* error) {
  sqlite3_stmt* s = ins_[kInsMarker];
  add_common(s, id, m);
  int i = 9;
  sqlite3_bind_int(s, i++, m.byte_size[0]);
  sqlite3_bind_int(s, i++, m.byte_size[1]);
  for (const auto& f : kHeaderTexts) bind_text(s, i++, m.header.*f.member);
  for (const auto& f : kHeaderReals) sqlite3_bind_double(s, i++, m.header.*f.member);
  for (const auto& f : kHeaderInts) sqlite3_bind_int(s, i++, m.header.*f.member);
  sqlite3_bind_int64(s, i++, static_cast<int64_t>(m.pieces.size()));
  sqlite3_bind_int64(s, i++, static_cast<int64_t>(m.overrides.size()));
  sqlite3_bind_int64(s, i++, static_cast<int64_t>(m.splices.size()));
  sqlite3_bind_int64(s, i++, static_cast<int64_t>(m.models.size()));
  if (!step(s, error)) return false;

  s = ins_[kInsAnalysis];
  i = 1;
  sqlite3_bind_int64(s, i++, id);
  for (const auto& f : kAnalysisReals) sqlite3_bind_double(s, i++, m.analysis.*f.member);
  for (const auto& f : kAnalysisInts) sqlite3_bind_int(s, i++, m.analysis.*f.member);
  std::string lists[3];
  for (int l = 0; l < 3; ++l) {
    lists[l] = counts_text(m.analysis.*kAnalysisLists[l].member);
    bind_text(s, i++, lists[l]);
  }
  if (!step(s, error)) return false;

  for (size_t p = 0; p < m.pieces.size(); ++p) {
    const MarkerPieceData& mp = m.pieces[p];
    s = ins_[kInsMarkerPiece];
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(p));
    bind_text(s, 3, mp.name);
    bind_text(s, 4, mp.category);
    sqlite3_bind_double(s, 5, mp.area);
    sqlite3_bind_double(s, 6, mp.perimeter);
    bind_text(s, 7, mp.size);
    if (!step(s, error)) return false;
  }
  for (size_t o = 0; o < m.overrides.size(); ++o) {
    const OverrideData& ov = m.overrides[o];
    s = ins_[kInsOverride];
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(o));
    bind_text(s, 3, ov.piece);
    sqlite3_bind_int(s, 4, ov.right);
    bind_text(s, 5, ov.override_text);
    bind_text(s, 6, ov.size);
    bind_text(s, 7, ov.model);
    if (!step(s, error)) return false;
  }
  for (size_t p = 0; p < m.splices.size(); ++p) {
    s = ins_[kInsSplice];
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(p));
    sqlite3_bind_double(s, 3, m.splices[p].start);
    sqlite3_bind_double(s, 4, m.splices[p].length);
    if (!step(s, error)) return false;
  }
  if (!add_model_list("marker", id, m.models, error)) return false;
  if (!add_faults("marker", id, m.faults, error)) return false;
  ++counts_[0];
  return true;
}

bool AreaWriter::add_model(int64_t id, const ModelData& m, std::string* error) {
  sqlite3_stmt* s = ins_[kInsModel];
  add_common(s, id, m);
  bind_text(s, 9, m.comment1);
  bind_text(s, 10, m.comment2);
  sqlite3_bind_int64(s, 11, static_cast<int64_t>(m.pieces.size()));
  sqlite3_bind_int64(s, 12, static_cast<int64_t>(m.option_groups.size()));
  if (!step(s, error)) return false;
  auto add_piece_row = [&](int64_t group, int64_t position, const ModelPieceData& p) {
    sqlite3_stmt* q = ins_[kInsModelPiece];
    sqlite3_bind_int64(q, 1, id);
    sqlite3_bind_int64(q, 2, group);
    sqlite3_bind_int64(q, 3, position);
    bind_text(q, 4, p.name);
    bind_text(q, 5, p.fabric);
    int i = 6;
    for (int32_t v : {p.type, p.as_in, p.mirror_x, p.mirror_y, p.mirror_xy, p.half, p.dy_sp, p.add_piece})
      sqlite3_bind_int(q, i++, v);
    return step(q, error);
  };
  for (size_t p = 0; p < m.pieces.size(); ++p)
    if (!add_piece_row(0, static_cast<int64_t>(p), m.pieces[p])) return false;
  for (size_t g = 0; g < m.option_groups.size(); ++g) {
    const OptionGroupData& og = m.option_groups[g];
    s = ins_[kInsGroup];
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, static_cast<int64_t>(g));
    bind_text(s, 3, og.option);
    sqlite3_bind_int64(s, 4, static_cast<int64_t>(og.pieces.size()));
    if (!step(s, error)) return false;
    for (size_t p = 0; p < og.pieces.size(); ++p)
      if (!add_piece_row(static_cast<int64_t>(g) + 1, static_cast<int64_t>(p), og.pieces[p])) return false;
  }
  if (!add_faults("model", id, m.faults, error)) return false;
  ++counts_[1];
  return true;
}

bool AreaWriter::add_piece(int64_t id, const PieceData& p, std::string* error) {
  sqlite3_stmt* s = ins_[kInsPiece];
  sqlite3_bind_int64(s, 1, id);
  bind_text(s, 2, p.name);
  bind_text(s, 3, p.category);
  bind_text(s, 4, p.description);
  if (!step(s, error)) return false;
  if (!add_faults("piece", id, p.faults, error)) return false;
  ++counts_[2];
  return true;
}

bool AreaWriter::add_order(int64_t id, const OrderData& o, std::string* error) {
  sqlite3_stmt* s = ins_[kInsOrder];
  add_common(s, id, o);
  sqlite3_bind_int64(s, 9, static_cast<int64_t>(o.models.size()));
  if (!step(s, error)) return false;
  if (!add_model_list("order", id, o.models, error)) return false;
  if (!add_faults("order", id, o.faults, error)) return false;
  ++counts_[3];
  return true;
}

bool AreaWriter::commit(std::string* error, std::string* final_path) {
  if (!db_) {
    *error = "no area being written";
    return false;
  }
  sqlite3_stmt* s = nullptr;
  if (!prepare(&s,
               "INSERT INTO area (name, notation, precision, markers, models, pieces, orders, format) "
               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
               error)) {
    abandon();
    return false;
  }
  bind_text(s, 1, name_);
  sqlite3_bind_int(s, 2, notation_);
  sqlite3_bind_int(s, 3, precision_);
  for (int i = 0; i < 4; ++i) sqlite3_bind_int64(s, 4 + i, counts_[i]);
  sqlite3_bind_int(s, 8, kAreaFormat);
  bool ok = step(s, error);
  sqlite3_finalize(s);
  if (!ok || !exec("COMMIT", error)) {
    abandon();
    return false;
  }
  for (sqlite3_stmt*& st : ins_) {
    sqlite3_finalize(st);
    st = nullptr;
  }
  if (sqlite3_close(db_) != SQLITE_OK) {
    *error = std::string("cannot complete the area file: ") + sqlite3_errmsg(db_);
    abandon();
    return false;
  }
  db_ = nullptr;
  // Make the file durable, then put it in place in one step.
  int fd = ::open(temp_path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  if (::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    *error = "cannot replace " + final_path_ + ": " + errno_text();
    abandon();
    return false;
  }
  temp_path_.clear();
  std::string dir = final_path_.substr(0, final_path_.rfind('/'));
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  if (final_path) *final_path = final_path_;
  return true;
}

}  // namespace plotbase
