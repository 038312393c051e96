// The marker annotation-count report: the three lists side by side, labels
// of every slot range, markers without counts, failing reads, the detailed
// flag, and a rerun that never reuses the previous output.
#include <regex>

#include "kinds_marker/marker_test_util.h"

namespace quire::testing {
namespace {

using Row = std::vector<std::string>;

json counts_marker(const std::string& name, const json& point, const json& notch,
                   const json& internal) {
  json m = marker(name);
  m["analysis"] = {{"point_attribute_counts", point},
                   {"notch_counts", notch},
                   {"internal_counts", internal}};
  return m;
}

TEST_F(MarkerReportTest, CountListsStandSideBySide) {
  json two_rows = counts_marker("ITEM1", {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                                {5, 0, 0, 0, 0, 0, 0, 0, 0, 2}, {0, 0, 0, 4});
  two_rows["header"] = {{"name", "HDR-NAME"}};  // rows carry the header's name
  json notches_only = counts_marker("ITEM2", json::array(), {0, 7}, json::array());
  json none = counts_marker("ITEM3", json::array(), json::array(), json::array());
  import_or_fail(area({two_rows, notches_only, none}));

  ReportRun r = run_report("mkmc", false, store_.path("mc.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines[0].at(2), "MKMC");
  EXPECT_EQ(r.columns(), (Row{"Marker_Name", "Point_Attrib_Label", "Point_Attrib_Qty",
                              "Notch_Label", "Notch_Qty", "Internal_Label", "Internal_Qty"}));
  ASSERT_EQ(r.row_count(), 3u);
  EXPECT_EQ(r.row(0), (Row{"HDR-NAME", "K", "3", "1", "5", "D", "4"}));
  EXPECT_EQ(r.row(1), (Row{"HDR-NAME", "Q", "1", "10", "2", "", ""}));
  EXPECT_EQ(r.row(2), (Row{"ITEM2", "", "", "2", "7", "", ""}));
  // Quantities are texts: quoted in the CSV line like every text.
  EXPECT_EQ(csv_lines(read_file(store_.path("mc.csv"))).at(2),
            "\"HDR-NAME\",\"K\",\"3\",\"1\",\"5\",\"D\",\"4\"");
}

TEST_F(MarkerReportTest, EverySlotGetsALabelAndNegativeCountsAreKept) {
  json point = json::array();
  for (int i = 0; i < 52; ++i) point.push_back(0);
  point[12] = 1;   // Q, the last letter
  point[13] = 2;   // past the letters: its slot number
  point[51] = -3;  // the last slot
  json notch = json::array();
  for (int i = 0; i < 99; ++i) notch.push_back(0);
  notch[98] = 32767;
  json internal = json::array();
  for (int i = 0; i < 26; ++i) internal.push_back(0);
  internal[0] = -32768;
  internal[25] = 1;
  import_or_fail(area({counts_marker("M", point, notch, internal)}));

  ReportRun r = run_report("mkmc", false, store_.path("mc.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.row_count(), 3u);
  EXPECT_EQ(r.row(0), (Row{"M", "Q", "1", "99", "32767", "A", "-32768"}));
  EXPECT_EQ(r.row(1), (Row{"M", "14", "2", "", "", "Z", "1"}));
  EXPECT_EQ(r.row(2), (Row{"M", "52", "-3", "", "", "", ""}));
}

TEST_F(MarkerReportTest, FailingReadsLeaveTheMarkerOutWithAMessage) {
  json ok = counts_marker("A", {1}, json::array(), json::array());
  json bad_header = counts_marker("B", {1}, json::array(), json::array());
  bad_header["faults"] = {{"header_ex", true}};
  json bad_analysis = counts_marker("C", {1}, json::array(), json::array());
  bad_analysis["faults"] = {{"analysis", true}};
  json last = counts_marker("D", {1}, json::array(), json::array());
  import_or_fail(area({ok, bad_header, bad_analysis, last}));

  ReportRun r = run_report("mkmc", false, store_.path("mc.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.row_count(), 2u);
  EXPECT_EQ(r.row(0).at(0), "A");
  EXPECT_EQ(r.row(1).at(0), "D");
  std::regex error_record(R"(Error -?\d+, [^\n]*?\(\d+\))");
  auto begin = std::sregex_iterator(r.run.err.begin(), r.run.err.end(), error_record);
  EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 2) << r.run.err;
}

TEST_F(MarkerReportTest, DetailedFlagChangesNothingAndRerunsDumpEveryMarkerAnew) {
  import_or_fail(area({counts_marker("A", {1}, json::array(), json::array()),
                       counts_marker("B", json::array(), json::array(), json::array()),
                       counts_marker("C", json::array(), {2}, json::array())}));
  write_file(store_.path("delta.lst"), "");

  std::string plain_path = store_.path("plain.csv");
  std::string detailed_path = store_.path("detailed.csv");
  ReportRun first = run_report("mkmc", false, plain_path);
  ASSERT_EQ(first.run.status, 0) << first.run.err;
  std::string first_output = read_file(plain_path);
  ReportRun detailed = run_report("mkmc", true, detailed_path);
  ASSERT_EQ(detailed.run.status, 0) << detailed.run.err;
  EXPECT_EQ(detailed.lines, first.lines);

  // Its own previous output has neither a "Name" nor a "time" column, so the
  // rerun copies nothing and logs every marker NEW again.
  ReportRun second = run_report("mkmc", false, plain_path);
  ASSERT_EQ(second.run.status, 0) << second.run.err;
  EXPECT_EQ(read_file(plain_path), first_output);
  std::string log = read_file(store_.path("delta.lst"));
  for (const char* name : {"A", "B", "C"}) {
    std::string line = std::string("NEW: \"") + name + "\"\r\n";
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    EXPECT_EQ(count, 3u) << name << " in\n" << log;
  }
}

}  // namespace
}  // namespace quire::testing
