// `quire area check`: SQLite's own check of an area file, and every list of
// every item against the length its owner declares (what the readers compare
// at the end of each list they walk, here for the whole area at once).
#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "area_store.h"
#include "quire/records.h"
#include "store_names.h"

namespace quire::areas {

namespace {

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() {
    if (s) sqlite3_finalize(s);
  }
};

struct Db {
  sqlite3* db = nullptr;
  ~Db() {
    if (db) sqlite3_close_v2(db);
  }
};

std::string text_of(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s, col)))
           : std::string();
}

// Runs sql, handing each row to row; a failure of SQLite (the file too
// damaged to answer) becomes one problem naming what was being checked
// (checking), or SQLite's message alone when checking is null.
template <class Row>
void each_row(sqlite3* db, const std::string& sql, const char* checking, std::vector<std::string>* problems,
              Row row) {
  Stmt st;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st.s, nullptr);
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) row(st.s);
  }
  if (rc != SQLITE_DONE && rc != SQLITE_OK)
    problems->push_back(checking ? std::string(checking) + " could not be checked: " + sqlite3_errmsg(db)
                                 : std::string(sqlite3_errmsg(db)));
}

// One list of every owner: rows in table `rows` that match an owner `o`
// (`c` the row), counted and numbered, against the owner's declared count.
struct ListCheck {
  const char* owners;    // FROM clause of the owners, alias o
  const char* label;     // SQL text naming the owner
  const char* declared;  // SQL: the declared length
  const char* rows;      // the list's table
  const char* match;     // SQL: row c belongs to owner o
  const char* what;      // "pieces"
  const char* order;     // ORDER BY of the owners
};

// Names the owner of an order model row o (a marker's or an order's model list).
#define QUIRE_LIST_OWNER                                                                                     \
  "CASE o.owner WHEN 'marker' THEN 'marker ' || coalesce((SELECT name FROM markers WHERE id = o.owner_id), " \
  "'number ' || o.owner_id) ELSE 'order ' || coalesce((SELECT name FROM orders WHERE id = o.owner_id), "     \
  "'number ' || o.owner_id) END || ': model ' || o.position || ' (' || o.name || ') of its model list'"

constexpr ListCheck kListChecks[] = {
    {"markers o", "'marker ' || o.name", "o.piece_count", "marker_pieces", "c.marker_id = o.id", "pieces", "o.id"},
    {"markers o", "'marker ' || o.name", "o.override_count", "overrides", "c.marker_id = o.id", "overrides",
     "o.id"},
    {"markers o", "'marker ' || o.name", "o.splice_count", "splices", "c.marker_id = o.id", "splices", "o.id"},
    {"markers o", "'marker ' || o.name", "o.model_count", "order_models",
     "c.owner = 'marker' AND c.owner_id = o.id", "models in its model list", "o.id"},
    {"orders o", "'order ' || o.name", "o.model_count", "order_models", "c.owner = 'order' AND c.owner_id = o.id",
     "models in its model list", "o.id"},
    {"order_models o", QUIRE_LIST_OWNER, "o.option_count", "order_model_options",
     "c.owner = o.owner AND c.owner_id = o.owner_id AND c.model_position = o.position", "options",
     "o.owner, o.owner_id, o.position"},
    {"order_models o", QUIRE_LIST_OWNER, "o.size_count", "order_model_sizes",
     "c.owner = o.owner AND c.owner_id = o.owner_id AND c.model_position = o.position", "size entries",
     "o.owner, o.owner_id, o.position"},
    {"models o", "'model ' || o.name", "o.base_piece_count", "model_pieces",
     "c.model_id = o.id AND c.option_group = 0", "base pieces", "o.id"},
    {"models o", "'model ' || o.name", "o.group_count", "option_groups", "c.model_id = o.id", "option groups",
     "o.id"},
    {"option_groups o JOIN models m ON m.id = o.model_id",
     "'model ' || m.name || ': option group ' || (o.position + 1) || ' (' || o.option || ')'", "o.piece_count",
     "model_pieces", "c.model_id = o.model_id AND c.option_group = o.position + 1", "pieces",
     "o.model_id, o.position"},
};

#undef QUIRE_LIST_OWNER

// Rows that belong to no owner (the reports never see them, but they say
// the file is not as it was written).
struct StrayCheck {
  const char* rows;
  const char* stray;  // SQL: row c has no owner
  const char* owner;  // "marker"
};

