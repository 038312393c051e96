// The area file format: import errors name item and key and leave the store
// unchanged; export then import gives the same area; Latin-1 texts; generate
// is deterministic; and the `quire area` commands.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "pattern_import.h"
#include "store/plotbase_test_support.h"

namespace plotbase_test {
namespace {

namespace fs = std::filesystem;
using quire::testing::run_quire;
using quire::testing::TempStore;

class ImportErrors : public ::testing::Test {
 protected:
  void SetUp() override { import_ok(sample_area()); }
  // Imports a broken variant of the sample area (same name) and checks the
  // error text and that the store is unchanged.
  void expect_error(const json& area, const std::string& message) {
    auto before = snapshot(store.store());
    EXPECT_EQ(import_error(area), message);
    EXPECT_EQ(snapshot(store.store()), before);
  }
  void expect_text_error(const std::string& text, const std::string& message) {
    auto before = snapshot(store.store());
    EXPECT_EQ(import_error(text), message) << text;
    EXPECT_EQ(snapshot(store.store()), before);
  }
  json broken() { return sample_area(); }
  TempStore store;
};

// Each message docs/area-format.md shows, from a file written as a user
// might: keys in any order, the item's name after the fault or before it.
TEST_F(ImportErrors, TheDocumentedMessages) {
  const std::string m3 = R"({"name": "m0", "modified": 1}, {"name": "m1", "modified": 1}, {"name": "m2", "modified": 1}, )";
  struct Case {
    std::string text, message;
  } cases[] = {
      {R"({"name": "S", "markers": [)" + m3 +
           R"({"header": {"description": "ABCDEFGHIJKLMNOPQRSTUVW"}, "name": "M100", "modified": 1}]})",
       R"(markers[3] "M100": header.description: 23 characters, at most 20)"},
      {R"({"name": "S", "markers": [{"name": "M1", "modified": 1}, {"colour": "red", "name": "m050"}]})",
       R"(markers[1] "m050": colour: unknown key)"},
      {R"({"name": "S", "markers": [{"name": "a", "modified": 1}, {"name": "b", "modified": 1},
           {"modified": "yesterday", "name": "Alpha"}]})",
       R"(markers[2] "Alpha": modified: expected an integer, got the string "yesterday")"},
      {R"({"name": "S", "markers": [{"name": "M100", "modified": 1, "overrides": [{"piece": "P", "right": 256}]}]})",
       R"(markers[0] "M100": overrides[0].right: 256 is out of range 0..255)"},
      {R"({"name": "S", "markers": [{"name": "b", "modified": 1}, {"name": "alpha", "modified": 1},
           {"name": "Alpha", "modified": 1}]})",
       R"(markers[2] "Alpha": name: duplicates markers[1] "alpha" (names are compared without regard to case))"},
      {"{\"name\": \"S\", \"markers\": [{\"user_prev_mod\": \"5 \u20ac\", \"name\": \"M100\", \"modified\": 1}]}",
       R"(markers[0] "M100": user_prev_mod: character U+20AC is not in Latin-1)"},
      {R"({"name": "S", "markers": [{"name": "M100", "modified": 1, "header": {"width": 1, "width": 2}}]})",
       R"(markers[0] "M100": header.width: duplicate key)"},
      {R"({"name": "S", "name": "T"})", "name: duplicate key"},
      {R"({"name": "S", "notation": 2})", "notation: 2 is out of range 0..1"},
      {"{\n  \"name\": \"S\",\n  \"markers\": [ ,\n}",
       "malformed JSON at line 3, column 16: syntax error while parsing value - unexpected ','; expected '[', "
       "'{', or a literal"},
  };
  for (const Case& c : cases) expect_text_error(c.text, c.message);
}

TEST_F(ImportErrors, UnknownKeys) {
  json a = broken();
  a["markers"][1]["colour"] = "red";
  expect_error(a, "markers[1] \"m050\": colour: unknown key");
  a = broken();
  a["markers"][0]["pieces"][1]["areaa"] = 1.0;
  expect_error(a, "markers[0] \"M100\": pieces[1].areaa: unknown key");
  a = broken();
  a["markers"][0]["header"]["widht"] = 1.0;
  expect_error(a, "markers[0] \"M100\": header.widht: unknown key");
  a = broken();
  a["markers"][0]["faults"] = {{"opne", true}};
  expect_error(a, "markers[0] \"M100\": faults.opne: unknown key");
  a = broken();
  a["marker"] = json::array();
  expect_error(a, "marker: unknown key");
  a = broken();
  a["models"][0]["option_groups"][1]["pieces"][0]["mirror"] = 1;
  expect_error(a, "models[0] \"Shirt\": option_groups[1].pieces[0].mirror: unknown key");
  a = broken();
  a["orders"][0]["models"][0]["sizes"][1]["qty"] = 1;
  expect_error(a, "orders[0] \"O1\": models[0].sizes[1].qty: unknown key");
}

