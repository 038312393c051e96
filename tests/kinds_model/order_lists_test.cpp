// ORDML and MKMOD: the order model lists of orders and markers.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/kind_reports.h"

namespace quire::testing {
namespace {

// Item 1: model A without options (sizes S, M), model B with options X, Y, Z
// (sizes L, XL) and a non-zero add-piece value. Item 2 has no models, item 3
// one model whose size entries are empty, item 4 one model.
json lists(const std::string& first) {
  json a = item(first + "1", 1000, 500);
  a["models"] = json::array(
      {order_model("A", json::array({size_entry("S", 1, 0), size_entry("M", 2, 1)})),
       order_model("B", json::array({size_entry("L", 3, 2), size_entry("XL", 4, -1)}),
                   json::array({"X", "Y", "Z"}))});
  a["models"][1]["add_piece_bundle"] = -4;
  json c = item(first + "3");
  c["models"] = json::array({order_model("C", json::array())});
  json d = item(first + "4");
  d["models"] = json::array({order_model("D", json::array({size_entry("Z", 9, 3)}))});
  return json::array({a, item(first + "2"), c, d});
}

TEST_F(ModelReportsTest, OrdmlWritesOneRowPerSizeEntry) {
  import_or_fail(json{{"name", "AREA"}, {"orders", lists("O")}});
  ReportRun r = run_report("ordml", true, store_.path("o.csv"));
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.line(1),
            "Order_Name,Model_Name,Size_Code,Alteration,Dynamic,Model_Num,Num_Size_Entries,"
            "Add_piece/bundle,Size,Quant,Cutdown,HalfPiece,BaseSize,Direction ,Fabric,Time,"
            "User_Last_Mod,Created_Time,User_Created,Prev_Mod_Time,User_Prev_Mod");
  EXPECT_NE(r.bytes.find("\"Direction \","), std::string::npos);
  // Model_Num restarts per order; options add no rows; codes stay numbers.
  EXPECT_EQ(r.column("Order_Name"), "O1|O1|O1|O1|O4");
  EXPECT_EQ(r.column("Model_Num"), "1|1|2|2|1");
  EXPECT_EQ(r.column("Size"), "S|M|L|XL|Z");
  EXPECT_EQ(r.column("Direction "), "0|1|2|-1|3");
  EXPECT_EQ(r.column("Add_piece/bundle"), "0|0|-4|-4|0");
  EXPECT_EQ(r.line(2),
            "O1,A,A-sc,,,1,2,0,S,1,cd,hp,bs,0,FAB,Thu Jan 01 00:16:40 1970,ann,"
            "Thu Jan 01 00:08:20 1970,bob,Thu Jan 01 00:00:00 1970,cy");

  // The short form: the rows of one model are identical, the three times
  // differ.
  ReportRun s = run_report("ordml", false, store_.path("s.csv"));
  EXPECT_EQ(s.line(1), "Order_Name,Model_Name,Time,User_Last_Mod,Created_Time,User_Created,"
                       "Prev_Mod_Time,User_Prev_Mod");
  ASSERT_EQ(s.row_count(), 5u);
  EXPECT_EQ(s.line(2), "O1,A,3e8,ann,1f4,bob,0,cy");
  EXPECT_EQ(s.line(3), s.line(2));

