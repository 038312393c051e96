// Finding, checking and loading the resource libraries beside the report
// library. Each case copies the report library (libquire.so, quire.dll) into
// a directory of its own with the fixture libraries under the names the
// report library looks for, and runs the probe host, which loads that copy:
// the real search beside the module, with nothing set up for the test inside
// the library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource_test_util.h"

namespace quire {
namespace {

namespace fs = std::filesystem;
using testing::bin_dir;
using testing::fixture_library;
using testing::library_file;

const std::string kResourceName = library_file("quireres");
const std::string kGlossaryName = library_file("SharedGlossary");
const std::string kOtherVersionBox = "box: Error loading resource DLL! (" + kResourceName +
                                     ")  Incompatable version.\\nUntranslated resources will be used.";
// The loader's code for a library it cannot load: it needs a symbol nobody
// defines (ENOEXEC), or on Windows a library that is not there
// (ERROR_MOD_NOT_FOUND).
#ifdef _WIN32
const char kUnloadableCode[] = "126";
#else
const char kUnloadableCode[] = "8";
#endif
std::string load_failed_box(const std::string& name) {
  return "box: Error loading resource DLL! (" + name + ")  Error Code " + kUnloadableCode +
         ".\\nUntranslated resources will be used.";
}
const std::vector<std::string> kOwnStrings = {
    "string 1: Yes",  "string 2: No",   "string 3: None",
    "string 4: Left", "string 5: Right",
    "string 6: Piece %s does not exist in Storage Area %s. It will be ommitted from the report."};

class ResourceLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(module_dir());
    for (const char* base : {"quire", "plotbase", "quire_files"})
      fs::copy_file(bin_dir() + "/" + library_file(base), module_dir() / library_file(base));
  }

  fs::path module_dir() const { return scratch_.root() / "lib"; }
  std::string module() const { return (module_dir() / library_file("quire")).string(); }

  // Puts a library beside the copy of the report library under name.
  void place(const std::string& from, const std::string& name) {
    fs::remove(module_dir() / name);  // (copy_file's overwrite fails with MinGW's library)
    fs::copy_file(from, module_dir() / name);
  }

  // Runs the probe on the copy (in the scratch work directory) and returns
  // its standard output lines.
  std::vector<std::string> probe(std::vector<std::string> steps) {
    steps.insert(steps.begin(), module());
    testing::RunResult r = testing::run_program(probe_program(), steps);
    EXPECT_EQ(r.status, 0) << r.err;
    err_ = r.err;
    return testing::output_lines(r.out);
  }

  static std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  }

  static std::string probe_program() {
#ifdef _WIN32
    return testing::fixture("resource_probe.exe");
#else
    return testing::fixture("resource_probe");
#endif
  }

  testing::TempStore scratch_;
  std::string err_;
};

TEST_F(ResourceLibraryTest, NoneBesideTheModule) {
  EXPECT_EQ(probe({"load", "strings", "glossary"}),
            with(with({"load: own"}, kOwnStrings), {"glossary: not loaded"}));
  EXPECT_EQ(err_, "");
}

TEST_F(ResourceLibraryTest, MatchingTranslationIsUsed) {
  place(bin_dir() + "/" + library_file("quireres-de"), kResourceName);
  EXPECT_EQ(probe({"load", "strings", "format"}),
            (std::vector<std::string>{
                "load: translated", "string 1: Ja", "string 2: Nein", "string 3: Keine", "string 4: Links",
                "string 5: Rechts",
                "string 6: Teil %s existiert nicht im Speicherbereich %s. Es wird im Bericht ausgelassen.",
                "format: Teil %s existiert nicht im Speicherbereich %s. Es wird im Bericht ausgelassen."}));
}

TEST_F(ResourceLibraryTest, OtherVersionsAreRefused) {
  // Least significant word alone, most significant word alone, no record.
  for (const char* name : {"fixture-tweak", "fixture-minor", "fixture-norecord"}) {
    place(fixture_library(name), kResourceName);
    EXPECT_EQ(probe({"load", "strings"}), with({kOtherVersionBox, "load: own"}, kOwnStrings)) << name;
  }
}