TEST_F(ImportErrors, WrongTypes) {
  json a = broken();
  a["markers"][2]["modified"] = "yesterday";
  expect_error(a, "markers[2] \"Alpha\": modified: expected an integer, got the string \"yesterday\"");
  a = broken();
  a["markers"][2]["modified"] = 1.5;
  expect_error(a, "markers[2] \"Alpha\": modified: expected an integer, got 1.5");
  a = broken();
  a["markers"][0]["header"]["width"] = "wide";
  expect_error(a, "markers[0] \"M100\": header.width: expected a number, got the string \"wide\"");
  a = broken();
  a["markers"][0]["pieces"] = json::object();
  expect_error(a, "markers[0] \"M100\": pieces: expected an array, got an object");
  a = broken();
  a["markers"][0]["analysis"]["internal_counts"] = 3;  // once stored into the record as if it were the list
  expect_error(a, "markers[0] \"M100\": analysis.internal_counts: expected an array, got 3");
  a = broken();
  a["markers"][0]["faults"] = {{"open", 1}};
  expect_error(a, "markers[0] \"M100\": faults.open: expected true or false, got 1");
  a = broken();
  a["markers"][4] = "M5";
  expect_error(a, "markers[4]: expected an object, got the string \"M5\"");
  a = broken();
  a["pieces"][0]["category"] = 7;
  expect_error(a, "pieces[0] \"Shirt-FRONT\": category: expected a string, got 7");
  a = broken();
  a["markers"][0]["byte_size"] = {1, 2, 3};
  expect_error(a, "markers[0] \"M100\": byte_size: expected 2 integers, got 3");
  a = broken();
  a["markers"][0]["models"][0]["options"][1] = 5;
  expect_error(a, "markers[0] \"M100\": models[0].options[1]: expected a string, got 5");
}

TEST_F(ImportErrors, Ranges) {
  json a = broken();
  a["markers"][0]["modified"] = 2147483648LL;
  expect_error(a, "markers[0] \"M100\": modified: 2147483648 is out of range -2147483648..2147483647");
  a = broken();
  a["markers"][0]["overrides"][0]["right"] = 256;
  expect_error(a, "markers[0] \"M100\": overrides[0].right: 256 is out of range 0..255");
  a = broken();
  a["models"][0]["pieces"][0]["type"] = -129;
  expect_error(a, "models[0] \"Shirt\": pieces[0].type: -129 is out of range -128..127");
  a = broken();
  a["markers"][0]["analysis"]["placed_pieces"] = 40000;
  expect_error(a, "markers[0] \"M100\": analysis.placed_pieces: 40000 is out of range -32768..32767");
  a = broken();
  a["markers"][0]["analysis"]["notch_counts"] = json(std::vector<int>(100, 1));
  expect_error(a, "markers[0] \"M100\": analysis.notch_counts: 100 slots, at most 99");
  a = broken();
  a["markers"][0]["analysis"]["internal_counts"][2] = 32768;
  expect_error(a, "markers[0] \"M100\": analysis.internal_counts[2]: 32768 is out of range -32768..32767");
  a = broken();
  a["notation"] = 2;
  expect_error(a, "notation: 2 is out of range 0..1");
  a = broken();
  a["precision"] = 10;
  expect_error(a, "precision: 10 is out of range 0..9");
  a = broken();
  a["markers"][0]["faults"] = {{"piece_at", -1}};
  expect_error(a, "markers[0] \"M100\": faults.piece_at: -1 is out of range 0..2147483647");
}

TEST_F(ImportErrors, TextLimitsOfEveryKind) {
  struct Case {
    const char* key;  // a JSON pointer into the sample area
    std::string text;
    const char* message;
  } cases[] = {
      {"/markers/0/user_last_mod", std::string(44, 'u'), "markers[0] \"M100\": user_last_mod: 44 characters, at most 43"},
      {"/markers/0/pieces/0/size", "1234567890", "markers[0] \"M100\": pieces[0].size: 10 characters, at most 9"},
      {"/markers/0/overrides/0/model", std::string(28, 'm'),
       "markers[0] \"M100\": overrides[0].model: 28 characters, at most 27"},
      {"/markers/0/models/0/fabric", "DENIMS", "markers[0] \"M100\": models[0].fabric: 6 characters, at most 5"},
      {"/markers/0/models/0/options/0", "EIGHTCHR",
       "markers[0] \"M100\": models[0].options[0]: 8 characters, at most 7"},
      {"/markers/0/models/0/sizes/0/cutdown", "CD-1234",
       "markers[0] \"M100\": models[0].sizes[0].cutdown: 7 characters, at most 6"},
      {"/models/0/comment2", std::string(42, 'c'), "models[0] \"Shirt\": comment2: 42 characters, at most 41"},
      {"/models/0/option_groups/0/option", "OPTION-8",
       "models[0] \"Shirt\": option_groups[0].option: 8 characters, at most 7"},
      {"/models/0/pieces/0/fabric", std::string(30, 'f'),
       "models[0] \"Shirt\": pieces[0].fabric: 30 characters, at most 29"},
      {"/pieces/1/description", std::string(114, 'd'),
       "pieces[1] \"shirt-back\": description: 114 characters, at most 113"},
      {"/orders/0/name", std::string(21, 'o'), "orders[0] \"ooooooooooooooooooooo\": name: 21 characters, at most 20"},
  };
  for (const Case& c : cases) {
    json a = broken();
    a[json::json_pointer(c.key)] = c.text;
    expect_error(a, c.message);
  }
}

