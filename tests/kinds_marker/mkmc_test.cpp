// The marker annotation-count report: the three lists side by side, the
// labels of every slot range, and reruns that never reuse the last output.
#include "support/kind_reports.h"

namespace quire::testing {
namespace {

json counts_marker(const std::string& name, const std::vector<int>& point,
                   const std::vector<int>& notch, const std::vector<int>& internal) {
  json m = marker(name);
  m["analysis"] = {{"point_attribute_counts", point}, {"notch_counts", notch},
                   {"internal_counts", internal}};
  return m;
}

TEST_F(MarkerReportTest, CountListsStandSideBySide) {
  json two_rows = counts_marker("ITEM1", {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                                {5, 0, 0, 0, 0, 0, 0, 0, 0, 2}, {0, 0, 0, 4});
  two_rows["header"] = {{"name", "HDR-NAME"}};  // rows carry the header's name
  json only_notches = counts_marker("ITEM2", {}, {0, 7}, {});
  json no_counts = counts_marker("ITEM3", {}, {}, {});
  std::vector<int> point(52), notch(99), internal(26);
  point[12] = 1, point[13] = 2, point[51] = -3;  // Q, then slot numbers past the letters
  notch[98] = 32767;
  internal[0] = -32768, internal[25] = 1;
  json every_range = counts_marker("ITEM4", point, notch, internal);
  import_or_fail(area({two_rows, only_notches, no_counts, every_range}));

  ReportRun r = run_report("mkmc", false, store_.path("mc.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines[0].at(2), "MKMC");
  EXPECT_EQ(r.columns(), (Row{"Marker_Name", "Point_Attrib_Label", "Point_Attrib_Qty",
                              "Notch_Label", "Notch_Qty", "Internal_Label", "Internal_Qty"}));
  const std::vector<Row> expected = {{"HDR-NAME", "K", "3", "1", "5", "D", "4"},
                                     {"HDR-NAME", "Q", "1", "10", "2", "", ""},
                                     {"ITEM2", "", "", "2", "7", "", ""},
                                     {"ITEM4", "Q", "1", "99", "32767", "A", "-32768"},
                                     {"ITEM4", "14", "2", "", "", "Z", "1"},
                                     {"ITEM4", "52", "-3", "", "", "", ""}};
  EXPECT_EQ(std::vector<Row>(r.lines.begin() + 2, r.lines.end()), expected);
  // Quantities are text columns: quoted like every text.
  EXPECT_EQ(csv_lines(read_file(store_.path("mc.csv"))).at(2),
            R"("HDR-NAME","K","3","1","5","D","4")");
}

TEST_F(MarkerReportTest, CountReportIsTheSameDetailedAndReusedByItsRunRecord) {
  import_or_fail(area({counts_marker("A", {1}, {}, {}), counts_marker("B", {}, {}, {}),
                       counts_marker("C", {}, {2}, {})}));
  write_file(store_.path("delta.lst"), "");
  std::string path = store_.path("mc.csv");
  ReportRun first = run_report("mkmc", false, path);
  ASSERT_EQ(first.run.status, 0) << first.run.err;
  std::string first_output = read_file(path);
  ReportRun detailed = run_report("mkmc", true, store_.path("detailed.csv"));
  EXPECT_EQ(detailed.lines, first.lines);

  // The table has neither a "Name" nor a "time" column: the rerun takes its
  // items and stamps from the run record beside it, B (no rows) included,
  // reads none and logs none.
  write_file(store_.path("delta.lst"), "");
  ReportRun second = run_report("mkmc", false, path);
  ASSERT_EQ(second.run.status, 0) << second.run.err;
  EXPECT_EQ(read_file(path), first_output);
  EXPECT_EQ(csv_lines(read_file(store_.path("delta.lst"))).size(), 1u);  // the preamble alone
}

}  // namespace
}  // namespace quire::testing
