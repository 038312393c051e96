// The server engine against a running server. QUIRE_TEST_ODBC holds the
// server's connection string (scripts/pg-server writes it); unset, every
// test here skips; set to "required" without one, or naming a server that
// does not answer, every test fails. Each test program works in a database
// of its own, made at its start and dropped at its end.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "odbc_engine.h"
#include "pg_schema.h"

namespace quire::store {
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

namespace {

#define ASSERT_OK(expression)                      \
  do {                                             \
    Status status_ = (expression);                 \
    ASSERT_TRUE(status_.ok()) << status_.message(); \
  } while (false)

// ---- the server ---------------------------------------------------------------

int process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// The bytes of memory the process holds; 0 where the system does not say.
long resident_bytes() {
#ifdef __linux__
  long pages = 0, size = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &size, &pages) != 2) pages = 0;
    std::fclose(f);
  }
  return pages * sysconf(_SC_PAGESIZE);
#else
  return 0;
#endif
}

// A plain ODBC connection for what the engine does not do: making the test
// database, ending another connection, changing the directory by hand.
class Admin {
 public:
  explicit Admin(const std::string& connection) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(10)), 0);
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection.c_str())),
                                    SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    if (!connected_) error_ = diagnostics(SQL_HANDLE_DBC, dbc_);
  }
  ~Admin() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  bool connected() const { return connected_; }
  const std::string& error() const { return error_; }

  // The first column of the first row as text ("" when none); *ok false
  // (when given) on a failure, whose reason error() then holds.
  std::string query(const std::string& sql, bool* ok = nullptr) {
    SQLHSTMT stmt;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    std::string out;
    SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    bool good = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    if (!good) error_ = diagnostics(SQL_HANDLE_STMT, stmt);
    SQLSMALLINT columns = 0;
    if (good && SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
      char buffer[4096];
      SQLLEN length = 0;
      if (SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, buffer, sizeof buffer, &length)) && length >= 0)
        out = buffer;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (ok) *ok = good;
    return out;
  }

 private:
  static std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6], message[1024];
    SQLINTEGER native;
    SQLSMALLINT length;
    if (SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length)))
      return reinterpret_cast<char*>(message);
    return "no reason";
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  std::string error_;
};

std::string with_key(const std::string& connection, const std::string& key, const std::string& value) {
  std::regex pattern("(^|;)\\s*" + key + "\\s*=[^;]*", std::regex::icase);
  if (std::regex_search(connection, pattern)) return std::regex_replace(connection, pattern, "$1" + key + "=" + value);
  return connection + ";" + key + "=" + value;
}

std::string key_value(const std::string& connection, const std::string& key) {
  std::smatch m;
  std::regex pattern("(^|;)\\s*" + key + "\\s*=([^;]*)", std::regex::icase);
  return std::regex_search(connection, m, pattern) ? m[2].str() : "";
}

// The server of QUIRE_TEST_ODBC and this program's database on it.
struct Server {
  enum { kUnset, kBroken, kReady } state = kUnset;
  std::string problem;     // kBroken: why
  std::string given;       // QUIRE_TEST_ODBC
  std::string connection;  // the same on this program's database
  std::string database;
};

Server& server() {
  static Server s = [] {
    Server s;
    const char* given = std::getenv("QUIRE_TEST_ODBC");
    if (!given || !*given) return s;
    s.state = Server::kBroken;
    s.given = given;
    if (s.given == "required") {
      s.problem = "QUIRE_TEST_ODBC is \"required\" but names no server (scripts/pg-server start DIR writes it)";
      return s;
    }
    Admin admin(s.given);
    if (!admin.connected()) {
      s.problem = "the server of QUIRE_TEST_ODBC does not answer: " + admin.error();
      return s;
    }
    s.database = "quire_engine_test_" + std::to_string(process_id());
    bool ok = false;
    admin.query("DROP DATABASE IF EXISTS " + s.database, &ok);
    admin.query("CREATE DATABASE " + s.database, &ok);
    if (!ok) {
      s.problem = "cannot create the test database: " + admin.error();
      return s;
    }
    s.connection = with_key(s.given, "Database", s.database);
    s.state = Server::kReady;
    return s;
  }();
  return s;
}

