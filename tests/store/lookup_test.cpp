// Looking up areas and items: pb_stricmp order, wildcards, first/next,
// item numbers and totals, the list-file form, and the store directory.
#include <cstdlib>

#include "plotbase_test_support.h"

namespace plotbase_test {
namespace {

using Names = std::vector<std::string>;

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    import_ok(sample_area());
    area = lookup_area("Sample");
  }
  quire::testing::TempStore store;
  Area area;
};

TEST(Stricmp, IsAsciiCaseInsensitiveOnUnsignedBytes) {
  EXPECT_EQ(pb_stricmp("abc", "ABC"), 0);
  EXPECT_LT(pb_stricmp("abc", "abd"), 0);
  EXPECT_GT(pb_stricmp("abd", "ABC"), 0);
  EXPECT_LT(pb_stricmp("ab", "abc"), 0);
  EXPECT_GT(pb_stricmp("abc", "AB"), 0);
  // Letters fold to lower case, as SQLite's NOCASE: '_' (0x5F) sorts before
  // 'a' (0x61) whatever the case of the letter.
  EXPECT_LT(pb_stricmp("_x", "A"), 0);
  EXPECT_LT(pb_stricmp("_x", "a"), 0);
  // Bytes above 0x7F compare unsigned and are not folded.
  EXPECT_GT(pb_stricmp("\xE9", "z"), 0);
  EXPECT_NE(pb_stricmp("\xC9", "\xE9"), 0);
  EXPECT_EQ(pb_stricmp("", ""), 0);
}

TEST_F(LookupTest, AllMarkersInStricmpOrderWithNumbersAndTotal) {
  char name[PB_NAME_BUFFER_SIZE];
  Names names;
  std::vector<int> nums;
  for (int mode = 0; pb_lookup_markers(area.ptr(), name, "*", mode) == 1; mode = 1) {
    names.push_back(name);
    nums.push_back(pbc_item_num);
    EXPECT_EQ(pbc_total_items, 7);
  }
  EXPECT_EQ(names, (Names{"_under", "Alpha", "beta", "m050", "M100", "M1000", "zeta"}));
  EXPECT_EQ(nums, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  for (size_t i = 1; i < names.size(); ++i) EXPECT_LT(pb_stricmp(names[i - 1].c_str(), names[i].c_str()), 0);
  // The end: further next lookups stay at the end.
  EXPECT_NE(pb_lookup_markers(area.ptr(), name, "*", 1), 1);
  EXPECT_NE(pb_lookup_markers(area.ptr(), name, "*", 1), 1);
}

TEST_F(LookupTest, LastModTimeOfTheFoundItem) {
  char name[PB_NAME_BUFFER_SIZE];
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "zeta", 0), 1);
  EXPECT_EQ(pbc_last_mod_time, -5);
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "m100", 0), 1);
  EXPECT_STREQ(name, "M100");
  EXPECT_EQ(pbc_last_mod_time, 1151366400);
  EXPECT_EQ(pbc_item_num, 5);
}

