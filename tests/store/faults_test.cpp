// Every fault of the area format makes its call fail with pb_error set, and
// items are closed cleanly whatever happened: a second close, a close of an
// item never opened, of garbage, and reader calls on closed items all fail
// without crashing.
#include <vector>

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

// The calls a fault case makes, in order, on the item it opens.
enum class Call {
  kOpen, kClose, kHeader, kHeaderEx, kAnalysis, kFirstPiece, kNextPiece, kOverride, kSplice, kLocate,
  kListModel, kListOption, kListSize, kModel, kOrderHeader, kPieceHeader
};
// What a call gives: success, the fault's failure (-106), or another failure.
enum class Outcome { kOk, kFault, kFail };
struct Step {
  Call call;
  Outcome outcome;
  int index = 0;               // kOverride, kSplice
  const char* piece = nullptr;  // kFirstPiece, kNextPiece: the piece read
};
struct FaultCase {
  const char* what;
  char kind;  // 'm'arker, 'M'odel, 'o'rder, 'p'iece
  const char* item;
  std::vector<Step> steps;
};

// Each fault fails its call, and only its call, with PB_ERR_FAULT; the item
// area stays usable (or closed) as the area format describes.
const FaultCase kFaultCases[] = {
    {"open fails; a lookup still finds the item", 'm', "OPEN", {{Call::kOpen, Outcome::kFault}}},
    {"close fails but closes", 'm', "CLOSE",
     {{Call::kOpen, Outcome::kOk}, {Call::kClose, Outcome::kFault}, {Call::kHeader, Outcome::kFail}}},
    {"header fails both headers", 'm', "HEADER",
     {{Call::kOpen, Outcome::kOk}, {Call::kHeader, Outcome::kFault}, {Call::kHeaderEx, Outcome::kFault},
      {Call::kAnalysis, Outcome::kOk}, {Call::kClose, Outcome::kOk}}},
    {"header_ex fails the extended header only", 'm', "HEADER_EX",
     {{Call::kOpen, Outcome::kOk}, {Call::kHeaderEx, Outcome::kFault}, {Call::kHeader, Outcome::kOk},
      {Call::kClose, Outcome::kOk}}},
    {"analysis", 'm', "ANALYSIS",
     {{Call::kOpen, Outcome::kOk}, {Call::kAnalysis, Outcome::kFault}, {Call::kHeaderEx, Outcome::kOk},
      {Call::kClose, Outcome::kOk}}},
    {"ordmod leaves the model list unlocated", 'm', "ORDMOD",
     {{Call::kOpen, Outcome::kOk}, {Call::kLocate, Outcome::kFault}, {Call::kListModel, Outcome::kFail},
      {Call::kClose, Outcome::kOk}}},
    {"piece_at 1 fails the second read and uses up no piece", 'm', "PIECE1",
     {{Call::kOpen, Outcome::kOk}, {Call::kFirstPiece, Outcome::kOk, 0, "p0"}, {Call::kNextPiece, Outcome::kFault},
      {Call::kNextPiece, Outcome::kOk, 0, "p1"}, {Call::kFirstPiece, Outcome::kOk, 0, "p0"},
      {Call::kNextPiece, Outcome::kFault}, {Call::kClose, Outcome::kOk}}},
    {"piece_at 0 fails every first read", 'm', "PIECE0",
     {{Call::kOpen, Outcome::kOk}, {Call::kFirstPiece, Outcome::kFault}, {Call::kNextPiece, Outcome::kOk, 0, "p0"},
      {Call::kFirstPiece, Outcome::kFault}, {Call::kClose, Outcome::kOk}}},
    {"override_at", 'm', "OVERRIDE2",
     {{Call::kOpen, Outcome::kOk}, {Call::kOverride, Outcome::kOk, 0}, {Call::kOverride, Outcome::kOk, 1},
      {Call::kOverride, Outcome::kFault, 2}, {Call::kOverride, Outcome::kFail, 3}, {Call::kClose, Outcome::kOk}}},
    {"splice_at", 'm', "SPLICE1",
     {{Call::kOpen, Outcome::kOk}, {Call::kSplice, Outcome::kOk, 0}, {Call::kSplice, Outcome::kFault, 1},
      {Call::kSplice, Outcome::kOk, 2}, {Call::kClose, Outcome::kOk}}},
    {"model_list_at counts model, option and size reads together", 'm', "LIST3",
     {{Call::kOpen, Outcome::kOk}, {Call::kLocate, Outcome::kOk}, {Call::kListModel, Outcome::kOk},
      {Call::kListOption, Outcome::kOk}, {Call::kListOption, Outcome::kOk}, {Call::kListSize, Outcome::kFault},
      {Call::kListSize, Outcome::kOk}, {Call::kLocate, Outcome::kOk}, {Call::kListModel, Outcome::kOk},
      {Call::kClose, Outcome::kOk}}},
    {"no faults: every read succeeds", 'm', "OK",
     {{Call::kOpen, Outcome::kOk}, {Call::kHeader, Outcome::kOk}, {Call::kHeaderEx, Outcome::kOk},
      {Call::kAnalysis, Outcome::kOk}, {Call::kFirstPiece, Outcome::kOk, 0, "p0"},
      {Call::kNextPiece, Outcome::kOk, 0, "p1"}, {Call::kNextPiece, Outcome::kOk, 0, "p2"},
      {Call::kNextPiece, Outcome::kFail}, {Call::kOverride, Outcome::kOk, 2}, {Call::kSplice, Outcome::kOk, 3},
      {Call::kLocate, Outcome::kOk}, {Call::kListModel, Outcome::kOk}, {Call::kListOption, Outcome::kOk},
      {Call::kListOption, Outcome::kOk}, {Call::kListSize, Outcome::kOk}, {Call::kListModel, Outcome::kOk},
      {Call::kListSize, Outcome::kOk}, {Call::kListSize, Outcome::kOk}, {Call::kListModel, Outcome::kFail},
      {Call::kClose, Outcome::kOk}}},
    {"faults set to false", 'm', "FALSE", {{Call::kOpen, Outcome::kOk}, {Call::kClose, Outcome::kOk}}},
    {"order header leaves the model list unread", 'o', "OHEADER",
     {{Call::kOpen, Outcome::kOk}, {Call::kOrderHeader, Outcome::kFault}, {Call::kListModel, Outcome::kFail},
      {Call::kClose, Outcome::kOk}}},
    {"order model_list_at counts from the header", 'o', "OLIST1",
     {{Call::kOpen, Outcome::kOk}, {Call::kOrderHeader, Outcome::kOk}, {Call::kListModel, Outcome::kOk},
      {Call::kListOption, Outcome::kFault}, {Call::kOrderHeader, Outcome::kOk}, {Call::kListModel, Outcome::kOk},
      {Call::kListOption, Outcome::kFault}, {Call::kClose, Outcome::kOk}}},
    {"piece without faults", 'p', "pfine",
     {{Call::kOpen, Outcome::kOk}, {Call::kPieceHeader, Outcome::kOk}, {Call::kClose, Outcome::kOk}}},
};