TEST_F(ImportErrors, NamesAndRequiredKeys) {
  json a = broken();
  a["markers"][1].erase("modified");
  expect_error(a, "markers[1] \"m050\": modified: missing (required)");
  a = broken();
  a["markers"][1].erase("name");
  expect_error(a, "markers[1]: name: missing (required)");
  a = broken();
  a["markers"][1]["name"] = "";
  expect_error(a, "markers[1] \"\": name: empty, at least 1 character");
  a = broken();
  a["markers"][1]["name"] = "alpha";
  expect_error(a, "markers[2] \"Alpha\": name: duplicates markers[1] \"alpha\" (names are compared without regard to case)");
  a = broken();
  a["pieces"][0]["name"] = "SHIRT-BACK";
  expect_error(a, "pieces[1] \"shirt-back\": name: duplicates pieces[0] \"SHIRT-BACK\" (names are compared without regard to case)");
  a = broken();
  a.erase("name");
  expect_error(a, "name: missing (required)");
  a = broken();
  a["name"] = "a/b";
  expect_error(a, "name: contains \"/\"");
  a = broken();
  a["name"] = "a\\b";
  expect_error(a, "name: contains \"\\\"");
  a = broken();
  a["name"] = std::string(21, 'n');
  expect_error(a, "name: 21 characters, at most 20");
}

// A control character in a name would end or split the one-line entries
// that name it (delta.lst, messages): every name is refused with one, at
// its item and key, while other texts may still hold them.
TEST_F(ImportErrors, NamesHoldNoControlCharacters) {
  const std::string forged = "A\"\r\nDELETED: \"M1";
  const std::string why = ": contains the control character U+000D (names cannot hold control characters)";
  struct Case {
    json::json_pointer at;
    std::string message;
  } cases[] = {
      {json::json_pointer("/markers/1/name"), "markers[1] \"A\\\"\\r\\nDELETED: \\\"M1\": name" + why},
      {json::json_pointer("/models/1/name"), "models[1] \"A\\\"\\r\\nDELETED: \\\"M1\": name" + why},
      {json::json_pointer("/pieces/0/name"), "pieces[0] \"A\\\"\\r\\nDELETED: \\\"M1\": name" + why},
      {json::json_pointer("/orders/1/name"), "orders[1] \"A\\\"\\r\\nDELETED: \\\"M1\": name" + why},
      {json::json_pointer("/markers/0/header/name"), "markers[0] \"M100\": header.name" + why},
      {json::json_pointer("/markers/0/pieces/2/name"), "markers[0] \"M100\": pieces[2].name" + why},
      {json::json_pointer("/markers/0/overrides/1/piece"), "markers[0] \"M100\": overrides[1].piece" + why},
      {json::json_pointer("/markers/0/overrides/1/model"), "markers[0] \"M100\": overrides[1].model" + why},
      {json::json_pointer("/markers/0/models/1/name"), "markers[0] \"M100\": models[1].name" + why},
      {json::json_pointer("/models/0/pieces/1/name"), "models[0] \"Shirt\": pieces[1].name" + why},
      {json::json_pointer("/models/0/option_groups/1/pieces/0/name"),
       "models[0] \"Shirt\": option_groups[1].pieces[0].name" + why},
      {json::json_pointer("/orders/0/models/1/name"), "orders[0] \"O1\": models[1].name" + why},
  };
  for (const Case& c : cases) {
    json a = broken();
    a[c.at] = forged;
    SCOPED_TRACE(c.at.to_string());
    expect_error(a, c.message);
  }
  json a = broken();
  a["markers"][1]["name"] = "tab\there";
  expect_error(a, "markers[1] \"tab\\there\": name: contains the control character U+0009 (names cannot hold "
                  "control characters)");
  a = broken();
  a["markers"][1]["name"] = "del\x7F";
  expect_error(a, "markers[1] \"del\\x7f\": name: contains the control character U+007F (names cannot hold "
                  "control characters)");
  // The area's name keeps its own message; a description may hold a line
  // break, and a name any other Latin-1 character.
  a = broken();
  a["name"] = "S\nT";
  expect_error(a, "name: contains a control character");
  a = broken();
  a["pieces"][0]["description"] = "two\r\nlines";
  a["markers"][1]["name"] = "\xC3\xA4\xC2\x80\"\\";
  import_ok(a);
}

TEST_F(ImportErrors, TextsMustBeLatin1) {
  json a = broken();
  a["markers"][0]["user_prev_mod"] = "price \xE2\x82\xAC";  // the euro sign
  expect_error(a, "markers[0] \"M100\": user_prev_mod: character U+20AC is not in Latin-1");
}

