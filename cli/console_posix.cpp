// The quire program's console and Ctrl-C on POSIX systems.
#include <signal.h>
#include <unistd.h>

#include "console.h"

namespace quire::cli {

namespace {

volatile sig_atomic_t g_interrupts = 0;
struct sigaction g_previous;

// First Ctrl-C: the next stop query answers "stop". Second: the process
// ends as SIGINT ends it; the output path still holds the previous table,
// since a table replaces it only when complete.
void on_interrupt(int) {
  if (g_interrupts > 0) {
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
    return;
  }
  g_interrupts = 1;
  static const char kMessage[] = "\nquire: stopping after the current item (Ctrl-C again to abort)\n";
  ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
}

}  // namespace

void prepare_standard_streams() {}

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) != 0; }

// Terminals here take the sequences, but the bar has always redrawn with
// blanks, which every terminal shows the same.
bool enable_terminal_sequences() { return false; }

const char* store_location_text() {
  return "$QUIRE_STORE, else $XDG_DATA_HOME/quire/store, else ~/.local/share/quire/store";
}

InterruptWatch::InterruptWatch() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESTART;  // a list file read from a pipe goes on after Ctrl-C
  sigemptyset(&action.sa_mask);
  g_interrupts = 0;
  sigaction(SIGINT, &action, &g_previous);
}

InterruptWatch::~InterruptWatch() { sigaction(SIGINT, &g_previous, nullptr); }

bool InterruptWatch::stop_requested() { return g_interrupts != 0; }

}  // namespace quire::cli
