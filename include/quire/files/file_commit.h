// A change of several files made as one: the steps of the change, declared
// in the order they are made, each with what takes it back. One loop makes
// them; when a step fails, the steps made before it are taken back in the
// reverse order and the commit reports the failure of that step. Either
// every step was made or, as far as each undo can, none was.
//
// A step fails with a Status naming its file (the file layer's calls give
// that); the commit keeps it whole, so a message built from it reads as the
// failed call's own, and adds which step it was.
//
// An undo cannot fail the commit: it is the best that can still be done
// after a failure that is reported anyway. A step whose do is skipped (it
// has nothing to do this time) says so by returning true without acting,
// and its undo must then do nothing either.
#ifndef QUIRE_FILES_FILE_COMMIT_H_
#define QUIRE_FILES_FILE_COMMIT_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "quire/status.h"

namespace quire::platform {

class FileCommit {
 public:
  // Makes the step's change; false with status (naming the file) when it
  // could not. A failed do leaves nothing of its own to take back.
  using Do = std::function<bool(Status*)>;
  // Takes back what the step's do made.
  using Undo = std::function<void()>;

  FileCommit() = default;
  FileCommit(const FileCommit&) = delete;
  FileCommit& operator=(const FileCommit&) = delete;

  // Declares the next step: what it is ("put the table in place"), its
  // change and its undo (none for a step that is the last to change
  // anything, or whose change needs no taking back).
  void add(std::string name, Do apply, Undo undo = {}) {
    steps_.push_back({std::move(name), std::move(apply), std::move(undo)});
  }

  // Makes the steps in order. On the first failure, the undos of the steps
  // made run in reverse order and the failure comes back: its Status as
  // the step gave it, and failed_step() names the step. A step that fails
  // without setting a status gives EIO on "commit" of the step's name.
  Status run();

  // After a failed run: the name of the step that failed; empty otherwise.
  const std::string& failed_step() const { return failed_step_; }
  // The number of steps made by the last run (all of them on success).
  size_t steps_made() const { return made_; }
  size_t size() const { return steps_.size(); }

 private:
  struct Step {
    std::string name;
    Do apply;
    Undo undo;
  };
  std::vector<Step> steps_;
  std::string failed_step_;
  size_t made_ = 0;
};

}  // namespace quire::platform

#endif  // QUIRE_FILES_FILE_COMMIT_H_