  ReportRun d = run_report("ordml", true, store_.path("o.dbf"));
  EXPECT_EQ(dbf_name(d.bytes, 13), std::string("DIRECTION ", 10));
  EXPECT_EQ(dbf_value(d.bytes, 4, 13), " 3");
}

TEST_F(ModelReportsTest, MkmodNestsOptionsInsideSizeEntriesAndTranslatesCodes) {
  import_or_fail(json{{"name", "AREA"}, {"markers", lists("M")}});
  ReportRun s = run_report("mkmod", false, store_.path("s.csv"));
  ASSERT_EQ(s.run.status, 0) << s.run.err;
  EXPECT_EQ(s.line(1), "Marker_name,Model_Name,Option_Name,Size,Quant,Fabric,Time,User_Last_Mod,"
                       "Created_Time,User_Created,Prev_Mod_Time,User_Prev_Mod");
  EXPECT_EQ(s.column("Option_Name"), "||X|Y|Z|X|Y|Z|");
  EXPECT_EQ(s.column("Size"), "S|M|L|L|L|XL|XL|XL|Z");
  EXPECT_EQ(s.column("Marker_name"), "M1|M1|M1|M1|M1|M1|M1|M1|M4");

  ReportRun r = run_report("mkmod", true, store_.path("d.csv"));
  EXPECT_EQ(r.line(1),
            "Marker_name,Model_Name,Option_Name,Size_Code,Alteration,Dynamic,Model_Number,"
            "NumSizeEnt,Add_piece/bundle,Size,Quant,Cutdown,HalfPiece,BaseSize,Direction,Fabric,"
            "Placed,Time,User_Last_Mod,Created_Time,User_Created,Prev_Mod_Time,User_Prev_Mod");
  EXPECT_EQ(r.column("Model_Number"), "1|1|2|2|2|2|2|2|1");
  EXPECT_EQ(r.column("Add_piece/bundle"), "No|No|Yes|Yes|Yes|Yes|Yes|Yes|No");
  EXPECT_EQ(r.column("Direction"), "None|Left|Right|Right|Right|None|None|None|None");
  EXPECT_EQ(r.column("Placed"), "2|4|6|6|6|8|8|8|18");

  // dBASE cuts the words to the column width of 2.
  ReportRun d = run_report("mkmod", true, store_.path("d.dbf"));
  EXPECT_EQ(dbf_value(d.bytes, 0, 14) + dbf_value(d.bytes, 1, 14) + dbf_value(d.bytes, 2, 14),
            "NoLeRi");
  EXPECT_EQ(dbf_value(d.bytes, 0, 8) + dbf_value(d.bytes, 2, 8), "NoYe");
}

// Reads of the bad item's list: model 0, option 1, size entries 2 and 3.
// Each failure is printed and leaves that item without rows; the run goes
// on (and, in the sanitizer build, leaks nothing).
TEST_F(ModelReportsTest, ListFailuresSkipOnlyTheFailingItem) {
  const json faults[] = {{{"header", true}}, {{"ordmod", true}}, {{"model_list_at", 0}},
                         {{"model_list_at", 1}}, {{"model_list_at", 3}}};
  int n = 0;
  for (const char* kind : {"ordml", "mkmod"}) {
    for (const json& f : faults) {
      if (f.contains("ordmod") && kind == std::string("ordml")) continue;
      SCOPED_TRACE(std::string(kind) + " " + f.dump());
      json bad = item("BAD");
      bad["models"] = json::array({order_model(
          "A", json::array({size_entry("S", 1), size_entry("M", 2)}), json::array({"X"}))});
      bad["faults"] = f;
      json good = item("GOOD");
      good["models"] = json::array({order_model("G", json::array({size_entry("S", 5)}))});
      import_or_fail(json{{"name", "AREA"},
                          {kind == std::string("ordml") ? "orders" : "markers", {bad, good}}});
      ReportRun r = run_report(kind, true, store_.path(std::to_string(n++) + ".csv"));
      EXPECT_EQ(r.run.status, 3) << r.run.err;
      EXPECT_NE(r.run.err.find(std::string("quire ") + kind + ": " + (kind == std::string("ordml") ? "order" : "marker") +
                               " BAD: Error "),
                std::string::npos)
          << r.run.err;
      EXPECT_EQ(r.column("Size"), "S");
      EXPECT_EQ(r.column("Model_Name"), "G");
    }
  }
}

TEST_F(ModelReportsTest, MkmodWordsComeFromTheResourceLibrary) {
  std::string german = bin_dir() + "/libquireres-de.so";
  if (!std::filesystem::exists(german)) GTEST_SKIP() << "target quire_res_de not built";
  import_or_fail(json{{"name", "AREA"}, {"markers", lists("M")}});
  ReportRun r = run_report("mkmod", true, store_.path("d.csv"), {}, copied_program("de", german));
  EXPECT_EQ(r.column("Add_piece/bundle"), "Nein|Nein|Ja|Ja|Ja|Ja|Ja|Ja|Nein");
  EXPECT_EQ(r.column("Direction"), "Keine|Links|Rechts|Rechts|Rechts|Keine|Keine|Keine|Keine");
}

}  // namespace
}  // namespace quire::testing
