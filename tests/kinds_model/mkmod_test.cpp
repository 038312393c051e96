// The marker model-list report: one row per size entry and option of each
// model of the order model list a marker was made from.
#include <gtest/gtest.h>

#include "kinds_model/model_test_util.h"

namespace quire::testing {
namespace {

json markers_area() {
  json first = item("MK1", 1000);
  first["models"] = json::array(
      {order_model("PLAIN", json::array({size_entry("S", 1, 0), size_entry("M", 2, 1)})),
       order_model("OPTS", json::array({size_entry("L", 3, 2), size_entry("XL", 4, 3)}),
                   json::array({"A", "B", "C"}))});
  first["models"][1]["add_piece_bundle"] = 5;
  json bare = item("MK2", 1000);
  json second = item("MK3", 1000);
  second["models"] = json::array({order_model("LAST", json::array({size_entry("Z", 9, -1)}))});
  return json{{"name", "AREA"}, {"markers", json::array({first, bare, second})}};
}

TEST_F(ModelReportsTest, MkmodShortRowsNestOptionsInsideSizeEntries) {
  import_or_fail(markers_area());
  ReportRun r = run_report("mkmod", false, store_.path("mkmod.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.lines.at(0).at(2), "MKMOD");
  EXPECT_EQ(r.columns(), (std::vector<std::string>{"Marker_name", "Model_Name", "Option_Name",
                                                   "Size", "Quant", "Fabric", "Time",
                                                   "User_Last_Mod", "Created_Time", "User_Created",
                                                   "Prev_Mod_Time", "User_Prev_Mod"}));
  // A marker without models writes nothing; a model without options writes
  // one row per size entry, one with options one per size entry and option.
  ASSERT_EQ(r.row_count(), 9u);
  EXPECT_EQ(r.column("Marker_name"), (std::vector<std::string>{"MK1", "MK1", "MK1", "MK1", "MK1",
                                                               "MK1", "MK1", "MK1", "MK3"}));
  EXPECT_EQ(r.column("Option_Name"),
            (std::vector<std::string>{"", "", "A", "B", "C", "A", "B", "C", ""}));
  EXPECT_EQ(r.column("Size"),
            (std::vector<std::string>{"S", "M", "L", "L", "L", "XL", "XL", "XL", "Z"}));
  EXPECT_EQ(r.column("Quant"),
            (std::vector<std::string>{"1", "2", "3", "3", "3", "4", "4", "4", "9"}));
  EXPECT_EQ(r.value(0, "Fabric"), "FAB");
}

TEST_F(ModelReportsTest, MkmodDetailedRowsCarryWordsAndModelNumbers) {
  import_or_fail(markers_area());
  ReportRun r = run_report("mkmod", true, store_.path("mkmod.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.columns(),
            (std::vector<std::string>{"Marker_name", "Model_Name", "Option_Name", "Size_Code",
                                      "Alteration", "Dynamic", "Model_Number", "NumSizeEnt",
                                      "Add_piece/bundle", "Size", "Quant", "Cutdown", "HalfPiece",
                                      "BaseSize", "Direction", "Fabric", "Placed", "Time",
                                      "User_Last_Mod", "Created_Time", "User_Created",
                                      "Prev_Mod_Time", "User_Prev_Mod"}));
  ASSERT_EQ(r.row_count(), 9u);
  // Model_Number counts models, not rows, and restarts for every marker.
  EXPECT_EQ(r.column("Model_Number"),
            (std::vector<std::string>{"1", "1", "2", "2", "2", "2", "2", "2", "1"}));
  EXPECT_EQ(r.column("Direction"), (std::vector<std::string>{"None", "Left", "Right", "Right",
                                                             "Right", "None", "None", "None",
                                                             "None"}));
  EXPECT_EQ(r.column("Add_piece/bundle"),
            (std::vector<std::string>{"No", "No", "Yes", "Yes", "Yes", "Yes", "Yes", "Yes", "No"}));
  EXPECT_EQ(r.value(2, "NumSizeEnt"), "2");
  EXPECT_EQ(r.value(2, "Placed"), "6");
  EXPECT_EQ(r.value(2, "Size_Code"), "OPTS-sc");
  EXPECT_EQ(r.value(2, "Cutdown"), "cd");
  EXPECT_EQ(r.value(0, "Time"), "Thu Jan 01 00:16:40 1970");
}

TEST_F(ModelReportsTest, MkmodDbaseCutsWordsToTwoCharacters) {
  import_or_fail(markers_area());
  ReportRun r = run_report("mkmod", true, store_.path("mkmod.dbf"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  DbfTable t = read_dbf(r.bytes);
  ASSERT_EQ(t.records.size(), 9u);
  EXPECT_EQ(t.names.at(14), "DIRECTION");
  EXPECT_EQ(t.value(0, "DIRECTION"), "No");  // "None"
  EXPECT_EQ(t.value(1, "DIRECTION"), "Le");
  EXPECT_EQ(t.value(2, "DIRECTION"), "Ri");
  EXPECT_EQ(t.value(0, "ADD_PIECE/"), "No");
  EXPECT_EQ(t.value(2, "ADD_PIECE/"), "Ye");
}

TEST_F(ModelReportsTest, MkmodFailuresSkipOnlyTheFailingMarker) {
  struct Case {
    const char* name;
    json faults;
  };
  // The list reads of the bad marker: model 0, option 1, size entries 2, 3.
  const Case cases[] = {{"header", json{{"header", true}}},
                        {"ordmod", json{{"ordmod", true}}},
                        {"model", json{{"model_list_at", 0}}},
                        {"option", json{{"model_list_at", 1}}},
                        {"size", json{{"model_list_at", 3}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json bad = item("BAD", 1000);
    bad["models"] = json::array(
        {order_model("MA", json::array({size_entry("S", 1), size_entry("M", 2)}), json::array({"O1"}))});
    bad["faults"] = c.faults;
    json good = item("GOOD", 1000);
    good["models"] = json::array({order_model("MG", json::array({size_entry("S", 5)}))});
    import_or_fail(json{{"name", "AREA"}, {"markers", json::array({bad, good})}});
    ReportRun r = run_report("mkmod", true, store_.path(std::string("mkmod-") + c.name + ".csv"));
    EXPECT_EQ(r.run.status, 0) << r.run.err;
    EXPECT_NE(r.run.err.find("Error "), std::string::npos) << r.run.err;
    ASSERT_EQ(r.row_count(), 1u);
    EXPECT_EQ(r.value(0, "Marker_name"), "GOOD");
  }
}

}  // namespace
}  // namespace quire::testing