// Texts of the file in a message are cut to 60 characters and show every
// byte, so that a huge key or a NUL in a name still gives a short line that
// ends with its reason.
TEST_F(ImportErrors, InputTextsAreShownShortOnOneLine) {
  const std::string cut = std::string(60, 'k') + "\xE2\x80\xA6";
  json a = broken();
  a["markers"][0][std::string(10000000, 'k')] = 1;
  expect_error(a, "markers[0] \"M100\": " + cut + ": unknown key");
  a = broken();
  a["markers"][0]["name"] = std::string("M\0", 2) + std::string(100, 'k');
  expect_error(a, "markers[0] \"M\\0" + std::string(58, 'k') + "\xE2\x80\xA6\": name: contains a NUL character");
  a = broken();
  a["markers"][0]["modified"] = std::string(100, 'k');
  expect_error(a, "markers[0] \"M100\": modified: expected an integer, got the string \"" + cut + "\"");
  std::string e = import_error("{\"name\": \"" + std::string(100000, 'k') + "\x01\"}");
  EXPECT_LT(e.size(), 400u) << e;
  EXPECT_NE(e.find("last read: '\"" + std::string(59, 'k') + "\xE2\x80\xA6'"), std::string::npos) << e;
}

TEST_F(ImportErrors, MalformedJsonNamesThePosition) {
  auto before = snapshot(store.store());
  std::string e = import_error(std::string("{\n  \"name\": \"Sample\",\n  \"markers\": [ ,\n]}"));
  EXPECT_EQ(e.rfind("malformed JSON at line 3, column ", 0), 0u) << e;
  EXPECT_EQ(e.find('\n'), std::string::npos);
  EXPECT_EQ(import_error(std::string("")).rfind("malformed JSON", 0), 0u);
  EXPECT_EQ(import_error(std::string("[1, 2]")), "expected a JSON object (the area), got an array");
  EXPECT_EQ(snapshot(store.store()), before);
}

TEST_F(ImportErrors, FailedImportKeepsTheOldArea) {
  std::string old = export_text("Sample");
  json a = broken();
  a["orders"][1]["bad"] = 1;
  EXPECT_NE(import_error(a), "");
  EXPECT_EQ(export_text("Sample"), old);
}

TEST(Import, ReplacesAnAreaOfTheSameNameWhateverTheCase) {
  TempStore store;
  import_ok(sample_area());
  import_ok(json::parse(R"({"name": "SAMPLE", "markers": [{"name": "X", "modified": 1}]})"));
  auto areas = quire::areas::list_areas(nullptr);
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_EQ(areas[0].name, "SAMPLE");
  EXPECT_EQ(areas[0].markers, 1);
  EXPECT_EQ(areas[0].models, 0);
}

// The area's name may come after its items: the new area is written
// before it is named, and still takes the place of the area of its name,
// under that name alone, first time or replacing.
TEST(Import, AnAreaNamedAfterItsItemsIsStoredUnderItsName) {
  TempStore store;
  for (const char* name : {"Late", "LATE"}) {
    const std::string text = std::string(R"({"markers": [{"name": "Z", "modified": 2}, {"name": "a", "modified": 1}],)") +
                             R"( "pieces": [{"name": "P"}], "name": ")" + name + "\"}";
    import_ok(text);
    auto files = snapshot(store.store());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.begin()->first, "late.sqlite");
    auto areas = quire::areas::list_areas(nullptr);
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0].name, name);
    EXPECT_EQ(areas[0].markers, 2);
    // Renumbered into name order on the way.
    EXPECT_EQ(json::parse(export_text(name))["markers"][0]["name"], "a");
  }
}

#ifndef _WIN32
// A pattern file's path naming a FIFO is refused as no file, never waited
// on for a writer.
TEST(Import, APatternFileThatIsAFifoIsRefusedWithoutWaiting) {
  TempStore store;
  const std::string fifo = (store.root() / "pattern.dxf").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  quire::areas::PatternSource source;
  source.name = source.path = fifo;
  quire::areas::AreaSummary summary;
  quire::Status status = quire::areas::import_pattern_files({source}, {}, nullptr, &summary);
  EXPECT_EQ(status.code(), quire::StatusCode::kInvalid);
  EXPECT_EQ(status.message(), fifo + ": not a regular file");
  EXPECT_TRUE(snapshot(store.store()).empty());
}
#endif

TEST(AreaFiles, NamesMapToOneFileWhateverTheirCase) {
  EXPECT_EQ(quire::areas::area_path("Demo"), quire::areas::area_path("DEMO"));
  quire::testing::TempStore store;
  EXPECT_EQ(quire::areas::area_path("My Area.1"), (store.store() / "my%20area.1.sqlite").string());
  EXPECT_EQ(quire::areas::area_path(".."), (store.store() / "%2E..sqlite").string());
}

TEST(Import, DefaultsOfEveryKey) {
  TempStore store;
  import_ok(json::parse(R"({"name": "D", "markers": [{"name": "M", "modified": 7}], "pieces": [{"name": "P"}]})"));
  json j = json::parse(export_text("D"));
  EXPECT_EQ(j["notation"], 0);
  EXPECT_EQ(j["precision"], 2);
  const json& m = j["markers"][0];
  EXPECT_EQ(m["created"], -1);
  EXPECT_EQ(m["prev_modified"], -1);
  EXPECT_EQ(m["user_last_mod"], "");
  EXPECT_EQ(m["byte_size"], json({0, 0}));
  EXPECT_EQ(m["header"]["name"], "M");
  EXPECT_EQ(m["header"]["width"], 0.0);
  EXPECT_EQ(m["analysis"]["notch_counts"], json::array());
  EXPECT_EQ(m["pieces"], json::array());
  EXPECT_FALSE(m.contains("faults"));
  EXPECT_EQ(j["pieces"][0], json({{"name", "P"}, {"category", ""}, {"description", ""}}));
}

