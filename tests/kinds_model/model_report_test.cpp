// The model pieces report: base pieces, then option-group pieces, with the
// texts of each piece's stored header.
#include <gtest/gtest.h>

#include <filesystem>

#include "kinds_model/model_test_util.h"

namespace quire::testing {
namespace {

json model_piece(const std::string& name, int type = 1) {
  return json{{"name", name}, {"fabric", "F-" + name}, {"type", type}, {"as_in", 2},
              {"mirror_x", -3}, {"mirror_y", 4}, {"mirror_xy", -128}, {"half", 127},
              {"dy_sp", 0}, {"add_piece", -1}};
}

json stored_piece(const std::string& name) {
  return json{{"name", name}, {"category", "cat-" + name}, {"description", "desc-" + name}};
}

// M1: base pieces B1, B2; groups G1 (P1, P2) and G2 (P3). P2 has no stored
// header. M2: no pieces at all. M3: one base piece.
json models_area() {
  json m1 = item("M1", 1000, 500);
  m1["comment1"] = "first comment";
  m1["comment2"] = "second comment";
  m1["pieces"] = json::array({model_piece("B1", -1), model_piece("B2")});
  m1["option_groups"] = json::array(
      {json{{"option", "G1"}, {"pieces", json::array({model_piece("P1"), model_piece("P2")})}},
       json{{"option", "G2"}, {"pieces", json::array({model_piece("P3")})}}});
  json m2 = item("M2", 2000);
  json m3 = item("M3", 3000);
  m3["pieces"] = json::array({model_piece("B1")});
  json pieces = json::array();
  for (const char* p : {"B1", "B2", "P1", "P3"}) pieces.push_back(stored_piece(p));
  return json{{"name", "AREA"}, {"models", json::array({m1, m2, m3})}, {"pieces", pieces}};
}

const char kMissingP2[] =
    "Piece P2 does not exist in Storage Area AREA. It will be ommitted from the report.";

TEST_F(ModelReportsTest, ModelDetailedRowsListBasePiecesBeforeGroups) {
  import_or_fail(models_area());
  ReportRun r = run_report("model", true, store_.path("model.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines.at(0).at(2), "MODEL");
  EXPECT_EQ(r.columns(),
            (std::vector<std::string>{"Model_Name", "Option", "Piece_Id", "Piece_Description",
                                      "Piece_Category", "Type", "AsIn", "M_X", "M_Y", "M_XY",
                                      "Half", "DySp", "AddP", "Comment1", "Comment2", "Fabric",
                                      "Time", "User_Last_Mod", "Created_Time", "User_Created",
                                      "Prev_Mod_Time", "User_Prev_Mod"}));
  ASSERT_EQ(r.row_count(), 6u);
  EXPECT_EQ(r.column("Model_Name"), (std::vector<std::string>{"M1", "M1", "M1", "M1", "M1", "M3"}));
  EXPECT_EQ(r.column("Option"), (std::vector<std::string>{"", "", "G1", "G1", "G2", ""}));
  EXPECT_EQ(r.column("Piece_Id"), (std::vector<std::string>{"B1", "B2", "P1", "P2", "P3", "B1"}));
  // The missing piece keeps its row with empty header texts, and the header
  // texts of the piece before it do not leak into it.
  EXPECT_EQ(r.column("Piece_Description"),
            (std::vector<std::string>{"desc-B1", "desc-B2", "desc-P1", "", "desc-P3", "desc-B1"}));
  EXPECT_EQ(r.column("Piece_Category"),
            (std::vector<std::string>{"cat-B1", "cat-B2", "cat-P1", "", "cat-P3", "cat-B1"}));
  // Signed attributes stay signed.
  EXPECT_EQ(r.row(0).at(5), "-1");
  EXPECT_EQ(std::vector<std::string>(r.row(0).begin() + 6, r.row(0).begin() + 13),
            (std::vector<std::string>{"2", "-3", "4", "-128", "127", "0", "-1"}));
  EXPECT_EQ(r.value(0, "Comment1"), "first comment");
  EXPECT_EQ(r.value(4, "Comment2"), "second comment");
  EXPECT_EQ(r.value(3, "Fabric"), "F-P2");
  EXPECT_EQ(r.value(0, "Created_Time"), "Thu Jan 01 00:08:20 1970");
  EXPECT_EQ(r.value(4, "Created_Time"), "Thu Jan 01 00:08:20 1970");
  EXPECT_NE(r.run.err.find(kMissingP2), std::string::npos) << r.run.err;
}

TEST_F(ModelReportsTest, ModelShortRowsStillReportMissingPieces) {
  import_or_fail(models_area());
  ReportRun r = run_report("model", false, store_.path("model.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.columns(),
            (std::vector<std::string>{"Model_Name", "Piece_Id", "Time", "User_Last_Mod",
                                      "Created_Time", "User_Created", "Prev_Mod_Time",
                                      "User_Prev_Mod"}));
  ASSERT_EQ(r.row_count(), 6u);
  EXPECT_EQ(r.row(3), (std::vector<std::string>{"M1", "P2", "3e8", "ann", "1f4", "bob", "0", "cy"}));
  EXPECT_NE(r.run.err.find(kMissingP2), std::string::npos) << r.run.err;
}

// The host program in a directory whose name holds "qseek" in any case
// reports no missing pieces; the rows are the same.
TEST_F(ModelReportsTest, ModelStaysSilentInsideTheSearchProgram) {
  namespace fs = std::filesystem;
  import_or_fail(models_area());
  fs::path dir = store_.root() / "QSeek-bin";
  fs::create_directories(dir);
  for (const char* file : {"quire", "libquire.so", "libplotbase.so"})
    fs::copy_file(fs::path(bin_dir()) / file, dir / file);
  ReportRun r = run_report("model", true, store_.path("model.csv"), (dir / "quire").string());
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.run.err.find("does not exist"), std::string::npos) << r.run.err;
  ASSERT_EQ(r.row_count(), 6u);
  EXPECT_EQ(r.value(3, "Piece_Id"), "P2");
}

TEST_F(ModelReportsTest, ModelUnreadablePieceHeaderGivesEmptyTextsWithoutMessage) {
  json area = models_area();
  area["pieces"][0]["faults"] = json{{"header", true}};  // B1
  import_or_fail(area);
  ReportRun r = run_report("model", true, store_.path("model.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_EQ(r.row_count(), 6u);
  EXPECT_EQ(r.value(0, "Piece_Description"), "");
  EXPECT_EQ(r.value(0, "Piece_Category"), "");
  EXPECT_EQ(r.value(1, "Piece_Description"), "desc-B2");
  EXPECT_EQ(r.run.err.find("Piece B1"), std::string::npos) << r.run.err;
}

TEST_F(ModelReportsTest, ModelUnreadableModelSkipsOnlyThatModel) {
  json area = models_area();
  area["models"][0]["faults"] = json{{"model", true}};
  import_or_fail(area);
  ReportRun r = run_report("model", false, store_.path("model.csv"));
  EXPECT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_NE(r.run.err.find("Error "), std::string::npos) << r.run.err;
  ASSERT_EQ(r.row_count(), 1u);
  EXPECT_EQ(r.value(0, "Model_Name"), "M3");
}

}  // namespace
}  // namespace quire::testing
