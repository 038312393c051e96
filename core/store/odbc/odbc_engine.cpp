// The server engine: connections to an area's schema, the area directory,
// and writing a new area beside the old one.
#include "odbc_engine.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include "odbc_session.h"
#include "pg_schema.h"
#include "store_layout.h"

namespace quire::store {

namespace odbc {

namespace {

// The directory's name and the comment that marks it as this layout's.
constexpr const char* kDirectoryTable = "quire_areas";
constexpr const char* kSchemaSequence = "quire_area_schemas";
constexpr const char* kDirectoryComment = "quire area directory, format 1";
constexpr const char* kSchemaPrefix = "quire_area_";
// How long dropping a replaced area's schema waits for readers still in it
// before leaving it to a later writer.
constexpr const char* kDropWait = "SET lock_timeout = 200";

std::string quote_name(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// A number for the advisory lock that writers of one area name take.
int64_t name_lock(std::string_view key) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
  return static_cast<int64_t>(h);
}

using Rows = std::vector<std::vector<std::string>>;

}  // namespace

class OdbcConnection;

// The engine's connection to the area directory, shared with the area
// connections it opens, which ask it whether their area is still the one
// the directory names (from any thread: one at a time).
struct Directory {
  std::mutex mutex;
  std::unique_ptr<OdbcConnection> conn;
  std::string table;  // "schema".quire_areas
};

// A connection to the server: to an area's schema (reading it or writing a
// new one) or to the directory.
class OdbcConnection final : public Connection {
 public:
  explicit OdbcConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}

  Dialect dialect() const override { return Dialect::kPostgres; }

