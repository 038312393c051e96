// Finding, checking and loading the resource libraries beside the report
// library. Each case copies libquire.so into a directory of its own with the
// fixture libraries under the names the report library looks for, and runs
// the probe host, which loads that copy: the real search beside the module,
// with nothing set up for the test inside the library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource_test_util.h"

namespace quire {
namespace {

namespace fs = std::filesystem;
using testing::bin_dir;
using testing::fixture;
using testing::shell_quote;

const char kOtherVersionBox[] =
    "box: Error loading resource DLL! (libquireres.so)  Incompatable version.\\n"
    "Untranslated resources will be used.";
const std::vector<std::string> kOwnStrings = {
    "string 1: Yes",  "string 2: No",   "string 3: None",
    "string 4: Left", "string 5: Right",
    "string 6: Piece %s does not exist in Storage Area %s. It will be ommitted from the report."};

class ResourceLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(module_dir());
    for (const char* name : {"libquire.so", "libplotbase.so", "libquire_files.so"})
      fs::copy_file(bin_dir() + "/" + name, module_dir() / name);
  }

  fs::path module_dir() const { return scratch_.root() / "lib"; }

  // Puts a library beside the copy of the report library under name.
  void place(const std::string& from, const char* name) {
    fs::copy_file(from, module_dir() / name, fs::copy_options::overwrite_existing);
  }

  // Runs the probe on the copy (in the scratch work directory) and returns
  // its standard output lines.
  std::vector<std::string> probe(const std::string& steps) {
    testing::RunResult r = testing::run_shell(shell_quote(fixture("resource_probe")) + " " +
                                              shell_quote((module_dir() / "libquire.so").string()) + " " +
                                              steps);
    EXPECT_EQ(r.status, 0) << r.err;
    err_ = r.err;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < r.out.size()) {
      size_t end = r.out.find('\n', start);
      if (end == std::string::npos) end = r.out.size();
      lines.push_back(r.out.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  static std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  }

  testing::TempStore scratch_;
  std::string err_;
};

TEST_F(ResourceLibraryTest, NoneBesideTheModule) {
  EXPECT_EQ(probe("load strings glossary"),
            with(with({"load: own"}, kOwnStrings), {"glossary: not loaded"}));
  EXPECT_EQ(err_, "");
}

TEST_F(ResourceLibraryTest, MatchingTranslationIsUsed) {
  place(bin_dir() + "/libquireres-de.so", "libquireres.so");
  EXPECT_EQ(probe("load strings format"),
            (std::vector<std::string>{
                "load: translated", "string 1: Ja", "string 2: Nein", "string 3: Keine", "string 4: Links",
                "string 5: Rechts",
                "string 6: Teil %s existiert nicht im Speicherbereich %s. Es wird im Bericht ausgelassen.",
                "format: Teil %s existiert nicht im Speicherbereich %s. Es wird im Bericht ausgelassen."}));
}

TEST_F(ResourceLibraryTest, OtherVersionsAreRefused) {
  // Least significant word alone, most significant word alone, no record.
  for (const char* name : {"libfixture-tweak.so", "libfixture-minor.so", "libfixture-norecord.so"}) {
    place(fixture(name), "libquireres.so");
    EXPECT_EQ(probe("load strings"), with({kOtherVersionBox, "load: own"}, kOwnStrings)) << name;
  }
}

TEST_F(ResourceLibraryTest, LibraryThatFailsToLoad) {
  place(fixture("libfixture-unloadable.so"), "libquireres.so");
  EXPECT_EQ(probe("load strings"),
            with({"box: Error loading resource DLL! (libquireres.so)  Error Code 8.\\n"
                  "Untranslated resources will be used.",
                  "load: own"},
                 kOwnStrings));
  EXPECT_NE(err_.find("quire_fixture_symbol_nobody_defines"), std::string::npos) << err_;
}

TEST_F(ResourceLibraryTest, BadTranslatedFormatIsNotUsed) {
  place(fixture("libfixture-badformat.so"), "libquireres.so");
  EXPECT_EQ(probe("load format"),
            (std::vector<std::string>{"load: translated", "format: " + kOwnStrings[5].substr(10)}));
}

TEST_F(ResourceLibraryTest, SharedGlossaryLoadedOnceAcrossCommands) {
  // The glossary of another version stays loaded and is reported once; the
  // resource library is looked at again by every command.
  place(fixture("libfixture-tweak.so"), "libquireres.so");
  place(fixture("libfixture-glossary-other.so"), "libSharedGlossary.so");
  std::string module = (module_dir() / "libquire.so").string();
  EXPECT_EQ(probe("load load glossary"),
            (std::vector<std::string>{
                kOtherVersionBox,
                "box: Error loading resource DLL! (" + module + ") with (libSharedGlossary.so)  Incompatable version.",
                "load: own", kOtherVersionBox, "load: own", "glossary: loaded"}));

  place(fixture("libfixture-glossary-match.so"), "libSharedGlossary.so");
  place(bin_dir() + "/libquireres-de.so", "libquireres.so");
  EXPECT_EQ(probe("load load glossary"),
            (std::vector<std::string>{"load: translated", "load: translated", "glossary: loaded"}));
}

TEST_F(ResourceLibraryTest, GlossaryThatFailsIsTriedAgain) {
  place(fixture("libfixture-glossary-unloadable.so"), "libSharedGlossary.so");
  const std::string box =
      "box: Error loading resource DLL! (libSharedGlossary.so)  Error Code 8.\\n"
      "Untranslated resources will be used.";
  EXPECT_EQ(probe("load load glossary"),
            (std::vector<std::string>{box, "load: own", box, "load: own", "glossary: not loaded"}));
}

TEST_F(ResourceLibraryTest, CurrentDirectoryIsNotSearched) {
  fs::copy_file(bin_dir() + "/libquireres-de.so", scratch_.work() / "libquireres.so");
  fs::copy_file(fixture("libfixture-glossary-other.so"), scratch_.work() / "libSharedGlossary.so");
  EXPECT_EQ(probe("load strings glossary"),
            with(with({"load: own"}, kOwnStrings), {"glossary: not loaded"}));
}

TEST_F(ResourceLibraryTest, RelativeLoadThenChangedDirectory) {
  // The host loads the library by a relative path and then moves elsewhere:
  // the library's directory is still the one it was loaded from.
  place(bin_dir() + "/libquireres-de.so", "libquireres.so");
  testing::RunResult r = testing::run_shell("cd " + shell_quote(scratch_.root().string()) + " && " +
                                            shell_quote(fixture("resource_probe")) + " lib/libquire.so cd " +
                                            shell_quote(scratch_.work().string()) + " load strings");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("string 2")), "load: translated\nstring 1: Ja\n");
}

TEST_F(ResourceLibraryTest, InstallTranslationScript) {
  std::string script = std::string(QUIRE_SOURCE_DIR) + "/scripts/install-translation";
  testing::RunResult r = testing::run_shell(shell_quote(script) + " de " + shell_quote(bin_dir()) + " " +
                                            shell_quote(module_dir().string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(probe("load strings").at(1), "string 1: Ja");

  r = testing::run_shell(shell_quote(script) + " --remove " + shell_quote(module_dir().string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(probe("load").at(0), "load: own");

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

}  // namespace
}  // namespace quire
