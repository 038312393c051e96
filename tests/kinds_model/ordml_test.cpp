// The order model-list report: one row per size entry of each model.
#include <gtest/gtest.h>

#include "kinds_model/model_test_util.h"

namespace quire::testing {
namespace {

json orders_area() {
  json first = item("ORD1", 1000, 500);
  first["models"] = json::array(
      {order_model("MA", json::array({size_entry("S", 1, 3), size_entry("M", 2, 1)}),
                   json::array({"O1", "O2"})),
       order_model("MB", json::array({size_entry("L", 7)}))});
  first["models"][1]["add_piece_bundle"] = -4;
  json empty = item("ORD2", 2000);
  json sizeless = item("ORD3", 3000);
  sizeless["models"] = json::array({order_model("MC", json::array())});
  json second = item("ORD4", 4000);
  second["models"] = json::array({order_model("MD", json::array({size_entry("XL", 3)})),
                                  order_model("ME", json::array({size_entry("XS", 4)}))});
  return json{{"name", "AREA"}, {"orders", json::array({first, empty, sizeless, second})}};
}

TEST_F(ModelReportsTest, OrdmlDetailedRowsFollowModelsAndSizeEntries) {
  import_or_fail(orders_area());
  ReportRun r = run_report("ordml", true, store_.path("ordml.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines.at(0), (std::vector<std::string>{"DB_VERSION_3", "METRIC", "ORDML",
                                                     r.lines.at(0).at(3)}));
  EXPECT_EQ(r.columns(),
            (std::vector<std::string>{"Order_Name", "Model_Name", "Size_Code", "Alteration",
                                      "Dynamic", "Model_Num", "Num_Size_Entries",
                                      "Add_piece/bundle", "Size", "Quant", "Cutdown", "HalfPiece",
                                      "BaseSize", "Direction ", "Fabric", "Time", "User_Last_Mod",
                                      "Created_Time", "User_Created", "Prev_Mod_Time",
                                      "User_Prev_Mod"}));
  // The blank in the column name sits inside the quotes.
  EXPECT_NE(r.bytes.find("\"Direction \","), std::string::npos);