TEST_F(LookupTest, Wildcards) {
  EXPECT_EQ(walk(pb_lookup_markers, area, "m*"), (Names{"m050", "M100", "M1000"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "M1??"), (Names{"M100"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "M1*"), (Names{"M100", "M1000"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "*a"), (Names{"Alpha", "beta", "zeta"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "*E*"), (Names{"_under", "beta", "zeta"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "?????"), (Names{"Alpha", "M1000"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "_*"), (Names{"_under"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "**0*0"), (Names{"m050", "M100", "M1000"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "x*"), Names{});
  EXPECT_EQ(walk(pb_lookup_markers, area, "ALPHA"), (Names{"Alpha"}));
  EXPECT_EQ(walk(pb_lookup_markers, area, "Alph"), Names{});
}

TEST_F(LookupTest, ItemNumberIsThePositionAmongAllItems) {
  char name[PB_NAME_BUFFER_SIZE];
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "z*", 0), 1);
  EXPECT_EQ(pbc_item_num, 7);
  EXPECT_EQ(pbc_total_items, 7);
  ASSERT_EQ(pb_lookup_models(area.ptr(), name, "*", 0), 1);
  EXPECT_STREQ(name, "plain");
  EXPECT_EQ(pbc_item_num, 1);
  EXPECT_EQ(pbc_total_items, 2);
  ASSERT_EQ(pb_lookup_orders(area.ptr(), name, "O1", 0), 1);
  EXPECT_EQ(pbc_item_num, 2);
  EXPECT_EQ(pbc_total_items, 2);
}

TEST_F(LookupTest, ModelsAndOrders) {
  EXPECT_EQ(walk(pb_lookup_models, area, "*"), (Names{"plain", "Shirt"}));
  EXPECT_EQ(walk(pb_lookup_orders, area, "*"), (Names{"o0", "O1"}));
}

TEST_F(LookupTest, ListFileFormPassesOneBufferAsNameAndPattern) {
  char buffer[PB_NAME_BUFFER_SIZE];
  std::snprintf(buffer, sizeof buffer, "%s", "m1000");
  ASSERT_EQ(pb_lookup_markers(area.ptr(), buffer, buffer, 0), 1);
  EXPECT_STREQ(buffer, "M1000");
  std::snprintf(buffer, sizeof buffer, "%s", "a*");
  ASSERT_EQ(pb_lookup_markers(area.ptr(), buffer, buffer, 0), 1);
  EXPECT_STREQ(buffer, "Alpha");
  std::snprintf(buffer, sizeof buffer, "%s", "nothing");
  EXPECT_NE(pb_lookup_markers(area.ptr(), buffer, buffer, 0), 1);
  EXPECT_STREQ(buffer, "nothing");  // not found: unchanged
}

TEST_F(LookupTest, NextContinuesAfterTheItemLastFoundOnThisArea) {
  char name[PB_NAME_BUFFER_SIZE];
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "beta", 0), 1);
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "*", 1), 1);
  EXPECT_STREQ(name, "m050");
  // Another area record keeps its own position.
  Area other = lookup_area("SAMPLE");
  ASSERT_EQ(pb_lookup_markers(other.ptr(), name, "*", 0), 1);
  EXPECT_STREQ(name, "_under");
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "*", 1), 1);
  EXPECT_STREQ(name, "M100");
  // Kinds keep their own positions too.
  ASSERT_EQ(pb_lookup_models(area.ptr(), name, "*", 0), 1);
  ASSERT_EQ(pb_lookup_markers(area.ptr(), name, "*", 1), 1);
  EXPECT_STREQ(name, "M1000");
}

TEST_F(LookupTest, StorageAreaLookup) {
  Area a;
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), "sample", 0), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(a.ptr()), "Sample");
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), "nosuch", 0), 0);
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), "", 0), 0);
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), "a/b", 0), 0);
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), "name-longer-than-twenty", 0), 0);
}

TEST_F(LookupTest, DamagedAreaFileIsAnErrorNamingTheFile) {
  quire::testing::write_file(store.store() / "junk.sqlite", std::string(4096, '\x5a') + "garbage");
  Area a;
  pb_error.code = 0;
  {
    PrintCapture printed;
    int r = pb_lookup_storage_areas(a.ptr(), "JUNK", 0);
    EXPECT_NE(r, 1);
    EXPECT_NE(r, 0);
    EXPECT_EQ(printed.text(), "area JUNK: " + (store.store() / "junk.sqlite").string() + ": file is not a database\n");
  }
  EXPECT_NE(pb_error.code, 0);
  EXPECT_GT(pb_error.line, 0);
  EXPECT_STRNE(pb_error.source, "");
  // An empty file is no area either.
  quire::testing::write_file(store.store() / "empty.sqlite", "");
  PrintCapture printed;
  int r = pb_lookup_storage_areas(a.ptr(), "empty", 0);
  EXPECT_NE(r, 1);
  EXPECT_NE(r, 0);
  EXPECT_EQ(printed.text().rfind("area empty: " + (store.store() / "empty.sqlite").string() + ": ", 0), 0u)
      << printed.text();
}

TEST(DamagedArea, AFileWithZeroedPagesIsNamedOnceWhenItsReadsFail) {
  quire::testing::TempStore store;
  quire::areas::GenerateOptions o;
  o.name = "Cut";
  o.markers = 3000;
  quire::Status status = quire::areas::generate_area(o);
  ASSERT_TRUE(status.ok()) << status.message();
  std::filesystem::path file = store.store() / "cut.sqlite";
  // Zero the middle fifth of the file: item rows, not the tables' roots.
  std::string bytes = quire::testing::read_file(file);
  size_t page = 4096, pages = bytes.size() / page;
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(pages * 2 / 5 * page),
            bytes.begin() + static_cast<std::ptrdiff_t>(pages * 3 / 5 * page), '\0');
  quire::testing::write_file(file, bytes);
  PrintCapture printed;
  Area a = lookup_area("Cut");
  char name[PB_NAME_BUFFER_SIZE];
  unsigned char item[PB_ITEM_AREA_SIZE];
  unsigned char piece[rec::marker_piece::kSize];
  // Walk on past the first failures: the file is named once all the same.
  int failures = 0;
  for (int mode = 0; failures < 3; mode = 1) {
    int r = pb_lookup_markers(a.ptr(), name, "*", mode);
    if (r == 0) break;
    if (r != 1 || pb_open_marker(a.ptr(), name, item) != 1) {
      ++failures;
      continue;
    }
    for (r = pb_first_marker_piece(item, piece); r == 1; r = pb_next_marker_piece(item, piece)) {}
    if (r != 0) ++failures;
    pb_close_marker(a.ptr(), name, item);
  }
  EXPECT_GE(failures, 1);
  EXPECT_EQ(printed.text(), "area Cut: " + file.string() + ": database disk image is malformed\n");
}

