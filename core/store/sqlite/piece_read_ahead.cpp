// The marker-piece read-ahead: a ring of decoded rows between the thread
// that steps its own marker-piece statement and the connection's owner.
#include "piece_read_ahead.h"


#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace plotbase {
namespace {

constexpr uint32_t kCheckEvery = 64;    // taken rows between looks at a waiting thread
constexpr int kSpinLimit = 64;          // looks for a row about to come
constexpr uint32_t kPrefetchAhead = 4;  // rows

// Lets the other hardware thread of a core run while this one spins.
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// A ring row (96 bytes) spans two cache lines.
inline void prefetch(const void* row, bool write) {
  if (write) {
    __builtin_prefetch(row, 1);
    __builtin_prefetch(static_cast<const char*>(row) + 64, 1);
  } else {
    __builtin_prefetch(row, 0);
    __builtin_prefetch(static_cast<const char*>(row) + 64, 0);
  }
}

bool key_less(int64_t am, int64_t ap, int64_t bm, int64_t bp) { return am < bm || (am == bm && ap < bp); }

}  // namespace

PieceReadAhead::PieceReadAhead(std::unique_ptr<store::Connection> connection)
    : connection_(std::move(connection)) {}

PieceReadAhead::~PieceReadAhead() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    live_generation_.store(++generation_, std::memory_order_relaxed);
  }
  changed_.notify_all();
  thread_.join();
}

bool PieceReadAhead::start(int64_t marker, int64_t position) {
  if (!thread_.joinable()) {
    if (!ring_) ring_.reset(new (std::nothrow) Row[kRingRows]);
    if (!ring_) return false;
    try {
      thread_ = start_background_thread("piece-reader", [this] { run(); });
    } catch (const std::system_error&) {
    }
    if (!thread_.joinable()) return false;
  }
  // What the ring holds now is of an older stream: dropped before the new
  // one can publish a row.
  tail_seen_ = tail_published_.load(std::memory_order_acquire);
  head_ = tail_seen_;
  head_published_.store(head_, std::memory_order_release);
  command(true, marker, position);
  streaming_ = true;
  gap_marker_ = marker;
  gap_position_ = position;
  dropped_ = served_ = 0;
  return true;
}

void PieceReadAhead::stop() {
  if (!streaming_) return;
  streaming_ = false;
  command(false, 0, 0);
}

void PieceReadAhead::command(bool streams, int64_t marker, int64_t position) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    command_generation_ = ++generation_;
    command_streams_ = streams;
    command_marker_ = marker;
    command_position_ = position;
    live_generation_.store(generation_, std::memory_order_relaxed);
  }
  changed_.notify_all();
}

int64_t PieceReadAhead::hop_markers() const {
  if (rows_seen_ == 0) return 1;
  return std::clamp<int64_t>(kHopRows * markers_seen_ / rows_seen_, 1, 256);
}

bool PieceReadAhead::row_ready() {
  for (int spin = 0; spin < kSpinLimit; ++spin) {
    tail_seen_ = tail_published_.load(std::memory_order_acquire);
    if (head_ != tail_seen_) return true;
    pause();
  }
  return false;
}

