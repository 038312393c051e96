// The failures every entry point of area management shares (the imports,
// export, list, generate, check, info, rm and the pattern-file reader): a
// file that cannot be opened, read or written, and the fence that keeps an
// exception from leaving the library.
#ifndef QUIRE_AREAS_FAILURES_H_
#define QUIRE_AREAS_FAILURES_H_

#include <cerrno>
#include <exception>
#include <new>
#include <string>

#include "quire/status.h"

namespace quire::areas {

// A failed file call for the system's error number error whose line reads
// otherwise than Status::io_error words it: message is the whole line the
// user reads ("cannot open: No such file or directory"). A missing file is
// kNotFound, any other kInvalid; error() keeps the number.
inline Status file_failure(int error, std::string message, std::string subject = {}) {
  return Status::failure(error == ENOENT || error == ENOTDIR ? StatusCode::kNotFound : StatusCode::kInvalid,
                         std::move(message), std::move(subject), error);
}

// Runs body, which returns a Status, and turns an exception it throws into
// one: running out of memory is kNoMemory "out of memory", anything else
// kInternal "unexpected failure: WHAT". Every entry point runs inside one,
// so that no exception reaches its caller.
template <class Body>
Status fenced(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Status::failure(StatusCode::kNoMemory, "out of memory");
  } catch (const std::exception& e) {
    return Status::failure(StatusCode::kInternal, std::string("unexpected failure: ") + e.what());
  } catch (...) {
    return Status::failure(StatusCode::kInternal, "unexpected failure");
  }
}

}  // namespace quire::areas

#endif  // QUIRE_AREAS_FAILURES_H_
