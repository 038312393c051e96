// The change log: delta.lst in the current directory, used only when it
// exists. The lines of a run (its preamble line, then one line per new,
// changed or deleted item) are held back and appended as one block before
// the new table takes its place: the block is written under an exclusive
// lock on the log and synced, and taken back (the log truncated to its size
// before) when the block or the table cannot be put in place. A failed run
// thereby leaves the log as it was.
#ifndef QUIRE_TABLE_CHANGE_LOG_H_
#define QUIRE_TABLE_CHANGE_LOG_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "quire/files/file_system.h"

namespace quire::table {

class ChangeLog {
 public:
  ChangeLog() = default;
  ~ChangeLog() = default;
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // Opens the log at path when that file exists. A log that exists but is
  // a symbolic link or no regular file, or cannot be opened, is reported
  // through pb_printf and not used; the run goes on.
  void open(const std::string& path);
  bool is_open() const { return file_.is_open(); }

  // Calls before_spill each time held-back lines are about to go to a file,
  // before any call on that file: what else writes files of the run can
  // finish first, keeping the order of file calls the same in every run.
  void set_before_spill(std::function<void()> before_spill) { before_spill_ = std::move(before_spill); }

  // Holds back text for the log (nothing when it is not open).
  void append(std::string_view text);
  // Holds back one line "WORD: "name"" ended by CR LF.
  void log_change(const char* word, const char* name);

  // Forgets the lines held back; the log stays open.
  void forget_lines();

  // Forgets the lines held back and closes the log.
  void discard();

  // Appends the lines held back to the log, under an exclusive lock on it
  // that is held until release or roll_back, and syncs it. True when the
  // log is not open or everything was written; otherwise the log is cut
  // back to its size before and false comes with the reason in status:
  // EWOULDBLOCK with operation "lock" when another holder kept the log's
  // lock for longer than platform::lock_wait_limit().
  bool commit(platform::IoStatus* status);

  // After commit: cuts the log back to its size before the block.
  void roll_back();

  // After commit: keeps the block and closes the log.
  void release() { discard(); }

 private:
  // Lines beyond this are moved to an unnamed file, keeping memory flat.
  static constexpr size_t kMemoryLimit = 256 * 1024;

  bool append_spilled(platform::IoStatus* status);

  platform::WritableFile file_;
  // A new one for each run that spills: a failure of one run's spill file
  // stays with it, not with the next run's. Present once the run spills.
  std::optional<platform::WritableFile> spill_;
  std::function<void()> before_spill_;
  std::string pending_;
  bool committed_ = false;
  uint64_t size_before_ = 0;
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_CHANGE_LOG_H_
