#include "quire/status.h"

#include <cerrno>

#include "file_system_internal.h"

namespace quire {

namespace {
const std::string kNone;
}  // namespace

Status::Status(const Status& other)
    : state_(other.state_ ? std::make_unique<State>(*other.state_) : nullptr) {}

Status& Status::operator=(const Status& other) {
  if (this != &other) state_ = other.state_ ? std::make_unique<State>(*other.state_) : nullptr;
  return *this;
}

Status Status::io_error(int error, std::string_view operation, std::string_view subject) {
  Status s;
  s.state_ = std::make_unique<State>(
      State{StatusCode::kIo, error != 0 ? error : EIO, std::string(operation), std::string(subject), {}, nullptr, 0});
  return s;
}

Status Status::failure(StatusCode code, std::string message, std::string subject, int error) {
  Status s;
  s.state_ = std::make_unique<State>(State{code, error, {}, std::move(subject), std::move(message), nullptr, 0});
  return s;
}

const std::string& Status::operation() const { return state_ ? state_->operation : kNone; }

const std::string& Status::subject() const { return state_ ? state_->subject : kNone; }

std::string Status::message() const {
  if (!state_) return {};
  if (state_->code != StatusCode::kIo) return state_->message;
  return "cannot " + state_->operation + " " + state_->subject + ": " +
         platform::internal::error_text(state_->error);
}

void Status::fail(int error, const char* operation, const std::string& subject) {
  if (!ok()) return;
  *this = io_error(error, operation, subject);
}

void Status::update(const Status& other) {
  if (ok() && !other.ok()) *this = other;
}

Status& Status::at(const char* source, int line) {
  if (state_) {
    state_->source = source;
    state_->line = line;
  }
  return *this;
}

}  // namespace quire
