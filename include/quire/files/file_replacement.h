// Replacing a file as a whole: the new content goes into a temporary file
// beside the target, created exclusively under a name nobody can guess and
// never through a symbolic link, then it is synced and renamed over the
// target and the directory is synced. Readers of the target see the old
// file or the new one, never a part.
//
// While it is written the temporary file is held locked, so that the next
// writer in that directory can tell it from one a killed writer left behind
// and remove only those.
#ifndef QUIRE_FILES_FILE_REPLACEMENT_H_
#define QUIRE_FILES_FILE_REPLACEMENT_H_

#include <string>

#include "quire/files/file_system.h"

namespace quire::platform {

class FileReplacement {
 public:
  // The temporary file, the rename and the syncs go through env.
  explicit FileReplacement(FileEnv& env) : file_(env) {}
  ~FileReplacement();  // abandons a replacement not put in place
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Removes the temporary files of killed writers with this prefix in the
  // target's directory, then creates "<directory>/<prefix><random>.tmp".
  // False with status when no file can be created there.
  bool begin(const std::string& target, const char* prefix, Status* status);

  // The temporary file, open for writing (and reading) from begin on.
  WritableFile& file() { return file_; }
  const std::string& temporary_path() const { return temporary_; }
  const std::string& target() const { return target_; }
  // True from begin until put_in_place or abandon.
  bool is_active() const { return !temporary_.empty(); }

  // Makes target (in the same directory) the file to replace.
  void set_target(const std::string& target) { target_ = target; }
  // Makes the file at path (rather than the target) the one whose mode,
  // owner and group finish gives the new file: a file that describes
  // another takes that file's, never those of whatever stood at its name.
  void set_attributes_from(const std::string& path) { attributes_from_ = path; }

  // Gives the temporary file the mode, owner and group of the target, or of
  // the file set_attributes_from named (as far as the process may), and
  // syncs it: its content is on the disk. False with status when that or
  // any earlier write of the file failed.
  bool finish(Status* status);

  // Renames the temporary file over the target (call after finish).
  bool put_in_place(Status* status);

  // Syncs the target's directory (after put_in_place). A failure here comes
  // after the target was replaced.
  bool sync_directory(Status* status);

  // Removes the temporary file unless it was put in place.
  void abandon();

  // From now on an interrupt removes the temporary files of the
  // replacements under way before the process ends as the interrupt would
  // end it. On POSIX: SIGINT, SIGTERM and SIGHUP. On Windows: a console
  // control handler (Ctrl-C, Ctrl-Break, closing the console, logoff,
  // shutdown) that removes them and passes the event on to the handlers
  // installed before it (and so to the default, which ends the process);
  // a handler the program installs later runs first, and calls
  // remove_replacements_under_way() itself if it ends the process.
  static void remove_on_interrupt();

 private:
  void release();

  WritableFile file_;
  std::string target_;
  std::string attributes_from_;
  std::string temporary_;
  int slot_ = -1;  // in the interrupt table
};

// Removes the temporary files of the replacements under way now. Safe in a
// signal handler and from another thread (a Windows console control handler
// runs in one): for a program that ends itself on an interrupt.
void remove_replacements_under_way();

}  // namespace quire::platform

#endif  // QUIRE_FILES_FILE_REPLACEMENT_H_
