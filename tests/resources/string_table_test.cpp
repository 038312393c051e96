// The string table: the report library's own texts, a resource library's
// texts, cutting to the caller's buffer, the missing-piece format check, and
// the message box service.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/shared_library.h"
#include "platform/string_table.h"
#include "quire/quire.h"
#include "resource_test_util.h"
#include "resources/resources.h"

namespace quire {
namespace {

using testing::fixture_library;

const char kOwnMissingPiece[] =
    "Piece %s does not exist in Storage Area %s. It will be ommitted from the report.";

std::string text(ModuleHandle module, unsigned id, int size = 200) {
  std::vector<char> buffer(static_cast<size_t>(size), 'X');
  int n = load_string(module, id, buffer.data(), size);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buffer.data())));
  return buffer.data();
}

ModuleHandle load_fixture(const char* name) {
  platform::LibraryLoadError error;
  ModuleHandle handle = platform::open_shared_library(fixture_library(name), &error);
  EXPECT_NE(handle, nullptr) << error.reason;
  return handle;
}

TEST(StringTable, OwnTexts) {
  const char* expected[] = {"", "Yes", "No", "None", "Left", "Right", kOwnMissingPiece, ""};
  ASSERT_NE(own_module_handle(), nullptr);
  for (ModuleHandle module : {static_cast<ModuleHandle>(nullptr), own_module_handle()}) {
    for (unsigned id = 0; id <= 7; ++id) EXPECT_EQ(text(module, id), expected[id]) << id;
  }
}

TEST(StringTable, CutToTheBufferAndAlwaysTerminated) {
  EXPECT_EQ(text(nullptr, kStringRight, 6), "Right");
  EXPECT_EQ(text(nullptr, kStringRight, 5), "Righ");
  EXPECT_EQ(text(nullptr, kStringRight, 1), "");
  EXPECT_EQ(text(nullptr, kStringMissingPiece, 20), std::string(kOwnMissingPiece, 19));

  char untouched[4] = {'a', 'b', 'c', 0};
  EXPECT_EQ(load_string(nullptr, kStringYes, untouched, 0), 0);
  EXPECT_EQ(load_string(nullptr, kStringYes, untouched, -5), 0);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(load_string(nullptr, kStringYes, nullptr, 10), 0);
}

TEST(StringTable, ResourceLibraryTextsWithOwnTextsForGaps) {
  ModuleHandle module = load_fixture("fixture-match");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(text(module, kStringYes), "T-Yes");
  EXPECT_EQ(text(module, kStringNo), "T-No \"quoted\" \\back; semi [bracket]");
  EXPECT_EQ(text(module, kStringNone), "T-None? Gr\xF6\xDF" "e");  // Windows-1252 letters
  // The marker model-list report's 20-character buffer.
  EXPECT_EQ(text(module, kStringLeft, 20), "T-Left-and-a-good-d");
  EXPECT_EQ(text(module, kStringRight), "Right");  // not translated
  EXPECT_EQ(text(module, 7), "");
  EXPECT_EQ(text(module, 0), "");

  // A library without a table (the glossary) serves the own texts.
  ModuleHandle glossary = load_fixture("fixture-glossary-match");
  EXPECT_EQ(text(glossary, kStringYes), "Yes");
}

TEST(StringTable, MissingPieceFormatCheck) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {kOwnMissingPiece, true},
      {"%s%s", true},
      {"100%% sure: %s in %s", true},
      {"%s %s%%", true},
      {"%s", false},
      {"no conversion", false},
      {"%s %s %s", false},
      {"%d %s", false},
      {"%s %s %n", false},
      {"%s %5s", false},
      {"%-s %s", false},
      {"%1$s %2$s", false},
      {"%s %s %", false},
      {"%s %ls", false},
      {"", false},
      {nullptr, false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_missing_piece_format(c.text), c.ok) << (c.text ? c.text : "null");
}

