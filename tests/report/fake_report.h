// A report kind over an in-memory list of items, for driving the run loop
// without a storage area: its items are a FakeStoreReader's, and it writes
// one row per item.
#ifndef QUIRE_TESTS_REPORT_FAKE_REPORT_H_
#define QUIRE_TESTS_REPORT_FAKE_REPORT_H_

#include <string>
#include <vector>

#include "report/dump_report.h"
#include "support/fake_store_reader.h"

namespace quire::testing {

struct DumpedItem {
  std::string name, user_last_mod, user_created, user_prev_mod;
  int32_t creation_time, prev_mod_time;
};

// Holds the reader so that it is there before the report is built on it.
struct FakeReaderHolder {
  FakeStoreReader fake_reader;
};

class FakeReport : private FakeReaderHolder, public DumpReport {
 public:
  std::vector<FakeItem>& items = fake_reader.items;
  std::vector<std::string>& opened = fake_reader.opened;
  int& closes = fake_reader.closes;
  std::vector<DumpedItem> dumped;

  FakeReport() : DumpReport(fake_reader, StoreKind::kMarker) {}

  using DumpReport::dump_all_items;

  int write_header() override {
    int r = open_table("Name", "Time", "FAKE");
    if (r != 1) return r;
    table().define_field(0, 'C', 20, 0, "Name");
    define_closing_fields("Time");
    return 1;
  }

  Status dump_item(const Item& item) override {
    const ClosingValues& c = item.closing;
    dumped.push_back({item.name, std::string(c.user_last_mod), std::string(c.user_created),
                      std::string(c.user_prev_mod), c.creation_time, c.prev_mod_time});
    table().write_field(1, item.name);
    write_closing_values(c);
    return Status();
  }
};

}  // namespace quire::testing

#endif  // QUIRE_TESTS_REPORT_FAKE_REPORT_H_
