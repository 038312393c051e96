// StoreCursor: the item lookup, open and close of one kind of item, and what
// the reader reports of the current item kept as an Item.
#include "report/store_cursor.h"

#include <cstring>

namespace quire {
namespace {

// Copies a user-name text of the store into out, cut at kUserTextSize - 1
// characters. Returns the copy.
std::string_view copy_user_text(std::string_view text, char* out) {
  size_t n = text.size();
  if (n > static_cast<size_t>(kUserTextSize - 1)) n = kUserTextSize - 1;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  return std::string_view(out, n);
}

// A time the store reports as -1 (none) is written as 0.
int32_t known_time(int32_t t) { return t == -1 ? 0 : t; }

}  // namespace

const char* item_word(StoreKind kind) {
  switch (kind) {
    case StoreKind::kModel: return "model";
    case StoreKind::kOrder: return "order";
    case StoreKind::kMarker: break;
  }
  return "marker";
}

Status StoreCursor::lookup(unsigned char* area, const char* pattern, int mode) {
  std::memset(item_.name, 0, sizeof item_.name);
  item_.area = nullptr;
  item_.closing = {};
  ItemPlace place;
  Status found = reader_.lookup_item(kind_, area, pattern, mode, item_.name, place);
  item_.name[kItemNameSize - 1] = 0;
  if (found.ok()) {
    item_.number = place.number;
    item_.total = place.total;
    item_.mod_time = place.mod_time;
  }
  return found;
}

Status StoreCursor::open(unsigned char* area) {
  std::memset(item_area_, 0, sizeof item_area_);
  ItemHistory history;
  Status opened = reader_.open_item(kind_, area, item_.name, item_area_, history);
  if (!opened.ok()) return opened;
  item_.area = item_area_;
  ClosingValues& c = item_.closing;
  c.mod_time = history.mod_time;
  c.user_last_mod = copy_user_text(history.user_last_mod, user_last_mod_);
  c.creation_time = known_time(history.creation_time);
  c.user_created = copy_user_text(history.user_created, user_created_);
  c.prev_mod_time = known_time(history.prev_mod_time);
  c.user_prev_mod = copy_user_text(history.user_prev_mod, user_prev_mod_);
  return opened;
}

Status StoreCursor::close(unsigned char* area) {
  return reader_.close_item(kind_, area, item_.name, item_area_);
}

Status store_failure(const Status& failure, const char* what) {
  if (failure.ok()) return failure;
  Status named = Status::failure(failure.code(), what, failure.subject(), failure.error());
  named.at(failure.source(), failure.line());
  return named;
}

}  // namespace quire