class Environment final : public ::testing::Environment {
 public:
  void TearDown() override {
    Server& s = server();
    if (s.state != Server::kReady) return;
    Admin admin(s.given);
    admin.query("DROP DATABASE IF EXISTS " + s.database + " WITH (FORCE)");
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

class ServerEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    Server& s = server();
    if (s.state == Server::kUnset) GTEST_SKIP() << "QUIRE_TEST_ODBC is not set";
    ASSERT_EQ(s.state, Server::kReady) << s.problem;
    Status status = open_odbc_engine(s.connection, &engine_);
    ASSERT_TRUE(status.ok()) << status.message();
  }

  // Writes the area name with one area row and the markers given, and
  // commits it.
  void write_area(const std::string& name, int32_t notation, const std::vector<std::string>& markers) {
    std::unique_ptr<AreaTransaction> txn;
    Status status = engine_->begin_area(name, &txn);
    ASSERT_TRUE(status.ok()) << status.message();
    Connection& c = txn->connection();
    ASSERT_OK(c.execute("INSERT INTO area VALUES ('" + name + "', " + std::to_string(notation) +
                          ", 2, 0, 0, 0, 0, 1)")
                    );
    int64_t id = 0;
    for (const std::string& m : markers) {
      status = c.execute("INSERT INTO markers (id, name, modified, created, prev_modified, user_last_mod, "
                         "user_created, user_prev_mod, byte_size1, byte_size2, header_name, description, "
                         "order_name, order_number, lay_limits, annotation, block_buffer, matching, notch, width, "
                         "length, util, target_util, total_perimeter, stripe_o, stripe_o2, stripe_o3, stripe_rpt, "
                         "plaid_o, plaid_o2, plaid_o3, plaid_rpt, shrink_stretch_x, shrink_stretch_y, added, "
                         "total_corners, total_notches, five_star, sizes, added_sizes, piece_count, "
                         "override_count, splice_count, model_count) VALUES (" +
                         std::to_string(++id) + ", '" + m +
                         "', 1, 1, 1, '', '', '', 0, 0, '', '', '', '', '', '', '', '', '', 0, 0, 0, 0, 0, 0, 0, 0, "
                         "0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)");
      ASSERT_TRUE(status.ok()) << status.message();
    }
    status = txn->commit();
    ASSERT_TRUE(status.ok()) << status.message();
  }

  // The notation of the area row the connection sees.
  static int64_t notation(Connection& c) {
    std::unique_ptr<Statement> s;
    bool row = false;
    if (!c.prepare("SELECT notation FROM area", &s).ok() || !s->step(&row).ok() || !row) return -1;
    return s->column_int64(0);
  }

  std::string schema_count() {
    Admin admin(server().connection);
    return admin.query("SELECT count(*) FROM pg_namespace WHERE nspname LIKE 'quire\\_area\\_%'");
  }

  std::unique_ptr<Engine> engine_;
};

// ---- statements -------------------------------------------------------------------

