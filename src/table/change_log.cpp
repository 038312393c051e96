#include "table/change_log.h"

#include <cerrno>

#include "quire/files/output_target.h"
#include "quire/plotbase.h"
#include "table/table_figures.h"

namespace quire::table {

void ChangeLog::open(const std::string& path) {
  discard();
  // A link may lead into another user's file and a FIFO would hold the run
  // (and its lock) until someone reads it: only a regular file is a log.
  const char* what = "";
  if (!platform::is_regular_file_itself(path, &what)) {
    if (platform::path_exists(path)) {
      note_change_log_lost();
      pb_printf("the changes of this run are not logged: %s is %s, not a regular file\n", path.c_str(), what);
    }
    return;
  }
  if (file_.open_append(path)) return;
  if (!file_.status().ok()) {
    note_change_log_lost();
    pb_printf("%s; changes of this run are not logged\n", file_.status().message().c_str());
  }
}

void ChangeLog::append(std::string_view text) {
  if (!file_.is_open()) return;
  pending_.append(text);
  if (pending_.size() < kMemoryLimit) return;
  if (before_spill_) before_spill_();
  if (!spill_) {
    spill_.emplace();
    if (!spill_->create_anonymous(platform::directory_of(file_.path()))) return;  // kept in memory
  }
  if (!spill_->is_open() || !spill_->status().ok()) return;
  spill_->append(pending_.data(), pending_.size());
  pending_.clear();
}

void ChangeLog::log_change(const char* word, const char* name) {
  if (!file_.is_open()) return;
  append(word);
  append(": \"");
  append(name);
  append("\"\r\n");
}

void ChangeLog::forget_lines() {
  pending_.clear();
  // Lines moved out of memory go with their unnamed file.
  spill_.reset();
}

void ChangeLog::discard() {
  file_.close();
  spill_.reset();
  committed_ = false;
  pending_.clear();
  pending_.shrink_to_fit();
}

bool ChangeLog::append_spilled(platform::IoStatus* status) {
  uint64_t total = 0;
  if (!spill_ || !spill_->is_open() || !spill_->current_size(&total) || total == 0) return true;
  if (file_.append_contents_of(*spill_, total)) return true;
  // A failed write is in the log's status, for the caller to report.
  if (file_.status().ok())
    status->fail(spill_->status().ok() ? EIO : spill_->status().error, "read back the change lines for",
                 file_.path());
  return false;
}

bool ChangeLog::commit(platform::IoStatus* status) {
  if (!file_.is_open()) return true;
  if (spill_ && spill_->is_open() && !spill_->status().ok()) {
    status->fail(spill_->status().error, "keep the change lines for", file_.path());
    discard();
    return false;
  }
  // Runs into other directories may share this log: one block at a time.
  // Another program holding it past the wait limit fails the run rather
  // than holding it without end.
  if (!file_.lock_within(platform::lock_wait_limit()) || !file_.current_size(&size_before_)) {
    const platform::IoStatus& s = file_.status();
    status->fail(s.error, s.operation.c_str(), s.path);
    discard();
    return false;
  }
  committed_ = true;
  if (append_spilled(status) && file_.append(pending_.data(), pending_.size()) && file_.sync()) return true;
  const platform::IoStatus& s = file_.status();
  status->fail(s.error, s.operation.c_str(), s.path);
  roll_back();
  return false;
}

void ChangeLog::roll_back() {
  if (committed_) {
    // Nothing more can be done when this fails too; the run fails anyway.
    file_.truncate(size_before_);
    file_.sync();
  }
  discard();
}

}  // namespace quire::table
