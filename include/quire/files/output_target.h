// What lies at the path a table or an export is written to, and so how it is
// written there: a regular file (or nothing yet) is replaced whole, a pipe, a
// character device or standard output is written straight into as a stream,
// and anything else is refused.
#ifndef QUIRE_FILES_OUTPUT_TARGET_H_
#define QUIRE_FILES_OUTPUT_TARGET_H_

#include <string>

#include "quire/files/file_system.h"

namespace quire::platform {

struct OutputTarget {
  enum Kind {
    kFile,     // a regular file or nothing: replaced whole at path
    kStream,   // a FIFO, a character device or standard output
    kRefused,  // a directory, a socket, a block device; `what` says which
    kFailed,   // the path could not be examined; status says why
  };
  Kind kind = kFailed;
  // kFile and kStream: where to write, with symbolic links followed to the
  // end of their chain (a relative link target is taken from the link's
  // directory). Empty for standard output.
  std::string path;
  // kStream: the output is the process's standard output (descriptor 1).
  bool standard_output = false;
  // kRefused: "a directory", "a socket", "a block device", ...
  const char* what = "";
  // kRefused: the path the refusal is about: the path examined, or the
  // symbolic link on the way that is not followed.
  std::string refused_path;
  Status status;
};

// Examines path. The names /dev/stdout, /dev/fd/1 and /proc/self/fd/1 (also
// as the target of a link) are standard output: descriptor 1 is written as
// it is, never followed to a file and replaced, so that a shell's redirect
// still receives the table.
//
// A symbolic link that lies in a shared directory (sticky and writable by
// everybody, like /tmp) is followed only when it belongs to the directory's
// owner or to the user running this process, at every link of a chain,
// whatever the system's own setting for such links: another user's link
// there could lead the output into a file that user cannot write. The rule
// holds for the directories on the way as well (also those in a link's
// target), as the files written beside the output go there. Such a link is
// refused as "a symbolic link owned by another user in a shared directory
// (...)", with refused_path naming the link.
//
// On Windows the same three names are standard output (not as the target of
// a link). A reserved device name (NUL, CON, PRN, AUX, COM1-9, LPT1-9,
// CONIN$, CONOUT$: in any case, with or without an extension, also as the
// last component of a path such as C:\x\NUL) and any name of the device
// namespace (\\.\pipe\NAME, \\.\COM1) is a stream, never replaced. A
// symbolic link (any reparse point) is followed only to an existing regular
// file, which becomes the path; a link to nothing, to a directory or to a
// device is refused ("a symbolic link to no regular file", ...).
// Directories are refused.
OutputTarget examine_output(const std::string& path);

// The directory for unnamed scratch files: $TMPDIR when set, else /tmp; on
// Windows the system's temporary directory (GetTempPath).
std::string scratch_directory();

// True when path is a regular file itself, not a symbolic link. When it is
// not, *what describes what is there ("a symbolic link", "a FIFO", ...) or
// is "nothing" when there is nothing.
bool is_regular_file_itself(const std::string& path, const char** what);

}  // namespace quire::platform

#endif  // QUIRE_FILES_OUTPUT_TARGET_H_
