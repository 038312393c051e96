// A statement on the server: parameters from the statement's own buffers,
// rows fetched a block at a time into column buffers bound once.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "odbc_session.h"

namespace quire::store::odbc {

namespace {

// The bytes a block's buffers may take, and the rows a block holds.
constexpr size_t kBlockBytes = size_t{1} << 20;
constexpr SQLULEN kMinBlockRows = 32;
constexpr SQLULEN kMaxBlockRows = 512;
// A run's first block is small, so that a lookup that reads one row costs
// one small fetch; each further block is four times larger, up to the
// statement's full block.
constexpr SQLULEN kFirstBlockRows = 16;
// Characters per text cell: to start with when the server does not bound a
// column's texts, and at most (longer cells are read one by one).
constexpr size_t kFirstTextChars = 64;
constexpr size_t kMaxTextChars = 8192;
// Runs of an insert sent at once, and the longest text a batch holds (a
// run with a longer one goes alone).
constexpr SQLULEN kBatchRows = 256;
constexpr size_t kMaxBatchChars = 1024;

}  // namespace

OdbcStatement::OdbcStatement(std::shared_ptr<Session> session, SQLHSTMT stmt, std::vector<int> marker_params,
                             int params, bool reads)
    : session_(std::move(session)), stmt_(stmt), marker_params_(std::move(marker_params)),
      params_(static_cast<size_t>(params)), reads_(reads) {}

OdbcStatement::~OdbcStatement() {
  if (batch_rows_ > 0) session_->keep_failure(send_batch());
  close_cursor();
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

// ---- batches ------------------------------------------------------------------

Status OdbcStatement::collect() {
  if (batch_.size() != marker_params_.size()) batch_.assign(marker_params_.size(), BatchColumn{});
  // A run that does not fit the batch's columns (another kind of value, a
  // longer text) sends the batch first.
  bool fits = true;
  for (size_t m = 0; m < marker_params_.size(); ++m) {
    const Param& p = params_[static_cast<size_t>(marker_params_[m] - 1)];
    const BatchColumn& b = batch_[m];
    Kind kind = p.kind == Kind::kNone ? Kind::kNull : p.kind;
    size_t chars = kind == Kind::kText && p.indicator > 0 ? static_cast<size_t>(p.indicator) / sizeof(SQLWCHAR) : 0;
    if (b.kind != kind || chars > b.chars) fits = false;
  }
  if (!fits) {
    Status status = send_batch();
    if (!status.ok()) return status;
  }
  if (batch_rows_ == 0) {
    for (size_t m = 0; m < marker_params_.size(); ++m) {
      const Param& p = params_[static_cast<size_t>(marker_params_[m] - 1)];
      BatchColumn& b = batch_[m];
      Kind kind = p.kind == Kind::kNone ? Kind::kNull : p.kind;
      size_t chars = kind == Kind::kText && p.indicator > 0 ? static_cast<size_t>(p.indicator) / sizeof(SQLWCHAR) : 0;
      if (b.kind != kind) b.chars = 0;
      b.kind = kind;
      b.indicators.resize(kBatchRows);
      switch (kind) {
        case Kind::kInt:
          b.ints.resize(kBatchRows);
          break;
        case Kind::kReal:
          b.reals.resize(kBatchRows);
          break;
        default:
          // Texts keep the widest cell seen, so that batches stay full.
          b.chars = std::max({b.chars, chars, size_t{16}});
          b.texts.resize(kBatchRows * (b.chars + 1));
          break;
      }
    }
  }
  const SQLULEN r = batch_rows_;
  for (size_t m = 0; m < marker_params_.size(); ++m) {
    const Param& p = params_[static_cast<size_t>(marker_params_[m] - 1)];
    BatchColumn& b = batch_[m];
    b.indicators[r] = p.kind == Kind::kNone ? SQL_NULL_DATA : p.indicator;
    if (b.indicators[r] == SQL_NULL_DATA) continue;
    switch (b.kind) {
      case Kind::kInt:
        b.ints[r] = p.i;
        break;
      case Kind::kReal:
        b.reals[r] = p.d;
        break;
      case Kind::kText: {
        size_t chars = static_cast<size_t>(p.indicator) / sizeof(SQLWCHAR);
        SQLWCHAR* cell = b.texts.data() + r * (b.chars + 1);
        std::copy(p.text.data(), p.text.data() + chars, cell);
        cell[chars] = 0;
        break;
      }
      default:
        break;
    }
  }
  if (++batch_rows_ == 1) session_->add_pending(this);
  return batch_rows_ == kBatchRows ? send_batch() : Status();
}

Status OdbcStatement::send_batch() {
  if (batch_rows_ == 0) return {};
  SQLULEN rows = batch_rows_;
  batch_rows_ = 0;
  session_->drop_pending(this);
  Status status;
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0)))
    status = failure();
  for (size_t m = 0; m < batch_.size() && status.ok(); ++m) {
    BatchColumn& b = batch_[m];
    SQLUSMALLINT marker = static_cast<SQLUSMALLINT>(m + 1);
    SQLRETURN rc;
    switch (b.kind) {
      case Kind::kInt:
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, b.ints.data(), 0,
                              b.indicators.data());
        break;
      case Kind::kReal:
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, b.reals.data(), 0,
                              b.indicators.data());
        break;
      default:
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, b.chars, 0, b.texts.data(),
                              static_cast<SQLLEN>((b.chars + 1) * sizeof(SQLWCHAR)), b.indicators.data());
        break;
    }
    if (!SQL_SUCCEEDED(rc)) status = failure();
  }
  if (status.ok()) {
    SQLRETURN rc = SQLExecute(stmt_);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) status = failure();
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }
  // Single runs bind their own buffers again.
  SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(1)), 0);
  for (Param& p : params_) p.dirty = true;
  return status;
}

