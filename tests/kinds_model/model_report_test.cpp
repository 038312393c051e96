// MODEL: base pieces, then option-group pieces, with the texts of each
// piece's stored header and the missing-piece message.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "report/run_figures.h"
#include "support/kind_reports.h"

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

// On the in-memory reader: the lists are walked by the counts in the
// records, cut where the model's lists end; a piece without a stored header
// gets the missing-piece message and a row; a read the area file fails ends
// the model's rows with the store's error line, and any failed model read
// is reported.
TEST(ModelReadFailures, CountsCutTheListsAndFileFailuresEndTheRows) {
  TempStore store;
  namespace mr = records::model_record;
  namespace mp = records::model_piece;
  namespace og = records::option_group;
  auto model_piece = [](const std::string& name) {
    ModelValue::Piece p{};
    std::memcpy(p.record + mp::kName, name.c_str(), name.size() + 1);
    return p;
  };
  auto model_item = [&](const std::string& name, int32_t base_count, std::vector<std::string> base,
                        int32_t group_count) {
    FakeItem m;
    m.name = name;
    m.model.present = true;
    std::memcpy(m.model.record + mr::kName, name.c_str(), name.size() + 1);
    records::store_i32(m.model.record + mr::kBasePieceCount, base_count);
    records::store_i32(m.model.record + mr::kGroupCount, group_count);
    for (const std::string& p : base) m.model.pieces.push_back(model_piece(p));
    m.model.base_pieces = m.model.pieces.size();
    return m;
  };
  auto add_group = [&](FakeItem& m, const std::string& option, int32_t count, std::vector<std::string> pieces) {
    ModelValue::Group g{};
    std::memcpy(g.record + og::kOption, option.c_str(), option.size() + 1);
    records::store_i32(g.record + og::kPieceCount, count);
    g.first_piece = m.model.pieces.size();
    g.piece_count = pieces.size();
    for (const std::string& p : pieces) m.model.pieces.push_back(model_piece(p));
    m.model.groups.push_back(g);
  };
  auto stored = [](const std::string& piece) { return record_with_text(records::piece_header::kSize, 0, piece); };

  // M1 counts 3 base pieces but has 2, and 2 groups of its 3: G1 counts 3
  // pieces but has 1, G2's count of 1 cuts its 2. B2 has no stored header.
  FakeItem m1 = model_item("M1", 3, {"B1", "B2"}, 2);
  add_group(m1, "G1", 3, {"P1"});
  add_group(m1, "G2", 1, {"P3", "P4"});
  add_group(m1, "G3", 1, {"P5"});
  m1.piece_headers = {{"B1", stored("B1")}, {"P1", stored("P1")}, {"P3", stored("P3")}};
  // M2's second piece cannot be opened: the file failed.
  FakeItem m2 = model_item("M2", 2, {"B1", "B2"}, 0);
  m2.piece_headers = {{"B1", stored("B1")}, {"B2", stored("B2")}};
  m2.failures[{"piece_open", 1}] = fake_failure(-106, true, "f.cpp", 3);
  // M3's model cannot be read; M4 has none.
  FakeItem m3 = model_item("M3", 0, {}, 0);
  m3.failures[{"model", 0}] = fake_failure(5, false, "f.cpp", 4);
  FakeItem m4;
  m4.name = "M4";

  FakeStoreReader reader;
  reader.items = {m1, m2, m3, m4};
  ReportRun r = run_kind(kinds::run_model, reader, store.path("model.csv"));
  EXPECT_EQ(r.run.status, 1);
  EXPECT_EQ(r.column("Model_Name") + " " + r.column("Piece_Id"), "M1|M1|M1|M1|M2 B1|B2|P1|P3|B1");
  EXPECT_EQ(r.run.err,
            "Piece B2 does not exist in Storage Area AREA. It will be ommitted from the report.\n"
            "Error -106, f.cpp(3)Error 5, f.cpp(4)");
  QuireRunFigures figures{};
  get_run_figures(&figures);
  EXPECT_EQ(figures.items_failed, 2);
}

}  // namespace
}  // namespace quire::testing
