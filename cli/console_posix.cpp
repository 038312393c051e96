// The quire program's console and Ctrl-C on POSIX systems.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "console.h"

namespace quire::cli {

namespace {

volatile sig_atomic_t g_interrupts = 0;
volatile sig_atomic_t g_progress_line_open = 0;
struct sigaction g_previous_interrupt;
struct sigaction g_previous_pipe;

// Ends the progress line, when one is open, so that what follows starts a
// line of its own (only calls that are safe in a signal handler).
void end_progress_line() {
  if (!g_progress_line_open) return;
  g_progress_line_open = 0;
  ssize_t ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
}

// Ends the process as the signal ends it, through the handler that was there
// before the watch (the file layer's, which removes the temporary files
// under way, then ends the process with the signal's default action). The
// signal is blocked while this handler runs, so it arrives once it returns.
void end_with(int signal_number, const struct sigaction& previous) {
  end_progress_line();
  struct sigaction action = previous;
  if (action.sa_handler == SIG_IGN) action.sa_handler = SIG_DFL;  // Ctrl-C twice always ends it
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);
}

// First Ctrl-C: the next stop query answers "stop". Second: the process
// ends as SIGINT ends it; the output path still holds the previous table,
// since a table replaces it only when complete.
void on_interrupt(int signal_number) {
  if (g_interrupts > 0) {
    end_with(signal_number, g_previous_interrupt);
    return;
  }
  g_interrupts = 1;
  // The message starts a line of its own (after the bar, or the "^C" the
  // terminal shows).
  g_progress_line_open = 0;
  static const char kMessage[] = "\nquire: stopping after the current item (Ctrl-C again to abort)\n";
  ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
}

// Standard output was closed by its reader: the process ends as SIGPIPE
// ends it.
void on_broken_pipe(int signal_number) { end_with(signal_number, g_previous_pipe); }

}  // namespace

void prepare_standard_streams() {}

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) != 0; }

// Terminals here take the sequences, but the bar has always redrawn with
// blanks, which every terminal shows the same.
bool enable_terminal_sequences() { return false; }

const char* store_location_text() {
  return "$QUIRE_STORE, else $XDG_DATA_HOME/quire/store, else ~/.local/share/quire/store";
}

std::string absolute_path(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string directory(PATH_MAX, '\0');
  if (getcwd(directory.data(), directory.size()) == nullptr) return path;
  directory.resize(std::char_traits<char>::length(directory.c_str()));
  if (path.empty()) return directory;
  return directory + (directory.back() == '/' ? "" : "/") + path;
}

bool set_environment_variable(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

void set_progress_line_open(bool open) { g_progress_line_open = open ? 1 : 0; }

InterruptWatch::InterruptWatch() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESTART;  // a list file read from a pipe goes on after Ctrl-C
  sigemptyset(&action.sa_mask);
  g_interrupts = 0;
  sigaction(SIGINT, &action, &g_previous_interrupt);
  // A process started with SIGPIPE ignored keeps it so: its writes fail
  // with a message instead.
  sigaction(SIGPIPE, nullptr, &g_previous_pipe);
  if (g_previous_pipe.sa_handler != SIG_IGN) {
    action.sa_handler = on_broken_pipe;
    sigaction(SIGPIPE, &action, nullptr);
  }
}

InterruptWatch::~InterruptWatch() {
  sigaction(SIGINT, &g_previous_interrupt, nullptr);
  sigaction(SIGPIPE, &g_previous_pipe, nullptr);
}

bool InterruptWatch::stop_requested() { return g_interrupts != 0; }

}  // namespace quire::cli