constexpr StrayCheck kStrayChecks[] = {
    {"marker_analysis", "c.marker_id NOT IN (SELECT id FROM markers)", "marker"},
    {"marker_pieces", "c.marker_id NOT IN (SELECT id FROM markers)", "marker"},
    {"overrides", "c.marker_id NOT IN (SELECT id FROM markers)", "marker"},
    {"splices", "c.marker_id NOT IN (SELECT id FROM markers)", "marker"},
    {"order_models",
     "NOT (c.owner = 'marker' AND c.owner_id IN (SELECT id FROM markers) OR "
     "c.owner = 'order' AND c.owner_id IN (SELECT id FROM orders))",
     "marker or order"},
    {"order_model_options",
     "NOT EXISTS (SELECT 1 FROM order_models o WHERE o.owner = c.owner AND o.owner_id = c.owner_id AND "
     "o.position = c.model_position)",
     "model of a model list"},
    {"order_model_sizes",
     "NOT EXISTS (SELECT 1 FROM order_models o WHERE o.owner = c.owner AND o.owner_id = c.owner_id AND "
     "o.position = c.model_position)",
     "model of a model list"},
    {"option_groups", "c.model_id NOT IN (SELECT id FROM models)", "model"},
    {"model_pieces",
     "c.model_id NOT IN (SELECT id FROM models) OR c.option_group > 0 AND NOT EXISTS (SELECT 1 FROM "
     "option_groups g WHERE g.model_id = c.model_id AND g.position = c.option_group - 1)",
     "model or option group"},
};

// The count lists of the marker analysis: JSON arrays of at most slots
// 16-bit integers.
struct CountsCheck {
  const char* column;
  const char* what;
  size_t slots;
};

// The items of each kind are numbered 1..N with no gaps, N the area row's
// count: the readers walk them by number.
void check_numbering(sqlite3* db, const char* table, const char* word, int64_t declared,
                     std::vector<std::string>* problems) {
  std::string sql = std::string("SELECT count(*), coalesce(min(id), 1), coalesce(max(id), 0) FROM ") + table;
  each_row(db, sql, table, problems, [&](sqlite3_stmt* s) {
    const int64_t n = sqlite3_column_int64(s, 0), lo = sqlite3_column_int64(s, 1), hi = sqlite3_column_int64(s, 2);
    if (n != declared || lo != 1 || hi != n)
      problems->push_back(std::string(table) + ": " + std::to_string(n) + " " + word + "s stored, numbered " +
                          std::to_string(lo) + " to " + std::to_string(hi) + "; the area declares " +
                          std::to_string(declared));
  });
}

// The names of the tables and indexes by their first page, for SQLite's
// messages ("Tree 5 page 9 cell 3: Rowid 18 out of order").
std::string with_tree_name(sqlite3* db, const std::string& message) {
  if (message.compare(0, 5, "Tree ") != 0) return message;
  long root = std::strtol(message.c_str() + 5, nullptr, 10);
  std::string name;
  std::vector<std::string> ignored;
  each_row(db, "SELECT type, name FROM sqlite_schema WHERE rootpage = " + std::to_string(root), "the schema",
           &ignored, [&](sqlite3_stmt* s) { name = text_of(s, 0) + " " + text_of(s, 1); });
  return name.empty() ? message : name + ": " + message;
}

}  // namespace

