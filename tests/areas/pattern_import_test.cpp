// `quire area import FILE.dxf`: the sample pattern files of ../shared/astm
// (skipped when absent), their reports, units, and the one-line errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "dxf/dxf_test_util.h"
#include "support/report_run.h"
#include "support/test_support.h"

namespace quire::testing {
namespace {

using nlohmann::json;

const std::string kSamples = QUIRE_SOURCE_DIR "/../shared/astm";

std::string sample(const std::string& name) { return kSamples + "/" + name; }

#define SKIP_WITHOUT_SAMPLES()                                                                      \
  if (!std::filesystem::exists(sample("clo-pattern.dxf")))                                         \
  GTEST_SKIP() << "the sample pattern files are not in " << kSamples << "; pattern-file tests skipped"

json exported(const std::string& area) {
  RunResult r = run_quire({"area", "export", area});
  EXPECT_EQ(r.status, 0) << r.err;
  return json::parse(r.out, nullptr, false);
}

std::vector<std::string> names(const json& list) {
  std::vector<std::string> out;
  for (const json& item : list) out.push_back(item["name"]);
  return out;
}

class PatternImportTest : public ::testing::Test {
 protected:
  TempStore store_;
};

TEST_F(PatternImportTest, EverySampleImportsWithItsPiecesAndSizes) {
  SKIP_WITHOUT_SAMPLES();
  struct Sample {
    const char* file;
    const char* summary;
    std::vector<std::string> pieces, sizes;
    int notation;
  } samples[] = {
      {"clo-box.dxf", "clo-box: 0 markers, 1 model, 1 piece, 1 order", {"Pattern2D_4937"}, {"M"}, 1},
      {"clo-pattern.dxf", "clo-pattern: 0 markers, 1 model, 9 pieces, 1 order",
       {"11", "36", "37", "38", "39", "7", "Pattern2D_768516", "Pattern2D_768527", "Pattern2D_768528"}, {"M"}, 0},
      {"clo2-pattern.dxf", "clo2-pattern: 0 markers, 1 model, 9 pieces, 1 order",
       {"11", "36", "37", "38", "39", "7", "Pattern2D_768516", "Pattern2D_768527", "Pattern2D_768528"}, {"M"}, 0},
      {"valentina-astm-r12-basicblock.dxf", "BASICBLOCK2016: 0 markers, 1 model, 4 pieces, 1 order",
       {"BackPanel1", "BackPanel2", "FrontPanel1", "FrontPanel2"}, {"38"}, 0},
      {"ezdxf-astm-r12-binary-basicblock.dxf", "BASICBLOCK2016: 0 markers, 1 model, 4 pieces, 1 order",
       {"BackPanel1", "BackPanel2", "FrontPanel1", "FrontPanel2"}, {"38"}, 0},
      // No style or piece texts: named after the file and the blocks.
      {"valentina-astm-r2000-lwpolyline.dxf", "valentina-astm-r2000: 0 markers, 1 model, 2 pieces, 1 order",
       {"ledge", "prong"}, {}, 0},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.file);
    RunResult r = run_quire({"area", "import", sample(s.file)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("imported ") + s.summary + "\n");
    std::string area = std::string(s.summary).substr(0, std::string(s.summary).find(':'));
    json a = exported(area);
    EXPECT_EQ(a["notation"], s.notation);
    EXPECT_EQ(names(a["pieces"]), s.pieces);
    std::vector<std::string> sizes;
    for (const json& z : a["orders"][0]["models"][0]["sizes"]) sizes.push_back(z["size"]);
    EXPECT_EQ(sizes, s.sizes);
    EXPECT_EQ(a["models"][0]["pieces"].size(), s.pieces.size());
  }
  // Broken on purpose (booleans two bytes wide, a real written as text): refused.
  RunResult bad = run_quire({"area", "import", sample("valentina-aama-r2000-binary-dupnames.dxf")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("dupnames.dxf: byte 2230: group code 12590 is not a DXF group code"), std::string::npos)
      << bad.err;
  EXPECT_EQ(bad.err.find('\n'), bad.err.size() - 1) << bad.err;
}

TEST_F(PatternImportTest, PieceAreasAndPerimetersAgreeWithAnIndependentComputation) {
  SKIP_WITHOUT_SAMPLES();
  // Shoelace sums of the boundary vertices (closing edge included) worked
  // out apart from the program, in the files' millimetres; stored in cm.
  const std::map<std::string, std::pair<double, double>> expected = {
      {"11", {158187.51086432004, 1824.014327356655}},     {"36", {50673.37844550575, 980.5255850714844}},
      {"ledge", {102380.24705544888, 1304.671710759806}}, {"prong", {101828.99705544888, 1299.487325509103}},
      {"BackPanel2", {284878.75675065746, 2789.051411790621}},
  };
  std::map<std::string, std::pair<double, double>> got;
  for (const char* file : {"clo-pattern.dxf", "valentina-astm-r2000-lwpolyline.dxf", "ezdxf-astm-r12-binary-basicblock.dxf"}) {
    RunResult r = run_quire({"area", "import", sample(file), "--area", "M", "--marker", "NEST"});
    ASSERT_EQ(r.status, 0) << r.err;
    json area = exported("M");
    for (const json& p : area["markers"][0]["pieces"])
      got[p["name"].get<std::string>()] = {p["area"].get<double>(), p["perimeter"].get<double>()};
    // Corners: distinct turn-point positions on a boundary vertex (the
    // file gives some twice); the net area is the placed area.
    const json& analysis = area["markers"][0]["analysis"];
    if (std::string(file) == "clo-pattern.dxf") {
      EXPECT_EQ(area["markers"][0]["header"]["total_corners"], 60);
    }
    EXPECT_EQ(analysis["net_area"], analysis["placed_area"]) << file;
  }
  for (const auto& [name, value] : expected) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(got.count(name));
    EXPECT_NEAR(got[name].first, value.first / 100, value.first / 100 * 1e-4);
    EXPECT_NEAR(got[name].second, value.second / 10, value.second / 10 * 1e-4);
  }
}

TEST_F(PatternImportTest, UnitsComeFromTheFileAndTheOverride) {
  SKIP_WITHOUT_SAMPLES();
  auto first_area = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all = {"area", "import"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--area", "U", "--marker", "N"});
    RunResult r = run_quire(all);
    EXPECT_EQ(r.status, 0) << r.err;
    json a = exported("U");
    return std::pair<int, double>(a["notation"], a["markers"][0]["pieces"][0]["area"]);
  };
  // clo2 says METRIC but holds centimetres: read as millimetres it is 100 times too small.
  auto mm = first_area({sample("clo2-pattern.dxf")});
  auto cm = first_area({sample("clo2-pattern.dxf"), "--units", "cm"});
  EXPECT_EQ(cm.first, 0);
  EXPECT_NEAR(cm.second, 1581.8751086432, 0.02);
  EXPECT_NEAR(mm.second * 100, cm.second, 1e-6 * cm.second);
  // ENGLISH: an imperial area in square inches; --units mm makes it metric.
  auto in = first_area({sample("clo-box.dxf")});
  auto box_mm = first_area({sample("clo-box.dxf"), "--units", "mm"});
  EXPECT_EQ(in.first, 1);
  EXPECT_NEAR(in.second, 9299.97469393853, 1e-6);
  EXPECT_EQ(box_mm.first, 0);
  EXPECT_NEAR(box_mm.second, 92.9997469393853, 1e-8);
  // A Units text and $INSUNITS that disagree.
  write_file("u.dxf", dxf_ascii(pattern_doc("B", {}, lwpolyline("1", {{0, 0}, {1, 0}, {1, 1}}), {{1, "Units: ENGLISH"}},
                                            {}, {{9, "$INSUNITS"}, {70, "4"}})));
  RunResult r = run_quire({"area", "import", "u.dxf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire area import: u.dxf: style text Units: ENGLISH disagrees with $INSUNITS 4 (mm); give --units\n");
  EXPECT_EQ(run_quire({"area", "import", "u.dxf", "--units", "in"}).status, 0);
}

TEST_F(PatternImportTest, ModelOrderAndMarkerReportsOfAnImportedStyle) {
  SKIP_WITHOUT_SAMPLES();
  RunResult r = run_quire({"area", "import", sample("valentina-astm-r12-basicblock.dxf"), "--area", "AREA",
                           "--marker", "NEST"});
  ASSERT_EQ(r.status, 0) << r.err;
  ReportRun model = run_report("model", true, "model.csv");
  ASSERT_EQ(model.run.status, 0) << model.run.err;
  EXPECT_EQ(model.column("Model_Name"), "BASICBLOCK2016|BASICBLOCK2016|BASICBLOCK2016|BASICBLOCK2016");
  EXPECT_EQ(model.column("Piece_Id"), "BackPanel2|FrontPanel1|FrontPanel2|BackPanel1");
  EXPECT_EQ(model.column("Piece_Description"),
            "Quantity 2; Annotation B2|Quantity 2; Annotation A1|Quantity 2; Annotation A2|Quantity 2; Annotation B1");
  EXPECT_EQ(model.column("Piece_Category"), "SHELL|SHELL|SHELL|SHELL");
  EXPECT_EQ(model.column("Comment1").substr(0, 38), "Sample Size 38; Grade Rule Table NONE|");
  EXPECT_EQ(model.column("Comment2").substr(0, 34), "valentina-astm-r12-basicblock.dxf|");

  ReportRun ordml = run_report("ordml", true, "ordml.csv");
  ASSERT_EQ(ordml.run.status, 0) << ordml.run.err;
  EXPECT_EQ(ordml.column("Order_Name") + " " + ordml.column("Size") + " " + ordml.column("BaseSize"),
            "BASICBLOCK2016 38 38");

  ReportRun mkhdr = run_report("mkhdr", true, "mkhdr.csv");
  ASSERT_EQ(mkhdr.run.status, 0) << mkhdr.run.err;
  for (auto [column, value] : std::vector<std::pair<const char*, const char*>>{
           {"Name", "NEST"}, {"Order_name", "BASICBLOCK2016"}, {"Placed", "4"}, {"Width", "112.71"},
           {"Length", "146.35"}, {"Util", "68.36"}, {"P_area", "11276.70"}, {"P_per", "1142.91"},
           {"T_notch", "13"}, {"tot_siz", "1"}})
    EXPECT_EQ(mkhdr.column(column), value) << column;

  ReportRun mkpc = run_report("mkpc", true, "mkpc.csv");
  ASSERT_EQ(mkpc.run.status, 0) << mkpc.run.err;
  EXPECT_EQ(mkpc.column("Piece"), "BackPanel2|FrontPanel1|FrontPanel2|BackPanel1");
  EXPECT_EQ(mkpc.column("Area"), "2848.79|2813.91|2789.25|2824.76");
  EXPECT_EQ(mkpc.column("Size"), "38|38|38|38");

  // Notches by layer: 4 (plain), 80 (T) and 83 (U).
  ReportRun mkmc = run_report("mkmc", false, "mkmc.csv");
  ASSERT_EQ(mkmc.run.status, 0) << mkmc.run.err;
  EXPECT_EQ(mkmc.column("Notch_Label") + " " + mkmc.column("Notch_Qty"), "4|80|83 6|3|4");
}

TEST_F(PatternImportTest, AFarPieceWithoutSizeIsMeasuredAndWarnedOf) {
  // 4000 x 200 mm, away from the origin, where the shoelace sum's closing
  // edge counts; no Size text and no Sample Size.
  write_file("far.dxf", dxf_ascii(pattern_doc("P", {{1, "Piece Name: P"}},
                                              lwpolyline("1", {{100, 50}, {4100, 50}, {4100, 250}, {100, 250}}),
                                              {{1, "Style Name: TOP"}, {1, "Units: METRIC"}})));
  RunResult r = run_quire({"area", "import", "far.dxf", "--area", "FAR", "--marker", "NEST"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("style \"TOP\" has no size"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("are the units right?"), std::string::npos) << r.err;
  json piece = exported("FAR")["markers"][0]["pieces"][0];
  EXPECT_NEAR(piece["area"].get<double>(), 8000.0, 1e-6);      // cm²
  EXPECT_NEAR(piece["perimeter"].get<double>(), 840.0, 1e-9);  // cm
  // Read as inches, the piece is 101.6 m long, and so is the marker.
  r = run_quire({"area", "import", "far.dxf", "--area", "FAR", "--marker", "NEST", "--units", "in"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("piece \"P\" measures 101.6 m, more than 10 m: are the units right?"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("the marker is 101.6 m long, more than 100 m"), std::string::npos) << r.err;
}

TEST_F(PatternImportTest, StampsComeFromTheFilesSoAReimportChangesNothing) {
  Groups square = lwpolyline("1", {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  auto style = [&](const std::string& name, const char* updated) {
    Groups header = {{9, "$TDCREATE"}, {40, "2458000.25"}};
    if (updated) header.insert(header.end(), {{9, "$TDUPDATE"}, {40, updated}});
    write_file(name + ".dxf", dxf_ascii(pattern_doc(name + "_M", {{1, "Piece Name: " + name}, {1, "Size: M"}},
                                                    square, {{1, "Style Name: " + name}, {1, "Units: METRIC"}}, {},
                                                    header)));
  };
  style("A", "2458100.5");  // 2017-12-13 00:00 UTC
  style("B", nullptr);      // no $TDUPDATE: the file's own time
  auto import = [] {
    RunResult r = run_quire({"area", "import", "A.dxf", "B.dxf", "--area", "S", "--marker", "NEST"});
    ASSERT_EQ(r.status, 0) << r.err;
  };
  import();
  json area = exported("S");
  EXPECT_EQ(area["models"][0]["modified"], 1513123200);
  EXPECT_EQ(area["models"][0]["created"], 1504461600);  // $TDCREATE, 2017-09-03 18:00 UTC
  write_file("delta.lst", "");
  for (const char* kind : {"model", "ordml", "mkpc"}) ASSERT_EQ(run_quire({kind, "S", std::string(kind) + ".csv"}).status, 0);
  write_file("delta.lst", "");
  // The same files again: nothing to read, nothing logged.
  import();
  for (const char* kind : {"model", "ordml", "mkpc"}) {
    RunResult r = run_quire({kind, "--no-progress", "S", std::string(kind) + ".csv"});
    EXPECT_NE(r.err.find(": 0 read,"), std::string::npos) << kind << ": " << r.err;
  }
  EXPECT_EQ(csv_lines(read_file("delta.lst")).size(), 3u) << read_file("delta.lst");  // three preamble lines
  // A saved again (in 2028, after B's file was written): its model and the
  // marker, as new as its newest file, change; B does not.
  style("A", "2462000.5");
  import();
  write_file("delta.lst", "");
  ASSERT_EQ(run_quire({"model", "S", "model.csv"}).status, 0);
  ASSERT_EQ(run_quire({"mkpc", "S", "mkpc.csv"}).status, 0);
  std::vector<std::string> log = csv_lines(read_file("delta.lst"));
  ASSERT_EQ(log.size(), 4u) << read_file("delta.lst");
  EXPECT_EQ(log[1], "CHANGED: \"A\"");
  EXPECT_EQ(log[3], "CHANGED: \"NEST\"");
}

TEST_F(PatternImportTest, ErrorsNameTheFileBlockItemAndKeyAndChangeNothing) {
  Groups square = lwpolyline("1", {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  auto style = [&](const std::string& file, const std::string& block, const std::string& piece,
                   const std::string& style_name) {
    write_file(file, dxf_ascii(pattern_doc(block, {{1, "Piece Name: " + piece}, {1, "Size: M"}}, square,
                                           {{1, "Style Name: " + style_name}, {1, "Units: METRIC"}}),
                               "\r\n"));
  };
  style("a.dxf", "A_M", "Front", "SHIRT");
  style("b.dxf", "B_M", "FRONT", "JACKET");
  style("c.dxf", "C_M", "Collar-with-a-long-name", "COAT");
  style("d.dxf", "D_M", "Euro\\U+20AC", "VEST");
  {
    // Two blocks of one file whose piece names differ only in case.
    Groups doc = pattern_doc("E_M", {{1, "Piece Name: A"}, {1, "Size: M"}}, square,
                             {{1, "Style Name: SKIRT"}, {1, "Units: METRIC"}}, {{0, "INSERT"}, {8, "1"}, {2, "e_M"}});
    Groups second = {{0, "BLOCK"}, {8, "1"}, {2, "e_M"}, {70, "0"}, {10, "0.0"}, {20, "0.0"},
                     {0, "TEXT"}, {8, "1"}, {10, "0"}, {20, "0"}, {1, "Piece Name: a"}};
    second.insert(second.end(), square.begin(), square.end());
    second.push_back({0, "ENDBLK"});
    auto end_of_first = std::find(doc.begin(), doc.end(), std::pair<int, std::string>{0, "ENDBLK"});
    doc.insert(end_of_first + 1, second.begin(), second.end());
    write_file("e.dxf", dxf_ascii(doc, "\r\n"));
  }
  ASSERT_EQ(run_quire({"area", "import", "a.dxf", "--area", "SHOP"}).status, 0);
  struct Case {
    std::vector<std::string> files;
    std::string error;
  } cases[] = {
      {{"a.dxf", "b.dxf"},
       "b.dxf: block \"B_M\": pieces[1] \"FRONT\": name: duplicates pieces[0] \"Front\" (names are compared "
       "without regard to case)"},
      {{"a.dxf", "c.dxf"}, "c.dxf: block \"C_M\": pieces[1] \"Collar-with-a-long-name\": name: 23 characters, at most 20"},
      {{"a.dxf", "d.dxf"}, "d.dxf: block \"D_M\": pieces[1] \"Euro\\U+20AC\": name: character U+20AC is not in Latin-1"},
      {{"a.dxf", "e.dxf"},
       "e.dxf: block \"e_M\": pieces[2] \"a\": name: duplicates pieces[1] \"A\" (names are compared "
       "without regard to case)"},
      {{"a.dxf", "a.dxf"},
       "a.dxf: models[1] \"SHIRT\": name: duplicates models[0] \"SHIRT\" (names are compared without regard to "
       "case)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"area", "import"};
    args.insert(args.end(), c.files.begin(), c.files.end());
    args.insert(args.end(), {"--area", "SHOP"});
    RunResult r = run_quire(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quire area import: " + c.error + "\n");
  }
  // The area is the one of the first import still.
  RunResult list = run_quire({"area", "list"});
  EXPECT_EQ(list.out, "SHOP: 0 markers, 1 model, 1 piece, 1 order\n");
  // Two styles into one area.
  RunResult both = run_quire({"area", "import", "a.dxf", "c.dxf", "--area", "SHOP", "--units", "cm"});
  EXPECT_EQ(both.status, 1);
  style("c.dxf", "C_M", "Collar", "COAT");
  both = run_quire({"area", "import", "a.dxf", "c.dxf", "--area", "SHOP", "--units", "cm"});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out, "imported SHOP: 0 markers, 2 models, 2 pieces, 2 orders\n");
}

// Names of a pattern file (style, piece) and of the --marker option that
// hold a control character, also written as a \U+XXXX escape, are refused
// at the block or text that gives them: they would split the lines that
// name them.
TEST_F(PatternImportTest, NamesWithControlCharactersAreRefused) {
  Groups square = lwpolyline("1", {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  auto style = [&](const std::string& file, const std::string& block, const std::string& piece,
                   const std::string& style_name) {
    write_file(file, dxf_ascii(pattern_doc(block, {{1, "Piece Name: " + piece}, {1, "Size: M"}}, square,
                                           {{1, "Style Name: " + style_name}, {1, "Units: METRIC"}}),
                               "\r\n"));
  };
  style("a.dxf", "A_M", "Front", "SHIRT");
  style("p.dxf", "P_M", "Back\\U+000DDELETED", "JACKET");
  style("s.dxf", "S_M", "Back", "JA\x01" "CKET");
  ASSERT_EQ(run_quire({"area", "import", "a.dxf", "--area", "SHOP"}).status, 0);
  const std::string why = ": contains the control character U+00";
  RunResult r = run_quire({"area", "import", "a.dxf", "p.dxf", "--area", "SHOP"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("quire area import: p.dxf: block \"P_M\" (line ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("): pieces[1] \"Back\\rDELETED\": name" + why + "0D (names cannot hold control characters)\n"),
            std::string::npos)
      << r.err;
  r = run_quire({"area", "import", "a.dxf", "s.dxf", "--area", "SHOP"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire area import: s.dxf: style text Style Name: models[1] \"JA\\x01CKET\": name" + why +
                       "01 (names cannot hold control characters)\n");
  r = run_quire({"area", "import", "a.dxf", "--area", "SHOP", "--marker", "M\x7F"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire area import: --marker: \"M\\x7f\"" + why + "7F (names cannot hold control characters)\n");
  // The area is the one of the first import still.
  EXPECT_EQ(run_quire({"area", "list"}).out, "SHOP: 0 markers, 1 model, 1 piece, 1 order\n");
}

}  // namespace
}  // namespace quire::testing
