// The error codes of the store's failures: a failure's Status::error(), and
// the code the storage-area library's calls report (and return, except
// where a call's result is 0 or null by contract).
#ifndef PLOTBASE_STORE_ERRORS_H_
#define PLOTBASE_STORE_ERRORS_H_

namespace plotbase {

enum ErrorCode : int {
  kErrNotFound = -100,     // no area / item / piece of that name, or no match
  kErrEndOfList = -101,    // no further piece, model, option or size entry
  kErrIndexRange = -102,   // override or splice index outside the item's list
  kErrNotOpen = -103,      // the item area holds no open item (closed twice, never opened)
  kErrBadArea = -104,      // the area record was not filled by pb_lookup_storage_areas
  kErrDatabase = -105,     // SQLite reported an error while reading the area
  kErrFault = -106,        // a fault the area file asks for (its "faults")
  kErrBadArgument = -107,  // a null pointer or a length that is too small
  kErrDamagedArea = -108,  // the area file is not a readable area database
  kErrWrongKind = -109,    // a marker call on a model, and so on
  kErrNoMemory = -110,     // allocation failed
  kErrSequence = -111,     // model-list read before locating the list
  kErrStore = -112,        // the store directory or area file cannot be read
  kErrInternal = -113,     // an unexpected failure inside the library (an exception)
};

}  // namespace plotbase

#endif  // PLOTBASE_STORE_ERRORS_H_
