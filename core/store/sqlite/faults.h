// The faults an area file asks for (its "faults"): the one place that
// consults them. The export layer (api.cpp) asks here before it hands a call
// to the readers, which know nothing of faults; a call made to fail fails
// with kErrFault as any failure does.
#ifndef PLOTBASE_FAULTS_H_
#define PLOTBASE_FAULTS_H_

#include <cstdint>

#include "internal.h"

namespace plotbase {

// The library calls an item's faults can make fail.
enum class FaultCall {
  kOpen,       // opening the item
  kClose,      // closing it (the item is closed all the same)
  kHeader,     // the marker, order or piece header
  kHeaderEx,   // the extended marker header (also failed by kHeader)
  kAnalysis,   // the marker analysis
  kOrdmod,     // locating a marker's model list
  kModel,      // reading a model
  kPiece,      // the marker-piece read with the index given
  kOverride,   // the piece-override read with the index given
  kSplice,     // the splice read with the index given
  kModelList,  // the read of a model-list sequence with the index given
};

// The faults of item id of kind on conn into *out (none when the area has
// no faults or the item no faults row).
quire::Status load_item_faults(Conn* conn, Kind kind, int64_t id, FaultSet* out);

// The failure kErrFault (at source and line) when faults make call fail;
// index is the read's index for the indexed calls. A success otherwise.
quire::Status check_fault(const FaultSet& faults, FaultCall call, int64_t index, const char* source, int line);

// The index of a marker-piece read for the piece_at fault: 0 for the first
// read since pb_first_marker_piece, counting on from there. Counts the read.
int64_t count_piece_read(ItemSlot* slot, bool first);
// The index of a model-list read for the model_list_at fault, counted from
// the start of the sequence. Counts the read.
int64_t count_model_list_read(ItemSlot* slot);

}  // namespace plotbase

#endif  // PLOTBASE_FAULTS_H_
