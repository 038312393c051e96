// The marker header report: plain and detailed rows, the conversion of
// analysis lengths and areas, NetUtil, and the detailed dBASE table.
#include "support/kind_reports.h"

namespace quire::testing {
namespace {

// A marker with every header and analysis value set to something distinct.
json full_marker() {
  json m = marker("M100");
  m["created"] = 999999000;
  m["byte_size"] = {1000, 24};
  m["header"] = {{"description", "desc"}, {"order_name", "ORD-1"}, {"order_number", "42"},
                 {"lay_limits", "LL"}, {"annotation", "ANN"}, {"block_buffer", "BB"},
                 {"matching", "MATCH"}, {"notch", "NOTCH"}, {"width", 50.0}, {"length", 100.0},
                 {"util", 81.5}, {"target_util", 80.25}, {"total_perimeter", 12.5},
                 {"stripe_o", 1.0}, {"stripe_o2", 2.0}, {"stripe_o3", 3.0}, {"stripe_rpt", 4.0},
                 {"plaid_o", 5.0}, {"plaid_o2", 6.0}, {"plaid_o3", 7.0}, {"plaid_rpt", 8.0},
                 {"shrink_stretch_x", 1.5}, {"shrink_stretch_y", -0.5}, {"added", 3},
                 {"total_corners", 11}, {"total_notches", 13}, {"five_star", 4}, {"sizes", 5},
                 {"added_sizes", 2}};
  m["analysis"] = {{"straight_perimeter", 1.0}, {"curved_perimeter", 2.0},
                   {"total_internal", 3.0}, {"straight_internal", 0.0},
                   {"curved_internal", 5.0}, {"placed_area", 10.0},
                   {"placed_perimeter", 10.0}, {"area_term", 5.0},
                   {"net_area", 2500.0 / 6.4516}, {"placed_pieces", 7},
                   {"unplaced_pieces", 2}, {"placed_notches", 17}, {"placed_corners", 19}};
  m["models"] = json::array({json{{"name", "MOD-A"}}, json{{"name", "MOD-B"}}});
  return m;
}

TEST_F(MarkerReportTest, PlainRunWritesTwelveHeaderValues) {
  import_or_fail(area({full_marker()}));
  ReportRun r = run_report("mkhdr", false, store_.path("hdr.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(Row(r.lines[0].begin(), r.lines[0].begin() + 3), (Row{"DB_VERSION_3", "METRIC", "MKHDR"}));
  EXPECT_EQ(r.columns(), (Row{"Name", "Order_name", "Width", "Length", "Util", "tot_siz", "time",
                              "User_Last_Mod", "Created_Time", "User_Created", "Prev_Mod_Time",
                              "User_Prev_Mod"}));
  EXPECT_EQ(r.row(0), (Row{"M100", "ORD-1", "50.00", "100.00", "81.50", "7", "3b9aca00", "ann",
                           "3b9ac618", "bob", "0", "cy"}));
}

TEST_F(MarkerReportTest, DetailedMetricRunConvertsAnalysisValuesOnly) {
  import_or_fail(area({full_marker()}, /*notation=*/0, /*precision=*/3));
  ReportRun r = run_report("mkhdr", true, store_.path("hdr.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.columns().size(), 52u);
  EXPECT_EQ(r.columns()[46], "time");
  ASSERT_EQ(r.row_count(), 1u);
  EXPECT_EQ(r.row(0), (Row{
      "M100", "ORD-1", "42", "desc", "LL", "ANN", "BB", "MATCH", "NOTCH",
      "1024", "9", "7", "2", "3",                        // ByteSize, T_pieces, Placed, Unplaced, Added
      "50.000", "100.000", "81.500", "50.000", "80.250",  // Width, Length, Util, NetUtil, Tgt_Util
      "96.774", "64.516",                                // T_area, P_area: square inches to cm²
      "2.540", "5.080", "12.500", "25.400",              // perimeters; T_per is the header's
      "0.000", "12.700", "7.620",                        // internal lines (0 stays 0)
      "13", "17", "11", "19",                            // notches and corners
      "8.000", "5.000", "6.000", "7.000", "4.000", "1.000", "2.000", "3.000",
      "2", "4", "1.500", "-0.500", "7", "2",
      "Sun Sep 09 01:46:40 2001", "ann", "Sun Sep 09 01:30:00 2001", "bob",
      "Thu Jan 01 00:00:00 1970", "cy"}));
}

TEST_F(MarkerReportTest, ImperialRunLeavesAnalysisValuesInInches) {
  json m = full_marker();
  m["analysis"]["net_area"] = 2500.0;
  import_or_fail(area({m}, /*notation=*/1, /*precision=*/3));
  ReportRun imperial = run_report("mkhdr", true, store_.path("imp.csv"));
  ASSERT_EQ(imperial.row_count(), 1u) << imperial.run.err;
  EXPECT_EQ(imperial.lines[0].at(1), "IMPERIAL");
  for (auto [column, value] : {std::pair{"P_per", "10.000"}, {"P_area", "10.000"},
                               {"T_area", "15.000"}, {"NetUtil", "50.000"}})
    EXPECT_EQ(imperial.value(0, column), value) << column;
  // -N0 makes the imperial area's run metric, and the rule follows the run.
  ReportRun metric = run_report("mkhdr", true, store_.path("met.csv"), {"-N0"});
  ASSERT_EQ(metric.row_count(), 1u) << metric.run.err;
  EXPECT_EQ(metric.lines[0].at(1), "METRIC");
  EXPECT_EQ(metric.value(0, "P_area"), "64.516");
}

TEST_F(MarkerReportTest, DegenerateValuesStayFinite) {
  json tiny_length = marker("A");
  tiny_length["header"] = {{"length", 0.0005}, {"width", 50.0}};
  tiny_length["analysis"] = {{"net_area", 1000.0}};
  json no_width = marker("B");
  no_width["header"] = {{"length", 10.0}, {"width", 0.0}};
  no_width["analysis"] = {{"net_area", 1000.0}};
  // Sums past the 32-bit range are held at its end rather than wrapping.
  json huge = marker("C");
  huge["byte_size"] = {2147483647, 10};
  huge["header"] = {{"sizes", 2147483647}, {"added_sizes", 5}};
  import_or_fail(area({tiny_length, no_width, huge}));
  ReportRun r = run_report("mkhdr", true, store_.path("u.csv"));
  ASSERT_EQ(r.row_count(), 3u) << r.run.err;
  EXPECT_EQ(r.value(0, "NetUtil"), "0.00");
  EXPECT_EQ(r.value(1, "NetUtil"), "0.00");
  EXPECT_EQ(r.value(2, "ByteSize"), "2147483647");
  EXPECT_EQ(r.value(2, "tot_siz"), "2147483647");
}

TEST_F(MarkerReportTest, DetailedDbaseTableReadsBackWithItsTypes) {
#ifdef _WIN32
  GTEST_SKIP() << "read back with python3-dbfread on Linux only";
#else
  if (run_shell("/usr/bin/python3 -c 'import dbfread'").status != 0) GTEST_SKIP() << "python3-dbfread missing";
  import_or_fail(area({full_marker()}, 0, 3));
  std::string out = store_.path("hdr.dbf");
  ReportRun r = run_report("mkhdr", true, out);
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  // Field count; name, type, width, decimals of a C, an N, two F and the
  // time column; then values of the record.
  RunResult py = run_shell(
      "/usr/bin/python3 -c 'import sys, dbfread; t = dbfread.DBF(sys.argv[1]); f = t.fields; "
      "print(len(f), *[(f[i].name, f[i].type, f[i].length, f[i].decimal_count) "
      "for i in (0, 9, 14, 16, 46)]); r = list(t)[0]; "
      "print(r[\"NAME\"], r[\"BYTESIZE\"], r[\"T_AREA\"], r[\"SHRINK_S_2\"], r[\"TIME\"])' " +
      shell_quote(out));
  ASSERT_EQ(py.status, 0) << py.err;
  EXPECT_EQ(py.out,
            "52 ('NAME', 'C', 20, 0) ('BYTESIZE', 'N', 7, 0) ('WIDTH', 'N', 16, 3) "
            "('UTIL', 'N', 8, 3) ('TIME', 'C', 24, 0)\n"
            "M100 1024 96.774 -0.5 Sun Sep 09 01:46:40 2001\n");
#endif
}

}  // namespace
}  // namespace quire::testing