  // Orders without models or without size entries give no rows; Model_Num
  // counts the models of each order and starts again at 1 for the next.
  ASSERT_EQ(r.row_count(), 5u);
  EXPECT_EQ(r.column("Order_Name"),
            (std::vector<std::string>{"ORD1", "ORD1", "ORD1", "ORD4", "ORD4"}));
  EXPECT_EQ(r.column("Model_Name"), (std::vector<std::string>{"MA", "MA", "MB", "MD", "ME"}));
  EXPECT_EQ(r.column("Model_Num"), (std::vector<std::string>{"1", "1", "2", "1", "2"}));
  EXPECT_EQ(r.column("Size"), (std::vector<std::string>{"S", "M", "L", "XL", "XS"}));
  EXPECT_EQ(r.column("Num_Size_Entries"), (std::vector<std::string>{"2", "2", "1", "1", "1"}));
  // Codes are written as numbers, not words.
  EXPECT_EQ(r.column("Direction "), (std::vector<std::string>{"3", "1", "0", "0", "0"}));
  EXPECT_EQ(r.value(2, "Add_piece/bundle"), "-4");
  EXPECT_EQ(r.value(0, "Size_Code"), "MA-sc");
  EXPECT_EQ(r.value(0, "Alteration"), "MA-alt");
  EXPECT_EQ(r.value(0, "Dynamic"), "MA-dyn");
  EXPECT_EQ(r.value(1, "Quant"), "2");
  EXPECT_EQ(r.value(1, "Cutdown"), "cd");
  EXPECT_EQ(r.value(1, "HalfPiece"), "hp");
  EXPECT_EQ(r.value(1, "BaseSize"), "bs");
  EXPECT_EQ(r.value(1, "Fabric"), "FAB");
  // Three different times in the closing columns.
  EXPECT_EQ(r.value(0, "Time"), "Thu Jan 01 00:16:40 1970");
  EXPECT_EQ(r.value(0, "Created_Time"), "Thu Jan 01 00:08:20 1970");
  EXPECT_EQ(r.value(0, "Prev_Mod_Time"), "Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(r.value(0, "User_Prev_Mod"), "cy");
}

TEST_F(ModelReportsTest, OrdmlShortRowsOfOneModelAreIdentical) {
  json order = item("ORD", 1000, 500);
  order["models"] = json::array(
      {order_model("MA", json::array({size_entry("S", 1), size_entry("M", 2), size_entry("L", 3)}))});
  import_or_fail(json{{"name", "AREA"}, {"orders", json::array({order})}});
  ReportRun r = run_report("ordml", false, store_.path("ordml.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.columns(),
            (std::vector<std::string>{"Order_Name", "Model_Name", "Time", "User_Last_Mod",
                                      "Created_Time", "User_Created", "Prev_Mod_Time",
                                      "User_Prev_Mod"}));
  ASSERT_EQ(r.row_count(), 3u);
  EXPECT_EQ(r.row(0), (std::vector<std::string>{"ORD", "MA", "3e8", "ann", "1f4", "bob", "0", "cy"}));
  EXPECT_EQ(r.row(1), r.row(0));
  EXPECT_EQ(r.row(2), r.row(0));
}

TEST_F(ModelReportsTest, OrdmlDbaseKeepsTheBlankOfTheDirectionColumn) {
  import_or_fail(orders_area());
  ReportRun r = run_report("ordml", true, store_.path("ordml.dbf"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  DbfTable t = read_dbf(r.bytes);
  ASSERT_EQ(t.names.size(), 21u);
  EXPECT_EQ(t.names[13], "DIRECTION ");
  EXPECT_EQ(t.types[13], 'N');
  EXPECT_EQ(t.names[6], "NUM_SIZE_E");
  ASSERT_EQ(t.records.size(), 5u);
  EXPECT_EQ(t.value(0, "DIRECTION "), " 3");
  EXPECT_EQ(t.value(2, "ADD_PIECE/"), "-4");
}

// A failing read of the model list at the model, option and size-entry
// record: the error is printed, the order gets no rows, and the run goes on
// with the next order.
TEST_F(ModelReportsTest, OrdmlFailingListReadSkipsOnlyThatOrder) {
  for (int at : {0, 1, 3}) {
    SCOPED_TRACE(at);
    json bad = item("BAD", 1000);
    bad["models"] = json::array(
        {order_model("MA", json::array({size_entry("S", 1), size_entry("M", 2)}), json::array({"O1"}))});
    bad["faults"] = json{{"model_list_at", at}};
    json good = item("GOOD", 1000);
    good["models"] = json::array({order_model("MG", json::array({size_entry("S", 5)}))});
    import_or_fail(json{{"name", "AREA"}, {"orders", json::array({bad, good})}});
    ReportRun r = run_report("ordml", false, store_.path("ordml" + std::to_string(at) + ".csv"));
    EXPECT_EQ(r.run.status, 0) << r.run.err;
    EXPECT_NE(r.run.err.find("Error "), std::string::npos) << r.run.err;
    ASSERT_EQ(r.row_count(), 1u);
    EXPECT_EQ(r.value(0, "Order_Name"), "GOOD");
  }
}

TEST_F(ModelReportsTest, OrdmlFailingHeaderReadSkipsOnlyThatOrder) {
  json bad = item("BAD", 1000);
  bad["models"] = json::array({order_model("MA", json::array({size_entry("S", 1)}))});
  bad["faults"] = json{{"header", true}};
  json good = item("GOOD", 1000);
  good["models"] = json::array({order_model("MG", json::array({size_entry("S", 5)}))});
  import_or_fail(json{{"name", "AREA"}, {"orders", json::array({bad, good})}});
  ReportRun r = run_report("ordml", false, store_.path("ordml.csv"));
  EXPECT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_NE(r.run.err.find("Error "), std::string::npos);
  ASSERT_EQ(r.row_count(), 1u);
  EXPECT_EQ(r.value(0, "Order_Name"), "GOOD");
}

}  // namespace
}  // namespace quire::testing
