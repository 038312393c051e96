// The area engine interface: how the storage library and area management
// reach the areas of a store, whatever keeps them. A store is a folder of
// SQLite area files (the default) or a database server reached through ODBC
// ("odbc:" and a connection string). Readers and writers speak SQL through
// Connection and Statement; the engine behind them decides where an area's
// tables are and how a new area takes the place of the old one.
//
// Every call returns a Status (or fills *out and returns one); nothing here
// prints. SQL given to prepare() uses numbered parameters ?1, ?2, ... each
// appearing once and in ascending order, and only what the tested servers
// and SQLite all accept; the table definitions come from the one declaration
// of the area tables (area_data.h) through sql_for(Dialect).
#ifndef QUIRE_STORE_ENGINE_H_
#define QUIRE_STORE_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quire/status.h"

namespace quire::store {

// The SQL spoken by a connection, where statements must differ (column
// types, case-blind name columns, tables without row ids).
enum class Dialect { kSqlite, kPostgres };

// The expression a statement compares and orders names by so that "Coat"
// and "COAT" are one name and names sort as SQLite's NOCASE sorts them:
// for SQLite the expression itself (its column is COLLATE NOCASE), for
// PostgreSQL its lower case (the server's text columns are COLLATE "C":
// ASCII letters fold, and texts sort by their bytes), which the unique
// index of a name column is made of. Used on both sides: "WHERE " +
// folded_name(d, "name") + " = " + folded_name(d, "?1").
inline std::string folded_name(Dialect dialect, std::string_view expression) {
  if (dialect == Dialect::kSqlite) return std::string(expression);
  return "lower(" + std::string(expression) + ")";
}

// One prepared statement. Parameters are numbered from 1, columns from 0.
// Bound texts are copied. A statement is used by one thread at a time.
class Statement {
 public:
  virtual ~Statement() = default;

  virtual void bind_int64(int param, int64_t value) = 0;
  virtual void bind_double(int param, double value) = 0;
  virtual void bind_text(int param, std::string_view text) = 0;
  // As bind_text, but the statement may keep the text where it is rather
  // than copy it: it must stay unchanged until the statement is stepped
  // and reset. A writer binding the fields of a record it holds uses it.
  virtual void bind_text_in_place(int param, std::string_view text) { bind_text(param, text); }
  virtual void bind_null(int param) = 0;

  // Runs the statement (the first call after binding or reset()) or moves
  // to its next row. OK with *row true: the row's columns may be read; OK
  // with *row false: there is no (further) row. A failure says why, naming
  // the store; after it the statement must be reset.
  virtual Status step(bool* row) = 0;

  // The current row's columns. A NULL reads as 0, 0.0 or an empty text.
  virtual bool column_is_null(int column) = 0;
  virtual int64_t column_int64(int column) = 0;
  virtual double column_double(int column) = 0;
  // A NUL-terminated text valid until the next step() or reset(); *size
  // (when given) receives its length in bytes.
  virtual const char* column_text(int column, size_t* size = nullptr) = 0;

  // Ends the current run; the bindings stay until bound again.
  virtual void reset() = 0;
};

// How a transaction reads: a report run reads in one read-only transaction
// with a stable snapshot (it sees an area as it was at its start, never half
// an import); a writer changes the store in one transaction.
enum class TransactionMode { kReadSnapshot, kWrite };

// One connection to one area (its tables, as the reader and the writer name
// them: "area", "markers", ...). Not shared between threads.
class Connection {
 public:
  virtual ~Connection() = default;

  virtual Dialect dialect() const = 0;
  // The statement for sql, prepared; kept by the caller as long as needed.
  virtual Status prepare(std::string_view sql, std::unique_ptr<Statement>* out) = 0;
  // Runs statements that return no rows (one or several, ';'-separated).
  virtual Status execute(std::string_view sql) = 0;
  virtual Status begin(TransactionMode mode) = 0;
  virtual Status commit() = 0;
  virtual Status rollback() = 0;
  // Where this connection's area is, for messages and for telling areas
  // apart between runs: the area file's path, or the server, database and
  // area name. Never holds a password.
  virtual std::string describe() const = 0;
  // Which data of its area this connection reads: two connections whose
  // versions are equal and not empty read the same data. Empty when the
  // engine cannot tell.
  virtual std::string version() const { return {}; }
  // False when the area this connection reads has been replaced or removed
  // since it was opened (a new connection reads what is there now). True
  // when the engine cannot tell.
  virtual bool is_current() { return true; }
};

// A new area being written: its tables exist (created from the declaration)
// and are empty; nothing of it is seen by readers until commit() puts it in
// the place of the area of its name, in one step. Destroying it without a
// commit leaves the store as it was.
class AreaTransaction {
 public:
  virtual ~AreaTransaction() = default;
  virtual Connection& connection() = 0;
  virtual Status commit() = 0;
  // Gives the new area the name its commit puts it in place under, instead
  // of the one begin_area had: an import may learn the area's name from the
  // text it reads only after the area's first rows. An engine that cannot
  // rename an area being written says so.
  virtual Status set_name(std::string_view name) {
    return Status::failure(StatusCode::kInternal, "this store cannot rename an area while it is written",
                           std::string(name));
  }
};

// A store of areas.
class Engine {
 public:
  virtual ~Engine() = default;

  // "the store /home/ann/.local/share/quire/store", "the server 10.0.0.5:5432
  // database patterns": for messages; never holds a password.
  virtual std::string describe() const = 0;
  // The stored names of every area, in no particular order.
  virtual Status list_areas(std::vector<std::string>* names) = 0;
  // Opens the area called name (case-blind) for reading. OK with *out null
  // when there is no such area.
  virtual Status open_area(std::string_view name, std::unique_ptr<Connection>* out) = 0;
  // Starts writing a new area called name (see AreaTransaction).
  virtual Status begin_area(std::string_view name, std::unique_ptr<AreaTransaction>* out) = 0;
  // Removes the area called name; OK with *removed false when there is none.
  virtual Status remove_area(std::string_view name, bool* removed) = 0;
};

// The CREATE TABLE statements of every area table (and, where a dialect
// needs them, the indexes that make names unique without regard to case),
// from the one declaration of the area tables, as the dialect writes them.
std::string sql_for(Dialect dialect);

// The engine a store setting names: "odbc:" and an ODBC connection string
// (a DSN or a driver string) for a server, anything else a store folder.
Status open_engine(std::string_view store_setting, std::unique_ptr<Engine>* out);

}  // namespace quire::store

#endif  // QUIRE_STORE_ENGINE_H_
