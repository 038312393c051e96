// The progress bar that `quire KIND` draws on standard error while a report
// runs: items done of the total, the rate, and the time left.
#ifndef QUIRE_CLI_PROGRESS_H_
#define QUIRE_CLI_PROGRESS_H_

#include <chrono>
#include <cstdio>

namespace quire::cli {

class ProgressBar {
 public:
  // Draws on out, which should be a terminal; with sequences, lines are
  // cleared with the terminal's erase-line sequence, else overwritten with
  // blanks.
  ProgressBar(std::FILE* out, bool sequences);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // One item is done; item_number is its position among total items.
  // Redraws at most ten times a second.
  void item_done(long item_number, long total);

  // Erases the bar so that a message can be printed on a clean line; the
  // next item_done draws it again.
  void clear();

  // Draws the final state and ends the line. Nothing when nothing was drawn.
  void finish();

  // The line drawn for the given state, without the leading CR (for tests).
  static int format_line(char* out, int size, long done, long item_number, long total,
                         double elapsed_seconds);

 private:
  void draw();

  std::FILE* out_;
  bool sequences_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  long done_ = 0;
  long item_number_ = 0;
  long total_ = 0;
  bool drawn_ = false;    // something has been drawn since the start
  bool visible_ = false;  // the bar is on screen now
};

}  // namespace quire::cli

#endif  // QUIRE_CLI_PROGRESS_H_