void OdbcStatement::drop_batch() {
  if (batch_rows_ > 0) session_->drop_pending(this);
  batch_rows_ = 0;
}

// ---- parameters ---------------------------------------------------------------

void OdbcStatement::bind_int64(int param, int64_t value) {
  if (param < 1 || param > static_cast<int>(params_.size())) return;
  Param& p = params_[param - 1];
  if (p.kind != Kind::kInt) p.dirty = true;
  p.kind = Kind::kInt;
  p.i = value;
  p.indicator = 0;
}

void OdbcStatement::bind_double(int param, double value) {
  if (param < 1 || param > static_cast<int>(params_.size())) return;
  Param& p = params_[param - 1];
  if (p.kind != Kind::kReal) p.dirty = true;
  p.kind = Kind::kReal;
  p.d = value;
  p.indicator = 0;
}

void OdbcStatement::bind_text(int param, std::string_view text) {
  if (param < 1 || param > static_cast<int>(params_.size())) return;
  Param& p = params_[param - 1];
  const SQLWCHAR* before = p.text.data();
  size_t capacity = p.text.size();
  if (capacity < text.size() + 1) p.text.resize(std::max(text.size() + 1, std::max<size_t>(32, capacity * 2)));
  latin1_to_wide(text, &p.text);
  if (p.kind != Kind::kText || p.text.data() != before || p.text.size() != capacity) p.dirty = true;
  p.kind = Kind::kText;
  p.indicator = static_cast<SQLLEN>(text.size() * sizeof(SQLWCHAR));
}

void OdbcStatement::bind_null(int param) {
  if (param < 1 || param > static_cast<int>(params_.size())) return;
  Param& p = params_[param - 1];
  // The NULL keeps the type the parameter had, so that the server reads it
  // as a NULL of the column's kind.
  if (p.kind == Kind::kNone) {
    p.kind = Kind::kNull;
    p.dirty = true;
  }
  p.indicator = SQL_NULL_DATA;
}