#ifndef _WIN32  // the user root and file modes
TEST(Import, UnwritableStoreChangesNothing) {
  if (::geteuid() == 0) {
    // root writes anywhere; make the store a file instead of a directory.
    TempStore store;
    fs::remove_all(store.store());
    quire::testing::write_file(store.store(), "not a directory");
    std::string e = import_error(sample_area());
    EXPECT_EQ(e.rfind("cannot create the store directory ", 0), 0u) << e;
    EXPECT_EQ(quire::testing::read_file(store.store()), "not a directory");
    return;
  }
  TempStore store;
  fs::permissions(store.store(), fs::perms::owner_read | fs::perms::owner_exec);
  std::string e = import_error(sample_area());
  EXPECT_EQ(e.rfind("cannot write to the store directory ", 0), 0u) << e;
  fs::permissions(store.store(), fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(store.store()));
}
#endif

// Every key of want has its value in got (lists element by element);
// differences are added to diffs by path.
void expect_within(const json& got, const json& want, const std::string& path, std::vector<std::string>* diffs) {
  if (want.is_object()) {
    for (auto it = want.begin(); it != want.end(); ++it) {
      if (!got.contains(it.key())) diffs->push_back(path + "." + it.key() + " missing");
      else expect_within(got[it.key()], it.value(), path + "." + it.key(), diffs);
    }
  } else if (want.is_array() && got.is_array() && want.size() == got.size()) {
    for (size_t i = 0; i < want.size(); ++i) expect_within(got[i], want[i], path + "[" + std::to_string(i) + "]", diffs);
  } else if (got != want) {
    diffs->push_back(path + ": " + got.dump() + " instead of " + want.dump());
  }
}

// The sample sets every field of every record kind to a value of its own,
// with its items out of name order: what it says comes back from the area
// as it was written (items in name order), and again after a re-import.
// (records_test checks that the same values reach their record offsets.)
TEST(RoundTrip, EveryFieldComesBackAsWritten) {
  TempStore store;
  json sample = sample_area();
  sample["markers"][0]["faults"] = {{"piece_at", 2}, {"header", true}};
  sample["markers"][2]["faults"] = {{"open", true}, {"close", true}, {"header_ex", true}, {"analysis", true},
                                    {"ordmod", true}, {"model", false}, {"override_at", 0}, {"splice_at", 1},
                                    {"model_list_at", 3}};
  sample["models"][1]["faults"] = {{"model", true}};
  sample["orders"][1]["faults"] = {{"header", true}};
  sample["pieces"][0]["faults"] = {{"close", true}};
  sample["markers"][0]["user_last_mod"] = "Fran\xC3\xA7ois \xC3\xBF";  // Latin-1 ç and ÿ as UTF-8
  import_ok(sample);
  std::string first = export_text("Sample");
  json j = json::parse(first);
  json want = sample;
  want["markers"][2]["faults"].erase("model");  // false is the default: not written
  for (const char* list : {"markers", "models", "pieces", "orders"}) {
    auto& items = want[list];
    std::stable_sort(items.begin(), items.end(), [](const json& a, const json& b) {
      return pb_stricmp(a["name"].get<std::string>().c_str(), b["name"].get<std::string>().c_str()) < 0;
    });
  }
  std::vector<std::string> diffs;
  expect_within(j, want, "", &diffs);
  EXPECT_TRUE(diffs.empty()) << ::testing::PrintToString(diffs);
  EXPECT_EQ(j["markers"][4]["user_last_mod"], "Fran\xC3\xA7ois \xC3\xBF");
  // Re-import under another name and compare the exports.
  j["name"] = "Copy";
  import_ok(j);
  std::string second = export_text("copy");
  json k = json::parse(second);
  k["name"] = "Sample";
  EXPECT_EQ(k.dump(), json::parse(first).dump());
  // The library keeps the text as single bytes.
  Area area = lookup_area("Copy");
  unsigned char item[PB_ITEM_AREA_SIZE];
  ASSERT_EQ(pb_open_marker(area.ptr(), "M100", item), 1);
  EXPECT_STREQ(pbc_user_last_mod, "Fran\xE7ois \xFF");
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
}

TEST(RoundTrip, ExportOfAnUnknownAreaFails) {
  TempStore store;
  std::ostringstream out;
  quire::Status status = quire::areas::export_area_json("nosuch", out);
  EXPECT_EQ(status.code(), quire::StatusCode::kNotFound);
  EXPECT_NE(status.message().find("no area called nosuch"), std::string::npos) << status.message();
}

