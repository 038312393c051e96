// Every fault of the area format makes its call fail with pb_error set, and
// items are closed cleanly whatever happened: a second close, a close of an
// item never opened, of garbage, and reader calls on closed items all fail
// without crashing.
#include "plotbase_test_support.h"

namespace plotbase_test {
namespace {

json faults_area() {
  json marker_body = json::parse(R"({
    "pieces": [{"name": "p0"}, {"name": "p1"}, {"name": "p2"}],
    "overrides": [{"piece": "o0"}, {"piece": "o1"}, {"piece": "o2"}],
    "splices": [{"start": 1}, {"start": 2}, {"start": 3}, {"start": 4}],
    "models": [{"name": "m0", "options": ["a", "b"], "sizes": [{"size": "s0"}]},
               {"name": "m1", "sizes": [{"size": "s1"}, {"size": "s2"}]}]
  })");
  json area = {{"name", "Faults"}, {"markers", json::array()}, {"models", json::array()},
               {"orders", json::array()}, {"pieces", json::array()}};
  auto marker = [&](const char* name, json faults) {
    json m = marker_body;
    m["name"] = name;
    m["modified"] = 1;
    if (!faults.is_null()) m["faults"] = faults;
    area["markers"].push_back(m);
  };
  marker("OK", nullptr);
  marker("OPEN", {{"open", true}});
  marker("CLOSE", {{"close", true}});
  marker("HEADER", {{"header", true}});
  marker("HEADER_EX", {{"header_ex", true}});
  marker("ANALYSIS", {{"analysis", true}});
  marker("ORDMOD", {{"ordmod", true}});
  marker("PIECE1", {{"piece_at", 1}});
  marker("PIECE0", {{"piece_at", 0}});
  marker("OVERRIDE2", {{"override_at", 2}});
  marker("SPLICE1", {{"splice_at", 1}});
  marker("LIST3", {{"model_list_at", 3}});
  marker("FALSE", {{"open", false}, {"close", false}});
  area["models"].push_back({{"name", "MODEL"}, {"modified", 1}, {"faults", {{"model", true}}},
                            {"pieces", {{{"name", "P"}}}}});
  area["models"].push_back({{"name", "MOPEN"}, {"modified", 1}, {"faults", {{"open", true}}}});
  area["models"].push_back({{"name", "MCLOSE"}, {"modified", 1}, {"faults", {{"close", true}}}});
  json order_models = json::parse(R"([{"name": "m0", "options": ["a"], "sizes": [{"size": "s0"}, {"size": "s1"}]}])");
  area["orders"].push_back({{"name", "OHEADER"}, {"modified", 1}, {"faults", {{"header", true}}}, {"models", order_models}});
  area["orders"].push_back({{"name", "OLIST1"}, {"modified", 1}, {"faults", {{"model_list_at", 1}}}, {"models", order_models}});
  area["orders"].push_back({{"name", "OOPEN"}, {"modified", 1}, {"faults", {{"open", true}}}});
  area["orders"].push_back({{"name", "OCLOSE"}, {"modified", 1}, {"faults", {{"close", true}}}});
  area["pieces"].push_back({{"name", "POPEN"}, {"faults", {{"open", true}}}});
  area["pieces"].push_back({{"name", "PHEADER"}, {"faults", {{"header", true}}}});
  area["pieces"].push_back({{"name", "PCLOSE"}, {"faults", {{"close", true}}}});
  area["pieces"].push_back({{"name", "PFINE"}});
  return area;
}

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    import_ok(faults_area());
    area = lookup_area("Faults");
  }
  void open(const char* name) { ASSERT_EQ(pb_open_marker(area.ptr(), name, item), 1) << name; }
  void close(const char* name) { EXPECT_EQ(pb_close_marker(area.ptr(), name, item), 1) << name; }
  // The call failed and said so in pb_error.
  static void expect_failure(int result) {
    EXPECT_NE(result, 1);
    EXPECT_NE(pb_error.code, 0);
    EXPECT_GT(pb_error.line, 0);
    EXPECT_NE(std::string(pb_error.source), "");
  }
  static void clear_error() { pb_error = pb_error_record{}; }

  quire::testing::TempStore store;
  Area area;
  unsigned char item[PB_ITEM_AREA_SIZE];
};

TEST_F(FaultsTest, OpenFault) {
  clear_error();
  expect_failure(pb_open_marker(area.ptr(), "OPEN", item));
  // A lookup still finds it.
  char name[PB_NAME_BUFFER_SIZE];
  EXPECT_EQ(pb_lookup_markers(area.ptr(), name, "open", 0), 1);
}

