// The model and marker model-list reports with a translated resource
// library beside libquire.so.
#include <gtest/gtest.h>

#include <filesystem>

#include "kinds_model/model_test_util.h"

namespace quire::testing {
namespace {

namespace fs = std::filesystem;

class TranslatedReportsTest : public ModelReportsTest {
 protected:
  // A copy of the program and its libraries with resource_library installed
  // as libquireres.so beside libquire.so. Returns the copied program, or ""
  // when the resource library has not been built.
  std::string translated_program(const fs::path& resource_library) {
    if (!fs::exists(resource_library)) return "";
    fs::path dir = store_.root() / "translated-bin";
    fs::create_directories(dir);
    for (const char* file : {"quire", "libquire.so", "libplotbase.so"})
      fs::copy_file(fs::path(bin_dir()) / file, dir / file);
    fs::copy_file(resource_library, dir / "libquireres.so");
    return (dir / "quire").string();
  }

  void import_area_with_missing_piece() {
    json marker = item("MK");
    marker["models"] = json::array(
        {order_model("MA", json::array({size_entry("S", 1, 0), size_entry("M", 1, 1),
                                        size_entry("L", 1, 2)}))});
    marker["models"][0]["add_piece_bundle"] = 1;
    json model = item("MO");
    model["pieces"] = json::array({json{{"name", "GONE"}}});
    import_or_fail(json{{"name", "AREA"},
                        {"markers", json::array({marker})},
                        {"models", json::array({model})}});
  }
};

TEST_F(TranslatedReportsTest, GermanWordsAndMessage) {
  std::string program = translated_program(fs::path(bin_dir()) / "libquireres-de.so");
  if (program.empty()) GTEST_SKIP() << "libquireres-de.so not built (target quire_res_de)";
  import_area_with_missing_piece();

  ReportRun mkmod = run_report("mkmod", true, store_.path("mkmod.csv"), program);
  ASSERT_EQ(mkmod.run.status, 0) << mkmod.run.err;
  EXPECT_EQ(mkmod.column("Direction"), (std::vector<std::string>{"Keine", "Links", "Rechts"}));
  EXPECT_EQ(mkmod.column("Add_piece/bundle"), (std::vector<std::string>{"Ja", "Ja", "Ja"}));

  ReportRun model = run_report("model", false, store_.path("model.csv"), program);
  ASSERT_EQ(model.run.status, 0) << model.run.err;
  EXPECT_NE(model.run.err.find(
                "Teil GONE existiert nicht im Speicherbereich AREA. Es wird im Bericht ausgelassen."),
            std::string::npos)
      << model.run.err;
}

// A translated missing-piece message with conversions other than two %s is
// not used as a format; the report library's own text is printed instead.
TEST_F(TranslatedReportsTest, UnsafeTranslatedMessageFallsBackToOwnText) {
  std::string program = translated_program(fs::path(bin_dir()).parent_path() /
                                           "resource_fixtures" / "libfixture-badformat.so");
  if (program.empty()) GTEST_SKIP() << "the bad-format resource fixture has not been built";
  import_area_with_missing_piece();
  ReportRun model = run_report("model", false, store_.path("model.csv"), program);
  ASSERT_EQ(model.run.status, 0) << model.run.err;
  EXPECT_NE(model.run.err.find("Piece GONE does not exist in Storage Area AREA."), std::string::npos)
      << model.run.err;
  EXPECT_EQ(model.row_count(), 1u);
}

}  // namespace
}  // namespace quire::testing
