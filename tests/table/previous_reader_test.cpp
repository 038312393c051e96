// The reader of a previous table, on its own: how it splits values, the
// inputs it once misbehaved on, and the order of item names it relies on.
#include <gtest/gtest.h>

#include <memory>

#include "table/previous_table.h"
#include "table_test_util.h"

namespace quire::testing {
namespace {

TEST(PreviousOutputReader, SplitsValuesAsWritten) {
  TempStore store;
  std::string path = store.path("prev.csv");
  // The values of record under a header of as many columns as the record
  // has commas outside quotes, plus one.
  auto split = [&](const std::string& names, const std::string& record) {
    write_file(path, "\"DB_VERSION_3\"\r\n" + names + "\r\n" + record + "\r\n");
    quire::Status ignored;
    std::unique_ptr<table::PreviousTableReader> previous = table::open_previous_table(platform::system_file_env(), path, &ignored);
    std::vector<std::string> values;
    if (!previous || previous->read_header(0) != table::PreviousTableReader::kHeaderOk ||
        !previous->find_columns("Key", "Time"))
      return values;
    previous->read_record();
    for (int i = 0; i < previous->value_count(); ++i) values.push_back(previous->value(i));
    previous->read_record();
    EXPECT_TRUE(previous->exhausted());
    EXPECT_TRUE(previous->damage().ok()) << previous->damage().message();
    return values;
  };
  EXPECT_EQ(std::vector<std::string>({"a, b", "say \"hi\"", "plain", "x", "", "padded", "tab", "here",
                                      "end", ""}),
            split("Key,Time,C,D,E,F,G,H",
                  "\"a, b\",\"say \"\"hi\"\"\",plain x,\"\",  \"  padded  \",tab\there,end,"));
  EXPECT_EQ(std::vector<std::string>({"x\"y", "", "last"}), split("Key,Time,C", "\"x\"y,\"\",  \"last\""));
  // Written without doubling, a quote inside ends the value at the next blank.
  EXPECT_EQ(std::vector<std::string>({"old \"style", "quotes", "t"}),
            split("Key,Time", "\"old \"style\" quotes\",t"));
}

// Inputs on which the previous-output reader once misbehaved: a mode byte
// (bit 0: the run writes dBASE) and the bytes found at the output path.
TEST(PreviousOutputReader, FuzzFindingsStayMended) {
  fs::path dir = fs::path(QUIRE_SOURCE_DIR) / "tests/table/fuzz_regressions";
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    TempStore store;
    std::string input = read_file(entry.path());
    ASSERT_FALSE(input.empty());
    std::string path = store.path(input[0] & 1 ? "out.dbf" : "out.csv");
    write_file(path, input.substr(1));
    run_table(path, {{"M000001", "4e23b8ca"}, {"M000002", "x"}});
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

// The table orders previous records by compare_item_names; an order that
// differed from the store's in any byte would take items in store order for
// damage (or miss their reuse). Every pair of single bytes, and a longer name
// against its prefix, must give the store's sign.
TEST(ItemNameOrder, AgreesWithTheStoreForEveryByte) {
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      const char x[] = {static_cast<char>(a), 'q', 0};
      const char y[] = {static_cast<char>(b), 0};
      ASSERT_EQ(sign(pb_stricmp(x, y)), sign(compare_item_names(x, y))) << a << " " << b;
      ASSERT_EQ(sign(pb_stricmp(y, x)), sign(compare_item_names(y, x))) << a << " " << b;
      ASSERT_EQ(sign(pb_stricmp(x + 1, y)), sign(compare_item_names(x + 1, y))) << a << " " << b;
    }
  }
}

}  // namespace
}  // namespace quire::testing
