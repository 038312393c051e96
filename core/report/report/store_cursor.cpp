// StoreCursor: the item lookup, open and close of one kind of item, and the
// library's current-item variables read into an Item.
#include "report/store_cursor.h"

#include <cstring>

#include "quire/plotbase.h"

namespace quire {
namespace {

// Copies a user-name text of the library (at most size bytes, possibly
// unterminated) into out, cut at kUserTextSize - 1 characters. Returns the
// text.
std::string_view copy_user_text(const char* text, size_t size, char* out) {
  size_t n = records::text_length(reinterpret_cast<const unsigned char*>(text), size);
  if (n > static_cast<size_t>(kUserTextSize - 1)) n = kUserTextSize - 1;
  std::memcpy(out, text, n);
  out[n] = 0;
  return std::string_view(out, n);
}

// A time the library reports as -1 (none) is written as 0.
int32_t known_time(int32_t t) { return t == -1 ? 0 : t; }

}  // namespace

int StoreCursor::lookup(void* area, const char* pattern, int mode) {
  std::memset(item_.name, 0, sizeof item_.name);
  item_.area = nullptr;
  item_.closing = {};
  const int r = lookup_item(area, item_.name, pattern, mode);
  item_.name[kItemNameSize - 1] = 0;
  if (r == 1) {
    item_.number = pbc_item_num;
    item_.total = pbc_total_items;
    item_.mod_time = pbc_last_mod_time;
  }
  return r;
}

int StoreCursor::open(void* area) {
  std::memset(item_area_, 0, sizeof item_area_);
  const int r = open_item(area, item_.name, item_area_);
  if (r != 1) return r;
  item_.area = item_area_;
  ClosingValues& c = item_.closing;
  c.mod_time = pbc_last_mod_time;
  c.user_last_mod = copy_user_text(pbc_user_last_mod, sizeof pbc_user_last_mod, user_last_mod_);
  c.creation_time = known_time(pbc_creation_time);
  c.user_created = copy_user_text(pbc_user_created, sizeof pbc_user_created, user_created_);
  c.prev_mod_time = known_time(pbc_prev_mod_time);
  c.user_prev_mod = copy_user_text(pbc_user_prev_mod, sizeof pbc_user_prev_mod, user_prev_mod_);
  return 1;
}

int StoreCursor::close(void* area) { return close_item(area, item_.name, item_area_); }

namespace {

// The storage library's calls and the item word of one kind of item.
struct StoreCalls {
  const char* word;
  int (*lookup)(void* area, char* name, const char* pattern, int mode);
  int (*open)(void* area, const char* name, void* item_area);
  int (*close)(void* area, const char* name, void* item_area);
};

const StoreCalls& calls_of(StoreKind kind) {
  static const StoreCalls kMarkers{"marker", pb_lookup_markers, pb_open_marker, pb_close_marker};
  static const StoreCalls kModels{"model", pb_lookup_models, pb_open_model, pb_close_model};
  static const StoreCalls kOrders{"order", pb_lookup_orders, pb_open_order, pb_close_order};
  switch (kind) {
    case StoreKind::kModel: return kModels;
    case StoreKind::kOrder: return kOrders;
    case StoreKind::kMarker: break;
  }
  return kMarkers;
}

}  // namespace

const char* StoreCursor::item_word() const { return calls_of(kind_).word; }

int StoreCursor::lookup_item(void* area, char* name, const char* pattern, int mode) {
  return calls_of(kind_).lookup(area, name, pattern, mode);
}

int StoreCursor::open_item(void* area, const char* name, unsigned char* item_area) {
  return calls_of(kind_).open(area, name, item_area);
}

int StoreCursor::close_item(void* area, const char* name, unsigned char* item_area) {
  return calls_of(kind_).close(area, name, item_area);
}

}  // namespace quire