// ---- running ------------------------------------------------------------------

Status OdbcStatement::run() {
  for (size_t m = 0; m < marker_params_.size(); ++m) {
    Param& p = params_[static_cast<size_t>(marker_params_[m] - 1)];
    if (!p.dirty) continue;
    SQLUSMALLINT marker = static_cast<SQLUSMALLINT>(m + 1);
    SQLRETURN rc;
    switch (p.kind) {
      case Kind::kInt:
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &p.i, 0, &p.indicator);
        break;
      case Kind::kReal:
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &p.d, 0, &p.indicator);
        break;
      case Kind::kText:
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, p.text.size() - 1, 0,
                              p.text.data(), static_cast<SQLLEN>(p.text.size() * sizeof(SQLWCHAR)), &p.indicator);
        break;
      default:
        // Never bound: a NULL, as an unbound parameter reads.
        p.indicator = SQL_NULL_DATA;
        rc = SQLBindParameter(stmt_, marker, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, nullptr, 0,
                              &p.indicator);
        break;
    }
    if (!SQL_SUCCEEDED(rc)) return failure();
  }
  for (Param& p : params_) p.dirty = false;

  SQLRETURN rc = SQLExecute(stmt_);
  if (rc == SQL_NO_DATA) {  // a change that touched no row
    done_ = true;
    return {};
  }
  if (!SQL_SUCCEEDED(rc)) return failure();
  cursor_open_ = true;
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_, &count))) return failure();
  if (count == 0) {
    done_ = true;
    close_cursor();
    return {};
  }
  if (!described_ || static_cast<size_t>(count) != columns_.size()) {
    Status status = describe_columns(count);
    if (!status.ok()) return status;
  }
  fetched_ = next_ = 0;
  block_ = std::min(kFirstBlockRows, rows_);
  return {};
}

Status OdbcStatement::describe_columns(SQLSMALLINT count) {
  columns_.assign(static_cast<size_t>(count), Column{});
  size_t row_bytes = 0;
  for (SQLSMALLINT i = 0; i < count; ++i) {
    SQLCHAR name[8];
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLDescribeCol(stmt_, static_cast<SQLUSMALLINT>(i + 1), name, sizeof name, &name_length,
                                      &type, &size, &digits, &nullable)))
      return failure();
    Column& c = columns_[static_cast<size_t>(i)];
    switch (type) {
      case SQL_BIT:
      case SQL_TINYINT:
      case SQL_SMALLINT:
      case SQL_INTEGER:
      case SQL_BIGINT:
        c.kind = Kind::kInt;
        row_bytes += sizeof(int64_t);
        break;
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE:
        c.kind = Kind::kReal;
        row_bytes += sizeof(double);
        break;
      default:
        // Texts, and numbers the server keeps exactly (read as their text).
        c.kind = Kind::kText;
        c.chars = (size > 0 && size <= 256) ? size : kFirstTextChars;
        row_bytes += (c.chars + 1) * sizeof(SQLWCHAR);
        break;
    }
    row_bytes += sizeof(SQLLEN);
  }
  rows_ = std::clamp<SQLULEN>(kBlockBytes / std::max<size_t>(row_bytes, 1), kMinBlockRows, kMaxBlockRows);
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0)))
    return failure();
  for (int i = 0; i < count; ++i) {
    Status status = bind_column(i);
    if (!status.ok()) return status;
  }
  described_ = true;
  return {};
}

