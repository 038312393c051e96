// Marker readers: the plain and extended header, the analysis, the pieces,
// the piece overrides and the splices.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "internal.h"
#include "piece_read_ahead.h"

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/markers.cpp";
namespace rec = quire::records;
namespace mh = quire::records::marker_header;
namespace ma = quire::records::marker_analysis;

}  // namespace

quire::Status read_marker_header(ItemSlot* slot, unsigned char* h, bool ex) {
  return read_row(slot->conn.get(), kStmtMarkerHeader, slot->id, -1, kMarkersTable, h, ex ? mh::kSizeEx : mh::kSize,
                  kErrDamagedArea, "marker row missing", kSource, __LINE__);
}

namespace {

bool key_le(int64_t am, int64_t ap, int64_t bm, int64_t bp) { return am < bm || (am == bm && ap <= bp); }

// Steps the piece cursor to its next row: the pending row, or the end.
// Positions are 0, 1, 2, ... within every marker (the writer makes them
// so), so a row's position follows from the row before it.
quire::Status fetch_pending(Conn* conn, store::Statement* s, bool after_row) {
  Conn::PieceCursor& c = conn->pieces;
  int64_t previous = c.marker;
  quire::Status failure;
  Step rc = step(s, &failure);
  if (rc == Step::kRow) {
    c.marker = s->column_int64(kPieceMarkerColumn);
    c.position = after_row && c.marker == previous ? c.position + 1 : 0;
    c.at_end = false;
    return {};
  }
  c.at_end = true;
  if (rc == Step::kDone) return {};
  c.valid = false;
  s->reset();
  return PB_DB_ERROR(conn, failure);
}

// Rows read directly in a row without a search before the rest are read
// ahead: a walk of the markers in order, not the few pieces of a lookup.
constexpr int64_t kReadAheadAfter = 64;
// Rows a read-ahead may drop beyond those it serves before it stops: it
// runs ahead of a walk that skips most markers.
constexpr int64_t kReadAheadWaste = 16384;

void drop_read_ahead(Conn* conn) {
  conn->read_ahead.reset();
  conn->read_ahead_off = true;
}

// Starts (or restarts) reading ahead from the key after (marker, position).
// The stream reads through a connection of its own to the same data of the
// area; when none can be had, the pieces are read directly.
void start_read_ahead(Conn* conn, int64_t marker, int64_t position) {
  conn->in_order_reads = 0;
  if (!conn->read_ahead) {
    std::unique_ptr<store::Connection> own;
    if (conn->engine->open_area(conn->name, &own).ok() && own &&
        own->version() == conn->connection->version())
      conn->read_ahead.reset(new (std::nothrow) PieceReadAhead(std::move(own)));
  }
  if (!conn->read_ahead || !conn->read_ahead->start(marker, position + 1)) drop_read_ahead(conn);
}

}  // namespace

void restart_marker_pieces(ItemSlot* slot) { slot->piece_next_position = 0; }

namespace {

// The end of a marker's pieces: the rows walked (positions count them from
// 0) must be as many as its header declares, or rows are missing or extra
// and the marker cannot be read whole. Costs no query.
quire::Status end_of_pieces(ItemSlot* slot, End* end) {
  const int64_t walked = slot->piece_next_position;
  if (walked != slot->count[kMarkerPieces])
    return item_damaged(slot->conn.get(), kMarker, slot->id,
                        disagreement(walked, slot->count[kMarkerPieces], "pieces"), kSource, __LINE__);
  PB_END(end, kErrEndOfList, "no more pieces");
  return {};
}

}  // namespace

