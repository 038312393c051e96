// The one way a failure travels inside quire's libraries and program: a
// Status says what failed (its code), the system's or the store's error
// number, the operation, the file or item it concerned and a message a user
// can act on. A success carries nothing and costs one null pointer; a
// failure is built once, where it is detected, and passed up unchanged.
//
// Status never crosses the C interfaces: there each export turns it into its
// own form (the store's pb_error record, a report command's 1/0 and printed
// line).
#ifndef QUIRE_STATUS_H_
#define QUIRE_STATUS_H_

#include <memory>
#include <string>
#include <string_view>

namespace quire {

// What kind of failure a Status records.
enum class StatusCode {
  kOk = 0,
  kIo,         // a file call failed; error() is the system's error number
  kNotFound,   // no area, item, list entry or file of that name
  kInvalid,    // input that is not what it must be: a bad file, value or argument
  kCorrupt,    // stored data that cannot be read as what it claims to be
  kStore,      // the storage area's read interface failed; error() is its code
  kNoMemory,   // an allocation failed
  kCancelled,  // stopped on the user's or the host's request
  kInternal,   // an unexpected failure, caught at the edge of a module
};

class Status {
 public:
  // A success.
  Status() noexcept = default;
  Status(const Status& other);
  Status& operator=(const Status& other);
  Status(Status&&) noexcept = default;
  Status& operator=(Status&&) noexcept = default;
  ~Status() = default;

  // A failed file call: message() says "cannot OPERATION SUBJECT: reason",
  // the reason being the system's text for error (EIO when error is 0).
  static Status io_error(int error, std::string_view operation, std::string_view subject);
  // Any other failure; message() returns message as it stands. subject names
  // the file or item concerned (for callers that tell failures apart), error
  // is a number of the failing layer's own (0 when it has none).
  static Status failure(StatusCode code, std::string message, std::string subject = {}, int error = 0);

  bool ok() const { return state_ == nullptr; }
  explicit operator bool() const { return ok(); }
  StatusCode code() const { return state_ ? state_->code : StatusCode::kOk; }
  // The system's error number for kIo, the layer's own number otherwise;
  // 0 for a success.
  int error() const { return state_ ? state_->error : 0; }
  // "create", "write", "rename", ... for kIo; empty otherwise.
  const std::string& operation() const;
  // The path or item name the failure concerns; empty when none.
  const std::string& subject() const;
  // The text for the user; empty for a success.
  std::string message() const;

  // Records a failed file call unless a failure is already recorded: the
  // first failure of a sequence of calls is the one to report.
  void fail(int error, const char* operation, const std::string& subject);
  // Keeps other unless a failure is already recorded.
  void update(const Status& other);

  // Notes where the failure was detected: a source file's name (a literal,
  // kept by pointer) and a line, for interfaces that report them. Does
  // nothing to a success.
  Status& at(const char* source, int line);
  // The source noted by at(), or null; and its line (0 when none).
  const char* source() const { return state_ ? state_->source : nullptr; }
  int line() const { return state_ ? state_->line : 0; }

 private:
  struct State {
    StatusCode code;
    int error;
    std::string operation;
    std::string subject;
    std::string message;  // for codes other than kIo
    const char* source = nullptr;
    int line = 0;
  };
  std::unique_ptr<State> state_;
};

}  // namespace quire

#endif  // QUIRE_STATUS_H_