quire::Status check_area(std::string_view name, AreaCheck* out) {
  *out = AreaCheck{};
  std::vector<std::string>& problems = out->problems;
  const std::string path = area_path(name);
  out->summary.path = path;
  FileStatus st = file_status(path);
  if (st.error == ENOENT || st.error == ENOTDIR)
    return quire::Status::failure(quire::StatusCode::kNotFound, "no area " + std::string(name) + " (" + path + ")",
                                  path);
  if (st.error != 0)
    return quire::Status::failure(quire::StatusCode::kStore,
                                  "cannot open the area file " + path + ": " + system_error_text(st.system_error),
                                  path);
  if (!st.regular)
    return quire::Status::failure(quire::StatusCode::kInvalid, path + ": not a regular file (an area file is one)",
                                  path);
  if (quire::Status settled = settle_unfinished_change(path); !settled.ok())
    return quire::Status::failure(settled.code(), path + ": " + settled.message(), path);
  Db d;
  if (sqlite3_open_v2(sqlite_file_name(path).c_str(), &d.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    const int system_error = d.db ? sqlite3_system_errno(d.db) : 0;
    return quire::Status::failure(quire::StatusCode::kStore,
                                  "cannot open the area file " + path + ": " +
                                      (system_error ? system_error_text(system_error)
                                                    : d.db ? sqlite3_errmsg(d.db) : "out of memory"),
                                  path);
  }
  sqlite3_exec(d.db, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
  sqlite3_exec(d.db, "BEGIN", nullptr, nullptr, nullptr);

  // The area row. A file that is no database, or holds no area, is not
  // checked further; an area row on a damaged page is one problem, and the
  // counts it declares are then unknown.
  bool area_row = false;
  std::string area_problem;
  std::vector<std::string> row_problems;
  each_row(d.db, area_row_select_sql(), nullptr, &row_problems, [&](sqlite3_stmt* s) {
    area_row = true;
    read_area_row(s, &out->summary);
    if (sqlite3_column_int(s, kAreaFormatColumn) != kAreaFormat)
      area_problem = "unknown area format " + std::to_string(sqlite3_column_int(s, kAreaFormatColumn));
  });
  const bool row_damaged = !row_problems.empty() && (sqlite3_errcode(d.db) & 0xff) == SQLITE_CORRUPT;
  if (!row_problems.empty() && !row_damaged) area_problem = row_problems.front();
  if ((!area_row && !row_damaged) || !area_problem.empty())
    return quire::Status::failure(quire::StatusCode::kCorrupt,
                                  path + ": not a readable area file: " +
                                      (area_problem.empty() ? std::string("no area row") : area_problem),
                                  path);
  if (row_damaged) problems.push_back("the area row cannot be read: " + row_problems.front());

  // SQLite's own check of every page, table and index. The full check also
  // compares every index with its table; measured on 20,000 markers it takes
  // well under a second, so it is always the full one.
  each_row(d.db, "PRAGMA integrity_check(100)", "the file's pages", &problems, [&](sqlite3_stmt* s) {
    std::string line = text_of(s, 0);
    // The first problem comes after a line naming the database.
    const std::string kDatabaseLine = "*** in database main ***\n";
    if (line.compare(0, kDatabaseLine.size(), kDatabaseLine) == 0) line.erase(0, kDatabaseLine.size());
    if (line != "ok") problems.push_back(with_tree_name(d.db, line));
  });

  if (area_row) {
    check_numbering(d.db, "markers", "marker", out->summary.markers, &problems);
    check_numbering(d.db, "models", "model", out->summary.models, &problems);
    check_numbering(d.db, "pieces", "piece", out->summary.pieces, &problems);
    check_numbering(d.db, "orders", "order", out->summary.orders, &problems);
  }

  for (const ListCheck& c : kListChecks) {
    std::string rows = std::string(" FROM ") + c.rows + " c WHERE " + c.match;
    std::string sql = std::string("SELECT label, n, d, e FROM (SELECT ") + c.label + " AS label, " + c.declared +
                      " AS d, (SELECT count(*)" + rows + ") AS n, (SELECT coalesce(max(c.position) + 1, 0)" +
                      rows + ") AS e FROM " + c.owners + " ORDER BY " + c.order + ") WHERE n <> d OR e <> d";
    each_row(d.db, sql, c.rows, &problems, [&](sqlite3_stmt* s) {
      const int64_t n = sqlite3_column_int64(s, 1), declared = sqlite3_column_int64(s, 2);
      std::string line = text_of(s, 0) + ": ";
      if (n != declared)
        line += std::to_string(n) + " " + c.what + " stored, " + std::to_string(declared) + " declared";
      else
        line += std::string(c.what) + " not numbered 0 to " + std::to_string(declared - 1);
      problems.push_back(line);
    });
  }

  for (const StrayCheck& c : kStrayChecks) {
    std::string sql = std::string("SELECT count(*) FROM ") + c.rows + " c WHERE " + c.stray;
    each_row(d.db, sql, c.rows, &problems, [&](sqlite3_stmt* s) {
      const int64_t n = sqlite3_column_int64(s, 0);
      if (n > 0)
        problems.push_back(std::string(c.rows) + ": " + std::to_string(n) + (n == 1 ? " row" : " rows") +
                           " of no " + c.owner);
    });
  }

  namespace ma = quire::records::marker_analysis;
  const CountsCheck counts[] = {{"notch_counts", "notch counts", ma::kNotchSlots},
                                {"internal_counts", "internal-mark counts", ma::kInternalSlots},
                                {"point_attribute_counts", "point-attribute counts", ma::kPointAttributeSlots}};
  for (const CountsCheck& c : counts) {
    const std::string col = std::string("a.") + c.column;
    std::string sql = "SELECT 'marker ' || coalesce(m.name, 'number ' || a.marker_id) FROM marker_analysis a "
                      "LEFT JOIN markers m ON m.id = a.marker_id WHERE " + col +
                      " IS NOT NULL AND CASE WHEN json_valid(" + col + ") AND json_type(" + col +
                      ") = 'array' THEN json_array_length(" + col + ") > " +
                      std::to_string(c.slots) + " OR EXISTS (SELECT 1 FROM json_each(" + col +
                      ") j WHERE j.type <> 'integer' OR j.value NOT BETWEEN -32768 AND 32767) ELSE 1 END "
                      "ORDER BY a.marker_id";
    each_row(d.db, sql, "marker_analysis", &problems, [&](sqlite3_stmt* s) {
      problems.push_back(text_of(s, 0) + ": " + c.what + ": not a list of at most " + std::to_string(c.slots) +
                         " whole numbers from -32768 to 32767");
    });
  }
  return {};
}

}  // namespace quire::areas
