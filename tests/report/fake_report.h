// A report kind over an in-memory list of items, for driving the run loop
// without a storage area. It sets the library's current-item variables the
// way a lookup and an open do, and writes one row per item.
#ifndef QUIRE_TESTS_REPORT_FAKE_REPORT_H_
#define QUIRE_TESTS_REPORT_FAKE_REPORT_H_

#include <cstring>
#include <string>
#include <vector>

#include "quire/plotbase.h"
#include "report/dump_report.h"

namespace quire::testing {

struct FakeItem {
  std::string name;
  int32_t modified = 0, created = -1, prev_modified = -1;  // -1: no such time
  std::string user_last_mod, user_created, user_prev_mod;
  bool fail_open = false, fail_close = false;
  bool fail_lookup = false;  // the lookup that would find it fails
};

struct DumpedItem {
  std::string name, user_last_mod, user_created, user_prev_mod;
  int32_t creation_time, prev_mod_time;
};

class FakeReport;

// The store of a FakeReport: its items, looked up, opened and closed the
// way the library does, with the library's current-item variables set.
class FakeCursor : public StoreCursor {
 public:
  explicit FakeCursor(FakeReport& report) : StoreCursor(StoreKind::kMarker), report_(report) {}
  const char* item_word() const override { return "item"; }

 protected:
  int lookup_item(void* area, char* name, const char* pattern, int mode) override;
  int open_item(void* area, const char* name, unsigned char* item_area) override;
  int close_item(void* area, const char* name, unsigned char* item_area) override;

 private:
  FakeReport& report_;
  size_t next_ = 0;
};

class FakeReport : public DumpReport {
 public:
  std::vector<FakeItem> items;
  std::vector<DumpedItem> dumped;
  std::vector<std::string> opened;
  int closes = 0;

  FakeReport() : DumpReport(StoreKind::kMarker), cursor_(*this) { use_cursor(cursor_); }

  using DumpReport::dump_all_items;

  int write_header() override {
    int r = open_table("Name", "Time", "FAKE");
    if (r != 1) return r;
    table().define_field(0, 'C', 20, 0, "Name");
    define_closing_fields("Time");
    return 1;
  }

  int dump_item(const Item& item) override {
    const ClosingValues& c = item.closing;
    dumped.push_back({item.name, std::string(c.user_last_mod), std::string(c.user_created),
                      std::string(c.user_prev_mod), c.creation_time, c.prev_mod_time});
    table().write_field(1, item.name);
    write_closing_values(c);
    return 0;
  }

  const FakeItem* find(const char* name) const {
    for (const FakeItem& i : items)
      if (i.name == name) return &i;
    return nullptr;
  }
  static int fail(int code) {
    pb_error.code = code;
    pb_error.line = 7;
    std::strcpy(pb_error.source, "fake.cpp");
    return 0;
  }

 private:
  FakeCursor cursor_;
};

inline int FakeCursor::open_item(void*, const char* name, unsigned char*) {
  report_.opened.push_back(name);
  const FakeItem* item = report_.find(name);
  if (!item || item->fail_open) return FakeReport::fail(41);
  pbc_last_mod_time = item->modified;
  pbc_creation_time = item->created;
  pbc_prev_mod_time = item->prev_modified;
  auto set_text = [](char* field, const std::string& text) {
    std::memset(field, 0, PB_USER_TEXT_SIZE);
    size_t n = text.size() < size_t{PB_USER_TEXT_SIZE} ? text.size() : size_t{PB_USER_TEXT_SIZE};
    std::memcpy(field, text.data(), n);
  };
  set_text(pbc_user_last_mod, item->user_last_mod);
  set_text(pbc_user_created, item->user_created);
  set_text(pbc_user_prev_mod, item->user_prev_mod);
  return 1;
}

inline int FakeCursor::close_item(void*, const char* name, unsigned char*) {
  ++report_.closes;
  const FakeItem* item = report_.find(name);
  return item && item->fail_close ? FakeReport::fail(42) : 1;
}

// Pattern "*" walks the items in order; any other pattern is an exact name,
// compared without regard to case.
inline int FakeCursor::lookup_item(void*, char* name, const char* pattern, int mode) {
  const std::vector<FakeItem>& items = report_.items;
  size_t index;
  if (std::strcmp(pattern, "*") == 0) {
    index = mode == 0 ? 0 : next_;
  } else {
    std::string wanted = pattern;
    for (index = 0; index < items.size(); ++index)
      if (pb_stricmp(items[index].name.c_str(), wanted.c_str()) == 0) break;
  }
  if (index >= items.size()) return 0;
  if (items[index].fail_lookup) return FakeReport::fail(43) - 1;
  next_ = index + 1;
  std::strcpy(name, items[index].name.c_str());
  pbc_item_num = static_cast<int>(index + 1);
  pbc_total_items = static_cast<int>(items.size());
  pbc_last_mod_time = items[index].modified;
  return 1;
}

}  // namespace quire::testing

#endif  // QUIRE_TESTS_REPORT_FAKE_REPORT_H_