  Status prepare(std::string_view sql, std::unique_ptr<Statement>* out) override {
    out->reset();
    std::vector<int> markers;
    int params = 0;
    std::string text = odbc_markers(sql, &markers, &params);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, session_->handle(), &stmt)))
      return session_->failure("prepare a statement on", SQL_HANDLE_DBC, session_->handle());
    if (!SQL_SUCCEEDED(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())))) {
      Status status = session_->failure("prepare a statement on", SQL_HANDLE_STMT, stmt);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return status;
    }
    auto statement = std::make_unique<OdbcStatement>(session_, stmt, std::move(markers), params, reads_rows(sql));
    if (writing_area_ && inserts_only(sql)) statement->send_in_batches();
    *out = std::move(statement);
    return {};
  }

  // Each statement runs directly: no plan is kept on the server for it.
  Status execute(std::string_view sql) override {
    Status sent = session_->send_pending();
    if (!sent.ok()) return sent;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, session_->handle(), &stmt)))
      return session_->failure("run a statement on", SQL_HANDLE_DBC, session_->handle());
    Status status;
    for (std::string& one : split_statements(sql)) {
      SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(one.data()), static_cast<SQLINTEGER>(one.size()));
      if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        status = session_->failure(reads_rows(one) ? "read" : "write", SQL_HANDLE_STMT, stmt);
        break;
      }
      SQLFreeStmt(stmt, SQL_CLOSE);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return status;
  }

  Status begin(TransactionMode mode) override {
    if (writing_area_) return {};  // inside the area's own transaction
    if (session_->in_transaction())
      return session_->failure_text("begin a transaction on", "a transaction is open already");
    if (mode == TransactionMode::kWrite) return session_->set_autocommit(false);
    Status status;
    for (int attempt = 0; attempt < 3; ++attempt) {
      status = begin_snapshot();
      if (status.ok()) return status;
      session_->end_transaction(false);
      if (!retry_) break;
    }
    return status;
  }

  Status commit() override {
    if (writing_area_) return {};  // the area transaction commits
    return session_->end_transaction(true);
  }

  Status rollback() override {
    if (writing_area_)
      return session_->failure_text("roll back", "an area being written is abandoned by dropping its transaction");
    return session_->end_transaction(false);
  }

  std::string describe() const override {
    std::string text = session_->server();
    if (!session_->area().empty()) text += ", area " + session_->area();
    return text;
  }

  Session& session() { return *session_; }

  // Reads the area whose directory key is key: from schema now, and from
  // whatever schema the directory names when a read snapshot begins.
  void read_area(std::shared_ptr<Directory> directory, std::string key, std::string schema) {
    directory_ = std::move(directory);
    key_ = std::move(key);
    schema_ = opened_schema_ = std::move(schema);
  }

  // Which data of its area the connection reads: a committed area's schema
  // never changes, so its name tells the data apart.
  std::string version() const override {
    return schema_.empty() ? std::string() : session_->server() + " " + schema_;
  }

  // Whether the connection reads what the directory names for its area now:
  // false when a snapshot moved it to a newer schema than it was opened on,
  // or the directory names another schema or none; true when that cannot
  // be found out. The directory's own connection asks, outside any
  // snapshot of this one.
  bool is_current() override {
    if (!directory_ || key_.empty()) return true;
    if (schema_ != opened_schema_) return false;
    std::lock_guard<std::mutex> lock(directory_->mutex);
    Rows rows;
    if (!directory_->conn->run("SELECT schema_name FROM " + directory_->table + " WHERE name_key = ?1", {key_}, &rows)
             .ok())
      return true;
    return !rows.empty() && rows[0][0] == schema_;
  }
  void set_writing_area() { writing_area_ = true; }

  // Runs sql with texts bound as ?1, ?2, ...; the rows' columns as texts
  // into *rows when given.
  Status run(std::string_view sql, const std::vector<std::string>& texts, Rows* rows = nullptr) {
    if (rows) rows->clear();
    std::unique_ptr<Statement> stmt;
    Status status = prepare(sql, &stmt);
    if (!status.ok()) return status;
    for (size_t i = 0; i < texts.size(); ++i) stmt->bind_text(static_cast<int>(i + 1), texts[i]);
    auto* s = static_cast<OdbcStatement*>(stmt.get());
    for (;;) {
      bool row = false;
      status = s->step(&row);
      if (!status.ok() || !row) return status;
      if (!rows) continue;
      rows->emplace_back();
      for (int c = 0; c < s->column_count(); ++c) rows->back().emplace_back(s->column_text(c));
    }
  }

 private:
  // An INSERT that returns nothing: its runs may be sent in batches.
  static bool inserts_only(std::string_view sql) {
    size_t i = sql.find_first_not_of(" \t\r\n");
    if (i == std::string_view::npos || fold_ascii(sql.substr(i, 7)) != "insert ") return false;
    return fold_ascii(sql).find("returning") == std::string::npos && sql.find(';') == std::string_view::npos;
  }

  static bool reads_rows(std::string_view sql) {
    size_t i = sql.find_first_not_of(" \t\r\n(");
    if (i == std::string_view::npos) return false;
    std::string word = fold_ascii(sql.substr(i, 6));
    return word.rfind("select", 0) == 0 || word.rfind("with", 0) == 0 || word.rfind("values", 0) == 0;
  }

  // One try at a read snapshot: the directory read in it names the area's
  // schema as of the snapshot, and locking the schema's tables keeps a
  // writer that replaced the area from dropping them under this reader.
  Status begin_snapshot() {
    retry_ = false;
    Status status = session_->set_autocommit(false);
    if (status.ok()) status = execute("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    if (!status.ok() || !directory_) return status;
    Rows rows;
    status = run("SELECT schema_name FROM " + directory_->table + " WHERE name_key = ?1", {key_}, &rows);
    if (!status.ok()) return status;
    if (rows.empty())
      return session_->failure_text("read", "the area was removed from the server since it was opened");
    schema_ = rows[0][0];
    status = execute("SET search_path TO " + quote_name(schema_));
    if (status.ok()) status = execute("LOCK TABLE " + area_table_list() + " IN ACCESS SHARE MODE");
    // A schema dropped between the snapshot and the lock: the next try
    // reads the directory anew.
    if (!status.ok()) retry_ = true;
    return status;
  }

  std::shared_ptr<Session> session_;
  std::shared_ptr<Directory> directory_;
  std::string key_, schema_, opened_schema_;
  bool writing_area_ = false, retry_ = false;
};

namespace {

// Drops the schemas of replaced and removed areas (directory rows without
// a name) that no reader holds now; one that a reader holds stays for a
// later writer. Best effort: nothing here fails the caller.
void drop_replaced_schemas(OdbcConnection& conn, const std::string& directory) {
  Rows rows;
  if (!conn.run("SELECT schema_name FROM " + directory + " WHERE name_key IS NULL", {}, &rows).ok() || rows.empty())
    return;
  if (!conn.execute(kDropWait).ok()) return;
  for (const auto& row : rows) {
    Status status = conn.session().set_autocommit(false);
    if (status.ok()) status = conn.execute("DROP SCHEMA IF EXISTS " + quote_name(row[0]) + " CASCADE");
    if (status.ok())
      status = conn.run("DELETE FROM " + directory + " WHERE schema_name = ?1 AND name_key IS NULL", {row[0]});
    status = conn.session().end_transaction(status.ok());
    if (!status.ok()) break;
  }
  conn.execute("SET lock_timeout = 0");
}

}  // namespace

// A new area being written into its own schema, in one transaction.
class OdbcAreaTransaction final : public AreaTransaction {
 public:
  OdbcAreaTransaction(std::unique_ptr<OdbcConnection> conn, std::string directory, std::string name,
                      std::string schema)
      : conn_(std::move(conn)), directory_(std::move(directory)), name_(std::move(name)), schema_(std::move(schema)) {}

  Connection& connection() override { return *conn_; }