quire::Status read_marker_piece(ItemSlot* slot, unsigned char* piece, End* end) {
  Conn* conn = slot->conn.get();
  int64_t marker = slot->id, position = slot->piece_next_position;
  PieceReadAhead* ahead = conn->read_ahead.get();
  if (ahead && ahead->streaming()) {
    int64_t at = 0;
    switch (ahead->take(marker, position, piece, &at)) {
      case PieceReadAhead::Take::kRow:
        slot->piece_next_position = at + 1;
        return {};
      case PieceReadAhead::Take::kEnd:
        return end_of_pieces(slot, end);
      case PieceReadAhead::Take::kFailed:
        // Read directly: an error of the file shows there as it would have.
        drop_read_ahead(conn);
        break;
      case PieceReadAhead::Take::kBehind:
        // The stream reads no faster than the caller uses the rows: the
        // caller reads the next few hundred itself while the stream goes
        // on beyond them.
        if (!ahead->start(marker + ahead->hop_markers(), 0)) drop_read_ahead(conn);
        break;
      case PieceReadAhead::Take::kUnknown:
        if (ahead->dropped() > ahead->served() + kReadAheadWaste) ahead->stop();
        break;
    }
  }
  // Read directly, through the connection's own cursor.
  quire::Status status;
  store::Statement* s = conn->stmt(kStmtMarkerPieces, &status);
  if (!s) return status;
  Conn::PieceCursor& c = conn->pieces;
  // The pending row is the first at or after the wanted key when no row
  // lies between: then no search is needed.
  bool usable = c.valid && key_le(c.gap_marker, c.gap_position, marker, position) &&
                (c.at_end || key_le(marker, position, c.marker, c.position));
  if (!usable) {
    // Search by marker only (the statement then has no per-row test) and
    // step over the pieces already read, which only an interleaved walk of
    // two open markers makes necessary.
    conn->in_order_reads = 0;
    s->reset();
    s->bind_int64(1, marker);
    c.valid = true;
    c.gap_marker = marker;
    c.gap_position = 0;
    status = fetch_pending(conn, s, false);
    while (status.ok() && !c.at_end && c.marker == marker && c.position < position) {
      c.gap_position = c.position + 1;
      status = fetch_pending(conn, s, true);
    }
    if (!status.ok()) {
      drop_read_ahead(conn);
      return status;
    }
  }
  if (c.at_end || c.marker != marker) return end_of_pieces(slot, end);
  fill_record(*s, kPieceMarkerColumn + 1, kMarkerPiecesTable, piece, rec::marker_piece::kSize);
  slot->piece_next_position = c.position + 1;
  c.gap_marker = c.marker;
  c.gap_position = c.position + 1;
  if (usable && ++conn->in_order_reads >= kReadAheadAfter && !conn->read_ahead_off &&
      !(conn->read_ahead && conn->read_ahead->streaming()))
    start_read_ahead(conn, c.marker, c.position);
  // Fetch ahead; a failure here only makes the next read search again.
  (void)fetch_pending(conn, s, true);
  return status;
}

const void* analyze_marker(ItemSlot* slot, quire::Status* status) {
  Conn* conn = slot->conn.get();
  const StmtId from = keyed_stmt(conn, kStmtAnalysis);  // on a server: a cursor in key order
  store::Statement* s = from != kStmtCount ? nullptr : conn->stmt(kStmtAnalysis, status);
  if (from == kStmtCount && !s) return nullptr;
  StatementReset reset(s);  // the point statement's; the cursor stays open
  quire::Status failure;
  Step rc = s ? (s->bind_int64(1, slot->id), step(s, &failure)) : read_keyed(conn, from, slot->id, &s, &failure);
  if (rc == Step::kFailed) return *status = PB_DB_ERROR(conn, failure), nullptr;
  if (!slot->analysis) {
    slot->analysis.reset(new (std::nothrow) unsigned char[ma::kSize]);
    if (!slot->analysis) return *status = PB_ERROR(kErrNoMemory, ""), nullptr;
  }
  unsigned char* a = slot->analysis.get();
  std::memset(a, 0, ma::kSize);
  if (rc == Step::kRow && !fill_record(*s, from != kStmtCount ? 1 : 0, kAnalysisTable, a, ma::kSize)) {
    *status = item_damaged(conn, kMarker, slot->id,
                           "a count list of its analysis is not a list of whole numbers that fits its slots "
                           "(the area file is damaged)",
                           kSource, __LINE__);
    return nullptr;
  }
  return a;
}

quire::Status read_marker_entry(ItemSlot* slot, ItemCount list, int index, unsigned char* record) {
  // index is within the list the header declares: a missing row is damage.
  const bool overrides = list == kMarkerOverrides;
  quire::Status status = read_row(slot->conn.get(), overrides ? kStmtOverride : kStmtSplice, slot->id, index,
                                  overrides ? kOverridesTable : kSplicesTable, record,
                                  overrides ? rec::piece_override::kSize : rec::splice_info::kSize, kErrIndexRange,
                                  overrides ? "no such override" : "no such splice", kSource, __LINE__);
  if (status.error() == kErrIndexRange)
    return item_damaged(slot->conn.get(), kMarker, slot->id,
                        std::string(overrides ? "override " : "splice ") + std::to_string(index) + " of " +
                            std::to_string(slot->count[list]) + " declared is missing (the area file is damaged)",
                        kSource, __LINE__);
  return status;
}

}  // namespace plotbase