TEST_F(FaultsTest, CloseFaultFailsButTheItemIsClosed) {
  open("CLOSE");
  clear_error();
  expect_failure(pb_close_marker(area.ptr(), "CLOSE", item));
  unsigned char header[468];
  clear_error();
  expect_failure(pb_get_marker_header("CLOSE", header, item));
}

TEST_F(FaultsTest, HeaderFaultFailsBothHeaders) {
  open("HEADER");
  unsigned char header[534];
  clear_error();
  expect_failure(pb_get_marker_header("HEADER", header, item));
  clear_error();
  expect_failure(pb_get_marker_header_ex("HEADER", header, 534, item));
  EXPECT_NE(pb_hdr_analyze(item), nullptr);
  close("HEADER");
}

TEST_F(FaultsTest, HeaderExFaultFailsOnlyTheExtendedHeader) {
  open("HEADER_EX");
  unsigned char header[534];
  clear_error();
  expect_failure(pb_get_marker_header_ex("HEADER_EX", header, 534, item));
  EXPECT_EQ(pb_get_marker_header("HEADER_EX", header, item), 1);
  close("HEADER_EX");
}

TEST_F(FaultsTest, AnalysisFault) {
  open("ANALYSIS");
  clear_error();
  EXPECT_EQ(pb_hdr_analyze(item), nullptr);
  EXPECT_NE(pb_error.code, 0);
  unsigned char header[534];
  EXPECT_EQ(pb_get_marker_header_ex("ANALYSIS", header, 534, item), 1);
  close("ANALYSIS");
}

TEST_F(FaultsTest, OrdmodFault) {
  open("ORDMOD");
  clear_error();
  expect_failure(pb_locate_ordmod_marker(item));
  unsigned char om[118];
  expect_failure(pb_get_order_model(om, item));  // not located
  close("ORDMOD");
}

TEST_F(FaultsTest, PieceAtFault) {
  open("PIECE1");
  unsigned char p[68];
  EXPECT_EQ(pb_first_marker_piece(item, p), 1);
  clear_error();
  expect_failure(pb_next_marker_piece(item, p));
  close("PIECE1");
  open("PIECE0");
  clear_error();
  expect_failure(pb_first_marker_piece(item, p));
  close("PIECE0");
}

TEST_F(FaultsTest, OverrideAtFault) {
  open("OVERRIDE2");
  unsigned char header[468], o[68];
  ASSERT_EQ(pb_get_marker_header("OVERRIDE2", header, item), 1);
  EXPECT_EQ(pb_get_piece_override(item, 0, header, o), 1);
  EXPECT_EQ(pb_get_piece_override(item, 1, header, o), 1);
  clear_error();
  expect_failure(pb_get_piece_override(item, 2, header, o));
  close("OVERRIDE2");
}

TEST_F(FaultsTest, SpliceAtFault) {
  open("SPLICE1");
  unsigned char s[16];
  EXPECT_EQ(pb_get_splice_info(s, 0, item), 1);
  clear_error();
  expect_failure(pb_get_splice_info(s, 1, item));
  EXPECT_EQ(pb_get_splice_info(s, 2, item), 1);
  close("SPLICE1");
}

TEST_F(FaultsTest, ModelListAtCountsModelOptionAndSizeReadsTogether) {
  open("LIST3");
  ASSERT_EQ(pb_locate_ordmod_marker(item), 1);
  unsigned char om[118], oe[12], se[72];
  EXPECT_EQ(pb_get_order_model(om, item), 1);        // read 0
  EXPECT_EQ(pb_get_option_list_entry(oe, item), 1);  // read 1
  EXPECT_EQ(pb_get_option_list_entry(oe, item), 1);  // read 2
  clear_error();
  expect_failure(pb_get_order_model_entry(se, item));  // read 3
  close("LIST3");
}

TEST_F(FaultsTest, UnfaultedMarkerReadsEverything) {
  open("OK");
  unsigned char header[534], p[68], o[68], s[16], om[118], oe[12], se[72];
  EXPECT_EQ(pb_get_marker_header("OK", header, item), 1);
  EXPECT_EQ(pb_get_marker_header_ex("OK", header, 534, item), 1);
  EXPECT_NE(pb_hdr_analyze(item), nullptr);
  EXPECT_EQ(pb_first_marker_piece(item, p), 1);
  EXPECT_EQ(pb_next_marker_piece(item, p), 1);
  EXPECT_EQ(pb_next_marker_piece(item, p), 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pb_get_piece_override(item, i, header, o), 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pb_get_splice_info(s, i, item), 1);
  ASSERT_EQ(pb_locate_ordmod_marker(item), 1);
  EXPECT_EQ(pb_get_order_model(om, item), 1);
  EXPECT_EQ(pb_get_option_list_entry(oe, item), 1);
  EXPECT_EQ(pb_get_option_list_entry(oe, item), 1);
  EXPECT_EQ(pb_get_order_model_entry(se, item), 1);
  EXPECT_EQ(pb_get_order_model(om, item), 1);
  EXPECT_EQ(pb_get_order_model_entry(se, item), 1);
  EXPECT_EQ(pb_get_order_model_entry(se, item), 1);
  EXPECT_NE(pb_get_order_model(om, item), 1);
  close("OK");
  open("FALSE");
  close("FALSE");
}