  // The name the commit puts the area in place under.
  Status set_name(std::string_view name) override {
    if (name.empty()) return conn_->session().failure_text("write", "an area needs a name");
    name_ = std::string(name);
    conn_->session().set_subject("the area " + name_ + " on " + conn_->session().server(), name_);
    return {};
  }

  Status commit() override {
    if (done_) return conn_->session().failure_text("commit", "the area was committed already");
    std::string key = fold_ascii(name_);
    // Writers of one name take turns here; the directory then names the
    // new schema instead of the old one, which is kept as a row without a
    // name until it is dropped.
    Status status = conn_->run("SELECT pg_advisory_xact_lock(CAST(?1 AS bigint))", {std::to_string(name_lock(key))});
    if (status.ok())
      status = conn_->run("UPDATE " + directory_ + " SET name = NULL, name_key = NULL WHERE name_key = ?1", {key});
    if (status.ok())
      status = conn_->run("INSERT INTO " + directory_ +
                              " (name, name_key, schema_name, format) VALUES (?1, ?2, ?3, CAST(?4 AS integer))",
                          {name_, key, schema_, std::to_string(plotbase::kAreaFormat)});
    if (!status.ok()) return status;
    status = conn_->session().end_transaction(true);
    if (!status.ok()) return status;
    done_ = true;
    drop_replaced_schemas(*conn_, directory_);
    return {};
  }

 private:
  std::unique_ptr<OdbcConnection> conn_;
  std::string directory_, name_, schema_;
  bool done_ = false;
};

class OdbcEngine final : public Engine {
 public:
  OdbcEngine(std::shared_ptr<Environment> env, std::shared_ptr<const ConnectionSettings> settings)
      : env_(std::move(env)), settings_(std::move(settings)), server_(server_text(*settings_)) {}

  std::string describe() const override { return server_; }

  // Connects the directory connection and finds or makes the directory.
  Status open() {
    Status status = connect("the area directory on " + server_, "", &dir_->conn);
    if (!status.ok()) return status;
    char dbms[64] = {0};
    SQLSMALLINT length = 0;
    SQLGetInfo(dir_->conn->session().handle(), SQL_DBMS_NAME, dbms, sizeof dbms, &length);
    if (std::string_view(dbms) != "PostgreSQL")
      return dir_->conn->session().failure_text("use", "it runs " + std::string(*dbms ? dbms : "an unknown system") +
                                                     "; quire keeps areas on PostgreSQL servers");
    Rows rows;
    status = dir_->conn->run("SELECT current_schema()", {}, &rows);
    if (!status.ok()) return status;
    if (rows.empty() || rows[0][0].empty())
      return dir_->conn->session().failure_text(
          "use", "the user's search_path names no schema it may use for the area directory " +
                     std::string(kDirectoryTable));
    std::string schema = quote_name(rows[0][0]);
    directory_ = dir_->table = schema + "." + kDirectoryTable;
    sequence_ = schema + "." + kSchemaSequence;
    status = dir_->conn->run("SELECT obj_description(to_regclass(?1), 'pg_class'), to_regclass(?1) IS NOT NULL",
                       {directory_}, &rows);
    if (!status.ok()) return status;
    if (rows.empty() || rows[0].size() < 2) return dir_->conn->session().failure_text("read", "the server sent no row");
    if (rows[0][1] != "1") {
      status = create_directory();
      if (!status.ok()) return status;
    } else if (rows[0][0] != kDirectoryComment) {
      return dir_->conn->session().failure_text(
          "use", "the table " + directory_ + " there is not an area directory this quire reads (" +
                     (rows[0][0].empty() ? std::string("it has no quire format comment")
                                         : "it says \"" + rows[0][0] + "\"") +
                     ")");
    }
    return {};
  }

  Status list_areas(std::vector<std::string>* names) override {
    names->clear();
    std::lock_guard<std::mutex> lock(dir_->mutex);
    Rows rows;
    Status status = dir_->conn->run("SELECT name FROM " + directory_ + " WHERE name_key IS NOT NULL", {}, &rows);
    for (auto& row : rows) names->push_back(std::move(row[0]));
    return status;
  }

  Status open_area(std::string_view name, std::unique_ptr<Connection>* out) override {
    out->reset();
    std::string key = fold_ascii(name);
    Rows rows;
    std::unique_lock<std::mutex> lock(dir_->mutex);
    Status status =
        dir_->conn->run("SELECT schema_name, format, name FROM " + directory_ + " WHERE name_key = ?1", {key}, &rows);
    lock.unlock();
    if (!status.ok() || rows.empty()) return status;
    const std::string& stored = rows[0][2];
    if (rows[0][1] != std::to_string(plotbase::kAreaFormat))
      return Status::failure(StatusCode::kCorrupt,
                             "cannot read the area " + stored + " on " + server_ + ": it is of format " + rows[0][1] +
                                 "; this quire reads format " + std::to_string(plotbase::kAreaFormat),
                             stored);
    std::unique_ptr<OdbcConnection> conn;
    status = connect("the area " + stored + " on " + server_, stored, &conn);
    if (status.ok()) status = conn->execute("SET search_path TO " + quote_name(rows[0][0]));
    if (!status.ok()) return status;
    conn->read_area(dir_, key, rows[0][0]);
    *out = std::move(conn);
    return {};
  }

