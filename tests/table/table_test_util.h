// Helpers for the table tests: one report run through the table module,
// driven the way the report framework drives it.
#ifndef QUIRE_TESTS_TABLE_TABLE_TEST_UTIL_H_
#define QUIRE_TESTS_TABLE_TABLE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "quire/plotbase.h"
#include "support/print_capture.h"
#include "support/test_support.h"
#include "table/report_table.h"
#include "table/run_record.h"

namespace quire::testing {

// One item of a run: its name, change stamp and number of rows.
struct TestItem {
  std::string name;
  std::string stamp;
  int rows = 1;
};

struct RunOptions {
  int notation = 0;
  bool extra_column = false;  // a fifth column, as a "detailed" form would add
  int stop_after = -1;        // items after which the host asks to stop
  bool expect_close = true;  // else open and close may fail
  int* result = nullptr;     // receives what close (or a failed open) returned
  // The file calls of the run: a table of its own over them; the module's
  // table (over the system's calls) when null.
  platform::FileEnv* env = nullptr;
  bool listed = false;       // the items are those of a list, in its order
};

// Value of row r of an item in the Util column.
inline double util_value(int r) { return 80.0 + r * 0.25; }

// Runs a report of the columns Name (C 20), Piece (N 5), Util (F 8.2),
// Time (C 8) [, Extra (C 10)] over items in order, dumping those the table
// does not copy. Returns the names of the dumped items.
inline std::vector<std::string> run_table(const std::string& path, const std::vector<TestItem>& items,
                                          const RunOptions& options = {}) {
  std::optional<ReportTable> own;
  ReportTable& t = options.env != nullptr ? own.emplace(*options.env) : report_table();
  std::vector<std::string> dumped;
  if (t.open_report_output(path.c_str(), "Name", "Time", options.notation, pb_printf) != 1) {
    if (options.expect_close) ADD_FAILURE() << "open failed for " << path;
    if (options.result) *options.result = 0;
    return dumped;
  }
  t.write_preamble_value(0, "DB_VERSION_3");
  t.write_preamble_value(0, options.notation == 1 ? "IMPERIAL" : "METRIC");
  t.write_preamble_value(0, "TEST");
  t.write_preamble_value(1, "/store/area.db");
  t.define_field(0, 'C', 20, 0, "Name");
  t.define_field(0, 'N', 5, 0, "Piece");
  t.define_field(0, 'F', 8, 2, "Util");
  t.define_field(options.extra_column ? 0 : 1, 'C', 8, 0, "Time");
  if (options.extra_column) t.define_field(1, 'C', 10, 0, "Extra");
  if (options.listed) t.take_listed_items_only();
  int count = 0;
  for (const TestItem& item : items) {
    if (t.reuse_previous_record(item.name.c_str(), item.stamp.c_str()) == 1) {
      dumped.push_back(item.name);
      for (int r = 0; r < item.rows; ++r) {
        t.write_field(1, item.name.c_str());
        t.write_field(0, static_cast<int32_t>(r));
        t.write_field(0, util_value(r));
        t.write_field(0, item.stamp.c_str());
        if (options.extra_column) t.write_field(0, "x");
      }
    }
    if (++count == options.stop_after) {
      t.copy_remaining_previous();
      break;
    }
  }
  int closed = t.close_report_output();
  if (options.result) *options.result = closed;
  if (options.expect_close) {
    EXPECT_EQ(1, closed);
  }
  return dumped;
}

// Puts content at path as a table another program wrote there: without the
// run record a run leaves beside its table.
inline void write_foreign_table(const std::string& path, const std::string& content) {
  write_file(path, content);
  fs::remove(table::run_record_path(path));
}

inline std::string bytes_at(const std::string& s, size_t offset, size_t n) {
  return offset < s.size() ? s.substr(offset, n) : std::string();
}

inline uint32_t u32_at(const std::string& s, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[offset + static_cast<size_t>(i)]);
  return v;
}

inline unsigned u16_at(const std::string& s, size_t offset) {
  return static_cast<unsigned char>(s[offset]) | (static_cast<unsigned char>(s[offset + 1]) << 8);
}

// Files in dir whose names start with prefix.
inline std::vector<std::string> files_with_prefix(const fs::path& dir, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path().string());
  }
  return found;
}

}  // namespace quire::testing

#endif  // QUIRE_TESTS_TABLE_TABLE_TEST_UTIL_H_