TEST_F(ResourceLibraryTest, LibraryThatFailsToLoad) {
  place(fixture_library("fixture-unloadable"), kResourceName);
  EXPECT_EQ(probe({"load", "strings"}), with({load_failed_box(kResourceName), "load: own"}, kOwnStrings));
#ifdef _WIN32
  EXPECT_NE(err_.find("Resource library not loaded: "), std::string::npos) << err_;
#else
  EXPECT_NE(err_.find("quire_fixture_symbol_nobody_defines"), std::string::npos) << err_;
#endif
}

TEST_F(ResourceLibraryTest, BadTranslatedFormatIsNotUsed) {
  place(fixture_library("fixture-badformat"), kResourceName);
  EXPECT_EQ(probe({"load", "format"}),
            (std::vector<std::string>{"load: translated", "format: " + kOwnStrings[5].substr(10)}));
}

TEST_F(ResourceLibraryTest, SharedGlossaryLoadedOnceAcrossCommands) {
  // The glossary of another version stays loaded and is reported once; the
  // resource library is looked at again by every command.
  place(fixture_library("fixture-tweak"), kResourceName);
  place(fixture_library("fixture-glossary-other"), kGlossaryName);
  EXPECT_EQ(probe({"load", "load", "glossary"}),
            (std::vector<std::string>{
                kOtherVersionBox,
                "box: Error loading resource DLL! (" + module() + ") with (" + kGlossaryName +
                    ")  Incompatable version.",
                "load: own", kOtherVersionBox, "load: own", "glossary: loaded"}));

  place(fixture_library("fixture-glossary-match"), kGlossaryName);
  place(bin_dir() + "/" + library_file("quireres-de"), kResourceName);
  EXPECT_EQ(probe({"load", "load", "glossary"}),
            (std::vector<std::string>{"load: translated", "load: translated", "glossary: loaded"}));
}

TEST_F(ResourceLibraryTest, GlossaryThatFailsIsTriedAgain) {
  place(fixture_library("fixture-glossary-unloadable"), kGlossaryName);
  const std::string box = load_failed_box(kGlossaryName);
  EXPECT_EQ(probe({"load", "load", "glossary"}),
            (std::vector<std::string>{box, "load: own", box, "load: own", "glossary: not loaded"}));
}

TEST_F(ResourceLibraryTest, CurrentDirectoryIsNotSearched) {
  fs::copy_file(bin_dir() + "/" + library_file("quireres-de"), scratch_.work() / kResourceName);
  fs::copy_file(fixture_library("fixture-glossary-other"), scratch_.work() / kGlossaryName);
  EXPECT_EQ(probe({"load", "strings", "glossary"}),
            with(with({"load: own"}, kOwnStrings), {"glossary: not loaded"}));
}

TEST_F(ResourceLibraryTest, RelativeLoadThenChangedDirectory) {
  // The host loads the library by a relative path and then moves elsewhere:
  // the library's directory is still the one it was loaded from.
  place(bin_dir() + "/" + library_file("quireres-de"), kResourceName);
  testing::RunResult r = testing::run_program(
      probe_program(),
      {(fs::path(".") / "lib" / library_file("quire")).string(), "cd", scratch_.work().string(), "load", "strings"},
      scratch_.root().string());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = testing::output_lines(r.out);
  lines.resize(2);
  EXPECT_EQ(lines, (std::vector<std::string>{"load: translated", "string 1: Ja"}));
}

#ifndef _WIN32
TEST_F(ResourceLibraryTest, InstallTranslationScript) {
  using testing::shell_quote;
  std::string script = std::string(QUIRE_SOURCE_DIR) + "/scripts/install-translation";
  testing::RunResult r = testing::run_shell(shell_quote(script) + " de " + shell_quote(bin_dir()) + " " +
                                            shell_quote(module_dir().string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(probe({"load", "strings"}).at(1), "string 1: Ja");

  r = testing::run_shell(shell_quote(script) + " --remove " + shell_quote(module_dir().string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(probe({"load"}).at(0), "load: own");

  // A language that was not built, and a directory without libquire.so.
  r = testing::run_shell(shell_quote(script) + " xx " + shell_quote(bin_dir()) + " " +
                         shell_quote(module_dir().string()));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("libquireres-xx.so"), std::string::npos) << r.err;
  r = testing::run_shell(shell_quote(script) + " de " + shell_quote(bin_dir()) + " " +
                         shell_quote(scratch_.work().string()));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("libquire.so"), std::string::npos) << r.err;
}
#endif

}  // namespace
}  // namespace quire
