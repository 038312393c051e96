// The marker header report: plain and detailed columns, the conversion of
// analysis lengths and areas, the derived counts, NetUtil, failing reads and
// the dBASE form.
#include <regex>

#include "kinds_marker/marker_test_util.h"

namespace quire::testing {
namespace {

const std::vector<std::string> kPlainColumns = {
    "Name", "Order_name", "Width", "Length", "Util", "tot_siz", "time", "User_Last_Mod",
    "Created_Time", "User_Created", "Prev_Mod_Time", "User_Prev_Mod"};

const std::vector<std::string> kDetailedColumns = {
    "Name", "Order_name", "Order_number", "Desc", "LayLimits", "Annotation", "BlockBuffer",
    "Match", "Notch", "ByteSize", "T_pieces", "Placed", "Unplaced", "Added", "Width", "Length",
    "Util", "NetUtil", "Tgt_Util", "T_area", "P_area", "Straight_Perim", "Curved_Perim", "T_per",
    "P_per", "Straight_Internal", "Curved_Internal", "Total_Internal", "T_notch", "P_notch",
    "T_corner", "P_corner", "Plaid_Rpt", "Plaid_O", "Plaid_O2", "Plaid_O3", "Stripe_Rpt",
    "Stripe_O", "Stripe_O2", "Stripe_O3", "models", "5star", "Shrink_Stretch_X",
    "Shrink_Stretch_Y", "tot_siz", "add_siz", "time", "User_Last_Mod", "Created_Time",
    "User_Created", "Prev_Mod_Time", "User_Prev_Mod"};

// A marker with every header and analysis value set to something distinct.
json full_marker() {
  json m = marker("M100");
  m["created"] = 999999000;
  m["byte_size"] = {1000, 24};
  m["header"] = {{"description", "desc"},     {"order_name", "ORD-1"},   {"order_number", "42"},
                 {"lay_limits", "LL"},        {"annotation", "ANN"},     {"block_buffer", "BB"},
                 {"matching", "MATCH"},       {"notch", "NOTCH"},        {"width", 50.0},
                 {"length", 100.0},           {"util", 81.5},            {"target_util", 80.25},
                 {"total_perimeter", 12.5},   {"stripe_o", 1.0},         {"stripe_o2", 2.0},
                 {"stripe_o3", 3.0},          {"stripe_rpt", 4.0},       {"plaid_o", 5.0},
                 {"plaid_o2", 6.0},           {"plaid_o3", 7.0},         {"plaid_rpt", 8.0},
                 {"shrink_stretch_x", 1.5},   {"shrink_stretch_y", -0.5}, {"added", 3},
                 {"total_corners", 11},       {"total_notches", 13},     {"five_star", 4},
                 {"sizes", 5},                {"added_sizes", 2}};
  m["analysis"] = {{"straight_perimeter", 1.0}, {"curved_perimeter", 2.0},
                   {"total_internal", 3.0},     {"straight_internal", 0.0},
                   {"curved_internal", 5.0},    {"placed_area", 10.0},
                   {"placed_perimeter", 10.0},  {"area_term", 5.0},
                   {"net_area", 2500.0 / 6.4516}, {"placed_pieces", 7},
                   {"unplaced_pieces", 2},      {"placed_notches", 17},
                   {"placed_corners", 19}};
  m["models"] = json::array({json{{"name", "MOD-A"}}, json{{"name", "MOD-B"}}});
  return m;
}

TEST_F(MarkerReportTest, PlainRunWritesTwelveHeaderValues) {
  json m = full_marker();
  import_or_fail(area({m}));
  ReportRun r = run_report("mkhdr", false, store_.path("hdr.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0].at(0), "DB_VERSION_3");
  EXPECT_EQ(r.lines[0].at(1), "METRIC");
  EXPECT_EQ(r.lines[0].at(2), "MKHDR");
  EXPECT_EQ(r.columns(), kPlainColumns);
  // Header values as the library gives them, times in hexadecimal, a missing
  // previous-modification time as 0.
  EXPECT_EQ(r.row(0), (std::vector<std::string>{"M100", "ORD-1", "50.00", "100.00", "81.50", "7",
                                                "3b9aca00", "ann", "3b9ac618", "bob", "0",
                                                "cy"}));
}

TEST_F(MarkerReportTest, DetailedMetricRunConvertsAnalysisValuesOnly) {
  import_or_fail(area({full_marker()}, /*notation=*/0, /*precision=*/3));
  ReportRun r = run_report("mkhdr", true, store_.path("hdr.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.columns(), kDetailedColumns);
  ASSERT_EQ(r.row_count(), 1u);
  const std::vector<std::string> expected = {
      "M100", "ORD-1", "42", "desc", "LL", "ANN", "BB", "MATCH", "NOTCH",
      "1024", "9", "7", "2", "3",                        // ByteSize, T_pieces, Placed, Unplaced, Added
      "50.000", "100.000", "81.500", "50.000", "80.250",  // Width .. Tgt_Util
      "96.774", "64.516",                                // T_area, P_area: square inches to cm²
      "2.540", "5.080", "12.500", "25.400",              // perimeters; T_per from the header
      "0.000", "12.700", "7.620",                        // internal lines (0 stays 0)
      "13", "17", "11", "19",                            // notches and corners
      "8.000", "5.000", "6.000", "7.000", "4.000", "1.000", "2.000", "3.000",
      "2", "4", "1.500", "-0.500", "7", "2",
      "Sun Sep 09 01:46:40 2001", "ann", "Sun Sep 09 01:30:00 2001", "bob",
      "Thu Jan 01 00:00:00 1970", "cy"};
  EXPECT_EQ(r.row(0), expected);
}

TEST_F(MarkerReportTest, ImperialRunLeavesAnalysisValuesInInches) {
  json m = full_marker();
  m["analysis"]["net_area"] = 2500.0;
  import_or_fail(area({m}, /*notation=*/0, /*precision=*/3));
  // -N1 makes a metric area's run imperial.
  ReportRun r = run_report("mkhdr", true, store_.path("hdr.csv"), {"-N1"});
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines[0].at(1), "IMPERIAL");
  ASSERT_EQ(r.row_count(), 1u);
  EXPECT_EQ(r.value(0, "P_per"), "10.000");
  EXPECT_EQ(r.value(0, "P_area"), "10.000");
  EXPECT_EQ(r.value(0, "T_area"), "15.000");
  EXPECT_EQ(r.value(0, "Straight_Perim"), "1.000");
  EXPECT_EQ(r.value(0, "NetUtil"), "50.000");

  // An imperial area converts nothing either; -N0 turns it metric.
  import_or_fail(area({m}, /*notation=*/1, /*precision=*/3));
  ReportRun imperial = run_report("mkhdr", true, store_.path("imp.csv"));
  EXPECT_EQ(imperial.value(0, "P_area"), "10.000");
  ReportRun metric = run_report("mkhdr", true, store_.path("met.csv"), {"-N0"});
  EXPECT_EQ(metric.lines[0].at(1), "METRIC");
  EXPECT_EQ(metric.value(0, "P_area"), "64.516");
}

TEST_F(MarkerReportTest, NetUtilIsZeroWithoutAUsableLengthOrWidth) {
  json short_marker = marker("A-SHORT");
  short_marker["header"] = {{"length", 0.0005}, {"width", 50.0}};
  short_marker["analysis"] = {{"net_area", 1000.0}};
  json no_width = marker("B-NOWIDTH");
  no_width["header"] = {{"length", 10.0}, {"width", 0.0}};
  no_width["analysis"] = {{"net_area", 1000.0}};
  json negative = marker("C-NEG");
  negative["header"] = {{"length", -5.0}, {"width", 10.0}};
  negative["analysis"] = {{"net_area", 1000.0}};
  import_or_fail(area({short_marker, no_width, negative}));
  ReportRun r = run_report("mkhdr", true, store_.path("u.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.row_count(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(r.value(i, "NetUtil"), "0.00") << i;
}

TEST_F(MarkerReportTest, FailingReadsLeaveOnlyThatMarkerOutWithAMessage) {
  json bad_header = marker("B-HDR");
  bad_header["faults"] = {{"header_ex", true}};
  json bad_analysis = marker("C-ANA");
  bad_analysis["faults"] = {{"analysis", true}};
  import_or_fail(area({marker("A-OK"), bad_header, bad_analysis, marker("D-OK")}));
  for (bool detailed : {false, true}) {
    SCOPED_TRACE(detailed);
    ReportRun r = run_report("mkhdr", detailed, store_.path("hdr.csv"));
    ASSERT_EQ(r.run.status, 0) << r.run.err;
    ASSERT_EQ(r.row_count(), 2u);
    EXPECT_EQ(r.value(0, "Name"), "A-OK");
    EXPECT_EQ(r.value(1, "Name"), "D-OK");
    std::regex error_record(R"(Error -?\d+, [^\n]*?\(\d+\))");
    auto begin = std::sregex_iterator(r.run.err.begin(), r.run.err.end(), error_record);
    EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 2) << r.run.err;
  }
}

TEST_F(MarkerReportTest, DetailedDbaseTableReadsBackWithItsTypes) {
  import_or_fail(area({full_marker(), marker("M200")}, 0, 3));
  std::string out = store_.path("hdr.dbf");
  ReportRun r = run_report("mkhdr", true, out);
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  std::string script = store_.path("check.py");
  write_file(script, R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='latin-1')
print(len(t.fields))
for f in t.fields:
    print(f.name, f.type, f.length, f.decimal_count)
for rec in t:
    print('|'.join(str(v) for v in rec.values()))
)PY");
  RunResult py = run_shell("/usr/bin/python3 " + shell_quote(script) + " " + shell_quote(out));
  ASSERT_EQ(py.status, 0) << py.err;
  std::vector<std::string> lines;
  std::istringstream in(py.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 52u + 2u) << py.out;
  EXPECT_EQ(lines[0], "52");
  EXPECT_EQ(lines[1], "NAME C 20 0");
  EXPECT_EQ(lines[10], "BYTESIZE N 7 0");
  EXPECT_EQ(lines[15], "WIDTH N 16 3");      // F columns are stored as N with decimals
  EXPECT_EQ(lines[17], "UTIL N 8 3");
  EXPECT_EQ(lines[42], "5STAR N 1 0");
  EXPECT_EQ(lines[47], "TIME C 24 0");       // the time column, upper-cased
  EXPECT_EQ(lines[48], "USER_LAST_ C 40 0");
  // The first record read back: texts trimmed, numbers as numbers.
  std::vector<std::string> v;
  std::stringstream rec(lines[53]);
  for (std::string cell; std::getline(rec, cell, '|');) v.push_back(cell);
  ASSERT_EQ(v.size(), 52u) << lines[53];
  EXPECT_EQ(v[0], "M100");
  EXPECT_EQ(v[9], "1024");
  EXPECT_EQ(v[19], "96.774");
  EXPECT_EQ(v[20], "64.516");
  EXPECT_EQ(v[43], "-0.5");
  EXPECT_EQ(v[46], "Sun Sep 09 01:46:40 2001");
}

}  // namespace
}  // namespace quire::testing
