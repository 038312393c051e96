// Reading marker pieces ahead of the caller, in a thread of its own: while a
// report formats one marker's pieces, the thread steps the marker-piece
// statement on a connection of its own and decodes the rows that follow.
#ifndef PLOTBASE_PIECE_READ_AHEAD_H_
#define PLOTBASE_PIECE_READ_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "internal.h"

namespace plotbase {

// One stream of decoded marker_pieces rows in key order (marker_id,
// position), filled by a thread with its own read-only connection to the
// area and taken by the connection's owner (one thread) through a
// bounded ring. The owner never waits for the thread: a row the stream
// does not hold yet is the owner's to read itself. The thread's failures
// (its file cannot be opened, a step fails) are not reported here: the
// owner reads the piece itself and meets the error, if any, the way it
// would have without a stream.
class PieceReadAhead {
 public:
  // What take() found for the wanted key.
  enum class Take {
    kRow,      // the row, copied out
    kEnd,      // no row of the wanted marker at or after the wanted position
    kBehind,   // the row after the one taken last is not read yet
    kUnknown,  // the stream cannot tell: read the row directly
    kFailed,   // the thread has failed: read directly and drop this object
  };

  // A stream read through connection, a connection of its own to the data
  // the owner reads (the same version()); the thread checks that the area
  // is still current once it has opened it. Starts no thread.
  explicit PieceReadAhead(std::unique_ptr<store::Connection> connection);
  // Stops and joins the thread.
  ~PieceReadAhead();
  PieceReadAhead(const PieceReadAhead&) = delete;
  PieceReadAhead& operator=(const PieceReadAhead&) = delete;

  // Streams the rows from key (marker, position) on, dropping whatever was
  // streamed before; starts the thread on first use. False when no thread
  // can be had (nothing is streamed then).
  bool start(int64_t marker, int64_t position);
  // True between start() and stop().
  bool streaming() const { return streaming_; }
  // Stops streaming; the thread idles until the next start().
  void stop();

  // The row at key (marker, position) when the stream holds it: copies its
  // quire::records::marker_piece::kSize record bytes to record, its
  // position to *row_position and consumes it (as the directly read cursor
  // would, a row of marker at a later position is taken too). Rows before
  // the wanted key are dropped. kEnd only when the stream saw the table go
  // on past marker, or end, with no row in between.
  Take take(int64_t marker, int64_t position, unsigned char* record, int64_t* row_position);

  // Rows dropped without being taken, and rows taken, since start(): a
  // stream that drops far more than it serves follows no walk of the owner.
  int64_t dropped() const { return dropped_; }
  int64_t served() const { return served_; }
  // The number of markers whose pieces make about kHopRows rows, as far as
  // the stream has seen: how far to restart the stream ahead when the
  // owner has caught up with it (kBehind), to read the rows between itself.
  int64_t hop_markers() const;

 private:
  enum RowKind : uint8_t { kRowData, kRowEnd };
  struct Row {
    uint32_t generation;
    uint8_t kind;
    int64_t marker, position;
    unsigned char record[quire::records::marker_piece::kSize];
  };
  static constexpr uint32_t kRingRows = 1024;  // a power of two
  static constexpr uint32_t kWakeFree = kRingRows / 2;
  // Rows written, or taken, between two updates of the shared tail (head):
  // each update costs the other core a cache miss.
  static constexpr uint32_t kPublishEvery = 16;
  static constexpr int64_t kHopRows = 512;

  // Gives the thread a new command, of a new generation: stream from
  // (marker, position), or idle.
  void command(bool streams, int64_t marker, int64_t position);
  // Looks a moment for rows the thread published beyond head_.
  bool row_ready();
  void advance_head();

  void run();
  // Streams one generation from its key; false when the thread failed.
  bool stream(store::Statement* s, uint32_t generation, int64_t marker, int64_t position);
  // Waits for a free ring row; false when the generation changed or the
  // thread is told to quit meanwhile.
  bool wait_for_room(uint32_t generation);
  // Counts the row at tail_ in; every kPublishEvery rows the owner sees
  // them (flush()).
  void publish();
  void flush();

  std::unique_ptr<store::Connection> connection_;  // the thread's
  std::unique_ptr<Row[]> ring_;
  std::thread thread_;

  // The owner's side.
  bool streaming_ = false;
  uint32_t generation_ = 0;
  uint32_t head_ = 0, tail_seen_ = 0;
  int64_t gap_marker_ = 0, gap_position_ = 0;  // no row in [gap, head row)
  int64_t dropped_ = 0, served_ = 0;
  int64_t rows_seen_ = 0, markers_seen_ = 0, last_marker_ = -1;  // over all streams

  // The thread's side.
  uint32_t tail_ = 0, head_seen_ = 0;

  // Shared.
  alignas(64) std::atomic<uint32_t> head_published_{0};
  alignas(64) std::atomic<uint32_t> tail_published_{0};
  alignas(64) std::atomic<uint32_t> live_generation_{0};
  std::atomic<bool> failed_{false};
  std::atomic<bool> thread_waiting_{false};  // for room in the ring
  std::mutex mutex_;
  std::condition_variable changed_;
  // Under mutex_: the latest command.
  bool quit_ = false;
  bool command_streams_ = false;
  uint32_t command_generation_ = 0;
  int64_t command_marker_ = 0, command_position_ = 0;
};

}  // namespace plotbase

#endif  // PLOTBASE_PIECE_READ_AHEAD_H_
