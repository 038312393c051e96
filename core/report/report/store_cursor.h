// StoreCursor: the one place a report run meets the storage library's item
// walk. It looks items up, opens and closes them for one kind of item
// (markers, models or orders) and turns what the library reports about the
// current item into an Item value.
#ifndef QUIRE_REPORT_STORE_CURSOR_H_
#define QUIRE_REPORT_STORE_CURSOR_H_

#include <cstdint>
#include <string_view>

#include "quire/records.h"

namespace quire {

// Sizes of the per-item working buffers.
constexpr int kItemNameSize = 24;  // names of up to 20 characters
constexpr int kUserTextSize = 44;  // user names of up to 43 characters

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

// The kinds of item a report walks.
enum class StoreKind { kMarker, kModel, kOrder };

// The current item of a StoreCursor. After a lookup: name, number, total and
// mod_time. After an open besides: area and closing, whose texts point into
// the cursor and stay valid until its next lookup or open.
struct Item {
  char name[kItemNameSize] = {};  // NUL-ended
  int number = 0;                 // 1-based position among the items of its kind
  int total = 0;                  // the number of items of its kind
  int32_t mod_time = 0;           // last modification, as the lookup reported it
  unsigned char* area = nullptr;  // the open item's area, for the library's reads
  // Creation and previous-modification times are 0 when the store has none;
  // mod_time here is the one the open reported.
  ClosingValues closing = {};
};

class StoreCursor {
 public:
  explicit StoreCursor(StoreKind kind) : kind_(kind) {}
  virtual ~StoreCursor() = default;
  StoreCursor(const StoreCursor&) = delete;
  StoreCursor& operator=(const StoreCursor&) = delete;

  // Looks up an item of area (the storage-area record): with pattern "*"
  // the first (mode 0) or next (mode 1) item in store order, else the item
  // named pattern. Returns 1 with item() naming it, 0 when there is no
  // such item, any other value when the store failed (the library's error
  // record tells why).
  int lookup(void* area, const char* pattern, int mode);

  // Opens the item of the last successful lookup in a cleared item area and
  // fills item().area and item().closing. Returns 1, or the failing library
  // result.
  int open(void* area);

  // Closes the item opened last. Returns 1, or the failing library result.
  int close(void* area);

  const Item& item() const { return item_; }

  // What the items of this kind are called in messages ("marker").
  virtual const char* item_word() const;

 protected:
  // The library's operations for the kind, in its calling conventions: the
  // lookup writes the found name into name (kItemNameSize bytes) and sets
  // the library's current-item number, count and modification time; the
  // open sets its creation, modification and previous times and user texts.
  virtual int lookup_item(void* area, char* name, const char* pattern, int mode);
  virtual int open_item(void* area, const char* name, unsigned char* item_area);
  virtual int close_item(void* area, const char* name, unsigned char* item_area);

 private:
  StoreKind kind_;
  Item item_;
  char user_last_mod_[kUserTextSize] = {};
  char user_created_[kUserTextSize] = {};
  char user_prev_mod_[kUserTextSize] = {};
  unsigned char item_area_[records::item_area::kSize] = {};
};

}  // namespace quire

#endif  // QUIRE_REPORT_STORE_CURSOR_H_