TEST_F(LookupTest, CallsOnAnAreaRecordNeverFilledFail) {
  Area blank;
  char name[PB_NAME_BUFFER_SIZE];
  unsigned char item[PB_ITEM_AREA_SIZE];
  EXPECT_NE(pb_lookup_markers(blank.ptr(), name, "*", 0), 1);
  EXPECT_NE(pb_open_marker(blank.ptr(), "M100", item), 1);
  int n = 0, p = 0;
  EXPECT_NE(pb_get_notationprecision(blank.ptr(), &n, &p), 1);
  char path[PB_PATH_BUFFER_SIZE];
  EXPECT_NE(pb_convert_path(path, blank.ptr(), 1), 1);
  EXPECT_NE(pb_lookup_markers(nullptr, name, "*", 0), 1);
}

TEST_F(LookupTest, OpenByNameIsCaseInsensitiveAndUnknownNamesFail) {
  unsigned char item[PB_ITEM_AREA_SIZE];
  ASSERT_EQ(pb_open_marker(area.ptr(), "ALPHA", item), 1);
  EXPECT_EQ(pb_close_marker(area.ptr(), "ALPHA", item), 1);
  EXPECT_NE(pb_open_marker(area.ptr(), "nosuch", item), 1);
  EXPECT_NE(pb_error.code, 0);
  EXPECT_NE(pb_open_model(area.ptr(), "M100", item), 1);  // a marker, not a model
  EXPECT_NE(pb_open_order(area.ptr(), "Shirt", item), 1);
}

TEST_F(LookupTest, StoreDirectoryIsReadAtEveryLookup) {
  // A second store with an area of the same name but other content.
  quire::testing::TempStore second;
  import_ok(json::parse(R"({"name": "Sample", "markers": [{"name": "Only", "modified": 1}]})"));
  Area b = lookup_area("Sample");
  EXPECT_EQ(walk(pb_lookup_markers, b, "*"), (Names{"Only"}));
  // The first record still reads the first store's file.
  EXPECT_EQ(walk(pb_lookup_markers, area, "*").size(), 7u);
}

TEST_F(LookupTest, ReplacedAreaIsSeenAtTheNextLookup) {
#ifdef _WIN32
  GTEST_SKIP() << "an area file open in a connection cannot be replaced on Windows";
#endif
  unsigned char item[PB_ITEM_AREA_SIZE];
  ASSERT_EQ(pb_open_marker(area.ptr(), "M100", item), 1);
  import_ok(json::parse(R"({"name": "SAMPLE", "markers": [{"name": "New", "modified": 1}]})"));
  // The open item still reads the area it was opened in.
  unsigned char header[468];
  ASSERT_EQ(pb_get_marker_header("M100", header, item), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(header + 4), "M100 header name");
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
  Area fresh = lookup_area("Sample");
  EXPECT_STREQ(reinterpret_cast<char*>(fresh.ptr()), "SAMPLE");
  EXPECT_EQ(walk(pb_lookup_markers, fresh, "*"), (Names{"New"}));
}

TEST_F(LookupTest, RecordsFilledBeforeTheAreaWasReplacedReadTheNewAreaAfterItsLookup) {
#ifdef _WIN32
  GTEST_SKIP() << "an area file open in a connection cannot be replaced on Windows";
#endif
  Area copy = area;  // a second record of the same area, as a host may keep
  import_ok(json::parse(R"({"name": "Sample", "markers": [{"name": "New", "modified": 1}]})"));
  // A lookup from the start sees the new area and refills its record; the
  // copy, of the replaced area's generation, finds the area by its path.
  EXPECT_EQ(walk(pb_lookup_markers, area, "*"), (Names{"New"}));
  EXPECT_EQ(walk(pb_lookup_markers, copy, "*"), (Names{"New"}));
  char path[PB_PATH_BUFFER_SIZE];
  ASSERT_EQ(pb_convert_path(path, copy.ptr(), 0), 1);
  EXPECT_EQ(std::string(path), (store.store() / plotbase::area_file_name("sample")).string());
  // The area removed: records read the area as their connection has it.
  std::filesystem::remove(store.store() / plotbase::area_file_name("sample"));
  EXPECT_EQ(walk(pb_lookup_markers, area, "*"), (Names{"New"}));
  Area none;
  EXPECT_EQ(pb_lookup_storage_areas(none.ptr(), "Sample", 0), 0);
}

