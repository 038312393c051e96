// The report library in a Windows host program (quire_host, host_program.cpp):
// loaded with LoadLibraryA, its command called with the host's window, the
// progress and stop messages through that window, the translated resource
// library beside quire.dll, and message boxes through the host's handler.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_test_util.h"

namespace quire::testing {
namespace {

// Number of markers `quire area generate --seed 1` makes.
constexpr int kMarkers = 50;

class HostProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetEnvironmentVariableA("QUIRE_STORE", (scratch_.root() / "store").string().c_str()));
    fs::create_directories(scratch_.root() / "store");
    RunResult r = run_program(bin_dir() + "/quire.exe", {"area", "generate", "HOST", "--seed", "1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  void TearDown() override { SetEnvironmentVariableA("QUIRE_STORE", nullptr); }

  // Runs the host from directory (bin_dir() by default) and returns its
  // output lines.
  std::vector<std::string> host(const std::vector<std::string>& args, const std::string& directory = bin_dir()) {
    RunResult r = run_program(directory + "/quire_host.exe", args);
    last_status_ = r.status;
    err_ = r.err;
    return output_lines(r.out);
  }

  // A directory with the host and the libraries, where resource libraries
  // can be placed beside quire.dll without touching the build's.
  std::string private_copy() {
    fs::path dir = scratch_.root() / "host";
    fs::create_directories(dir);
    for (const char* name : {"quire_host.exe", "quire.dll", "plotbase.dll", "quire_files.dll"})
      fs::copy_file(bin_dir() + "/" + name, dir / name);
    return dir.string();
  }

  TempStore scratch_;
  int last_status_ = -1;
  std::string err_;
};

TEST_F(HostProgram, FullRunThenStoppedRunKeepsTheRestOfThePreviousTable) {
  std::string output = scratch_.path("mkpc.csv");
  EXPECT_EQ(host({"dmp_mkpc", "HOST", output}),
            (std::vector<std::string>{"progress: " + std::to_string(kMarkers) + " " + std::to_string(kMarkers),
                                      "result: 1"}));
  EXPECT_EQ(last_status_, 0) << err_;
  std::string full = read_file(output);
  std::vector<std::string> lines = csv_lines(full);
  ASSERT_GT(lines.size(), 2u + kMarkers);
  EXPECT_EQ(lines[0].rfind("\"DB_VERSION_3\",\"METRIC\",\"MKPC\"", 0), 0u) << lines[0];

  // Stopped after 3 items: those are taken again, the rest of the previous
  // table follows them, so the table is whole.
  EXPECT_EQ(host({"dmp_mkpc", "HOST", output, "3"}),
            (std::vector<std::string>{"progress: 3 " + std::to_string(kMarkers), "result: 1"}));
  EXPECT_EQ(read_file(output), full);

  // Without a previous table a stopped run holds the rows of the items it
  // reached: those of the first two markers of the full table.
  std::string fresh = scratch_.path("fresh.csv");
  EXPECT_EQ(host({"dmp_mkpc", "HOST", fresh, "2"}).back(), "result: 1");
  std::vector<std::string> expected(lines.begin(), lines.begin() + 2);
  std::vector<std::string> seen_markers;
  for (size_t i = 2; i < lines.size(); ++i) {
    std::string marker = lines[i].substr(0, lines[i].find(','));
    if (seen_markers.empty() || seen_markers.back() != marker) seen_markers.push_back(marker);
    if (seen_markers.size() > 2) break;
    expected.push_back(lines[i]);
  }
  EXPECT_EQ(csv_lines(read_file(fresh)), expected);
}

TEST_F(HostProgram, TranslatedWordsAfterTheVersionCheck) {
  std::string dir = private_copy();
  std::string output = scratch_.path("mkmod.csv");
  fs::copy_file(bin_dir() + "/quireres-de.dll", fs::path(dir) / "quireres.dll");
  std::vector<std::string> out = host({"dmp_mkmod", "HOST", output, "0", "1"}, dir);
  EXPECT_EQ(out.back(), "result: 1");
  EXPECT_EQ(out.front().rfind("box:", 0), std::string::npos) << out.front();
  std::string table = read_file(output);
  EXPECT_NE(table.find("\"Nein\""), std::string::npos);
  EXPECT_EQ(table.find("\"No\""), std::string::npos);

  // A resource library of another version: the host's handler gets the
  // message and the words are the library's own.
  fs::remove(fs::path(dir) / "quireres.dll");
  fs::copy_file(fixture("fixture-tweak.dll"), fs::path(dir) / "quireres.dll");
  // A new table: at the same path every unchanged marker would be reused.
  output = scratch_.path("mkmod-untranslated.csv");
  out = host({"dmp_mkmod", "HOST", output, "0", "1"}, dir);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(),
            "box: Error loading resource DLL! (quireres.dll)  Incompatable version.\\n"
            "Untranslated resources will be used.");
  EXPECT_EQ(out.back(), "result: 1");
  table = read_file(output);
  EXPECT_NE(table.find("\"No\""), std::string::npos);
  EXPECT_EQ(table.find("\"Nein\""), std::string::npos);
}

}  // namespace
}  // namespace quire::testing
