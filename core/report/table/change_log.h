// The change log and the change feed of a run.
//
// The log is delta.lst in the current directory, used only when it exists:
// the run's preamble line, then one line per new, changed or deleted item,
// for people. The feed is the file a host named (set_change_feed_path),
// created when absent: one JSON object a line per change, for scripts.
//
// Both hold back their lines and receive them as one block each before the
// new table takes its place: each block is written under an exclusive lock
// on its file and synced, and taken back (the file truncated to its size
// before) when either block or the table cannot be put in place. A failed
// run thereby leaves both files as they were.
#ifndef QUIRE_TABLE_CHANGE_LOG_H_
#define QUIRE_TABLE_CHANGE_LOG_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "quire/files/file_system.h"
#include "table/table_messages.h"

namespace quire::table {

class ChangeLog {
 public:
  // An item's change stamp: its modification time in seconds since 1970
  // UTC when known, else its time text (read back for the feed), or neither
  // (no stamp).
  struct Stamp {
    const char* text = nullptr;
    std::optional<int64_t> time;
  };

  // The log and feed files and their spill files go through env.
  explicit ChangeLog(platform::FileEnv& env) : log_(env), feed_(env) {}
  ~ChangeLog() = default;
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // Opens the log at log_path when that file exists, and the feed at
  // feed_path unless it is empty, creating it when absent (exclusively,
  // never through a symbolic link). output is the run's output path as
  // given, for the feed's lines; the run's time is taken now. A log or
  // feed that is a symbolic link or no regular file, or that cannot be
  // opened, is reported through print and not used; the run goes on.
  void open(const std::string& log_path, const std::string& feed_path, std::string_view output,
            PrintFunction print);
  bool is_open() const { return log_.file.is_open() || feed_.file.is_open(); }

  // Names the run's report kind ("MKPC") and storage area in the feed's
  // lines that follow.
  void describe_run(std::string_view kind, std::string_view area);

  // Calls before_spill each time held-back lines are about to go to a file,
  // before any call on that file: what else writes files of the run can
  // finish first, keeping the order of file calls the same in every run.
  void set_before_spill(std::function<void()> before_spill) { before_spill_ = std::move(before_spill); }

  // Holds back text for the log only (nothing when it is not open).
  void append(std::string_view text);
  // Holds back one change of the item name: for the log the line
  // "WORD: "name"" ended by CR LF, the name's '"', '\\' and control
  // characters escaped (\", \\, \r, \n, \xHH) so that each change stays one
  // line whatever a name holds, for the feed its JSON line with the old
  // and the new stamp as ISO times in UTC (null where there is none or
  // its text is no time text).
  void log_change(const char* word, const char* name, const Stamp& old_stamp, const Stamp& new_stamp);

  // Forgets the lines held back; the log and the feed stay open.
  void forget_lines();

  // Forgets the lines held back and closes the log and the feed.
  void discard();

  // Appends the lines held back to the log (commit_log) or to the feed
  // (commit_feed), under an exclusive lock on its file that is held until
  // release or the roll back, and syncs it. The log goes first: two runs
  // never wait for each other's second lock. True when the file is not open
  // or everything was written; otherwise the file is cut back to its size
  // before and closed, and false comes with the reason in status:
  // EWOULDBLOCK with operation "lock" (and the path of the file) when
  // another holder kept a lock for longer than platform::lock_wait_limit().
  bool commit_log(quire::Status* status) { return commit_sink(&log_, status); }
  bool commit_feed(quire::Status* status) { return commit_sink(&feed_, status); }

  // After commit_log or commit_feed: cuts that file back to its size before
  // the block and closes it.
  void roll_back_log() { roll_back_sink(&log_); }
  void roll_back_feed() { roll_back_sink(&feed_); }

  // After the commits: keeps the blocks and closes the log and the feed.
  void release() { discard(); }

 private:
  // Lines beyond this are moved to an unnamed file, keeping memory flat.
  static constexpr size_t kMemoryLimit = 256 * 1024;

  // One file receiving a block of lines at commit.
  struct Sink {
    explicit Sink(platform::FileEnv& env) : file(env) {}
    platform::WritableFile file;
    // A new one for each run that spills: a failure of one run's spill file
    // stays with it, not with the next run's. Present once the run spills.
    std::optional<platform::WritableFile> spill;
    std::string pending;
    bool committed = false;
    uint64_t size_before = 0;
  };

  // Opens sink at path: an existing regular file, or with create a new one
  // when there is nothing at path. Reports why through print when it cannot.
  static void open_sink(Sink* sink, const std::string& path, bool create, PrintFunction print);
  void hold(Sink* sink, std::string_view text);
  static void forget(Sink* sink);
  static void close(Sink* sink);
  static bool append_spilled(Sink* sink, quire::Status* status);
  // The commit of one sink; on failure the sink is cut back and closed.
  static bool commit_sink(Sink* sink, quire::Status* status);
  static void roll_back_sink(Sink* sink);
  // Holds back name for the log, escaped as log_change says.
  void append_log_name(const char* name);
  // Appends the ISO time of stamp, quoted, or null.
  void append_feed_stamp(const Stamp& stamp);
  void make_feed_prefix(std::string_view kind, std::string_view area);

  Sink log_;
  Sink feed_;
  std::function<void()> before_spill_;
  std::string output_;   // the run's output path as given
  int64_t run_time_ = 0;
  // The start of every feed line of the run, up to the event's value.
  std::string feed_prefix_;
  std::string feed_line_;  // the feed line being made, reused
  std::string log_name_;   // an escaped name for the log, reused
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_CHANGE_LOG_H_