TEST_F(ServerEngine, ValuesRoundTripExactly) {
  std::unique_ptr<AreaTransaction> txn;
  ASSERT_OK(engine_->begin_area("values", &txn));
  Connection& c = txn->connection();
  EXPECT_EQ(c.dialect(), Dialect::kPostgres);
  ASSERT_OK(c.execute("CREATE TABLE v (k INTEGER, i BIGINT, d DOUBLE PRECISION, t TEXT)"));
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  struct Row {
    int64_t i;
    double d;
    std::string t;
    bool null;
  };
  const std::vector<Row> rows = {
      {INT64_MIN, 0.1, bytes, false},
      {INT64_MAX, 1.0 / 3, "", false},
      {0, -1e-300, std::string(20000, '\xE9') + "end", false},  // longer than any cell the block binds
      {-1, DBL_MAX, "caf\xE9 \xC3\xA9", false},                 // Latin-1 bytes stay bytes, UTF-8 ones too
      {0, 0, "", true},
  };
  std::unique_ptr<Statement> ins;
  Status status = c.prepare("INSERT INTO v (k, i, d, t) VALUES (?1, ?2, ?3, ?4)", &ins);
  ASSERT_TRUE(status.ok()) << status.message();
  for (size_t k = 0; k < rows.size(); ++k) {
    ins->bind_int64(1, static_cast<int64_t>(k));
    if (rows[k].null) {
      ins->bind_null(2);
      ins->bind_null(3);
      ins->bind_null(4);
    } else {
      ins->bind_int64(2, rows[k].i);
      ins->bind_double(3, rows[k].d);
      ins->bind_text(4, rows[k].t);
    }
    bool row = true;
    status = ins->step(&row);
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_FALSE(row);
    ins->reset();
  }
  // A parameter never bound reads as NULL, whatever its column.
  std::unique_ptr<Statement> unbound;
  ASSERT_OK(c.prepare("INSERT INTO v (k, i, d, t) VALUES (?1, ?2, ?3, ?4)", &unbound));
  unbound->bind_int64(1, 99);
  bool row = false;
  status = unbound->step(&row);
  ASSERT_TRUE(status.ok()) << status.message();

  std::unique_ptr<Statement> sel;
  ASSERT_OK(c.prepare("SELECT k, i, d, t, '?1' FROM v WHERE k >= ?1 ORDER BY k", &sel));
  for (int pass = 0; pass < 2; ++pass) {  // a statement runs again after reset
    sel->bind_int64(1, 0);
    size_t k = 0;
    for (;; ++k) {
      status = sel->step(&row);
      ASSERT_TRUE(status.ok()) << status.message();
      if (!row) break;
      if (k >= rows.size()) {
        EXPECT_EQ(sel->column_int64(0), 99);
        EXPECT_TRUE(sel->column_is_null(3));
        continue;
      }
      const Row& r = rows[k];
      EXPECT_EQ(sel->column_int64(0), static_cast<int64_t>(k));
      EXPECT_EQ(sel->column_is_null(1), r.null);
      EXPECT_EQ(sel->column_int64(1), r.i);
      EXPECT_EQ(sel->column_double(2), r.d);
      EXPECT_FALSE(std::signbit(sel->column_double(2)) != std::signbit(r.d));
      size_t size = 1;
      const char* t = sel->column_text(3, &size);
      EXPECT_EQ(std::string(t, size), r.t) << "row " << k;
      EXPECT_EQ(t[size], '\0');
      EXPECT_STREQ(sel->column_text(4), "?1");
      EXPECT_STREQ(sel->column_text(0), std::to_string(k).c_str());  // numbers read as text too
    }
    EXPECT_EQ(k, rows.size() + 1);
    sel->reset();
  }

  // Texts as parameters of a query the driver runs through a cursor: quotes,
  // backslashes and every other byte find their own row, and only it.
  std::unique_ptr<Statement> find;
  ASSERT_OK(c.prepare("SELECT k FROM v WHERE t = ?1", &find));
  for (const std::string& t : {bytes, std::string("it's a \\' back\\slash'; --"), std::string("caf\xE9 \xC3\xA9")}) {
    ASSERT_OK(c.execute("INSERT INTO v (k, t) VALUES (100, 'it''s a \\'' back\\slash''; --')"));
    find->bind_text(1, t);
    std::vector<int64_t> found;
    while (find->step(&row).ok() && row) found.push_back(find->column_int64(0));
    find->reset();
    EXPECT_EQ(found.size(), 1u) << t;
    ASSERT_OK(c.execute("DELETE FROM v WHERE k = 100"));
  }
}