TEST_F(FaultsTest, ModelFaults) {
  clear_error();
  expect_failure(pb_open_model(area.ptr(), "MOPEN", item));
  ASSERT_EQ(pb_open_model(area.ptr(), "MODEL", item), 1);
  pb_model* m = reinterpret_cast<pb_model*>(0x1);
  clear_error();
  expect_failure(pb_get_model_ex("MODEL", &m, item));
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(pb_close_model(area.ptr(), "MODEL", item), 1);
  ASSERT_EQ(pb_open_model(area.ptr(), "MCLOSE", item), 1);
  clear_error();
  expect_failure(pb_close_model(area.ptr(), "MCLOSE", item));
}

TEST_F(FaultsTest, OrderFaults) {
  clear_error();
  expect_failure(pb_open_order(area.ptr(), "OOPEN", item));
  ASSERT_EQ(pb_open_order(area.ptr(), "OHEADER", item), 1);
  unsigned char h[372], om[118], oe[12], se[72];
  clear_error();
  expect_failure(pb_get_order_header("OHEADER", h, item));
  EXPECT_EQ(pb_close_order(area.ptr(), "OHEADER", item), 1);

  ASSERT_EQ(pb_open_order(area.ptr(), "OLIST1", item), 1);
  ASSERT_EQ(pb_get_order_header("OLIST1", h, item), 1);
  EXPECT_EQ(pb_get_order_model(om, item), 1);  // read 0
  clear_error();
  expect_failure(pb_get_option_list_entry(oe, item));  // read 1
  EXPECT_EQ(pb_close_order(area.ptr(), "OLIST1", item), 1);
  (void)se;

  ASSERT_EQ(pb_open_order(area.ptr(), "OCLOSE", item), 1);
  clear_error();
  expect_failure(pb_close_order(area.ptr(), "OCLOSE", item));
}

TEST_F(FaultsTest, PieceFaults) {
  unsigned char pa[PB_ITEM_AREA_SIZE], h[156];
  clear_error();
  expect_failure(pb_open_piece(area.ptr(), "POPEN", pa));
  ASSERT_EQ(pb_open_piece(area.ptr(), "PHEADER", pa), 1);
  clear_error();
  expect_failure(pb_get_piece_header("PHEADER", h, pa));
  EXPECT_EQ(pb_close_piece(area.ptr(), "PHEADER", pa), 1);
  ASSERT_EQ(pb_open_piece(area.ptr(), "PCLOSE", pa), 1);
  EXPECT_EQ(pb_get_piece_header("PCLOSE", h, pa), 1);
  clear_error();
  expect_failure(pb_close_piece(area.ptr(), "PCLOSE", pa));
  ASSERT_EQ(pb_open_piece(area.ptr(), "pfine", pa), 1);
  EXPECT_EQ(pb_get_piece_header("PFINE", h, pa), 1);
  EXPECT_EQ(pb_close_piece(area.ptr(), "PFINE", pa), 1);
}

TEST_F(FaultsTest, SecondCloseFailsCleanly) {
  open("OK");
  close("OK");
  clear_error();
  expect_failure(pb_close_marker(area.ptr(), "OK", item));
  clear_error();
  expect_failure(pb_close_marker(area.ptr(), "OK", item));
}

TEST_F(FaultsTest, ClosingWhatWasNeverOpenedFailsCleanly) {
  unsigned char zeros[PB_ITEM_AREA_SIZE] = {};
  clear_error();
  expect_failure(pb_close_marker(area.ptr(), "OK", zeros));
  unsigned char garbage[PB_ITEM_AREA_SIZE];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  clear_error();
  expect_failure(pb_close_marker(area.ptr(), "OK", garbage));
  expect_failure(pb_close_model(area.ptr(), "OK", garbage));
  expect_failure(pb_close_order(area.ptr(), "OK", garbage));
  expect_failure(pb_close_piece(area.ptr(), "OK", garbage));
  expect_failure(pb_close_marker(area.ptr(), "OK", nullptr));
  // A forged reference to a slot that exists but is not open.
  open("OK");
  unsigned char copy[PB_ITEM_AREA_SIZE];
  std::memcpy(copy, item, sizeof copy);
  close("OK");
  clear_error();
  expect_failure(pb_close_marker(area.ptr(), "OK", copy));
}

