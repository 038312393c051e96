// The change log: delta.lst in the current directory, used only when it
// exists. The lines of a run (its preamble line, then one line per new,
// changed or deleted item) are held back and appended in one go when the
// new table takes its place, so an interrupted or failed run leaves the log
// as it was and every change is logged once.
#ifndef QUIRE_TABLE_CHANGE_LOG_H_
#define QUIRE_TABLE_CHANGE_LOG_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace quire::table {

class ChangeLog {
 public:
  ChangeLog() = default;
  ~ChangeLog() = default;
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // Opens the log at path when that file exists. A log that exists but
  // cannot be opened is reported through pb_printf and not used.
  void open(const std::string& path);
  bool is_open() const { return file_ != nullptr; }

  // Holds back text for the log (nothing when it is not open).
  void append(std::string_view text);
  // Holds back one line "WORD: "name"" ended by CR LF.
  void log_change(const char* word, const char* name);

  // Forgets the lines held back and closes the log.
  void discard();

  // Appends the lines held back to the log, syncs and closes it. True when
  // there was nothing to do or everything was written; otherwise false with
  // the reason in status.
  bool commit(platform::IoStatus* status);

 private:
  // Lines beyond this are moved to an unnamed file, keeping memory flat.
  static constexpr size_t kMemoryLimit = 256 * 1024;

  std::unique_ptr<platform::OutputFile> file_;
  std::unique_ptr<platform::OutputFile> spill_;
  std::string pending_;
};

}  // namespace quire::table

#endif  // QUIRE_TABLE_CHANGE_LOG_H_
