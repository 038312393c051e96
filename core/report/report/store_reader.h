// StoreReader: everything the report core reads from a storage area, as one
// C++ interface. The report run, its item loop and every report kind read
// through it; the program's shell implements it on the storage library, and
// tests implement it on items held in memory.
//
// Records stay the caller's byte buffers at the fixed offsets of
// quire/records.h. Every read returns a Status:
//  - ok: the record was read;
//  - kNotFound: the item, area or piece is not there, the list being walked
//    has no further entry, or the store refused the read for a reason other
//    than the area file (a walk ends there without a message);
//  - kStore: the area file could not be read (a damaged file, a failed read,
//    a row the item's other rows promise is missing). Such a failure says
//    nothing about the records after it: it is never the end of a list.
// Every failure carries the store's own error code as error() and the
// place the store detected it as source() and line(), for the error line a
// run prints (see DumpReport::report_failure).
#ifndef QUIRE_REPORT_STORE_READER_H_
#define QUIRE_REPORT_STORE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "quire/records.h"
#include "quire/status.h"
#include "table/table_messages.h"

namespace quire {

// Sizes of the per-item working buffers.
constexpr int kItemNameSize = 24;  // names of up to 20 characters
constexpr int kUserTextSize = 44;  // user names of up to 43 characters
constexpr int kAreaPathSize = 256;  // the area path of the preamble

// The kinds of item a report walks.
enum class StoreKind { kMarker, kModel, kOrder };

// The six closing values of every row of one item: when and by whom it was
// last modified, created and modified before that. The texts are measured
// once per item, not once per row.
struct ClosingValues {
  int32_t mod_time;
  std::string_view user_last_mod;
  int32_t creation_time;
  std::string_view user_created;
  int32_t prev_mod_time;
  std::string_view user_prev_mod;
};

// The current item of a StoreCursor. After a lookup: name, number, total and
// mod_time. After an open besides: area and closing, whose texts point into
// the cursor and stay valid until its next lookup or open.
struct Item {
  char name[kItemNameSize] = {};  // NUL-ended
  int number = 0;                 // 1-based position among the items of its kind
  int total = 0;                  // the number of items of its kind
  int32_t mod_time = 0;           // last modification, as the lookup reported it
  unsigned char* area = nullptr;  // the open item's area, for the store's reads
  // Creation and previous-modification times are 0 when the store has none;
  // mod_time here is the one the open reported.
  ClosingValues closing = {};
};

// Where a lookup found an item: its 1-based position among the items of its
// kind (in the store's name order), their number, and the item's last
// modification time.
struct ItemPlace {
  int number = 0;
  int total = 0;
  int32_t mod_time = 0;
};

// What an open reports of the item's history. Times are -1 when the store
// has none. The texts are the store's as they stand (not cut) and stay
// valid until the reader's next call.
struct ItemHistory {
  int32_t mod_time = 0;
  int32_t creation_time = -1;
  int32_t prev_mod_time = -1;
  std::string_view user_last_mod;
  std::string_view user_created;
  std::string_view user_prev_mod;
};

// A model with its pieces as values: the model record, its base pieces and
// its option groups, each group's pieces kept in turn after the base pieces.
// One value serves every model of a run: a read clears it and keeps its
// capacity.
struct ModelValue {
  struct Piece {
    unsigned char record[records::model_piece::kSize];
  };
  struct Group {
    unsigned char record[records::option_group::kSize];
    std::size_t first_piece;  // index into pieces
    std::size_t piece_count;  // the pieces linked to the group
  };

  bool present = false;  // false when the store gave no model
  unsigned char record[records::model_record::kSize] = {};
  std::size_t base_pieces = 0;  // pieces[0, base_pieces) are the base pieces
  std::vector<Piece> pieces;
  std::vector<Group> groups;

  void clear() {
    present = false;
    base_pieces = 0;
    pieces.clear();
    groups.clear();
  }
};

class StoreReader {
 public:
  virtual ~StoreReader() = default;

  // ---- the run ---------------------------------------------------------------

  // The function every message of a run goes through: the channel hosts
  // redirect.
  virtual PrintFunction printer() const = 0;
  // The first call of a run: connects to the store.
  virtual void connect() = 0;
  // Sets the notation of the run (0 metric, 1 imperial); returns the
  // notation now in force.
  virtual int set_notation(int notation) = 0;

  // ---- the area (area: the caller's records::area::kSize bytes) ------------

