// What the quire program needs of the system it runs on: the standard
// streams, the console, Ctrl-C, and where the store is by default. One half
// per system (console_posix.cpp, console_windows.cpp), chosen by the build.
#ifndef QUIRE_CLI_CONSOLE_H_
#define QUIRE_CLI_CONSOLE_H_

#include <string>

namespace quire::cli {

// Sets up the standard streams before anything is written: on Windows
// standard output is put in binary mode, so that a table written to it has
// the same bytes as one written to a file.
void prepare_standard_streams();

// True when standard error is a terminal (a console window on Windows).
bool standard_error_is_terminal();

// Asks the terminal on standard error to take the cursor sequences the
// progress bar can use ("\r\x1b[K" to clear a line). True when it does;
// false means plain text only (carriage return and blanks).
bool enable_terminal_sequences();

// Where the store is when nothing names it, as the help text says it.
const char* store_location_text();

// The path as an absolute one, as this system's file calls take it: a
// relative path joined to the current directory (on Windows also a path of
// a drive's own current directory, "C:x", or of the current drive's root,
// "\\x"). The path itself when that fails.
std::string absolute_path(const std::string& path);

// Sets the environment variable name to value for this process and the
// programs and libraries it runs. False when the system refuses.
bool set_environment_variable(const char* name, const char* value);

// Tells the signal handlers whether standard error's last line is the
// progress bar, not ended: a process that ends on a signal, or writes a
// message from a handler, ends that line first. Safe to call at any time.
void set_progress_line_open(bool open);

// While one exists, Ctrl-C asks the run to stop: the first sets the flag
// that stop_requested() reads and tells the user on standard error; the
// second ends the process at once (exit status 130, or killed by SIGINT),
// the temporary files under way removed by the file layer's handler
// (FileReplacement::remove_on_interrupt, called before the watch starts).
// A broken pipe on standard output ends the process as before, the progress
// line ended first. Only one at a time.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True once the user pressed Ctrl-C (safe to ask from any thread).
  static bool stop_requested();
};

}  // namespace quire::cli

#endif  // QUIRE_CLI_CONSOLE_H_