TEST(StoreDirectory, AServerStoreNeedsAServerBuildAndSaysSo) {
#ifndef QUIRE_HAVE_ODBC
  quire::testing::TempStore store;
  quire::testing::set_environment("QUIRE_STORE", "odbc:DSN=patterns");
  quire::testing::PrintCapture capture;
  Area a;
  EXPECT_EQ(pb_lookup_storage_areas(a.ptr(), "Sample", 0), plotbase::kErrStore);
  EXPECT_EQ(pb_error.code, plotbase::kErrStore);
  EXPECT_EQ(capture.text(), "area Sample: this quire was built without server stores (odbc:)\n");
#endif
}

TEST(StoreDirectory, FollowsTheEnvironment) {
  using quire::testing::set_environment;
  using quire::testing::unset_environment;
#ifdef _WIN32
  const char* const kNames[] = {"QUIRE_STORE", "LOCALAPPDATA"};
#else
  const char* const kNames[] = {"QUIRE_STORE", "XDG_DATA_HOME", "HOME"};
#endif
  std::vector<std::pair<const char*, const char*>> saved;
  std::vector<std::string> values;
  values.reserve(std::size(kNames));
  for (const char* name : kNames) {
    const char* v = std::getenv(name);
    values.push_back(v ? v : "");
    saved.emplace_back(name, v ? values.back().c_str() : nullptr);
  }

  set_environment("QUIRE_STORE", "/q/store");
  EXPECT_EQ(plotbase::store_directory(), "/q/store");
  unset_environment("QUIRE_STORE");
#ifdef _WIN32
  set_environment("LOCALAPPDATA", "C:\\Users\\someone\\AppData\\Local");
  EXPECT_EQ(plotbase::store_directory(), "C:\\Users\\someone\\AppData\\Local\\quire\\store");
#else
  set_environment("XDG_DATA_HOME", "/xdg");
  EXPECT_EQ(plotbase::store_directory(), "/xdg/quire/store");
  unset_environment("XDG_DATA_HOME");
  set_environment("HOME", "/home/someone");
  EXPECT_EQ(plotbase::store_directory(), "/home/someone/.local/share/quire/store");
#endif

  for (const auto& [name, value] : saved) {
    if (value) set_environment(name, value);
    else unset_environment(name);
  }
}

// A store whose path holds a letter outside ASCII, as the system spells
// paths (on Windows the ANSI code page, cp1252 here): SQLite takes its file
// names as UTF-8, so the library converts them before opening.
TEST(AreaFiles, StorePathWithALetterOutsideAscii) {
  quire::testing::TempStore store;
  std::string dir = store.root().string() + "/Gr\xf6\xdf" "e";
  quire::testing::set_environment("QUIRE_STORE", dir);
  import_ok(sample_area());
  Area a = lookup_area("Sample");
  char path[PB_PATH_BUFFER_SIZE];
  ASSERT_EQ(pb_convert_path(path, a.ptr(), 0), 1);
  EXPECT_EQ(std::string(path), quire::areas::area_path("Sample"));
  EXPECT_EQ(std::string(path).rfind(dir, 0), 0u) << path;
  quire::Status status;
  auto areas = quire::areas::list_areas(&status);
  EXPECT_EQ(status.message(), "");
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_EQ(areas[0].error, "");
  EXPECT_EQ(areas[0].name, "Sample");
  EXPECT_EQ(json::parse(export_text("Sample"))["name"], "Sample");
}

TEST(ManyStores, ConnectionsAreRecycled) {
  // More areas than the connection cache keeps: every record still works.
  std::vector<std::unique_ptr<quire::testing::TempStore>> stores;
  std::vector<Area> areas;
  for (int i = 0; i < 20; ++i) {
    stores.push_back(std::make_unique<quire::testing::TempStore>());
    import_ok(json{{"name", "A" + std::to_string(i)}, {"markers", {{{"name", "M" + std::to_string(i)}, {"modified", i}}}}});
    areas.push_back(lookup_area(("A" + std::to_string(i)).c_str()));
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(walk(pb_lookup_markers, areas[static_cast<size_t>(i)], "*"),
                                         (Names{"M" + std::to_string(i)}));
  // Restoring the environment in reverse order of the stores.
  while (!stores.empty()) stores.pop_back();
}

}  // namespace
}  // namespace plotbase_test