  // Fills area for the area called name (without regard to case). kNotFound
  // when there is no such area.
  virtual Status lookup_area(const char* name, unsigned char* area) = 0;
  // The area's own notation, 0 metric or 1 imperial.
  virtual int area_notation(unsigned char* area) = 0;
  // The area's precision: decimals of its real values, 0..9.
  virtual int area_precision(unsigned char* area) = 0;
  // Writes the area's file path into out (kAreaPathSize bytes, cut to fit
  // and terminated).
  virtual void area_path(unsigned char* area, char* out) = 0;

  // ---- items of a kind ------------------------------------------------------

  // Finds the first (mode 0) or next (mode 1) item of kind whose name
  // matches pattern ('*' any run, '?' one character) and writes its name
  // into name (kItemNameSize bytes). kNotFound when no (further) item
  // matches; any other failure is kStore.
  virtual Status lookup_item(StoreKind kind, unsigned char* area, const char* pattern, int mode, char* name,
                             ItemPlace& place) = 0;
  // Opens the named item into item_area (records::item_area::kSize bytes).
  virtual Status open_item(StoreKind kind, unsigned char* area, const char* name, unsigned char* item_area,
                           ItemHistory& history) = 0;
  // Closes an item opened into item_area.
  virtual Status close_item(StoreKind kind, unsigned char* area, const char* name, unsigned char* item_area) = 0;

  // ---- markers --------------------------------------------------------------

  // The marker header (records::marker_header::kSize bytes) and the extended
  // one (kSizeEx bytes).
  virtual Status marker_header(const char* name, unsigned char* item_area, unsigned char* header) = 0;
  virtual Status marker_header_ex(const char* name, unsigned char* item_area, unsigned char* header) = 0;
  // The marker analysis record (records::marker_analysis::kSize bytes), the
  // store's own, valid until the item is closed.
  virtual Status marker_analysis(unsigned char* item_area, const unsigned char** analysis) = 0;
  // The first and the next piece record of the marker (68 bytes). After the
  // last, ok with found false: every marker's walk ends there, so that end
  // costs no failure value.
  virtual Status first_marker_piece(unsigned char* item_area, unsigned char* piece, bool& found) = 0;
  virtual Status next_marker_piece(unsigned char* item_area, unsigned char* piece, bool& found) = 0;
  // Override index of the marker whose header is header (68 bytes).
  virtual Status piece_override(unsigned char* item_area, int index, unsigned char* header,
                                unsigned char* record) = 0;
  // Splice index of the marker (16 bytes).
  virtual Status splice(unsigned char* item_area, int index, unsigned char* record) = 0;
  // Starts the model-list sequence at the order model list the marker was
  // made from.
  virtual Status locate_marker_model_list(unsigned char* item_area) = 0;

  // ---- orders and the model-list sequence -----------------------------------

  // The order header (records::order_header::kSize bytes); restarts the
  // model-list sequence.
  virtual Status order_header(const char* name, unsigned char* item_area, unsigned char* header) = 0;
  // The next record of the model-list sequence: a model record (118 bytes),
  // then its option entries (12), then its size entries (72), then the
  // next model record.
  virtual Status list_model(unsigned char* item_area, unsigned char* record) = 0;
  virtual Status list_option(unsigned char* item_area, unsigned char* record) = 0;
  virtual Status list_size(unsigned char* item_area, unsigned char* record) = 0;

  // ---- models and pieces ----------------------------------------------------

  // Reads the open model into model (cleared first).
  virtual Status model(const char* name, unsigned char* item_area, ModelValue& model) = 0;
  // Reads the stored header of the named piece (records::piece_header::kSize
  // bytes) by opening the piece, reading its header and closing it again.
  // found tells a failure of the open (false: the piece could not be found
  // or opened) from one of the header's read (true).
  virtual Status piece_header(unsigned char* area, const char* piece_name, unsigned char* header,
                              bool& found) = 0;
};

// True when failure is one of the area file (kStore): a read whose failure
// must be reported and must not pass for the end of a list.
inline bool is_file_failure(const Status& failure) { return failure.code() == StatusCode::kStore; }

// failure with what as its message: what the report was doing when the
// store failed ("header read failed"), the text of the error line. Code,
// store error, source and line stay.
Status store_failure(const Status& failure, const char* what);

}  // namespace quire

#endif  // QUIRE_REPORT_STORE_READER_H_