TEST_F(ServerEngine, LargeResultsComeInBlocksWithFlatMemory) {
  std::unique_ptr<Connection> none;
  std::unique_ptr<AreaTransaction> txn;
  ASSERT_OK(engine_->begin_area("blocks", &txn));
  Connection& c = txn->connection();
  std::unique_ptr<Statement> s;
  // Texts of 0..299 characters: cells outgrow the first binding on the way.
  ASSERT_OK(c.prepare("SELECT n, md5(n::text), repeat('x', n % 300) FROM generate_series(1, ?1) n", &s));
  const int64_t kRows = 250000;
  s->bind_int64(1, kRows);
  bool row = false;
  long before = resident_bytes();
  Status status = s->step(&row);
  ASSERT_TRUE(status.ok()) << status.message();
  int64_t count = 0, sum = 0;
  bool texts_right = true;
  while (row) {
    ++count;
    int64_t n = s->column_int64(0);
    sum += n;
    size_t size = 0;
    s->column_text(1, &size);
    texts_right = texts_right && size == 32;
    s->column_text(2, &size);
    texts_right = texts_right && size == static_cast<size_t>(n % 300);
    status = s->step(&row);
    ASSERT_TRUE(status.ok()) << status.message();
  }
  long after = resident_bytes();
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(sum, kRows * (kRows + 1) / 2);
  EXPECT_TRUE(texts_right);
  // Held whole, the rows would take some 50 MB. (Under AddressSanitizer
  // freed memory is held back in quarantine, so resident memory says
  // nothing there; the g++ and clang builds measure it.)
  if (before > 0 && !kSanitized) {
    EXPECT_LT(after - before, 16L << 20) << "resident memory grew while fetching";
  }
}

// ---- areas ------------------------------------------------------------------------

TEST_F(ServerEngine, ReadersSeeTheOldAreaOrTheNewNeverAMix) {
  write_area("Shop", 0, {"Coat", "Dress"});
  std::unique_ptr<Connection> reader;
  ASSERT_OK(engine_->open_area("sHOP", &reader));
  ASSERT_NE(reader, nullptr);
  EXPECT_NE(reader->describe().find(", area Shop"), std::string::npos) << reader->describe();
  ASSERT_OK(reader->begin(TransactionMode::kReadSnapshot));
  EXPECT_EQ(notation(*reader), 0);
  EXPECT_TRUE(reader->is_current());
  const std::string first = reader->version();
  EXPECT_FALSE(first.empty());

  // Written again under another case of its name while the snapshot is open:
  // the writer does not wait for the reader, which still sees the old area
  // and knows it is no longer the current one.
  write_area("SHOP", 1, {"Coat"});
  EXPECT_EQ(notation(*reader), 0);
  EXPECT_FALSE(reader->is_current());
  EXPECT_EQ(reader->version(), first);
  std::unique_ptr<Connection> fresh;
  ASSERT_OK(engine_->open_area("shop", &fresh));
  EXPECT_NE(fresh->version(), first);
  EXPECT_TRUE(fresh->is_current());
  std::unique_ptr<Statement> s;
  bool row = false;
  ASSERT_OK(reader->prepare("SELECT count(*) FROM markers", &s));
  ASSERT_OK(s->step(&row));
  EXPECT_EQ(s->column_int64(0), 2);
  s.reset();
  ASSERT_OK(reader->commit());

  // The next snapshot of the same connection reads the new area, as the
  // fresh connection does.
  ASSERT_OK(reader->begin(TransactionMode::kReadSnapshot));
  EXPECT_EQ(notation(*reader), 1);
  EXPECT_EQ(reader->version(), fresh->version());
  ASSERT_OK(reader->commit());
  std::vector<std::string> names;
  ASSERT_OK(engine_->list_areas(&names));
  EXPECT_EQ(names, std::vector<std::string>{"SHOP"});

  // With no reader left, the next change drops every replaced schema.
  reader.reset();
  fresh.reset();
  write_area("other", 0, {});
  EXPECT_EQ(schema_count(), "2");
}

