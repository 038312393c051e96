// `quire area check`: SQLite's own check of an area file, and every list of
// every item against the length its owner declares (what the readers compare
// at the end of each list they walk, here for the whole area at once).
#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "area_store.h"
#include "quire/records.h"
#include "sqlite/sqlite_engine.h"
#include "store_access.h"
#include "store_names.h"

namespace quire::areas {

namespace {

// Runs sql on c, handing each row to row; a failure of the store (a file
// too damaged to answer) becomes one problem naming what was being checked
// (checking), or the store's message alone when checking is null. The
// failure, if any, goes to *failed.
template <class Row>
void each_row(store::Connection& c, const std::string& sql, const char* checking,
              std::vector<std::string>* problems, Row row, quire::Status* failed = nullptr) {
  std::unique_ptr<store::Statement> st;
  quire::Status status = c.prepare(sql, &st);
  bool more = status.ok();
  while (more) {
    status = st->step(&more);
    if (status.ok() && more) row(*st);
  }
  if (!status.ok()) {
    problems->push_back(checking ? std::string(checking) + " could not be checked: " + status.message()
                                 : status.message());
    if (failed) *failed = status;
  }
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
void check_numbering(store::Connection& c, const char* table, const char* word, int64_t declared,
                     std::vector<std::string>* problems) {
  std::string sql = std::string("SELECT count(*), coalesce(min(id), 1), coalesce(max(id), 0) FROM ") + table;
  each_row(c, sql, table, problems, [&](store::Statement& s) {
    const int64_t n = s.column_int64(0), lo = s.column_int64(1), hi = s.column_int64(2);
    if (n != declared || lo != 1 || hi != n)
      problems->push_back(std::string(table) + ": " + std::to_string(n) + " " + word + "s stored, numbered " +
                          std::to_string(lo) + " to " + std::to_string(hi) + "; the area declares " +
                          std::to_string(declared));
  });
}

// The names of the tables and indexes by their first page, for SQLite's
// messages ("Tree 5 page 9 cell 3: Rowid 18 out of order").
std::string with_tree_name(store::Connection& c, const std::string& message) {
  if (message.compare(0, 5, "Tree ") != 0) return message;
  long root = std::strtol(message.c_str() + 5, nullptr, 10);
  std::string name;
  std::vector<std::string> ignored;
  each_row(c, "SELECT type, name FROM sqlite_schema WHERE rootpage = " + std::to_string(root), "the schema",
           &ignored, [&](store::Statement& s) { name = column_string(s, 0) + " " + column_string(s, 1); });
  return name.empty() ? message : name + ": " + message;
}

// True when text is a list of at most slots whole numbers from -32768 to
// 32767 (JSON): what the marker analysis's count lists hold.
bool counts_list(const std::string& text, size_t slots) {
  const nlohmann::json list = nlohmann::json::parse(text, nullptr, false);
  if (!list.is_array() || list.size() > slots) return false;
  for (const nlohmann::json& v : list)
    if (!v.is_number_integer() || v.get<int64_t>() < -32768 || v.get<int64_t>() > 32767) return false;
  return true;
}

}  // namespace

quire::Status check_area(std::string_view name, AreaCheck* out) {
  *out = AreaCheck{};
  std::vector<std::string>& problems = out->problems;
  Store store;
  if (quire::Status opened = open_store(&store); !opened.ok()) return opened;
  const std::string path = store.place(name);
  out->summary.path = path;
  auto no_area = [&] {
    return quire::Status::failure(quire::StatusCode::kNotFound, "no area " + std::string(name) + " (" + path + ")",
                                  path);
  };
  if (store.folder) {
    FileStatus st = file_status(path);
    if (st.error == ENOENT || st.error == ENOTDIR) return no_area();
    if (st.error != 0)
      return quire::Status::failure(quire::StatusCode::kStore,
                                    "cannot open the area file " + path + ": " + system_error_text(st.system_error),
                                    path);
    if (!st.regular)
      return quire::Status::failure(quire::StatusCode::kInvalid, path + ": not a regular file (an area file is one)",
                                    path);
  }
  // A change left unfinished in an area file is rolled back as it is
  // opened, as the readers do.
  std::unique_ptr<store::Connection> opened;
  if (quire::Status status = store.engine->open_area(name, &opened); !status.ok()) return status;
  if (!opened) return no_area();
  store::Connection& c = *opened;
  if (store.folder) c.execute("PRAGMA cache_size = -16384");
  c.begin(store::TransactionMode::kReadSnapshot);

  // The area row. A file that is no database, or holds no area, is not
  // checked further; an area row on a damaged page is one problem, and the
  // counts it declares are then unknown.
  bool area_row = false;
  std::string area_problem;
  std::vector<std::string> row_problems;
  quire::Status row_failure;
  each_row(
      c, area_row_select_sql(), nullptr, &row_problems,
      [&](store::Statement& s) {
        area_row = true;
        read_area_row(s, &out->summary);
        if (s.column_int64(kAreaFormatColumn) != kAreaFormat)
          area_problem = "unknown area format " + std::to_string(s.column_int64(kAreaFormatColumn));
      },
      &row_failure);
  const bool row_damaged =
      !row_problems.empty() && store.folder && (row_failure.error() & 0xff) == SQLITE_CORRUPT;
  if (!row_problems.empty() && !row_damaged) area_problem = row_problems.front();
  if ((!area_row && !row_damaged) || !area_problem.empty())
    return quire::Status::failure(quire::StatusCode::kCorrupt,
                                  path + ": not a readable area file: " +
                                      (area_problem.empty() ? std::string("no area row") : area_problem),
                                  path);
  if (row_damaged) problems.push_back("the area row cannot be read: " + row_problems.front());

  if (store.folder) {
    // SQLite's own check of every page, table and index. The full check
    // also compares every index with its table; measured on 20,000 markers
    // it takes well under a second, so it is always the full one.
    each_row(c, "PRAGMA integrity_check(100)", "the file's pages", &problems, [&](store::Statement& s) {
      std::string line = column_string(s, 0);
      // The first problem comes after a line naming the database.
      const std::string kDatabaseLine = "*** in database main ***\n";
      if (line.compare(0, kDatabaseLine.size(), kDatabaseLine) == 0) line.erase(0, kDatabaseLine.size());
      if (line != "ok") problems.push_back(with_tree_name(c, line));
    });
  } else {
    out->unchecked.push_back("the pages of the area's tables: the server's own tools check them");
  }

  if (area_row) {
    check_numbering(c, "markers", "marker", out->summary.markers, &problems);
    check_numbering(c, "models", "model", out->summary.models, &problems);
    check_numbering(c, "pieces", "piece", out->summary.pieces, &problems);
    check_numbering(c, "orders", "order", out->summary.orders, &problems);
  }

  for (const ListCheck& l : kListChecks) {
    std::string rows = std::string(" FROM ") + l.rows + " c WHERE " + l.match;
    std::string sql = std::string("SELECT label, n, d, e FROM (SELECT ") + l.label + " AS label, " + l.declared +
                      " AS d, (SELECT count(*)" + rows + ") AS n, (SELECT coalesce(max(c.position) + 1, 0)" +
                      rows + ") AS e FROM " + l.owners + " ORDER BY " + l.order +
                      ") checked WHERE n <> d OR e <> d";
    each_row(c, sql, l.rows, &problems, [&](store::Statement& s) {
      const int64_t n = s.column_int64(1), declared = s.column_int64(2);
      std::string line = column_string(s, 0) + ": ";
      if (n != declared)
        line += std::to_string(n) + " " + l.what + " stored, " + std::to_string(declared) + " declared";
      else
        line += std::string(l.what) + " not numbered 0 to " + std::to_string(declared - 1);
      problems.push_back(line);
    });
  }

  for (const StrayCheck& l : kStrayChecks) {
    std::string sql = std::string("SELECT count(*) FROM ") + l.rows + " c WHERE " + l.stray;
    each_row(c, sql, l.rows, &problems, [&](store::Statement& s) {
      const int64_t n = s.column_int64(0);
      if (n > 0)
        problems.push_back(std::string(l.rows) + ": " + std::to_string(n) + (n == 1 ? " row" : " rows") +
                           " of no " + l.owner);
    });
  }

  namespace ma = quire::records::marker_analysis;
  const CountsCheck counts[] = {{"notch_counts", "notch counts", ma::kNotchSlots},
                                {"internal_counts", "internal-mark counts", ma::kInternalSlots},
                                {"point_attribute_counts", "point-attribute counts", ma::kPointAttributeSlots}};
  for (const CountsCheck& l : counts) {
    const std::string col = std::string("a.") + l.column;
    auto problem = [&](const std::string& marker) {
      problems.push_back(marker + ": " + l.what + ": not a list of at most " + std::to_string(l.slots) +
                         " whole numbers from -32768 to 32767");
    };
    const std::string marker = "'marker ' || coalesce(m.name, 'number ' || a.marker_id)";
    if (store.folder) {
      // SQLite reads the JSON itself.
      std::string sql = "SELECT " + marker + " FROM marker_analysis a "
                        "LEFT JOIN markers m ON m.id = a.marker_id WHERE " + col +
                        " IS NOT NULL AND CASE WHEN json_valid(" + col + ") AND json_type(" + col +
                        ") = 'array' THEN json_array_length(" + col + ") > " +
                        std::to_string(l.slots) + " OR EXISTS (SELECT 1 FROM json_each(" + col +
                        ") j WHERE j.type <> 'integer' OR j.value NOT BETWEEN -32768 AND 32767) ELSE 1 END "
                        "ORDER BY a.marker_id";
      each_row(c, sql, "marker_analysis", &problems, [&](store::Statement& s) { problem(column_string(s, 0)); });
    } else {
      std::string sql = "SELECT " + marker + ", " + col + " FROM marker_analysis a "
                        "LEFT JOIN markers m ON m.id = a.marker_id WHERE " + col + " IS NOT NULL ORDER BY a.marker_id";
      each_row(c, sql, "marker_analysis", &problems, [&](store::Statement& s) {
        if (!counts_list(column_string(s, 1), l.slots)) problem(column_string(s, 0));
      });
    }
  }
  return {};
}

}  // namespace quire::areas
