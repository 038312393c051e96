// StoreCursor: the item walk of one kind of item (markers, models or
// orders) through a StoreReader. It looks items up, opens and closes them
// and keeps what the reader reports about the current item as an Item value.
#ifndef QUIRE_REPORT_STORE_CURSOR_H_
#define QUIRE_REPORT_STORE_CURSOR_H_

#include "quire/records.h"
#include "quire/status.h"
#include "report/store_reader.h"

namespace quire {

// What the items of kind are called in messages ("marker").
const char* item_word(StoreKind kind);

class StoreCursor {
 public:
  StoreCursor(StoreReader& reader, StoreKind kind) : reader_(reader), kind_(kind) {}
  StoreCursor(const StoreCursor&) = delete;
  StoreCursor& operator=(const StoreCursor&) = delete;

  // Looks up an item of area (the storage-area record): with pattern "*"
  // the first (mode 0) or next (mode 1) item in store order, else the item
  // named pattern. ok with item() naming it; kNotFound when there is no
  // such item; any other failure is the store's.
  Status lookup(unsigned char* area, const char* pattern, int mode);

  // Opens the item of the last successful lookup in a cleared item area and
  // fills item().area and item().closing.
  Status open(unsigned char* area);

  // Closes the item opened last.
  Status close(unsigned char* area);

  const Item& item() const { return item_; }
  StoreKind kind() const { return kind_; }

 private:
  StoreReader& reader_;
  StoreKind kind_;
  Item item_;
  char user_last_mod_[kUserTextSize] = {};
  char user_created_[kUserTextSize] = {};
  char user_prev_mod_[kUserTextSize] = {};
  unsigned char item_area_[records::item_area::kSize] = {};
};

}  // namespace quire

#endif  // QUIRE_REPORT_STORE_CURSOR_H_