TEST_F(ServerEngine, AnAreaNotCommittedLeavesNothingAndACommittedOneTakesItsName) {
  write_area("kept", 3, {});
  std::string schemas = schema_count();
  {
    std::unique_ptr<AreaTransaction> txn;
    ASSERT_OK(engine_->begin_area("kept", &txn));
    ASSERT_OK(txn->connection().execute("INSERT INTO area VALUES ('kept', 1, 2, 0, 0, 0, 0, 1)"));
    std::unique_ptr<AreaTransaction> other;
    ASSERT_OK(engine_->begin_area("never", &other));
  }
  std::unique_ptr<Connection> c;
  ASSERT_OK(engine_->open_area("never", &c));
  EXPECT_EQ(c, nullptr);
  ASSERT_OK(engine_->open_area("KEPT", &c));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(notation(*c), 3);
  EXPECT_EQ(schema_count(), schemas);

  // An area being written may take its name before its commit.
  {
    std::unique_ptr<AreaTransaction> txn;
    ASSERT_OK(engine_->begin_area("new area", &txn));
    ASSERT_OK(txn->connection().execute("INSERT INTO area VALUES ('Named', 0, 2, 0, 0, 0, 0, 1)"));
    ASSERT_OK(txn->set_name("Named"));
    ASSERT_OK(txn->commit());
  }
  std::unique_ptr<Connection> named;
  ASSERT_OK(engine_->open_area("new area", &named));
  EXPECT_EQ(named, nullptr);
  ASSERT_OK(engine_->open_area("NAMED", &named));
  ASSERT_NE(named, nullptr);
  EXPECT_NE(named->describe().find("area Named"), std::string::npos) << named->describe();
  named.reset();

  bool removed = false;
  ASSERT_OK(engine_->remove_area("Kept", &removed));
  EXPECT_TRUE(removed);
  ASSERT_OK(engine_->remove_area("kept", &removed));
  EXPECT_FALSE(removed);
  // The reader keeps what it opened until its next snapshot, which says
  // the area went.
  Status status = c->begin(TransactionMode::kReadSnapshot);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("the area kept on the server"), std::string::npos) << status.message();
}

TEST_F(ServerEngine, NamesAreOneWithoutRegardToCaseAndSortAsTheFileStoreSorts) {
  std::unique_ptr<AreaTransaction> txn;
  ASSERT_OK(engine_->begin_area("names", &txn));
  Connection& c = txn->connection();
  std::unique_ptr<Statement> ins;
  ASSERT_OK(c.prepare("INSERT INTO pieces (id, name, category, description) VALUES (?1, ?2, '', '')",
                        &ins)
                  );
  const char* names[] = {"b", "A", "\xE9t\xE9", "_x", "Z9", "a1"};
  int64_t id = 0;
  for (const char* n : names) {
    ins->bind_int64(1, ++id);
    ins->bind_text(2, n);
    bool row;
    Status status = ins->step(&row);
    ASSERT_TRUE(status.ok()) << n << ": " << status.message();
    ins->reset();
  }
  std::unique_ptr<Statement> find;
  ASSERT_OK(c.prepare("SELECT name FROM pieces WHERE " + folded_name(Dialect::kPostgres, "name") + " >= " +
                            folded_name(Dialect::kPostgres, "?1") + " ORDER BY " +
                            folded_name(Dialect::kPostgres, "name"),
                        &find)
                  );
  find->bind_text(1, "");
  std::string order;
  bool row = false;
  while (find->step(&row).ok() && row) order += std::string(find->column_text(0)) + " ";
  // ASCII letters fold, others do not; then byte order, as NOCASE sorts.
  EXPECT_EQ(order, "_x A a1 b Z9 \xE9t\xE9 ");

  // The same name in another case is refused: inserts go in batches, so
  // by the commit at the latest, and the area is not put in place.
  ins->bind_int64(1, ++id);
  ins->bind_text(2, "z9");
  Status status = ins->step(&row);
  ins.reset();
  find.reset();
  if (status.ok()) status = txn->commit();
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("cannot write the area names on the server"), std::string::npos) << status.message();
  txn.reset();
  std::unique_ptr<Connection> none;
  ASSERT_OK(engine_->open_area("names", &none));
  EXPECT_EQ(none, nullptr);
}

