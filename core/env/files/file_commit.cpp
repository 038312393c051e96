#include "quire/files/file_commit.h"

#include <cerrno>

namespace quire::platform {

Status FileCommit::run() {
  failed_step_.clear();
  made_ = 0;
  for (const Step& step : steps_) {
    Status status;
    if (step.apply(&status)) {
      ++made_;
      continue;
    }
    if (status.ok()) status = Status::io_error(EIO, "commit", step.name);
    failed_step_ = step.name;
    // What was made is taken back last first: each undo finds the files as
    // its step left them.
    for (size_t i = made_; i-- > 0;)
      if (steps_[i].undo) steps_[i].undo();
    return status;
  }
  return Status();
}

}  // namespace quire::platform