  Status begin_area(std::string_view name, std::unique_ptr<AreaTransaction>* out) override {
    out->reset();
    std::string stored(name);
    std::unique_ptr<OdbcConnection> conn;
    Status status = connect("the area " + stored + " on " + server_, stored, &conn);
    if (!status.ok()) return status;
    Rows rows;
    status = conn->session().set_autocommit(false);
    if (status.ok()) status = conn->run("SELECT nextval(CAST(?1 AS regclass))", {sequence_}, &rows);
    if (!status.ok()) return status;
    if (rows.empty()) return conn->session().failure_text("write", "the server sent no schema number");
    std::string schema = kSchemaPrefix + rows[0][0];
    status = conn->execute("CREATE SCHEMA " + quote_name(schema));
    if (status.ok()) status = conn->execute("SET search_path TO " + quote_name(schema));
    if (status.ok()) status = conn->execute(sql_for(Dialect::kPostgres));
    if (!status.ok()) return status;
    conn->set_writing_area();
    *out = std::make_unique<OdbcAreaTransaction>(std::move(conn), directory_, stored, schema);
    return {};
  }

  Status remove_area(std::string_view name, bool* removed) override {
    *removed = false;
    std::string key = fold_ascii(name);
    Rows rows;
    std::lock_guard<std::mutex> lock(dir_->mutex);
    Status status = dir_->conn->session().set_autocommit(false);
    if (status.ok()) status = dir_->conn->run("SELECT pg_advisory_xact_lock(CAST(?1 AS bigint))", {std::to_string(name_lock(key))});
    if (status.ok())
      status = dir_->conn->run("UPDATE " + directory_ + " SET name = NULL, name_key = NULL WHERE name_key = ?1 RETURNING 1",
                         {key}, &rows);
    Status end = dir_->conn->session().end_transaction(status.ok());
    if (!status.ok()) return status;
    if (!end.ok()) return end;
    *removed = !rows.empty();
    drop_replaced_schemas(*dir_->conn, directory_);
    return {};
  }

 private:
  Status connect(std::string subject, std::string area, std::unique_ptr<OdbcConnection>* out) {
    auto session = std::make_shared<Session>(env_, settings_);
    session->set_subject(std::move(subject), std::move(area));
    Status status = session->connect();
    if (!status.ok()) return status;
    *out = std::make_unique<OdbcConnection>(std::move(session));
    return {};
  }

  Status create_directory() {
    Status status = dir_->conn->execute(std::string("CREATE TABLE IF NOT EXISTS ") + directory_ +
                                  " (name TEXT, name_key TEXT COLLATE \"C\" UNIQUE,"
                                  " schema_name TEXT COLLATE \"C\" PRIMARY KEY, format INTEGER NOT NULL);"
                                  "COMMENT ON TABLE " + directory_ + " IS '" + kDirectoryComment + "';"
                                  "CREATE SEQUENCE IF NOT EXISTS " + sequence_);
    if (status.ok()) return status;
    std::string user = settings_->user.empty() ? "this user" : "the user " + settings_->user;
    return Status::failure(StatusCode::kStore,
                           "cannot create the area directory " + directory_ + " on " + server_ + " as " + user +
                               " (the database's owner can create it, or grant CREATE on its schema): " +
                               dir_->conn->session().last_reason(),
                           server_);
  }

  std::shared_ptr<Environment> env_;
  std::shared_ptr<const ConnectionSettings> settings_;
  std::string server_, directory_, sequence_;
  std::shared_ptr<Directory> dir_ = std::make_shared<Directory>();
};

}  // namespace odbc

Status open_odbc_engine(std::string_view connection_string, std::unique_ptr<Engine>* out) {
  out->reset();
  auto settings = std::make_shared<odbc::ConnectionSettings>();
  std::string error;
  if (!odbc::parse_connection_string(connection_string, settings.get(), &error))
    return Status::failure(StatusCode::kInvalid, "the store setting's ODBC connection string is not usable: " + error);
  std::shared_ptr<odbc::Environment> env;
  Status status = odbc::Environment::create(&env);
  if (!status.ok()) return status;
  auto engine = std::make_unique<odbc::OdbcEngine>(std::move(env), std::move(settings));
  status = engine->open();
  if (!status.ok()) return status;
  *out = std::move(engine);
  return {};
}

}  // namespace quire::store