// Models, orders and pieces: the item whose open fails, the one whose read
// (of the model, the order header, the piece header) fails, and the one whose
// close fails after a good read.
struct KindFaults {
  char kind;
  Call read;
  const char* open_item;
  const char* read_item;
  const char* close_item;
};
const KindFaults kKindFaults[] = {{'M', Call::kModel, "MOPEN", "MODEL", "MCLOSE"},
                                  {'o', Call::kOrderHeader, "OOPEN", "OHEADER", "OCLOSE"},
                                  {'p', Call::kPieceHeader, "POPEN", "PHEADER", "PCLOSE"}};

// kFaultCases and, for each of kKindFaults, its open, read and close cases.
std::vector<FaultCase> all_fault_cases() {
  std::vector<FaultCase> cases(std::begin(kFaultCases), std::end(kFaultCases));
  for (const KindFaults& k : kKindFaults) {
    cases.push_back({"open", k.kind, k.open_item, {{Call::kOpen, Outcome::kFault}}});
    cases.push_back({"read", k.kind, k.read_item,
                     {{Call::kOpen, Outcome::kOk}, {k.read, Outcome::kFault}, {Call::kClose, Outcome::kOk}}});
    cases.push_back({"close", k.kind, k.close_item,
                     {{Call::kOpen, Outcome::kOk}, {k.read, Outcome::kOk}, {Call::kClose, Outcome::kFault}}});
  }
  return cases;
}