Status OdbcStatement::bind_column(int index) {
  Column& c = columns_[static_cast<size_t>(index)];
  SQLSMALLINT type;
  size_t cell;
  switch (c.kind) {
    case Kind::kInt:
      type = SQL_C_SBIGINT;
      cell = sizeof(int64_t);
      break;
    case Kind::kReal:
      type = SQL_C_DOUBLE;
      cell = sizeof(double);
      break;
    default:
      type = SQL_C_WCHAR;
      cell = (c.chars + 1) * sizeof(SQLWCHAR);
      break;
  }
  c.cells.assign(cell * rows_, 0);
  c.indicators.assign(rows_, 0);
  c.text_row = 0;
  if (!SQL_SUCCEEDED(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(index + 1), type, c.cells.data(),
                                static_cast<SQLLEN>(cell), c.indicators.data())))
    return failure();
  return {};
}

Status OdbcStatement::fetch_block() {
  // Columns whose texts outgrew their cells get larger cells from now on.
  for (size_t i = 0; i < columns_.size(); ++i) {
    Column& c = columns_[i];
    if (c.want_chars <= c.chars) continue;
    c.chars = c.want_chars;
    Status status = bind_column(static_cast<int>(i));
    if (!status.ok()) return status;
  }
  long_cells_.clear();
  fetched_ = next_ = 0;
  if (block_ != bound_block_) {
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block_), 0)))
      return failure();
    bound_block_ = block_;
  }
  SQLRETURN rc = SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0);
  block_ = std::min(block_ * 4, rows_);
  if (rc == SQL_NO_DATA) {
    fetched_ = 0;
    return {};
  }
  if (!SQL_SUCCEEDED(rc)) {
    fetched_ = 0;
    return failure();
  }
  // Cells cut short are read whole now, so that a failure is this step's.
  for (size_t i = 0; i < columns_.size(); ++i) {
    Column& c = columns_[i];
    if (c.kind != Kind::kText) continue;
    const SQLLEN limit = static_cast<SQLLEN>(c.chars * sizeof(SQLWCHAR));
    for (SQLULEN r = 0; r < fetched_; ++r) {
      SQLLEN n = c.indicators[r];
      if (n != SQL_NO_TOTAL && n <= limit) continue;
      LongCell cell{r, static_cast<int>(i), {}};
      Status status = read_long_cell(r, static_cast<int>(i), &cell.text);
      if (!status.ok()) return status;
      c.want_chars = std::min(kMaxTextChars, std::max(c.chars * 2, cell.text.size() + 1));
      long_cells_.push_back(std::move(cell));
    }
  }
  return {};
}

Status OdbcStatement::read_long_cell(SQLULEN row, int column, std::string* text) {
  if (!SQL_SUCCEEDED(SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE)))
    return failure();
  size_t have = 0;
  if (long_text_.size() < 1024) long_text_.resize(1024);
  for (;;) {
    SQLLEN indicator = 0;
    size_t before = have, room = long_text_.size() - have;
    SQLRETURN rc = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(column + 1), SQL_C_WCHAR, long_text_.data() + have,
                              static_cast<SQLLEN>(room * sizeof(SQLWCHAR)), &indicator);
    if (rc == SQL_NO_DATA || indicator == SQL_NULL_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return failure();
    if (rc == SQL_SUCCESS) {
      have += static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
      break;
    }
    // Cut short again: the part read filled the room but for its NUL, and
    // the indicator (when known) tells what was left before this part.
    have = before + room - 1;
    size_t total = indicator == SQL_NO_TOTAL ? 0 : before + static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
    long_text_.resize(std::max(long_text_.size() * 2, total + 1));
  }
  wide_to_latin1(long_text_.data(), have, text);
  return {};
}

Status OdbcStatement::step(bool* row) {
  *row = false;
  has_row_ = false;
  if (!running_ && batching_ && session_->in_transaction()) {
    bool fits = true;
    for (const Param& p : params_)
      if (p.kind == Kind::kText && static_cast<size_t>(p.indicator) > kMaxBatchChars * sizeof(SQLWCHAR)) fits = false;
    if (fits) return collect();
  }
  if (!running_) {
    // This run sees every row inserted before it.
    Status sent = session_->send_pending();
    if (!sent.ok()) return sent;
    running_ = true;
    done_ = false;
    Status status = run();
    if (!status.ok()) {
      done_ = true;
      return status;
    }
  }
  if (done_) return {};
  if (next_ >= fetched_) {
    Status status = fetch_block();
    if (!status.ok()) {
      done_ = true;
      return status;
    }
    if (fetched_ == 0) {
      done_ = true;
      close_cursor();
      return {};
    }
  }
  at_ = next_++;
  ++row_serial_;
  has_row_ = true;
  *row = true;
  return {};
}