TEST_F(ServerEngine, InsertsSentInBatchesKeepEveryRowAndItsOrderWithOtherStatements) {
  std::unique_ptr<AreaTransaction> txn;
  ASSERT_OK(engine_->begin_area("batches", &txn));
  Connection& c = txn->connection();
  ASSERT_OK(c.execute("CREATE TABLE a (k INTEGER PRIMARY KEY, v BIGINT, d DOUBLE PRECISION, t TEXT)"));
  ASSERT_OK(c.execute("CREATE TABLE b (k INTEGER PRIMARY KEY, t TEXT)"));
  std::unique_ptr<Statement> ia, ib, count;
  ASSERT_OK(c.prepare("INSERT INTO a (k, v, d, t) VALUES (?1, ?2, ?3, ?4)", &ia));
  ASSERT_OK(c.prepare("INSERT INTO b (k, t) VALUES (?1, ?2)", &ib));
  ASSERT_OK(c.prepare("SELECT count(*), coalesce(sum(v), 0), coalesce(sum(length(t)), 0) FROM a", &count));
  bool row = false;
  int64_t sum = 0, chars = 0;
  const int kRows = 1000;
  for (int k = 0; k < kRows; ++k) {
    ia->bind_int64(1, k);
    // Values change kind (a NULL, a double where an integer was) and
    // texts grow past any width a batch started with.
    if (k % 7 == 0) {
      ia->bind_null(2);
    } else {
      ia->bind_int64(2, k);
      sum += k;
    }
    if (k % 11 == 0) ia->bind_null(3);
    else ia->bind_double(3, k / 4.0);
    std::string t(static_cast<size_t>(k % 50 == 49 ? 2000 : k % 40), static_cast<char>('a' + k % 26));
    chars += static_cast<int64_t>(t.size());
    ia->bind_text(4, t);
    ASSERT_OK(ia->step(&row));
    ia->reset();
    ib->bind_int64(1, k);
    ib->bind_text(2, "\xE9");
    ASSERT_OK(ib->step(&row));
    ib->reset();
    if (k % 333 == 0) {
      // A query between the inserts sees every row inserted before it.
      ASSERT_OK(count->step(&row));
      EXPECT_EQ(count->column_int64(0), k + 1);
      EXPECT_EQ(count->column_int64(1), sum);
      EXPECT_EQ(count->column_int64(2), chars);
      count->reset();
    }
  }
  ia.reset();  // rows still collected go when their statement does
  ASSERT_OK(count->step(&row));
  EXPECT_EQ(count->column_int64(0), kRows);
  EXPECT_EQ(count->column_int64(1), sum);
  EXPECT_EQ(count->column_int64(2), chars);
  count->reset();
  std::unique_ptr<Statement> check;
  ASSERT_OK(c.prepare("SELECT count(*) FROM a JOIN b USING (k) WHERE b.t = ?1 AND (a.d IS NULL) = (a.k % 11 = 0)",
                      &check));
  check->bind_text(1, "\xE9");
  ASSERT_OK(check->step(&row));
  EXPECT_EQ(check->column_int64(0), kRows);
}

// ---- faults -----------------------------------------------------------------------