// The open and close calls of each kind of item.
struct ItemCalls {
  char kind;
  decltype(&pb_open_marker) open, close;
};
const ItemCalls kItemCalls[] = {{'m', pb_open_marker, pb_close_marker},
                                {'M', pb_open_model, pb_close_model},
                                {'o', pb_open_order, pb_close_order},
                                {'p', pb_open_piece, pb_close_piece}};
const ItemCalls& item_calls(char kind) {
  for (const ItemCalls& calls : kItemCalls)
    if (calls.kind == kind) return calls;
  ADD_FAILURE() << "no item kind " << kind;
  return kItemCalls[0];
}

TEST_F(FaultsTest, EachFaultFailsItsCallOnly) {
  for (const FaultCase& c : all_fault_cases()) {
    SCOPED_TRACE(std::string(c.what) + " " + c.item);
    void* a = area.ptr();
    const char* n = c.item;
    unsigned char record[5376];
    pb_model* model = nullptr;
    const ItemCalls& calls = item_calls(c.kind);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      clear_error();
      int r = 0;
      switch (step.call) {
        case Call::kOpen: r = calls.open(a, n, item); break;
        case Call::kClose: r = calls.close(a, n, item); break;
        case Call::kHeader: r = pb_get_marker_header(n, record, item); break;
        case Call::kHeaderEx: r = pb_get_marker_header_ex(n, record, 534, item); break;
        case Call::kAnalysis: r = pb_hdr_analyze(item) ? 1 : pb_error.code; break;
        case Call::kFirstPiece: r = pb_first_marker_piece(item, record); break;
        case Call::kNextPiece: r = pb_next_marker_piece(item, record); break;
        case Call::kOverride: r = pb_get_piece_override(item, step.index, nullptr, record); break;
        case Call::kSplice: r = pb_get_splice_info(record, step.index, item); break;
        case Call::kLocate: r = pb_locate_ordmod_marker(item); break;
        case Call::kListModel: r = pb_get_order_model(record, item); break;
        case Call::kListOption: r = pb_get_option_list_entry(record, item); break;
        case Call::kListSize: r = pb_get_order_model_entry(record, item); break;
        case Call::kModel:
          model = reinterpret_cast<pb_model*>(0x1);
          r = pb_get_model_ex(n, &model, item);
          if (r != 1) {
            EXPECT_EQ(model, nullptr);
          }
          pb_free_model_ex(&model);
          break;
        case Call::kOrderHeader: r = pb_get_order_header(n, record, item); break;
        case Call::kPieceHeader: r = pb_get_piece_header(n, record, item); break;
      }
      if (step.outcome == Outcome::kOk) {
        EXPECT_EQ(r, 1) << "pb_error.code " << pb_error.code;
        if (step.piece) {
          EXPECT_STREQ(reinterpret_cast<const char*>(record), step.piece);
        }
        continue;
      }
      EXPECT_NE(r, 1);
      EXPECT_GT(pb_error.line, 0);
      EXPECT_NE(std::string(pb_error.source), "");
      if (step.outcome == Outcome::kFault) {
        EXPECT_EQ(pb_error.code, PB_ERR_FAULT);
      } else {
        EXPECT_NE(pb_error.code, PB_ERR_FAULT);
      }
    }
  }
  // A failed open leaves the item to lookups.
  char name[PB_NAME_BUFFER_SIZE];
  EXPECT_EQ(pb_lookup_markers(area.ptr(), name, "open", 0), 1);
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