void OdbcStatement::close_cursor() {
  if (cursor_open_) SQLFreeStmt(stmt_, SQL_CLOSE);
  cursor_open_ = false;
}

void OdbcStatement::reset() {
  close_cursor();
  running_ = done_ = has_row_ = false;
  fetched_ = next_ = at_ = 0;
  long_cells_.clear();
}

Status OdbcStatement::failure() const { return session_->failure(reads_ ? "read" : "write", SQL_HANDLE_STMT, stmt_); }

// ---- columns ------------------------------------------------------------------

OdbcStatement::Column* OdbcStatement::cell(int column) {
  if (!has_row_ || column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  Column& c = columns_[static_cast<size_t>(column)];
  if (c.indicators[at_] == SQL_NULL_DATA) return nullptr;
  return &c;
}

bool OdbcStatement::column_is_null(int column) { return cell(column) == nullptr; }

int64_t OdbcStatement::column_int64(int column) {
  Column* c = cell(column);
  if (!c) return 0;
  switch (c->kind) {
    case Kind::kInt: {
      int64_t v;
      std::memcpy(&v, c->cells.data() + at_ * sizeof v, sizeof v);
      return v;
    }
    case Kind::kReal:
      return static_cast<int64_t>(column_double(column));
    default:
      return std::strtoll(cell_text(column, *c).c_str(), nullptr, 10);
  }
}

double OdbcStatement::column_double(int column) {
  Column* c = cell(column);
  if (!c) return 0;
  switch (c->kind) {
    case Kind::kReal: {
      double v;
      std::memcpy(&v, c->cells.data() + at_ * sizeof v, sizeof v);
      return v;
    }
    case Kind::kInt:
      return static_cast<double>(column_int64(column));
    default:
      return std::strtod(cell_text(column, *c).c_str(), nullptr);
  }
}

const char* OdbcStatement::column_text(int column, size_t* size) {
  Column* c = cell(column);
  if (!c) {
    if (size) *size = 0;
    return "";
  }
  const std::string& text = cell_text(column, *c);
  if (size) *size = text.size();
  return text.c_str();
}

const std::string& OdbcStatement::cell_text(int column, Column& c) {
  if (c.text_row == row_serial_) return c.text;
  c.text_row = row_serial_;
  switch (c.kind) {
    case Kind::kInt: {
      char buffer[24];
      auto end = std::to_chars(buffer, buffer + sizeof buffer, column_int64(column)).ptr;
      c.text.assign(buffer, end);
      break;
    }
    case Kind::kReal: {
      char buffer[32];
      auto end = std::to_chars(buffer, buffer + sizeof buffer, column_double(column)).ptr;
      c.text.assign(buffer, end);
      break;
    }
    default: {
      SQLLEN n = c.indicators[at_];
      if (n == SQL_NO_TOTAL || n > static_cast<SQLLEN>(c.chars * sizeof(SQLWCHAR))) {
        c.text.clear();
        for (const LongCell& l : long_cells_)
          if (l.row == at_ && l.column == column) c.text = l.text;
        break;
      }
      const SQLWCHAR* w = reinterpret_cast<const SQLWCHAR*>(c.cells.data()) + at_ * (c.chars + 1);
      wide_to_latin1(w, static_cast<size_t>(n) / sizeof(SQLWCHAR), &c.text);
      break;
    }
  }
  return c.text;
}

}  // namespace quire::store::odbc
