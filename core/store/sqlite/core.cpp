// The lines the reader has for the user, name comparison, and the failure
// and wildcard helpers.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "internal.h"

namespace plotbase {

namespace {
std::vector<std::string> g_lines;
}  // namespace

void note_line(std::string line) { g_lines.push_back(std::move(line)); }

bool take_lines(std::vector<std::string>* out) {
  if (g_lines.empty()) return false;
  out->swap(g_lines);
  g_lines.clear();
  return true;
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
// The kind of failure an error code is, for callers that tell them apart.
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