// A failure's message: one line that names the server and never holds the
// password.
void expect_fault(const Status& status, const std::string& names, const std::string& says) {
  ASSERT_FALSE(status.ok());
  std::string m = status.message();
  EXPECT_NE(m.find(names), std::string::npos) << m;
  EXPECT_NE(m.find(says), std::string::npos) << m;
  EXPECT_EQ(m.find('\n'), std::string::npos) << m;
  std::string password = key_value(server().connection, "Password");
  if (password.empty()) password = key_value(server().connection, "PWD");
  if (!password.empty()) {
    EXPECT_EQ(m.find(password), std::string::npos) << m;
  }
  EXPECT_EQ(m.find("wrong-pass-0417"), std::string::npos) << m;
}

TEST_F(ServerEngine, ConnectingFailuresNameTheServerNeverThePassword) {
  const std::string& good = server().connection;
  std::string host = key_value(good, "Servername");
  if (host.empty()) host = key_value(good, "Server");
  std::unique_ptr<Engine> e;

  // A port nobody listens on: the one a closed socket had.
  expect_fault(open_odbc_engine(with_key(good, "Port", "1"), &e), "the server " + host + ":1 database", "");
  expect_fault(open_odbc_engine(with_key(good, "Password", "wrong-pass-0417"), &e), "the server " + host,
               "password");
  expect_fault(open_odbc_engine(with_key(good, "Database", "no_such_db_0417"), &e), "database no_such_db_0417",
               "no_such_db_0417\" does not exist");
  expect_fault(open_odbc_engine(with_key(good, "Driver", "/nonexistent/odbc-driver.so"), &e), "the server " + host,
               "/nonexistent/odbc-driver.so");
  // A user who may not create the directory where it would go.
  expect_fault(open_odbc_engine(with_key(good, "ConnSettings", "{SET search_path TO pg_catalog}"), &e),
               "cannot create the area directory \"pg_catalog\".quire_areas on the server " + host, "permission");
}

TEST_F(ServerEngine, ADirectoryOfAnotherFormatIsRefused) {
  Admin admin(server().connection);
  bool ok = false;
  admin.query("COMMENT ON TABLE quire_areas IS 'quire area directory, format 9'", &ok);
  ASSERT_TRUE(ok) << admin.error();
  std::unique_ptr<Engine> e;
  Status status = open_odbc_engine(server().connection, &e);
  admin.query("COMMENT ON TABLE quire_areas IS 'quire area directory, format 1'", &ok);
  expect_fault(status, "the area directory on the server", "format 9");
}

TEST_F(ServerEngine, ALostConnectionAndATimeoutFailTheStatement) {
  write_area("lost", 0, {});
  std::unique_ptr<Connection> c;
  ASSERT_OK(engine_->open_area("lost", &c));
  std::unique_ptr<Statement> s;
  bool row = false;
  ASSERT_OK(c->prepare("SELECT pg_backend_pid()", &s));
  ASSERT_TRUE(s->step(&row).ok() && row);
  std::string pid = s->column_text(0);
  s.reset();

  // A statement cancelled by the server's statement timeout.
  ASSERT_OK(c->execute("SET statement_timeout = 50"));
  expect_fault(c->execute("SELECT pg_sleep(10)"), "cannot read the area lost on the server", "statement timeout");
  ASSERT_OK(c->execute("SET statement_timeout = 0"));

  // The connection ended by the server half way through a result.
  ASSERT_OK(c->prepare("SELECT n FROM generate_series(1, 100000) n", &s));
  ASSERT_TRUE(s->step(&row).ok() && row);
  Admin admin(server().connection);
  bool ok = false;
  admin.query("SELECT pg_terminate_backend(" + pid + ")", &ok);
  ASSERT_TRUE(ok) << admin.error();
  Status status;
  for (int i = 0; i < 200000 && status.ok() && row; ++i) status = s->step(&row);
  expect_fault(status, "cannot read the area lost on the server", "");
}

}  // namespace
}  // namespace quire::store
