// The quire program's console and Ctrl-C on Windows.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "console.h"
#include "quire/files/file_replacement.h"

namespace quire::cli {

namespace {

std::atomic<int> g_interrupts{0};

// The exit status of a run ended by a second Ctrl-C, as a shell reports a
// process killed by SIGINT.
constexpr UINT kInterruptedStatus = 130;

// Removes the temporary files of the replacements under way (tables, area
// files), as the POSIX signal handler of the file layer does.
void remove_temporary_files() { quire::platform::remove_replacements_under_way(); }

// Set while standard error's last line is the progress bar, not ended.
std::atomic<bool> g_progress_line_open{false};

// Ends the progress line, when one is open, so that what follows starts a
// line of its own.
void end_progress_line() {
  if (!g_progress_line_open.exchange(false)) return;
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\n", 1, &written, nullptr);
}

// Runs on a thread of its own that the system starts for each Ctrl-C.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupts.fetch_add(1) > 0) {
    end_progress_line();
    remove_temporary_files();
    TerminateProcess(GetCurrentProcess(), kInterruptedStatus);
    return TRUE;
  }
  g_progress_line_open = false;
  static const char kMessage[] = "\nquire: stopping after the current item (Ctrl-C again to abort)\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
  return TRUE;
}

}  // namespace

void prepare_standard_streams() {
  // Both in binary mode: a table written to "-" has the same bytes as one
  // written to a file (no CR CR LF), and messages end with LF as they do
  // everywhere.
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool standard_error_is_terminal() {
  DWORD mode = 0;
  return _isatty(_fileno(stderr)) != 0 && GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool enable_terminal_sequences() {
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

const char* store_location_text() { return "%QUIRE_STORE%, else %LOCALAPPDATA%\\quire\\store"; }

// In the ANSI code page, as the program's arguments and the file layer's
// calls have paths.
std::string absolute_path(const std::string& path) {
  const DWORD need = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (need == 0) return path;
  std::string full(need, '\0');
  const DWORD got = GetFullPathNameA(path.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) return path;
  full.resize(got);
  return full;
}

bool set_environment_variable(const char* name, const char* value) { return _putenv_s(name, value) == 0; }

void set_progress_line_open(bool open) { g_progress_line_open = open; }

// Writing to a closed pipe fails on Windows (there is no SIGPIPE): the
// library reports the failed write, after the bar is cleared.
InterruptWatch::InterruptWatch() {
  g_interrupts = 0;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

InterruptWatch::~InterruptWatch() { SetConsoleCtrlHandler(on_console_event, FALSE); }

bool InterruptWatch::stop_requested() { return g_interrupts.load() != 0; }

}  // namespace quire::cli
