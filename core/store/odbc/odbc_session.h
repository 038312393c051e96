// One ODBC connection to the server and the statements prepared on it: the
// parts of the server engine below Connection and Statement.
#ifndef QUIRE_STORE_ODBC_ODBC_SESSION_H_
#define QUIRE_STORE_ODBC_ODBC_SESSION_H_

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connection_string.h"
#include "engine.h"

namespace quire::store::odbc {

// The process's ODBC environment handle, shared by the sessions of an engine.
class Environment {
 public:
  static Status create(std::shared_ptr<Environment>* out);
  ~Environment();
  SQLHENV handle() const { return env_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
};

class OdbcStatement;

// One connection handle and what messages about it say. Statements hold it
// shared, so it outlives every statement prepared on it.
class Session {
 public:
  Session(std::shared_ptr<Environment> env, std::shared_ptr<const ConnectionSettings> settings);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects; a failure names the server and says the driver's reason.
  Status connect();
  SQLHDBC handle() const { return dbc_; }
  const ConnectionSettings& settings() const { return *settings_; }
  // "the server HOST:PORT database DB".
  const std::string& server() const { return server_; }

  // What the session's statements read and write, for messages: "the area
  // shop on the server ...", "the area directory on the server ...".
  void set_subject(std::string subject, std::string area) {
    subject_ = std::move(subject);
    area_ = std::move(area);
  }
  const std::string& subject() const { return subject_; }
  const std::string& area() const { return area_; }

  // The diagnostics of handle on one line, scrubbed of the password;
  // *state (when given) receives the first record's SQLSTATE.
  std::string reason(SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr) const;
  // "cannot ACTION SUBJECT: reason" as a kStore failure naming the area.
  Status failure(std::string_view action, SQLSMALLINT type, SQLHANDLE handle) const;
  Status failure_text(std::string_view action, std::string_view reason) const;
  // The reason of the last failure made by failure() or failure_text().
  const std::string& last_reason() const { return last_reason_; }

  // Manual commit from now on (a transaction starts with the next
  // statement) or back to autocommit; ending the transaction first.
  Status set_autocommit(bool on);
  Status end_transaction(bool commit);
  bool in_transaction() const { return !autocommit_; }

  // Inserts of a new area's rows are sent in batches (see OdbcStatement);
  // every other use of the session sends what is pending first, so that
  // it sees every row inserted before it.
  void add_pending(OdbcStatement* statement);
  void drop_pending(OdbcStatement* statement);
  // Sends every pending batch; the first failure (or one left by a
  // statement destroyed with rows pending) is the result.
  Status send_pending();
  // Keeps failure for the next send_pending() (a batch sent by a statement
  // being destroyed, which cannot report it itself).
  void keep_failure(Status failure) {
    if (pending_failure_.ok()) pending_failure_ = std::move(failure);
  }

 private:
  std::shared_ptr<Environment> env_;
  std::shared_ptr<const ConnectionSettings> settings_;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool autocommit_ = true;
  std::string server_, subject_, area_;
  mutable std::string last_reason_;
  std::vector<OdbcStatement*> pending_;
  Status pending_failure_;
};

// A statement prepared on a session: parameters bound from buffers it owns,
// rows fetched in blocks into buffers bound once per statement, texts as
// Latin-1 bytes (each byte one character of the server's text).
class OdbcStatement final : public Statement {
 public:
  // sql uses '?' markers; marker_params[i] is the parameter (from 1) the
  // i-th marker takes; params the number of parameters.
  // reads: the statement returns rows (its failures say "cannot read").
  OdbcStatement(std::shared_ptr<Session> session, SQLHSTMT stmt, std::vector<int> marker_params, int params,
                bool reads);
  ~OdbcStatement() override;

  void bind_int64(int param, int64_t value) override;
  void bind_double(int param, double value) override;
  void bind_text(int param, std::string_view text) override;
  void bind_null(int param) override;
  Status step(bool* row) override;
  bool column_is_null(int column) override;
  int64_t column_int64(int column) override;
  double column_double(int column) override;
  const char* column_text(int column, size_t* size = nullptr) override;
  void reset() override;

