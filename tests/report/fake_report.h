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
  int32_t modified = 0;
  int32_t created = -1;
  int32_t prev_modified = -1;
  std::string user_last_mod, user_created, user_prev_mod;
  bool fail_open = false;
  bool fail_close = false;
  bool fail_lookup = false;  // the lookup that would find it fails
};

struct DumpedItem {
  std::string name, user_last_mod, user_created, user_prev_mod;
  int32_t creation_time, prev_mod_time;
};

class FakeReport : public DumpReport {
 public:
  std::vector<FakeItem> items;
  std::vector<DumpedItem> dumped;
  std::vector<std::string> opened;
  int closes = 0;

  using DumpReport::dump_all_items;

  int write_header() override {
    int r = open_table("Name", "Time", "FAKE");
    if (r != 1) return r;
    table().define_field(0, 'C', 20, 0, "Name");
    define_closing_fields("Time");
    return 1;
  }

  int dump_item(unsigned char*, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    dumped.push_back({name, user_last_mod, user_created, user_prev_mod, creation_time,
                      prev_mod_time});
    table().write_field(1, name);
    write_closing_values(
        {pbc_last_mod_time, user_last_mod, creation_time, user_created, prev_mod_time, user_prev_mod});
    return 0;
  }

  int open_item(void*, const char* name, unsigned char*) override {
    opened.push_back(name);
    const FakeItem* item = find(name);
    if (!item || item->fail_open) return fail(41);
    pbc_creation_time = item->created;
    pbc_prev_mod_time = item->prev_modified;
    set_text(pbc_user_last_mod, item->user_last_mod);
    set_text(pbc_user_created, item->user_created);
    set_text(pbc_user_prev_mod, item->user_prev_mod);
    return 1;
  }

  int close_item(void*, const char* name, unsigned char*) override {
    ++closes;
    const FakeItem* item = find(name);
    return item && item->fail_close ? fail(42) : 1;
  }

  // Pattern "*" walks the items in order; any other pattern is an exact
  // name, compared without regard to case.
  int lookup_item(void*, char* name, const char* pattern, int mode) override {
    size_t index;
    if (std::strcmp(pattern, "*") == 0) {
      index = mode == 0 ? 0 : next_;
    } else {
      std::string wanted = pattern;
      for (index = 0; index < items.size(); ++index)
        if (pb_stricmp(items[index].name.c_str(), wanted.c_str()) == 0) break;
    }
    if (index >= items.size()) return 0;
    if (items[index].fail_lookup) return fail(43) - 1;
    next_ = index + 1;
    std::strcpy(name, items[index].name.c_str());
    pbc_item_num = static_cast<int>(index + 1);
    pbc_total_items = static_cast<int>(items.size());
    pbc_last_mod_time = items[index].modified;
    return 1;
  }

 private:
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
  static void set_text(char* field, const std::string& text) {
    std::memset(field, 0, PB_USER_TEXT_SIZE);
    size_t n = text.size() < size_t{PB_USER_TEXT_SIZE} ? text.size() : size_t{PB_USER_TEXT_SIZE};
    std::memcpy(field, text.data(), n);
  }
  size_t next_ = 0;
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_REPORT_FAKE_REPORT_H_
