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

const char* StoreCursor::item_word() const {
  switch (kind_) {
    case StoreKind::kMarker: return "marker";
    case StoreKind::kModel: return "model";
    case StoreKind::kOrder: return "order";
  }
  return "item";
}

int StoreCursor::lookup_item(void* area, char* name, const char* pattern, int mode) {
  switch (kind_) {
    case StoreKind::kMarker: return pb_lookup_markers(area, name, pattern, mode);
    case StoreKind::kModel: return pb_lookup_models(area, name, pattern, mode);
    case StoreKind::kOrder: return pb_lookup_orders(area, name, pattern, mode);
  }
  return 0;
}

int StoreCursor::open_item(void* area, const char* name, unsigned char* item_area) {
  switch (kind_) {
    case StoreKind::kMarker: return pb_open_marker(area, name, item_area);
    case StoreKind::kModel: return pb_open_model(area, name, item_area);
    case StoreKind::kOrder: return pb_open_order(area, name, item_area);
  }
  return 0;
}

int StoreCursor::close_item(void* area, const char* name, unsigned char* item_area) {
  switch (kind_) {
    case StoreKind::kMarker: return pb_close_marker(area, name, item_area);
    case StoreKind::kModel: return pb_close_model(area, name, item_area);
    case StoreKind::kOrder: return pb_close_order(area, name, item_area);
  }
  return 0;
}

}  // namespace quire