  // The number of columns of the current result (0 before the first step).
  int column_count() const { return static_cast<int>(columns_.size()); }

  // Runs of an INSERT into a new area are collected and sent in batches:
  // a run's step() takes a copy of its parameters, and the batch goes when
  // it is full, when the session is used for anything else, or when the
  // statement ends. Only for statements that return nothing.
  void send_in_batches() { batching_ = true; }
  // Sends the collected runs, if any; or forgets them (the transaction
  // they belong to ends without them).
  Status send_batch();
  void drop_batch();

 private:
  enum class Kind : uint8_t { kNone, kNull, kInt, kReal, kText };
  struct Param {
    Kind kind = Kind::kNone;
    int64_t i = 0;
    double d = 0;
    std::vector<SQLWCHAR> text;  // capacity only grows
    SQLLEN indicator = SQL_NULL_DATA;
    bool dirty = true;           // to be bound again before the next run
  };
  struct Column {
    Kind kind = Kind::kText;
    size_t chars = 0;              // kText: characters per cell (without the NUL)
    size_t want_chars = 0;         // kText: a larger cell wanted from the next block on
    std::vector<unsigned char> cells;  // rows_ cells of the bound C type
    std::vector<SQLLEN> indicators;
    std::string text;              // column_text's bytes for the current row
    uint64_t text_row = 0;         // the row text holds (row_serial_), 0 none
  };

  // A cell longer than its column's cells, read whole when its block came.
  struct LongCell {
    SQLULEN row;
    int column;
    std::string text;
  };

  // The collected parameters of one marker, column-wise.
  struct BatchColumn {
    Kind kind = Kind::kNone;
    size_t chars = 0;                  // kText: characters per cell
    std::vector<int64_t> ints;
    std::vector<double> reals;
    std::vector<SQLWCHAR> texts;
    std::vector<SQLLEN> indicators;
  };

  Status collect();
  Status run();
  Status describe_columns(SQLSMALLINT count);
  Status bind_column(int index);
  Status fetch_block();
  Status read_long_cell(SQLULEN row, int column, std::string* text);
  // The current row's cell of column, or null when there is none.
  Column* cell(int column);
  const std::string& cell_text(int column, Column& c);
  Status failure() const;
  void close_cursor();

  std::shared_ptr<Session> session_;
  SQLHSTMT stmt_;
  std::vector<int> marker_params_;
  std::vector<Param> params_;
  std::vector<Column> columns_;
  bool reads_;
  bool batching_ = false;
  std::vector<BatchColumn> batch_;  // one per marker
  SQLULEN batch_rows_ = 0;
  bool described_ = false, running_ = false, done_ = false, cursor_open_ = false, has_row_ = false;
  SQLULEN rows_ = 0;        // rows the column buffers hold
  SQLULEN block_ = 0;       // rows of the next block (up to rows_)
  SQLULEN bound_block_ = 1; // rows of a block as the driver has it now
  SQLULEN fetched_ = 0;     // rows in the current block
  SQLULEN next_ = 0;        // the next row of the block to step to
  SQLULEN at_ = 0;          // the current row of the block
  uint64_t row_serial_ = 0; // counts rows stepped to, for column_text's cache
  std::vector<LongCell> long_cells_;
  std::vector<SQLWCHAR> long_text_;
};

// Latin-1 bytes as UTF-16 code units and back (a unit past 0xFF, which no
// Latin-1 text holds, reads as '?').
void latin1_to_wide(std::string_view text, std::vector<SQLWCHAR>* out);
void wide_to_latin1(const SQLWCHAR* text, size_t units, std::string* out);

// sql with ?1, ?2, ... (or bare ?) rewritten to ODBC's '?' markers, each
// marker's parameter number appended to *marker_params; quoted texts,
// quoted names and comments are left alone. *params receives the highest
// parameter number.
std::string odbc_markers(std::string_view sql, std::vector<int>* marker_params, int* params);

// sql split into its statements at the ';' outside quotes and comments
// (empty statements left out).
std::vector<std::string> split_statements(std::string_view sql);

}  // namespace quire::store::odbc

#endif  // QUIRE_STORE_ODBC_ODBC_SESSION_H_