TEST_F(FaultsTest, ReadersOnAClosedItemFail) {
  open("OK");
  unsigned char copy[PB_ITEM_AREA_SIZE];
  std::memcpy(copy, item, sizeof copy);
  close("OK");
  unsigned char header[534], p[68], s[16], om[118];
  for (unsigned char* ia : {item, copy}) {
    expect_failure(pb_get_marker_header("OK", header, ia));
    expect_failure(pb_get_marker_header_ex("OK", header, 534, ia));
    EXPECT_EQ(pb_hdr_analyze(ia), nullptr);
    expect_failure(pb_first_marker_piece(ia, p));
    expect_failure(pb_next_marker_piece(ia, p));
    expect_failure(pb_get_piece_override(ia, 0, header, p));
    expect_failure(pb_get_splice_info(s, 0, ia));
    expect_failure(pb_locate_ordmod_marker(ia));
    expect_failure(pb_get_order_model(om, ia));
  }
  // A slot taken by a later item does not answer for the old reference.
  ASSERT_EQ(pb_open_marker(area.ptr(), "HEADER_EX", item), 1);
  expect_failure(pb_get_marker_header("OK", header, copy));
  close("HEADER_EX");
}

TEST_F(FaultsTest, ReadersOfTheWrongKindFail) {
  ASSERT_EQ(pb_open_order(area.ptr(), "OLIST1", item), 1);
  unsigned char header[534];
  clear_error();
  expect_failure(pb_get_marker_header("OLIST1", header, item));
  expect_failure(pb_close_marker(area.ptr(), "OLIST1", item));
  pb_model* m = nullptr;
  expect_failure(pb_get_model_ex("OLIST1", &m, item));
  EXPECT_EQ(pb_close_order(area.ptr(), "OLIST1", item), 1);
}

TEST_F(FaultsTest, FreeingAModelTwiceOrAForeignPointerFailsCleanly) {
  ASSERT_EQ(pb_open_model(area.ptr(), "MCLOSE", item), 1);
  pb_model* m = nullptr;
  ASSERT_EQ(pb_get_model_ex("MCLOSE", &m, item), 1);
  pb_model* copy = m;
  EXPECT_EQ(pb_free_model_ex(&m), 1);
  clear_error();
  expect_failure(pb_free_model_ex(&copy));
  pb_model local{};
  pb_model* foreign = &local;
  expect_failure(pb_free_model_ex(&foreign));
  expect_failure(pb_free_model_ex(nullptr));
  pb_close_model(area.ptr(), "MCLOSE", item);
}

TEST_F(FaultsTest, ReopeningIntoAnOpenItemAreaClosesTheOldItem) {
  open("OK");
  unsigned char copy[PB_ITEM_AREA_SIZE];
  std::memcpy(copy, item, sizeof copy);
  open("HEADER_EX");
  unsigned char header[468];
  expect_failure(pb_get_marker_header("OK", header, copy));
  close("HEADER_EX");
}

TEST_F(FaultsTest, ErrorRecordFormatsAsTheReportPrintsIt) {
  unsigned char zeros[PB_ITEM_AREA_SIZE] = {};
  expect_failure(pb_close_marker(area.ptr(), "OK", zeros));
  PrintCapture capture;
  pb_printf("Error %d, %s(%d)", pb_error.code, pb_error.source, pb_error.line);
  EXPECT_EQ(capture.text().rfind("Error ", 0), 0u);
  EXPECT_NE(capture.text().find("plotbase/"), std::string::npos);
}

TEST(Printf, ReturnsTheLengthAndGoesToTheHandler) {
  PrintCapture capture;
  const std::string piece = "Piece P1 does not exist in Storage Area DEMO.";
  EXPECT_EQ(pb_printf("Piece %s does not exist in Storage Area %s.", "P1", "DEMO"), static_cast<int>(piece.size()));
  std::string big(2000, 'x');
  EXPECT_EQ(pb_printf("%s!", big.c_str()), 2001);
  EXPECT_EQ(capture.text(), "Piece P1 does not exist in Storage Area DEMO." + big + "!");
}

}  // namespace
}  // namespace plotbase_test
