#include "progress.h"

#include <cstring>

#include "console.h"

namespace quire::cli {
namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void format_duration(char* out, int size, double seconds) {
  if (seconds < 0 || seconds > 359999) {
    std::snprintf(out, static_cast<size_t>(size), "--:--");
    return;
  }
  long s = static_cast<long>(seconds + 0.5);
  if (s >= 3600)
    std::snprintf(out, static_cast<size_t>(size), "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(out, static_cast<size_t>(size), "%ld:%02ld", s / 60, s % 60);
}

}  // namespace

ProgressBar::ProgressBar(std::FILE* out, bool sequences)
    : out_(out), sequences_(sequences), start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

int ProgressBar::format_line(char* out, int size, long done, long item_number, long total,
                             double elapsed_seconds) {
  char bar[kBarWidth + 1];
  int filled = 0;
  if (total > 0) {
    long n = item_number < 0 ? 0 : (item_number > total ? total : item_number);
    filled = static_cast<int>(n * kBarWidth / total);
  }
  std::memset(bar, '#', static_cast<size_t>(filled));
  std::memset(bar + filled, '.', static_cast<size_t>(kBarWidth - filled));
  bar[kBarWidth] = 0;
  double rate = elapsed_seconds > 0 ? static_cast<double>(done) / elapsed_seconds : 0;
  char left[32];
  if (rate > 0 && total >= item_number)
    format_duration(left, sizeof left, static_cast<double>(total - item_number) / rate);
  else
    std::snprintf(left, sizeof left, "--:--");
  return std::snprintf(out, static_cast<size_t>(size), "[%s] %ld/%ld items  %.0f items/s  %s left",
                       bar, item_number, total, rate, left);
}

void ProgressBar::draw() {
  double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char line[160];
  format_line(line, sizeof line, done_, item_number_, total_, elapsed);
  set_progress_line_open(true);
  // Clear or pad over whatever a longer previous line left.
  if (sequences_) std::fprintf(out_, "\r%s\x1b[K", line);
  else std::fprintf(out_, "\r%-78s", line);
  std::fflush(out_);
  drawn_ = true;
  visible_ = true;
}

void ProgressBar::item_done(long item_number, long total) {
  ++done_;
  item_number_ = item_number;
  total_ = total;
  auto now = std::chrono::steady_clock::now();
  if (visible_ && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  draw();
}

void ProgressBar::clear() {
  if (!visible_) return;
  set_progress_line_open(false);
  if (sequences_) std::fputs("\r\x1b[K", out_);
  else std::fprintf(out_, "\r%78s\r", "");
  std::fflush(out_);
  visible_ = false;
}

void ProgressBar::finish() {
  if (!drawn_ && done_ == 0) return;
  draw();
  set_progress_line_open(false);
  std::fputc('\n', out_);
  std::fflush(out_);
  visible_ = false;
}

}  // namespace quire::cli
