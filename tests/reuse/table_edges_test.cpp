// Reruns of `quire mkpc` at the edges of the table: store failures in the
// middle of a run, output paths that are not plain files, the change log.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace quire::testing {
namespace {

using nlohmann::json;

RunResult quire_in(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"mkpc", "--no-progress"});
  std::string cmd = "cd " + shell_quote(dir.string()) + " && " + shell_quote(quire_program());
  for (const auto& a : args) cmd += " " + shell_quote(a);
  return run_shell(cmd);
}

// Damages the area file the way a bad disk block does: the first table page
// that holds text gets a page type no reader accepts. False when no such
// page is found.
bool damage_page_holding(const fs::path& file, const std::string& text) {
  std::string bytes = read_file(file);
  if (bytes.size() < 100) return false;
  size_t page_size = (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
  if (page_size == 1) page_size = 65536;
  for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1)) {
    size_t page = at / page_size * page_size;
    size_t type = page == 0 ? 100 : page;
    if (static_cast<unsigned char>(bytes[type]) != 0x0D) continue;  // not a table leaf
    bytes[type] = static_cast<char>(0xFF);
    write_file(file, bytes);
    return true;
  }
  return false;
}

class TableEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = run_quire({"area", "generate", "EDGE", "--markers", "200", "--pieces-per-marker", "2",
                             "--models", "0", "--orders", "0", "--seed", "3"});
    ASSERT_EQ(0, r.status) << r.err;
    r = run_quire({"area", "export", "EDGE"});
    ASSERT_EQ(0, r.status) << r.err;
    area_ = json::parse(r.out);
  }

  void import(const json& area) {
    RunResult r = import_area(area.dump());
    ASSERT_EQ(0, r.status) << r.err;
  }

  std::string marker(size_t i) const { return area_["markers"][i]["name"].get<std::string>(); }

  // The data rows of a CSV table.
  static std::vector<std::string> rows(const fs::path& table) {
    std::vector<std::string> lines = csv_lines(read_file(table));
    lines.erase(lines.begin(), lines.begin() + std::min<size_t>(2, lines.size()));
    return lines;
  }

  TempStore store_;
  json area_;
};

TEST_F(TableEdges, StoreFailuresKeepThePreviousRowsOfTheItemsNotReached) {
  fs::path work = store_.work();
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  const std::vector<std::string> before = rows(work / "out.csv");
  ASSERT_EQ(400u, before.size());

  // A changed marker that fails to open: it is left out, every other marker
  // keeps its rows and nothing is taken for deleted.
  json area = area_;
  area["markers"][50]["modified"] = area["markers"][50]["modified"].get<int64_t>() + 1;
  area["markers"][50]["faults"]["open"] = true;
  import(area);
  write_file(work / "delta.lst", "");
  RunResult r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_NE(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Error -106, ")) << r.err;
  std::vector<std::string> expected = before;
  expected.erase(expected.begin() + 100, expected.begin() + 102);
  EXPECT_EQ(expected, rows(work / "out.csv"));
  std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ("CHANGED: \"" + marker(50) + "\"", log[1]);

  // A close failure keeps the item's new rows and the rest as well.
  area["markers"][50]["faults"] = {{"close", true}};
  import(area);
  r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_NE(std::string::npos, r.err.find("Error -106, ")) << r.err;
  EXPECT_EQ(before.size(), rows(work / "out.csv").size());

  // A damaged page of the area file makes a lookup fail halfway: the table
  // keeps every row instead of ending where the damage begins.
  import(area_);
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  ASSERT_EQ(before, rows(work / "out.csv"));
  ASSERT_TRUE(damage_page_holding(store_.store() / "edge.sqlite", marker(150)));
  write_file(work / "delta.lst", "");
  r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_NE(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Error -105, ")) << r.err;
  EXPECT_EQ(before, rows(work / "out.csv"));
  EXPECT_EQ(1u, csv_lines(read_file(work / "delta.lst")).size());  // the preamble only
}

}  // namespace
}  // namespace quire::testing
