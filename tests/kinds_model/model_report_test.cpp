// MODEL: base pieces, then option-group pieces, with the texts of each
// piece's stored header and the missing-piece message.
#include <gtest/gtest.h>

#include <filesystem>

#include "kinds_model/model_test_util.h"

namespace quire::testing {
namespace {

json piece(const std::string& name, int type = 1) {
  return json{{"name", name}, {"fabric", "F" + name}, {"type", type}, {"as_in", 2},
              {"mirror_x", -3}, {"mirror_y", 4}, {"mirror_xy", -128}, {"half", 127}, {"add_piece", -1}};
}

// M1: base pieces B1, B2; groups G1 (P1, P2) and G2 (P3); P2 has no stored
// header and B2's cannot be read. M2 has no pieces; M3 one base piece.
json models_area() {
  json m1 = item("M1", 1000, 500);
  m1["comment1"] = "first";
  m1["pieces"] = json::array({piece("B1", -1), piece("B2")});
  m1["option_groups"] = {{{"option", "G1"}, {"pieces", {piece("P1"), piece("P2")}}},
                         {{"option", "G2"}, {"pieces", json::array({piece("P3")})}}};
  json m3 = item("M3");
  m3["pieces"] = json::array({piece("B1")});
  json stored = json::array();
  for (const char* p : {"B1", "B2", "P1", "P3"})
    stored.push_back({{"name", p}, {"category", std::string("c") + p}, {"description", std::string("d") + p}});
  stored[1]["faults"] = {{"header", true}};
  return json{{"name", "AREA"}, {"models", {m1, item("M2"), m3}}, {"pieces", stored}};
}

const char kMissingP2[] =
    "quire model: model M1: Piece P2 does not exist in Storage Area AREA. It will be ommitted from the report.\n";

TEST_F(ModelReportsTest, ModelRowsListBasePiecesBeforeGroups) {
  import_or_fail(models_area());
  ReportRun r = run_report("model", true, store_.path("d.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.line(1),
            "Model_Name,Option,Piece_Id,Piece_Description,Piece_Category,Type,AsIn,M_X,M_Y,M_XY,"
            "Half,DySp,AddP,Comment1,Comment2,Fabric,Time,User_Last_Mod,Created_Time,"
            "User_Created,Prev_Mod_Time,User_Prev_Mod");
  EXPECT_EQ(r.column("Piece_Id"), "B1|B2|P1|P2|P3|B1");
  EXPECT_EQ(r.column("Option"), "||G1|G1|G2|");
  // A missing or unreadable header leaves the texts empty, and the texts of
  // the piece before do not carry over. Only the missing piece is reported.
  EXPECT_EQ(r.column("Piece_Description"), "dB1||dP1||dP3|dB1");
  EXPECT_EQ(r.column("Piece_Category"), "cB1||cP1||cP3|cB1");
  EXPECT_EQ(r.run.err, kMissingP2);
  EXPECT_EQ(r.line(2), "M1,,B1,dB1,cB1,-1,2,-3,4,-128,127,0,-1,first,,FB1,Thu Jan 01 00:16:40 1970,"
                       "ann,Thu Jan 01 00:08:20 1970,bob,Thu Jan 01 00:00:00 1970,cy");

  ReportRun s = run_report("model", false, store_.path("s.csv"));
  EXPECT_EQ(s.line(1), "Model_Name,Piece_Id,Time,User_Last_Mod,Created_Time,User_Created,"
                       "Prev_Mod_Time,User_Prev_Mod");
  EXPECT_EQ(s.line(5), "M1,P2,3e8,ann,1f4,bob,0,cy");
  EXPECT_EQ(s.run.err, kMissingP2);
}

// "qseek" anywhere in the host program's path, in any case, silences the
// message; the rows stay.
TEST_F(ModelReportsTest, ModelIsSilentInsideTheSearchProgram) {
  import_or_fail(models_area());
  ReportRun r = run_report("model", false, store_.path("s.csv"), {}, copied_program("QSeek-bin"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.run.err, "");
  EXPECT_EQ(r.column("Piece_Id"), "B1|B2|P1|P2|P3|B1");
}

TEST_F(ModelReportsTest, ModelMessageComesFromTheResourceLibrary) {
  std::string german = bin_dir() + "/" + library_file("quireres-de");
  if (!std::filesystem::exists(german)) GTEST_SKIP() << "target quire_res_de not built";
  import_or_fail(models_area());
  ReportRun r = run_report("model", false, store_.path("s.csv"), {}, copied_program("de", german));
  EXPECT_EQ(r.run.err,
            "quire model: model M1: Teil P2 existiert nicht im Speicherbereich AREA. Es wird im Bericht ausgelassen.\n");
}

TEST_F(ModelReportsTest, ModelUnreadableModelSkipsOnlyThatModel) {
  json area = models_area();
  area["models"][0]["faults"] = {{"model", true}};
  import_or_fail(area);
  ReportRun r = run_report("model", false, store_.path("s.csv"));
  EXPECT_EQ(r.run.status, 3) << r.run.err;
  EXPECT_EQ(r.run.err.rfind("quire model: model M1: Error ", 0), 0u) << r.run.err;
  EXPECT_EQ(r.column("Model_Name"), "M3");
}

}  // namespace
}  // namespace quire::testing
