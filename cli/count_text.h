// Counts in the program's messages: "1 marker", "3 markers".
#ifndef QUIRE_CLI_COUNT_TEXT_H_
#define QUIRE_CLI_COUNT_TEXT_H_

#include <cstdint>
#include <string>

namespace quire::cli {

// n and word, with an "s" added unless n is 1.
inline std::string plural(int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace quire::cli

#endif  // QUIRE_CLI_COUNT_TEXT_H_