TEST(StringTable, MissingPieceFormatFallsBackToOwnText) {
  char buffer[200];
  EXPECT_STREQ(missing_piece_format(nullptr, buffer, sizeof buffer), kOwnMissingPiece);

  ModuleHandle good = load_fixture("fixture-match");
  const char* format = missing_piece_format(good, buffer, sizeof buffer);
  EXPECT_EQ(format, buffer);
  EXPECT_STREQ(format, "T-Piece %s missing from %s (100%%).");

  // "%d" and "%n" in a translation would read or write through the wrong
  // arguments: the own text is used instead.
  ModuleHandle bad = load_fixture("fixture-badformat");
  EXPECT_STREQ(missing_piece_format(bad, buffer, sizeof buffer), kOwnMissingPiece);

  // A buffer that cuts a translation inside its conversions, or no buffer.
  char small[12];
  EXPECT_STREQ(missing_piece_format(good, small, sizeof small), kOwnMissingPiece);
  EXPECT_STREQ(missing_piece_format(good, nullptr, 0), kOwnMissingPiece);
}

TEST(SharedLibrary, LoadFailuresTellWhy) {
  platform::LibraryLoadError error;
  EXPECT_EQ(platform::open_shared_library(fixture_library("fixture-unloadable"), &error), nullptr);
#ifdef _WIN32
  EXPECT_EQ(error.code, 126);  // ERROR_MOD_NOT_FOUND: the library it imports from
  EXPECT_NE(error.reason.find("fixture-unloadable.dll"), std::string::npos) << error.reason;
#else
  EXPECT_EQ(error.code, ENOEXEC);
  EXPECT_NE(error.reason.find("quire_fixture_symbol_nobody_defines"), std::string::npos) << error.reason;
#endif

  error = {};
  EXPECT_EQ(platform::open_shared_library(fixture_library("absent"), &error), nullptr);
#ifdef _WIN32
  EXPECT_EQ(error.code, 126);
#else
  EXPECT_EQ(error.code, ENOENT);
#endif
}

// The last part of a path.
std::string file_name(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

TEST(SharedLibrary, OwnPathAndHostPath) {
  std::string own = platform::own_library_path();
  EXPECT_EQ(file_name(own), testing::library_file("quire"));
  EXPECT_EQ(platform::library_directory(own) + file_name(own), own);
  EXPECT_EQ(platform::library_path(own_module_handle()), own);
  std::string host = platform::library_path(nullptr);
#ifdef _WIN32
  EXPECT_EQ(file_name(host), "test_resources.exe");
#else
  EXPECT_EQ(file_name(host), "test_resources");
#endif
  ModuleHandle module = load_fixture("fixture-match");
  std::string path = platform::library_path(module);
  EXPECT_EQ(file_name(path), testing::library_file("fixture-match"));
  EXPECT_EQ(platform::library_file_name("quireres"), testing::library_file("quireres"));
  EXPECT_EQ(platform::library_directory("plain"), "");
}

#ifdef _WIN32
TEST(StringTable, OwnTextsAreTheModulesStringTable) {
  // A host reading the report library's strings with LoadStringA gets the
  // same texts as the library itself.
  const QuireStringTable* table = platform::find_string_table(own_module_handle());
  ASSERT_NE(table, nullptr);
  for (unsigned id = kStringYes; id <= kStringLast; ++id)
    EXPECT_STREQ(platform::string_table_text(table, id), own_string(id)) << id;
  EXPECT_EQ(platform::string_table_text(table, kStringLast + 1), nullptr);
}
#endif

void collect(const char* text, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(text); }

TEST(MessageBoxes, HandlerGetsTheTextAndStandardErrorGetsOneLine) {
  std::vector<std::string> seen;
  quire_set_message_box_handler(collect, &seen);
  platform::show_message_box("first\nsecond");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "first\nsecond");

#ifndef _WIN32
  // Without a handler: one line on standard error (on Windows a system
  // message box, which would wait for a click).
  quire_set_message_box_handler(nullptr, nullptr);
  ::testing::internal::CaptureStderr();
  platform::show_message_box("Error loading resource DLL! (x)  Incompatable version.\nUntranslated resources will be used.");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error loading resource DLL! (x)  Incompatable version. Untranslated resources will be used.\n");
  EXPECT_EQ(seen.size(), 1u);
#endif
  quire_set_message_box_handler(nullptr, nullptr);
}

}  // namespace
}  // namespace quire