TEST(Generate, SameSeedSameAreaOtherSeedOtherArea) {
  TempStore store;
  quire::areas::GenerateOptions o;
  o.name = "G1";
  o.markers = 30;
  o.models = 5;
  o.orders = 4;
  o.pieces_per_marker = 3;
  o.seed = 42;
  ASSERT_TRUE(quire::areas::generate_area(o).ok());
  o.name = "G2";
  ASSERT_TRUE(quire::areas::generate_area(o).ok());
  o.name = "G3";
  o.seed = 43;
  ASSERT_TRUE(quire::areas::generate_area(o).ok());
  auto body = [](const std::string& name) {
    json j = json::parse(export_text(name));
    j.erase("name");
    return j.dump();
  };
  EXPECT_EQ(body("G1"), body("G2"));
  EXPECT_NE(body("G1"), body("G3"));
}

TEST(Generate, PlausibleValuesInEveryField) {
  TempStore store;
  quire::areas::GenerateOptions o;
  o.name = "DEMO";
  quire::areas::AreaSummary s;
  quire::Status status = quire::areas::generate_area(o, &s);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(s.markers, 50);
  EXPECT_EQ(s.models, 20);
  EXPECT_EQ(s.orders, 20);
  json j = json::parse(export_text("DEMO"));
  // The export validates by importing again.
  j["name"] = "DEMO2";
  import_ok(j);
  ASSERT_EQ(j["markers"].size(), 50u);
  int with_overrides = 0, with_splices = 0, with_options = 0;
  for (const auto& m : j["markers"]) {
    EXPECT_EQ(m["pieces"].size(), 8u);
    double util = m["header"]["util"];
    EXPECT_GE(util, 60.0);
    EXPECT_LE(util, 90.0);
    EXPECT_GT(m["header"]["width"].get<double>(), 0.0);
    EXPECT_GT(m["header"]["length"].get<double>(), 0.0);
    EXPECT_FALSE(m["models"].empty());
    EXPECT_FALSE(m["analysis"]["notch_counts"].empty());
    EXPECT_GT(m["modified"].get<int64_t>(), 0);
    with_overrides += !m["overrides"].empty();
    with_splices += !m["splices"].empty();
    for (const auto& om : m["models"]) with_options += !om["options"].empty();
  }
  EXPECT_GT(with_overrides, 0);
  EXPECT_GT(with_splices, 0);
  EXPECT_GT(with_options, 0);
  int groups = 0;
  std::set<std::string> stored;
  for (const auto& p : j["pieces"]) stored.insert(p["name"]);
  int missing = 0;
  for (const auto& m : j["models"]) {
    groups += static_cast<int>(m["option_groups"].size());
    for (const auto& p : m["pieces"]) missing += !stored.count(p["name"]);
  }
  EXPECT_GT(groups, 0);
  EXPECT_GT(missing, 0);  // a few pieces without stored header
  EXPECT_LT(missing, 20);
}

TEST(Generate, RejectsBadNames) {
  TempStore store;
  quire::areas::GenerateOptions o;
  o.name = "bad/name";
  EXPECT_EQ(quire::areas::generate_area(o).code(), quire::StatusCode::kInvalid);
  EXPECT_TRUE(fs::is_empty(store.store()));
}

// ---- the quire area commands --------------------------------------------

