// A store of the fuzz target's own: a new temporary directory that
// QUIRE_STORE names for the rest of the process and that is removed at its
// end, so that imports never touch a real store.
#ifndef QUIRE_FUZZ_FUZZ_STORE_H_
#define QUIRE_FUZZ_FUZZ_STORE_H_

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace quire::fuzz {

// In memory where the system has a memory file system: an import syncs
// its area file, which costs nothing there.
inline void use_scratch_store() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  if (!tmp && ::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
  std::string pattern = base + "/quire-fuzz-store.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr || ::setenv("QUIRE_STORE", pattern.c_str(), 1) != 0) {
    std::perror("quire fuzz: cannot make a scratch store");
    std::abort();
  }
  static std::string directory = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  });
}

}  // namespace quire::fuzz

#endif  // QUIRE_FUZZ_FUZZ_STORE_H_
