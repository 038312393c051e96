// The piece-override and splice reports, and failing library reads in all
// four marker reports.
#include <regex>

#include "report/run_figures.h"
#include "support/kind_reports.h"

namespace quire::testing {
namespace {

json override_entry(const std::string& piece, int right, const std::string& text) {
  return json{{"piece", piece}, {"right", right}, {"override", text}, {"size", "XL"},
              {"model", "MOD-" + piece}};
}

json splice(double start, double length) { return json{{"start", start}, {"length", length}}; }

TEST_F(MarkerReportTest, OverrideRowsFollowIndexOrderAndSkipAFailedRead) {
  json m = marker("M1");
  m["overrides"] = json::array({override_entry("FRONT", 0, "FLIP"), override_entry("BACK", 1, "X"),
                                override_entry("SLEEVE \"L\"", 255, "10,5")});
  json failing = marker("M2");
  failing["overrides"] = json::array(
      {override_entry("P0", 1, "A"), override_entry("P1", 1, "B"), override_entry("P2", 0, "C")});
  failing["faults"] = {{"override_at", 1}};
  import_or_fail(area({m, failing, marker("M3")}));  // M3 has no overrides

  ReportRun r = run_report("mkov", false, store_.path("ov.csv"));
  ASSERT_EQ(r.run.status, 3) << r.run.err;  // written, but M2 failed in part
  EXPECT_EQ(r.lines[0].at(2), "MKOV");
  EXPECT_EQ(r.columns(), (Row{"Name", "Piece", "IsRight", "Overrides", "Size", "Model", "Time",
                              "User_Last_Mod", "Created_Time", "User_Created", "Prev_Mod_Time",
                              "User_Prev_Mod"}));
  std::vector<Row> expected = {{"M1", "FRONT", "0", "FLIP", "XL", "MOD-FRONT"},
                               {"M1", "BACK", "1", "X", "XL", "MOD-BACK"},
                               {"M1", "SLEEVE \"L\"", "1", "10,5", "XL", "MOD-SLEEVE \"L\""},
                               // The failed read gets no row (never a copy of P0's) and is
                               // reported; the next override is read.
                               {"M2", "P0", "1", "A", "XL", "MOD-P0"},
                               {"M2", "P2", "0", "C", "XL", "MOD-P2"}};
  for (Row& row : expected) row.insert(row.end(), {"3b9aca00", "ann", "0", "bob", "0", "cy"});
  EXPECT_EQ(std::vector<Row>(r.lines.begin() + 2, r.lines.end()), expected);
  EXPECT_EQ(error_records(r.run.err), 1) << r.run.err;
}

TEST_F(MarkerReportTest, SpliceRowsMeasureFromBothEndsAndEndAtAFailedRead) {
  json three = marker("ITEM1");
  three["header"] = {{"name", "HDR-NAME"}, {"length", 500.0}, {"width", 150.0}};
  three["splices"] = json::array({splice(120.0, 30.0), splice(0.0, 500.0), splice(480.5, 25.0)});
  json failing = marker("ITEM2");
  failing["header"] = {{"length", 400.0}, {"width", 100.0}};
  failing["splices"] = json::array({splice(10, 5), splice(20, 5), splice(30, 5), splice(40, 5)});
  failing["faults"] = {{"splice_at", 1}};
  import_or_fail(area({three, failing, marker("ITEM3")}, 0, 3));  // ITEM3 has no splices

  // Imperial or metric, splice values are never converted.
  for (const char* notation : {"-N0", "-N1"}) {
    SCOPED_TRACE(notation);
    ReportRun r = run_report("mksplice", false, store_.path("sp.csv"), {notation});
    ASSERT_EQ(r.run.status, 0) << r.run.err;
    EXPECT_EQ(r.lines[0].at(2), "MKSPLICE");
    EXPECT_EQ(r.columns(), (Row{"Name", "Marker_Length", "Marker_Width", "Start_From_Left", "Len",
                                "Start_From_Right", "Time", "User_Last_Mod", "Created_Time",
                                "User_Created", "Prev_Mod_Time", "User_Prev_Mod"}));
    std::vector<Row> expected = {
        {"HDR-NAME", "500.000", "150.000", "120.000", "30.000", "350.000"},
        {"HDR-NAME", "500.000", "150.000", "0.000", "500.000", "0.000"},
        {"HDR-NAME", "500.000", "150.000", "480.500", "25.000", "-5.500"},
        {"ITEM2", "400.000", "100.000", "10.000", "5.000", "385.000"}};  // then silence
    for (Row& row : expected) row.insert(row.end(), {"3b9aca00", "ann", "0", "bob", "0", "cy"});
    EXPECT_EQ(std::vector<Row>(r.lines.begin() + 2, r.lines.end()), expected);
    EXPECT_EQ(error_records(r.run.err), 0) << r.run.err;
  }
}

// A header that cannot be read costs the marker its rows; MKHDR and MKMC
// report the library's error record, MKOV and MKSPLICE stay silent. A
// missing analysis is reported like a failed header. The run goes on. (The
// library fails both header reads for a "header" fault, only the extended
// one for "header_ex".)
TEST_F(MarkerReportTest, FailingHeaderReadsCostOnlyThatMarkersRows) {
  auto full = [](const std::string& name) {
    json m = marker(name);
    m["analysis"] = {{"point_attribute_counts", {1}}};
    m["overrides"] = json::array({override_entry("P", 1, "A")});
    m["splices"] = json::array({splice(1, 1)});
    return m;
  };
  json bad_ex = full("B"), bad_plain = full("C"), no_analysis = full("D");
  bad_ex["faults"] = {{"header_ex", true}};
  bad_plain["faults"] = {{"header", true}};
  no_analysis["faults"] = {{"analysis", true}};
  import_or_fail(area({full("A"), bad_ex, bad_plain, no_analysis, full("E")}));

  struct Case {
    const char* kind;
    Row names;
    int errors;
  };
  for (const Case& c : {Case{"mkhdr", {"A", "E"}, 3}, Case{"mkmc", {"A", "E"}, 3},
                        Case{"mkov", {"A", "B", "D", "E"}, 0},
                        Case{"mksplice", {"A", "B", "D", "E"}, 0}}) {
    SCOPED_TRACE(c.kind);
    ReportRun r = run_report(c.kind, true, store_.path(std::string(c.kind) + ".csv"));
    ASSERT_EQ(r.run.status, c.errors ? 3 : 0) << r.run.err;
    Row names;
    for (size_t i = 0; i < r.row_count(); ++i) names.push_back(r.row(i).at(0));
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(error_records(r.run.err), c.errors) << r.run.err;
    if (c.errors) {
      // One line per error, naming the marker and what failed.
      EXPECT_TRUE(std::regex_search(r.run.err, std::regex("^quire " + std::string(c.kind) +
                                                          R"(: marker B: Error -?\d+, .*?\(\d+\): header read failed\n)")))
          << r.run.err;
    }
  }
}

// On the in-memory reader: a read the area file fails is reported with
// the store's code, source and line and counts the marker as failed; the
// end of a list (or a failure that is not the file's) ends the rows
// silently, except an override, which is reported and passed over.
TEST(MarkerReadFailures, FileFailuresAreReportedAndEndsOfListsAreNot) {
  TempStore store;
  const Status file = fake_failure(-106, true, "f.cpp", 3);
  const Status other = fake_failure(5, false, "f.cpp", 4);
  auto records = [](size_t size, int count) {
    std::vector<Bytes> r;
    for (int i = 0; i < count; ++i) r.push_back(record_with_text(size, 0, "R" + std::to_string(i)));
    return r;
  };
  struct Case {
    const char* name;
    KindCommand command;
    std::vector<FakeItem> markers;
    const char* rows;     // marker/first value of each row
    const char* printed;  // the error lines, as printed one after another
    int failed;
  };
  auto with = [](FakeItem m, const char* call, int at, const Status& failure) {
    m.failures[{call, at}] = failure;
    return m;
  };
  auto pieces = [&](const char* name) {
    FakeItem m = fake_marker(name);
    m.pieces = records(records::marker_piece::kSize, 3);
    return m;
  };
  auto spliced = [&](const char* name) { return fake_marker(name, {}, records(records::splice_info::kSize, 3)); };
  auto overridden = [&](const char* name) {
    return fake_marker(name, records(records::piece_override::kSize, 3));
  };
  const Case cases[] = {
      {"mkpc", kinds::run_mkpc,
       {with(pieces("A"), "piece", 1, file), with(pieces("B"), "piece", 1, other), pieces("C")},
       "A/R0 B/R0 C/R0 C/R1 C/R2", "Error -106, f.cpp(3)", 1},
      {"mksplice", kinds::run_mksplice,
       {with(spliced("A"), "splice", 1, file), with(spliced("B"), "splice", 1, other),
        with(spliced("C"), "header", 0, other), with(spliced("D"), "header", 0, file)},
       "A/A B/B", "Error -106, f.cpp(3)Error -106, f.cpp(3)", 2},
      {"mkov", kinds::run_mkov,
       {with(overridden("A"), "override", 1, other), with(overridden("B"), "override", 1, file),
        with(overridden("C"), "header", 0, other)},
       "A/R0 A/R2 B/R0", "Error 5, f.cpp(4)Error -106, f.cpp(3)", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStoreReader reader;
    reader.items = c.markers;
    ReportRun r = run_kind(c.command, reader, store.path(std::string(c.name) + ".csv"));
    EXPECT_EQ(r.run.status, 1);
    std::string rows;
    for (size_t i = 0; i < r.row_count(); ++i) {
      const std::string first = c.command == kinds::run_mksplice ? r.row(i).at(0) : r.row(i).at(1);
      rows += (i ? " " : "") + r.row(i).at(0) + "/" + first;
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(r.run.err, c.printed);
    QuireRunFigures figures{};
    get_run_figures(&figures);
    EXPECT_EQ(figures.items_failed, c.failed);
    EXPECT_EQ(figures.items_read, static_cast<int64_t>(c.markers.size()));
  }
}

}  // namespace
}  // namespace quire::testing