void PieceReadAhead::advance_head() {
  ++head_;
  if (head_ % kCheckEvery != 0) {
    if (head_ % kPublishEvery == 0) head_published_.store(head_, std::memory_order_release);
    return;
  }
  // Paired with the thread's store of thread_waiting_ and load of the head
  // in wait_for_room(): one of the two sees the other's store.
  head_published_.store(head_, std::memory_order_seq_cst);
  if (!thread_waiting_.load(std::memory_order_seq_cst)) return;
  // A waiting thread stands still: its tail is final.
  tail_seen_ = tail_published_.load(std::memory_order_acquire);
  if (tail_seen_ - head_ > kRingRows - kWakeFree) return;
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

PieceReadAhead::Take PieceReadAhead::take(int64_t marker, int64_t position, unsigned char* record,
                                          int64_t* row_position) {
  if (failed_.load(std::memory_order_acquire)) return Take::kFailed;
  if (!streaming_ || key_less(marker, position, gap_marker_, gap_position_)) return Take::kUnknown;
  for (;;) {
    if (head_ == tail_seen_ && !row_ready()) {
      // The owner has caught up with the thread (not merely skipped rows
      // ahead of it).
      bool next = served_ > 0 && marker == gap_marker_ && position == gap_position_;
      return next ? Take::kBehind : Take::kUnknown;
    }
    const Row& r = ring_[head_ % kRingRows];
    if (r.generation != generation_) {
      advance_head();
      continue;
    }
    // The row is the first of the stream at or after the gap.
    if (r.kind == kRowEnd) return Take::kEnd;
    if (key_less(r.marker, r.position, marker, position)) {
      gap_marker_ = r.marker;
      gap_position_ = r.position + 1;
      ++dropped_;
      advance_head();
      continue;
    }
    if (r.marker != marker) return Take::kEnd;
    // The next rows come from the thread's core: ask for them before the
    // owner does.
    if (tail_seen_ - head_ > kPrefetchAhead) prefetch(&ring_[(head_ + kPrefetchAhead) % kRingRows], false);
    std::memcpy(record, r.record, sizeof r.record);
    *row_position = r.position;
    gap_marker_ = r.marker;
    gap_position_ = r.position + 1;
    ++served_;
    ++rows_seen_;
    if (r.marker != last_marker_) ++markers_seen_;
    last_marker_ = r.marker;
    advance_head();
    return Take::kRow;
  }
}

// ---- the thread ----------------------------------------------------------------

bool PieceReadAhead::wait_for_room(uint32_t generation) {
  for (;;) {
    if (tail_ - head_seen_ < kRingRows) return true;
    head_seen_ = head_published_.load(std::memory_order_acquire);
    if (tail_ - head_seen_ < kRingRows) return true;
    flush();
    std::unique_lock<std::mutex> lock(mutex_);
    thread_waiting_.store(true, std::memory_order_seq_cst);
    changed_.wait(lock, [&] {
      head_seen_ = head_published_.load(std::memory_order_seq_cst);
      return quit_ || command_generation_ != generation || tail_ - head_seen_ <= kRingRows - kWakeFree;
    });
    thread_waiting_.store(false, std::memory_order_relaxed);
    if (quit_ || command_generation_ != generation) return false;
  }
}

void PieceReadAhead::publish() {
  ++tail_;
  if (tail_ % kPublishEvery == 0) flush();
}

// A full barrier: measured, the owner sees the rows sooner than with a
// release store (and catches up with the thread less often).
void PieceReadAhead::flush() { tail_published_.store(tail_, std::memory_order_seq_cst); }

bool PieceReadAhead::stream(store::Statement* s, uint32_t generation, int64_t marker, int64_t position) {
  namespace piece = quire::records::marker_piece;
  s->reset();
  s->bind_int64(1, marker);
  // Positions are 0, 1, 2, ... within every marker, as the directly read
  // cursor counts them.
  bool first = true;
  int64_t row_marker = 0, row_position = 0;
  for (;;) {
    if (live_generation_.load(std::memory_order_relaxed) != generation) return true;
    bool row = false;
    bool stepped = s->step(&row).ok();
    if (stepped && row) {
      int64_t m = s->column_int64(kPieceMarkerColumn);
      row_position = !first && m == row_marker ? row_position + 1 : 0;
      row_marker = m;
      first = false;
      if (m == marker && row_position < position) continue;
      if (!wait_for_room(generation)) return true;
      // The rows ahead were last read on the owner's core: ask for them
      // now, while the next steps run.
      prefetch(&ring_[(tail_ + kPrefetchAhead) % kRingRows], true);
      Row& r = ring_[tail_ % kRingRows];
      r.generation = generation;
      r.kind = kRowData;
      r.marker = row_marker;
      r.position = row_position;
      fill_record(*s, kPieceMarkerColumn + 1, kMarkerPiecesTable, r.record, piece::kSize);
      publish();
      continue;
    }
    flush();
    if (!stepped) {
      s->reset();
      return false;
    }
    if (wait_for_room(generation)) {
      Row& r = ring_[tail_ % kRingRows];
      r.generation = generation;
      r.kind = kRowEnd;
      r.marker = r.position = 0;
      ++tail_;
      flush();
    }
    s->reset();
    return true;
  }
}

void PieceReadAhead::run() {
  std::unique_ptr<store::Statement> s;
  // A walk in key order needs few pages at a time.
  if (connection_->dialect() == store::Dialect::kSqlite) (void)connection_->execute("PRAGMA cache_size = -256");
  bool ok = connection_->begin(store::TransactionMode::kReadSnapshot).ok() &&
            connection_->prepare(statement_sql(kStmtMarkerPieces), &s).ok();
  // The area is open now (the statement read its schema). Its data is the
  // owner's only if the area was not replaced since the connection was made.
  if (ok) ok = connection_->is_current();
  uint32_t generation = 0;
  while (ok) {
    int64_t marker = 0, position = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return quit_ || (command_streams_ && command_generation_ != generation); });
      if (quit_) break;
      generation = command_generation_;
      marker = command_marker_;
      position = command_position_;
    }
    ok = stream(s.get(), generation, marker, position);
  }
  if (!ok) failed_.store(true, std::memory_order_release);
  s.reset();
  connection_.reset();
}

}  // namespace plotbase
