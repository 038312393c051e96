// The POSIX half of the interrupt cleanup: a handler of SIGINT, SIGTERM and
// SIGHUP removes the temporary files under way, then ends the process as the
// signal would have.
#include <unistd.h>

#include <csignal>

#include "file_replacement_internal.h"
#include "quire/files/file_replacement.h"

namespace quire::platform {

namespace internal {

void remove_path_now(const char* path) { ::unlink(path); }

}  // namespace internal

namespace {

void on_interrupt(int signal_number) {
  remove_replacements_under_way();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void FileReplacement::remove_on_interrupt() {
  struct sigaction action = {};
  action.sa_handler = &on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
}

}  // namespace quire::platform
