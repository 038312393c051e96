// The failures area management and the pattern-file reader share: a file
// that cannot be opened, read or written, and the fence that keeps an exception
// from leaving either library.
#ifndef PLOTBASE_DXF_FAILURES_H_
#define PLOTBASE_DXF_FAILURES_H_

#include <cerrno>
#include <exception>
#include <new>
#include <string>

#include "quire/status.h"

namespace plotbase {

// A failed file call for the system's error number error whose line reads
// otherwise than Status::io_error words it: message is the whole line the
// user reads ("cannot open: No such file or directory"). A missing file is
// kNotFound, any other kInvalid; error() keeps the number.
inline quire::Status file_failure(int error, std::string message, std::string subject = {}) {
  return quire::Status::failure(error == ENOENT || error == ENOTDIR ? quire::StatusCode::kNotFound
                                                                    : quire::StatusCode::kInvalid,
                                std::move(message), std::move(subject), error);
}

// Runs body, which returns a Status, and turns an exception it throws into
// one: running out of memory is kNoMemory "out of memory", anything else
// kInternal "unexpected failure: WHAT". Every entry of the libraries runs
// inside one, so that no exception reaches their callers.
template <class Body>
quire::Status fenced(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return quire::Status::failure(quire::StatusCode::kNoMemory, "out of memory");
  } catch (const std::exception& e) {
    return quire::Status::failure(quire::StatusCode::kInternal, std::string("unexpected failure: ") + e.what());
  } catch (...) {
    return quire::Status::failure(quire::StatusCode::kInternal, "unexpected failure");
  }
}

}  // namespace plotbase

#endif  // PLOTBASE_DXF_FAILURES_H_
