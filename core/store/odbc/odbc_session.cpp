// The ODBC environment, connections, their messages, and the text helpers
// of the server engine.
#include "odbc_session.h"

#include <cstring>

namespace quire::store::odbc {

Status Environment::create(std::shared_ptr<Environment>* out) {
  auto env = std::shared_ptr<Environment>(new Environment());
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env->env_))) {
    env->env_ = SQL_NULL_HENV;
    return Status::failure(StatusCode::kStore, "cannot use ODBC: the driver manager cannot make an environment");
  }
  SQLSetEnvAttr(env->env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  *out = std::move(env);
  return {};
}

Environment::~Environment() {
  if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

Session::Session(std::shared_ptr<Environment> env, std::shared_ptr<const ConnectionSettings> settings)
    : env_(std::move(env)), settings_(std::move(settings)), server_(server_text(*settings_)) {
  subject_ = server_;
}

Session::~Session() {
  if (dbc_ == SQL_NULL_HDBC) return;
  if (connected_) {
    // Whatever was not committed goes: a writer that did not finish leaves
    // the store as it was.
    if (!autocommit_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

Status Session::connect() {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_->handle(), &dbc_))) {
    dbc_ = SQL_NULL_HDBC;
    return failure_text("connect to", "the driver manager cannot make a connection handle");
  }
  // A server that does not answer fails the connection instead of hanging.
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(20)), 0);
  const std::string& text = settings_->driver_text;
  SQLCHAR out[1024];
  SQLSMALLINT out_length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                                  static_cast<SQLSMALLINT>(text.size()), out, sizeof out, &out_length,
                                  SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc))
    return Status::failure(StatusCode::kStore, "cannot connect to " + server_ + ": " + reason(SQL_HANDLE_DBC, dbc_),
                           area_.empty() ? server_ : area_);
  connected_ = true;
  return {};
}

std::string Session::reason(SQLSMALLINT type, SQLHANDLE handle, std::string* state) const {
  std::string text;
  if (state) state->clear();
  for (SQLSMALLINT i = 1; i <= 8; ++i) {
    SQLCHAR sqlstate[6] = {0};
    SQLCHAR message[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, i, sqlstate, &native, message, sizeof message, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (state && i == 1) *state = reinterpret_cast<const char*>(sqlstate);
    std::string one = scrub_message(reinterpret_cast<const char*>(message), *settings_);
    // The driver's own words after the server's reason say nothing more.
    if (i > 1 && (one == "Error while executing the query" || one == "Error while preparing parameters")) continue;
    if (one.empty() || text.find(one) != std::string::npos) continue;
    if (!text.empty()) text += "; ";
    text += one;
  }
  if (text.empty()) text = "the driver gives no reason";
  return text;
}

Status Session::failure(std::string_view action, SQLSMALLINT type, SQLHANDLE handle) const {
  return failure_text(action, reason(type, handle));
}

Status Session::failure_text(std::string_view action, std::string_view reason) const {
  last_reason_ = std::string(reason);
  return Status::failure(StatusCode::kStore, "cannot " + std::string(action) + " " + subject_ + ": " +
                                                 std::string(reason),
                         area_.empty() ? server_ : area_);
}

Status Session::set_autocommit(bool on) {
  if (on == autocommit_) return {};
  SQLRETURN rc = SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON
                                                                                       : SQL_AUTOCOMMIT_OFF)),
                                   SQL_IS_UINTEGER);
  if (!SQL_SUCCEEDED(rc)) return failure(on ? "end a transaction on" : "begin a transaction on", SQL_HANDLE_DBC, dbc_);
  autocommit_ = on;
  return {};
}

void Session::add_pending(OdbcStatement* statement) { pending_.push_back(statement); }