TEST(AreaCommand, ImportListExport) {
  TempStore store;
  quire::testing::write_file(store.path("a.json"), sample_area().dump(2));
  auto r = run_quire({"area", "import", store.path("a.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported Sample: 7 markers, 2 models, 4 pieces, 2 orders\n");
  r = run_quire({"area", "list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Sample: 7 markers, 2 models, 4 pieces, 2 orders\n");
  r = run_quire({"area", "export", "sample"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(json::parse(r.out)["markers"].size(), 7u);
  r = run_quire({"area", "export", "sample", store.path("out.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(quire::testing::read_file(store.path("out.json")), export_text("Sample"));
}

#ifndef _WIN32  // a shell redirection
TEST(AreaCommand, ImportFromStandardInput) {
  TempStore store;
  quire::testing::write_file(store.path("a.json"), R"({"name": "In", "orders": [{"name": "O", "modified": 1}]})");
  auto r = quire::testing::run_shell("(" + quire::testing::shell_quote(quire::testing::quire_program()) +
                                     " area import - < " + quire::testing::shell_quote(store.path("a.json")) + ")");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported In: 0 markers, 0 models, 0 pieces, 1 order\n");
}

// A pattern file is read by name: on standard input (or through a pipe) it
// is refused as such, not taken for broken JSON. Exit status 1, as any input
// the import refuses.
TEST(AreaCommand, PatternFileOnStandardInputIsRefusedAsSuch) {
  TempStore store;
  quire::testing::write_file(store.path("a.dxf"), "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n");
  auto r = quire::testing::run_shell("(" + quire::testing::shell_quote(quire::testing::quire_program()) +
                                     " area import - < " + quire::testing::shell_quote(store.path("a.dxf")) + ")");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quire area import: <stdin>: a pattern file (DXF), not an area file (JSON); pattern files are read by "
            "name\n");
  EXPECT_TRUE(fs::is_empty(store.store()));
}

// Anything but a regular file under an area file's name (here a FIFO) is
// left out of the list and refused, on one line, by every command that
// would open or replace it; none waits for a writer.
TEST(AreaCommand, AnAreaFileThatIsNotARegularFileIsRefused) {
  TempStore store;
  import_ok(sample_area());
  std::string fifo = (store.store() / "x.sqlite").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  quire::testing::write_file(store.path("x.json"), R"({"name": "x"})");
  auto quire = [](const std::string& args) {
    return quire::testing::run_shell("timeout 30 " + quire::testing::shell_quote(quire::testing::quire_program()) +
                                     " " + args);
  };
  auto r = quire("area list");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Sample: 7 markers, 2 models, 4 pieces, 2 orders\n");
  const std::string refused = fifo + ": not a regular file (an area file is one)\n";
  struct Case {
    std::string args, err;
  } cases[] = {
      {"area export x", "quire area export: cannot read " + refused},
      {"area export x out.json", "quire area export: cannot read " + refused},
      {"area import x.json", "quire area import: x.json: cannot replace " + refused},
      {"area generate x", "quire area generate: cannot replace " + refused},
  };
  for (const Case& c : cases) {
    r = quire(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.err, c.err);
  }
  r = quire("mkpc --no-progress x out.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("quire mkpc: area x: " + refused, 0), 0u) << r.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_FALSE(fs::exists(store.path("out.json")));
  EXPECT_FALSE(fs::exists(store.path("out.csv")));
}

#endif
// A file the import cannot read is named with its own reason, whatever the
// options; an empty name option is refused, not taken for none.
TEST(AreaCommand, FileProblemsAndEmptyNamesAreNamed) {
  TempStore store;
  auto r = run_quire({"area", "import", "--area", "X", "missing.dxf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire area import: missing.dxf: cannot open: No such file or directory\n");
  r = run_quire({"area", "import", "a.dxf", "missing.dxf"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire area import: a.dxf: cannot open: No such file or directory\n");
  for (const char* option : {"--marker", "--area"}) {
    r = run_quire({"area", "import", "a.dxf", option, ""});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, std::string("quire area: ") + option + ": expected a name, not an empty text\n");
  }
  EXPECT_TRUE(fs::is_empty(store.store()));
}

TEST(AreaCommand, ErrorsAreOneLineNonZeroAndChangeNothing) {
  TempStore store;
  import_ok(sample_area());
  auto before = snapshot(store.store());
  json bad = sample_area();
  bad["markers"][0]["header"]["description"] = std::string(23, 'x');
  quire::testing::write_file(store.path("bad.json"), bad.dump());
  auto r = run_quire({"area", "import", store.path("bad.json")});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.err, "quire area import: " + store.path("bad.json") +
                       ": markers[0] \"M100\": header.description: 23 characters, at most 20\n");
  r = run_quire({"area", "import", store.path("missing.json")});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.err, "quire area import: " + store.path("missing.json") + ": cannot open: No such file or directory\n");
  // Whatever the input: one line naming it, status 1, the store unchanged.
  quire::testing::write_file(store.path("broken.json"), "{\"name\": \"Sample\",,}");
  quire::testing::write_file(store.path("cut.json"), sample_area().dump().substr(0, 500));
  quire::testing::write_file(store.path("binary.json"), std::string("\x00\xff\x13garbage", 10));
  fs::create_directory(store.path("dir.json"));
#ifdef _WIN32
  for (const char* name : {"broken.json", "cut.json", "binary.json", "dir.json"}) {
    std::string file = store.path(name);
    r = run_quire({"area", "import", file});
#else
  ASSERT_EQ(::mkfifo(store.path("fifo.json").c_str(), 0600), 0);
  for (const char* name : {"broken.json", "cut.json", "binary.json", "dir.json", "fifo.json"}) {
    std::string file = store.path(name);
    r = std::string(name) == "fifo.json"
            ? quire::testing::run_shell("(printf '[1,2' > " + quire::testing::shell_quote(file) + " &); " +
                                        quire::testing::shell_quote(quire::testing::quire_program()) +
                                        " area import " + quire::testing::shell_quote(file))
            : run_quire({"area", "import", file});
#endif
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err.rfind("quire area import: " + file + ": ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  r = run_quire({"area", "import", store.path("dir.json")});
  EXPECT_EQ(r.err, "quire area import: " + store.path("dir.json") + ": cannot read: Is a directory\n");
  quire::testing::write_file(store.store() / "junk.sqlite", "not an area file at all");
  r = run_quire({"area", "export", "junk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("quire area export: " + (store.store() / "junk.sqlite").string() + ": ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  fs::remove(store.store() / "junk.sqlite");
  r = run_quire({"area", "export", "nosuch"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  r = run_quire({"area", "frobnicate"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(snapshot(store.store()), before);
}

TEST(AreaCommand, GenerateIsDeterministicAndListed) {
  TempStore store;
  auto r = run_quire({"area", "generate", "DEMO", "--markers", "12", "--models", "3", "--orders", "2",
                      "--pieces-per-marker", "2", "--seed", "9"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("generated DEMO: 12 markers, 3 models, ", 0), 0u) << r.out;
  std::string first = export_text("DEMO");
  r = run_quire({"area", "generate", "demo", "--markers", "12", "--models", "3", "--orders", "2",
                 "--pieces-per-marker", "2", "--seed", "9"});
  ASSERT_EQ(r.status, 0) << r.err;
  json a = json::parse(first), b = json::parse(export_text("demo"));
  a.erase("name");
  b.erase("name");
  EXPECT_EQ(a, b);
  r = run_quire({"area", "generate", "X", "--markers", "-3"});
  EXPECT_NE(r.status, 0);
  r = run_quire({"area", "list"});
  EXPECT_EQ(r.out.rfind("demo: 12 markers, 3 models, ", 0), 0u) << r.out;
}

TEST(AreaCommand, ListNamesDamagedFiles) {
  TempStore store;
  import_ok(sample_area());
  quire::testing::write_file(store.store() / "junk.sqlite", "this is not a database, not at all");
  auto r = run_quire({"area", "list"});
  EXPECT_EQ(r.out, "Sample: 7 markers, 2 models, 4 pieces, 2 orders\n");
  EXPECT_NE(r.err.find("junk.sqlite"), std::string::npos) << r.err;
  EXPECT_NE(r.status, 0);
}

// A directory, a FIFO or a link to nothing named like an area file is named
// on standard error with what it is; the listing of the areas and the exit
// status stay as they were (a damaged area file is another matter).
TEST(AreaCommand, ListNamesWhatItSkips) {
  TempStore store;
  import_ok(sample_area());
  fs::create_directory(store.store() / "dir.sqlite");
  fs::create_directory(store.store() / "plain-directory");
  fs::create_directory(store.store() / ".hidden.sqlite");
  std::vector<std::string> expected = {"dir.sqlite: it is a directory, not an area file"};
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((store.store() / "pipe.sqlite").c_str(), 0600), 0);
  fs::create_symlink(store.store() / "nothing", store.store() / "gone.sqlite");
  expected.push_back("gone.sqlite: it is a symbolic link to nothing, not an area file");
  expected.push_back("pipe.sqlite: it is a FIFO, not an area file");
#endif
  auto r = run_quire({"area", "list"});
  EXPECT_EQ(r.out, "Sample: 7 markers, 2 models, 4 pieces, 2 orders\n");
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> lines = quire::testing::output_lines(r.err);
  ASSERT_EQ(lines.size(), expected.size()) << r.err;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string prefix = "quire area list: skipped " + (store.store() / "").string();
    EXPECT_EQ(lines[i], prefix + expected[i]);
  }
}

// Renames the marker old_name of the area file at path to new_name, as a
// store written before names were checked at import may hold it.
void rename_stored_marker(const std::string& path, const std::string& old_name, const std::string& new_name) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE markers SET name = ?1 WHERE name = ?2", -1, &st, nullptr), SQLITE_OK);
  sqlite3_bind_text(st, 1, new_name.data(), static_cast<int>(new_name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, old_name.data(), static_cast<int>(old_name.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// A name already in the store with a quote, a backslash or control
// characters is escaped in delta.lst, so that each change stays one line and
// no name can write a line of its own; other names are written as they are.
TEST(StoredNames, TheChangeLogEscapesWhatWouldSplitItsLines) {
  TempStore store;
  import_ok(json{{"name", "LOG"},
                 {"markers", json::array({json{{"name", "PLAIN \xC3\xA4"}, {"modified", 1}},
                                          json{{"name", "ODD"}, {"modified", 2}}})}});
  const std::string forged = std::string("A\"\r\nDELETED: \"M1\\\x01\x7F", 19);
  const std::string escaped = "A\\\"\\r\\nDELETED: \\\"M1\\\\\\x01\\x7F";
  rename_stored_marker(quire::areas::area_path("LOG"), "ODD", forged);
  quire::testing::write_file(store.path("delta.lst"), "");
  auto r = run_quire({"mkhdr", "--no-progress", "--quiet", "LOG", "out.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = quire::testing::read_file(store.path("delta.lst"));
  size_t preamble = log.find("\r\n");
  ASSERT_NE(preamble, std::string::npos) << log;
  std::string changes = log.substr(preamble + 2);
  EXPECT_NE(changes.find("NEW: \"PLAIN \xE4\"\r\n"), std::string::npos) << changes;
  EXPECT_NE(changes.find("NEW: \"" + escaped + "\"\r\n"), std::string::npos) << changes;
  EXPECT_EQ(std::count(changes.begin(), changes.end(), '\n'), 2) << changes;

  // Gone from the store, the name read back from the previous table is
  // escaped as well.
  rename_stored_marker(quire::areas::area_path("LOG"), forged, "ODD");
  const size_t before = log.size();
  r = run_quire({"mkhdr", "--no-progress", "--quiet", "LOG", "out.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  log = quire::testing::read_file(store.path("delta.lst")).substr(before);
  preamble = log.find("\r\n");
  ASSERT_NE(preamble, std::string::npos) << log;
  changes = log.substr(preamble + 2);
  EXPECT_NE(changes.find("DELETED: \"" + escaped + "\"\r\n"), std::string::npos) << changes;
  EXPECT_NE(changes.find("NEW: \"ODD\"\r\n"), std::string::npos) << changes;
  EXPECT_EQ(std::count(changes.begin(), changes.end(), '\n'), 2) << changes;
}

}  // namespace
}  // namespace plotbase_test
