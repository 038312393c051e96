// The library's message output, name comparison, and the failure and
// wildcard helpers.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "internal.h"

namespace {
pb_print_handler g_handler = nullptr;
void* g_handler_context = nullptr;
}  // namespace

namespace plotbase {

int print_message(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(copy);
    return n;
  }
  std::string big;
  const char* text = small;
  if (static_cast<size_t>(n) >= sizeof small) {
    big.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    text = big.c_str();
  }
  va_end(copy);
  if (g_handler) {
    g_handler(text, g_handler_context);
  } else {
    std::fwrite(text, 1, static_cast<size_t>(n), stderr);
    std::fflush(stderr);
  }
  return n;
}

void set_print_handler(pb_print_handler handler, void* context) {
  g_handler = handler;
  g_handler_context = handler ? context : nullptr;
}

// The codes plotbase.h publishes are the library's own.
static_assert(int{kErrNotFound} == int{PB_ERR_NOT_FOUND} &&
              int{kErrEndOfList} == int{PB_ERR_END_OF_LIST} && int{kErrFault} == int{PB_ERR_FAULT});

bool is_read_failure(int code) {
  return code == kErrDatabase || code == kErrDamagedArea || code == kErrStore || code == kErrNoMemory ||
         code == kErrInternal;
}

int compare_names(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;;) {
    unsigned char cx = fold(*x++);
    unsigned char cy = fold(*y++);
    if (cx != cy) return static_cast<int>(cx) - static_cast<int>(cy);
    if (cx == 0) return 0;
  }
}

namespace {
// The kind of failure a pb_error code is, for callers that tell them apart.
quire::StatusCode status_code_of(int code) {
  switch (code) {
    case kErrNotFound:
    case kErrEndOfList:
      return quire::StatusCode::kNotFound;
    case kErrDamagedArea:
      return quire::StatusCode::kCorrupt;
    case kErrNoMemory:
      return quire::StatusCode::kNoMemory;
    case kErrInternal:
      return quire::StatusCode::kInternal;
    case kErrDatabase:
    case kErrStore:
    case kErrFault:
      return quire::StatusCode::kStore;
    default:
      return quire::StatusCode::kInvalid;
  }
}
}  // namespace

quire::Status store_error(int code, const char* source, int line, std::string detail, std::string subject) {
  quire::Status status = quire::Status::failure(status_code_of(code), std::move(detail), std::move(subject), code);
  // Not `return failure(...).at(...)`: that would copy the reference at() returns.
  status.at(source ? source : "plotbase", line);
  return status;
}

quire::Status db_error(Conn* conn, const quire::Status& failure, const char* source, int line) {
  if (conn && failure.code() == quire::StatusCode::kCorrupt) name_damage(conn, failure.message().c_str());
  return store_error(kErrDatabase, source, line, failure.message(), conn ? conn->path : std::string());
}

bool has_wildcards(const char* pattern) {
  for (const char* p = pattern; *p; ++p)
    if (*p == '*' || *p == '?') return true;
  return false;
}

// Iterative match with backtracking to the last '*'.
bool wildcard_match(const char* pattern, const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* star = nullptr;
  const unsigned char* resume = nullptr;
  while (*t) {
    if (*p == '*') {
      star = ++p;
      resume = t;
    } else if (*p == '?' || (*p && fold(*p) == fold(*t))) {
      ++p;
      ++t;
    } else if (star) {
      p = star;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

}  // namespace plotbase
