// The piece-override and splice reports: rows per override and per splice,
// their values, failing reads, and the two time forms.
#include "kinds_marker/marker_test_util.h"

namespace quire::testing {
namespace {

using Row = std::vector<std::string>;

json override_entry(const std::string& piece, int right, const std::string& text,
                    const std::string& size, const std::string& model) {
  return json{{"piece", piece}, {"right", right}, {"override", text}, {"size", size},
              {"model", model}};
}

TEST_F(MarkerReportTest, OverrideRowsFollowIndexOrderWithTheSideFlag) {
  json m = marker("M1");
  m["created"] = 16;
  m["overrides"] = json::array({override_entry("FRONT", 0, "FLIP", "XL", "MODEL-A"),
                    override_entry("BACK", 1, "ROT90", "S", "MODEL-B"),
                    override_entry("SLEEVE \"L\"", 255, "10,5", "M", "MODEL-C")});
  json none = marker("M2");
  import_or_fail(area({m, none}));

  ReportRun r = run_report("mkov", false, store_.path("ov.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines[0].at(2), "MKOV");
  EXPECT_EQ(r.columns(), (Row{"Name", "Piece", "IsRight", "Overrides", "Size", "Model", "Time",
                              "User_Last_Mod", "Created_Time", "User_Created", "Prev_Mod_Time",
                              "User_Prev_Mod"}));
  ASSERT_EQ(r.row_count(), 3u);  // M2 has no overrides
  const Row closing = {"3b9aca00", "ann", "10", "bob", "0", "cy"};
  const Row heads[] = {{"M1", "FRONT", "0", "FLIP", "XL", "MODEL-A"},
                       {"M1", "BACK", "1", "ROT90", "S", "MODEL-B"},
                       {"M1", "SLEEVE \"L\"", "1", "10,5", "M", "MODEL-C"}};
  for (size_t i = 0; i < 3; ++i) {
    Row expected = heads[i];
    expected.insert(expected.end(), closing.begin(), closing.end());
    EXPECT_EQ(r.row(i), expected) << i;
  }
}

TEST_F(MarkerReportTest, OverrideReadFailureSkipsOnlyThatOverride) {
  json m = marker("M1");
  m["overrides"] = json::array({override_entry("P0", 0, "A", "S", "X"), override_entry("P1", 1, "B", "M", "Y"),
                    override_entry("P2", 0, "C", "L", "Z")});
  m["faults"] = {{"override_at", 1}};
  json bad_header = marker("M2");
  bad_header["overrides"] = json::array({override_entry("Q0", 0, "A", "S", "X")});
  bad_header["faults"] = {{"header", true}};
  json after = marker("M3");
  after["overrides"] = json::array({override_entry("R0", 1, "A", "S", "X")});
  import_or_fail(area({m, bad_header, after}));

  ReportRun r = run_report("mkov", false, store_.path("ov.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.row_count(), 3u);
  // The failed read is reported and gets no row, never the previous one's.
  EXPECT_EQ(r.value(0, "Piece"), "P0");
  EXPECT_EQ(r.value(1, "Piece"), "P2");
  EXPECT_EQ(r.value(1, "Overrides"), "C");
  // A header that cannot be read gives no rows and no message; the run goes on.
  EXPECT_EQ(r.value(2, "Piece"), "R0");
  EXPECT_EQ(r.value(2, "Name"), "M3");
  size_t errors = 0;
  for (size_t at = r.run.err.find("Error "); at != std::string::npos;
       at = r.run.err.find("Error ", at + 1))
    ++errors;
  EXPECT_EQ(errors, 1u) << r.run.err;
}

json splice(double start, double length) { return json{{"start", start}, {"length", length}}; }

json splice_marker(const std::string& name, double length, double width,
                   const std::vector<json>& splices) {
  json m = marker(name);
  m["header"] = {{"length", length}, {"width", width}};
  m["splices"] = json(splices);
  return m;
}

TEST_F(MarkerReportTest, SpliceRowsMeasureFromBothEnds) {
  json three = splice_marker("ITEM1", 500.0, 150.0,
                             {splice(120.0, 30.0),
                              splice(0.0, 500.0),
                              splice(480.5, 25.0)});
  three["header"]["name"] = "HDR-NAME";  // rows carry the header's name
  json none = splice_marker("ITEM2", 100.0, 100.0, json::array());
  import_or_fail(area({three, none}, 0, 3));

  ReportRun r = run_report("mksplice", false, store_.path("sp.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines[0].at(2), "MKSPLICE");
  EXPECT_EQ(r.columns(), (Row{"Name", "Marker_Length", "Marker_Width", "Start_From_Left", "Len",
                              "Start_From_Right", "Time", "User_Last_Mod", "Created_Time",
                              "User_Created", "Prev_Mod_Time", "User_Prev_Mod"}));
  ASSERT_EQ(r.row_count(), 3u);
  const Row closing = {"3b9aca00", "ann", "0", "bob", "0", "cy"};
  const Row heads[] = {{"HDR-NAME", "500.000", "150.000", "120.000", "30.000", "350.000"},
                       {"HDR-NAME", "500.000", "150.000", "0.000", "500.000", "0.000"},
                       {"HDR-NAME", "500.000", "150.000", "480.500", "25.000", "-5.500"}};
  for (size_t i = 0; i < 3; ++i) {
    Row expected = heads[i];
    expected.insert(expected.end(), closing.begin(), closing.end());
    EXPECT_EQ(r.row(i), expected) << i;
  }

  // Imperial or metric, splice values are never converted.
  ReportRun imperial = run_report("mksplice", false, store_.path("sp-imp.csv"), {"-N1"});
  ASSERT_EQ(imperial.row_count(), 3u);
  EXPECT_EQ(imperial.value(0, "Start_From_Right"), "350.000");
}

TEST_F(MarkerReportTest, SpliceReadFailureEndsTheMarkersRowsSilently) {
  json four = splice_marker("M1", 400.0, 100.0,
                            {splice(10.0, 5.0),
                             splice(20.0, 5.0),
                             splice(30.0, 5.0),
                             splice(40.0, 5.0)});
  four["faults"] = {{"splice_at", 1}};
  json bad_header = splice_marker("M2", 100.0, 100.0, {splice(1.0, 1.0)});
  bad_header["faults"] = {{"header", true}};
  json after = splice_marker("M3", 100.0, 100.0, {splice(1.0, 1.0)});
  import_or_fail(area({four, bad_header, after}));

  ReportRun r = run_report("mksplice", false, store_.path("sp.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.row_count(), 2u);
  EXPECT_EQ(r.value(0, "Name"), "M1");
  EXPECT_EQ(r.value(0, "Start_From_Left"), "10.00");
  EXPECT_EQ(r.value(1, "Name"), "M3");
  EXPECT_EQ(r.run.err.find("Error "), std::string::npos) << r.run.err;
}

TEST_F(MarkerReportTest, DetailedFormChangesOnlyTheTimeTexts) {
  json ov = marker("M1", 86400);
  ov["overrides"] = json::array({override_entry("P", 1, "A", "S", "X")});
  ov["splices"] = json::array({splice(1.0, 2.0)});
  ov["header"] = {{"length", 10.0}};
  import_or_fail(area({ov}));
  for (const char* kind : {"mkov", "mksplice"}) {
    SCOPED_TRACE(kind);
    ReportRun plain = run_report(kind, false, store_.path(std::string(kind) + "-p.csv"));
    ReportRun detailed = run_report(kind, true, store_.path(std::string(kind) + "-d.csv"));
    ASSERT_EQ(plain.row_count(), 1u) << plain.run.err;
    ASSERT_EQ(detailed.row_count(), 1u) << detailed.run.err;
    EXPECT_EQ(plain.columns(), detailed.columns());
    EXPECT_EQ(plain.value(0, "Time"), "15180");
    EXPECT_EQ(detailed.value(0, "Time"), "Fri Jan 02 00:00:00 1970");
    EXPECT_EQ(detailed.value(0, "Created_Time"), "Thu Jan 01 00:00:00 1970");
    Row p = plain.row(0), d = detailed.row(0);
    for (size_t c : {6u, 8u, 10u}) p[c] = d[c] = "";
    EXPECT_EQ(p, d);
  }
}

}  // namespace
}  // namespace quire::testing