void Session::drop_pending(OdbcStatement* statement) {
  for (size_t i = 0; i < pending_.size(); ++i)
    if (pending_[i] == statement) {
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

Status Session::send_pending() {
  Status status = std::move(pending_failure_);
  pending_failure_ = Status();
  while (!pending_.empty()) {
    OdbcStatement* statement = pending_.front();
    if (status.ok()) status = statement->send_batch();
    else statement->drop_batch();  // the transaction failed already
  }
  return status;
}

Status Session::end_transaction(bool commit) {
  if (autocommit_) return {};
  if (commit) {
    Status sent = send_pending();
    if (!sent.ok()) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      set_autocommit(true);
      return sent;
    }
  } else {
    while (!pending_.empty()) pending_.front()->drop_batch();
    pending_failure_ = Status();
  }
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, commit ? SQL_COMMIT : SQL_ROLLBACK);
  Status status;
  if (!SQL_SUCCEEDED(rc)) status = failure(commit ? "commit to" : "roll back", SQL_HANDLE_DBC, dbc_);
  Status back = set_autocommit(true);
  if (status.ok()) status = std::move(back);
  return status;
}

// ---- texts ------------------------------------------------------------------

void latin1_to_wide(std::string_view text, std::vector<SQLWCHAR>* out) {
  if (out->size() < text.size() + 1) out->resize(text.size() + 1);
  SQLWCHAR* w = out->data();
  for (size_t i = 0; i < text.size(); ++i) w[i] = static_cast<unsigned char>(text[i]);
  w[text.size()] = 0;
}

void wide_to_latin1(const SQLWCHAR* text, size_t units, std::string* out) {
  out->resize(units);
  char* b = out->data();
  size_t n = 0;
  for (size_t i = 0; i < units; ++i) {
    unsigned u = static_cast<unsigned>(text[i]);
    if (u <= 0xFF) {
      b[n++] = static_cast<char>(u);
    } else {
      b[n++] = '?';
      // A character past U+FFFF is two units: one '?'.
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) ++i;
    }
  }
  out->resize(n);
}

namespace {

// The end of the quoted text, quoted name or comment that starts at sql[i],
// or i when none starts there.
size_t skip_quoted(std::string_view sql, size_t i) {
  char c = sql[i];
  if (c == '\'' || c == '"') {
    for (size_t j = i + 1; j < sql.size(); ++j) {
      if (sql[j] != c) continue;
      if (j + 1 < sql.size() && sql[j + 1] == c) {
        ++j;
        continue;
      }
      return j + 1;
    }
    return sql.size();
  }
  if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
    size_t end = sql.find('\n', i);
    return end == std::string_view::npos ? sql.size() : end + 1;
  }
  if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
    size_t end = sql.find("*/", i + 2);
    return end == std::string_view::npos ? sql.size() : end + 2;
  }
  return i;
}

}  // namespace

std::string odbc_markers(std::string_view sql, std::vector<int>* marker_params, int* params) {
  std::string out;
  out.reserve(sql.size());
  marker_params->clear();
  int highest = 0;
  for (size_t i = 0; i < sql.size();) {
    size_t end = skip_quoted(sql, i);
    if (end != i) {
      out.append(sql.substr(i, end - i));
      i = end;
      continue;
    }
    if (sql[i] != '?') {
      out += sql[i++];
      continue;
    }
    ++i;
    int number = 0;
    bool numbered = false;
    while (i < sql.size() && sql[i] >= '0' && sql[i] <= '9' && number < 100000) {
      number = number * 10 + (sql[i++] - '0');
      numbered = true;
    }
    if (!numbered || number < 1) number = highest + 1;
    if (number > highest) highest = number;
    marker_params->push_back(number);
    out += '?';
  }
  *params = highest;
  return out;
}

std::vector<std::string> split_statements(std::string_view sql) {
  std::vector<std::string> out;
  size_t start = 0;
  auto add = [&](size_t end) {
    std::string_view one = sql.substr(start, end - start);
    size_t first = one.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos) out.emplace_back(one.substr(first));
  };
  for (size_t i = 0; i < sql.size();) {
    size_t end = skip_quoted(sql, i);
    if (end != i) {
      i = end;
      continue;
    }
    if (sql[i] == ';') {
      add(i);
      start = i + 1;
    }
    ++i;
  }
  add(sql.size());
  return out;
}

}  // namespace quire::store::odbc
