// `quire area info` and `quire area rm`: the fields info gives and their
// order, the refusals of rm (missing area, no --yes, a name that is a path,
// a journal beside the file), a link at the area's name removed without its
// target, and a report that has the area open while it is removed.
#include <filesystem>
#include <string>
#include <vector>

#include "area_info.h"
#include "store/plotbase_test_support.h"
#include "quire/quire.h"

namespace plotbase_test {
namespace {

namespace fs = std::filesystem;
using quire::testing::output_lines;
using quire::testing::read_file;
using quire::testing::run_quire;
using quire::testing::TempStore;
using quire::testing::write_file;

// The sample area with known modification stamps: the oldest on a model,
// the newest on an order, and markers without one (-1), which must not
// count as the oldest.
json stamped_area() {
  json area = sample_area();
  for (json& m : area["markers"]) m["modified"] = -1;
  area["markers"][1]["modified"] = 1151366400;  // 2006-06-27
  area["models"][0]["modified"] = 86400 * 365;  // 1971-01-01
  area["models"][1]["modified"] = -1;
  area["orders"][0]["modified"] = 1700000000;   // 2023-11-14T22:13:20Z
  area["orders"][1]["modified"] = -1;
  return area;
}

TEST(AreaInfo, StampsAreUtcDatesAlsoBefore1970) {
  EXPECT_EQ(quire::areas::stamp_text(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(quire::areas::stamp_text(1700000000), "2023-11-14T22:13:20Z");
  EXPECT_EQ(quire::areas::stamp_text(-5), "1969-12-31T23:59:55Z");
  EXPECT_EQ(quire::areas::stamp_text(951782400), "2000-02-29T00:00:00Z");
}

TEST(AreaInfo, OneFieldALineInAFixedOrder) {
  TempStore store;
  import_ok(stamped_area());
  auto r = run_quire({"area", "info", "sample"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string path = quire::areas::area_path("Sample");
  EXPECT_EQ(output_lines(r.out), (std::vector<std::string>{
                                     "name: Sample",
                                     "markers: 7",
                                     "models: 2",
                                     "orders: 2",
                                     "pieces: 4",
                                     "oldest_modified: 1971-01-01T00:00:00Z",
                                     "newest_modified: 2023-11-14T22:13:20Z",
                                     "file: " + path,
                                     "size: " + std::to_string(fs::file_size(path)),
                                     "engine: SQLite",
                                 }));
  EXPECT_EQ(r.err, "");
}

TEST(AreaInfo, AreaWithoutStampsSaysNoneAndAMissingAreaIsOneLine) {
  TempStore store;
  quire::areas::GenerateOptions empty;
  empty.name = "EMPTY";
  empty.markers = empty.models = empty.orders = 0;
  ASSERT_TRUE(quire::areas::generate_area(empty).ok());
  auto r = run_quire({"area", "info", "EMPTY"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("oldest_modified: none\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("newest_modified: none\n"), std::string::npos) << r.out;

  r = run_quire({"area", "info", "NOPE"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(output_lines(r.err),
            std::vector<std::string>{"quire area info: no area called NOPE in " + store.store().string()});
}

TEST(AreaInfo, DamagedAreaFileIsNamed) {
  TempStore store;
  write_file(quire::areas::area_path("BROKEN"), std::string(4096, 'x'));
  auto r = run_quire({"area", "info", "BROKEN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(quire::areas::area_path("BROKEN")), std::string::npos) << r.err;
}

// The store's files, to show that a refused removal changed nothing.
class AreaRm : public ::testing::Test {
 protected:
  void SetUp() override {
    quire::areas::GenerateOptions o;
    o.name = "DEMO";
    ASSERT_TRUE(quire::areas::generate_area(o).ok());
    before_ = snapshot(store_.store());
  }
  void expect_store_unchanged() { EXPECT_EQ(snapshot(store_.store()), before_); }

  TempStore store_;
  std::map<std::string, std::string> before_;
  const std::string path_ = quire::areas::area_path("DEMO");
};

TEST_F(AreaRm, RemovesTheAreaAndNothingElse) {
  auto r = run_quire({"area", "rm", "demo", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(output_lines(r.out), std::vector<std::string>{"removed area demo (" + path_ + ")"});
  EXPECT_TRUE(snapshot(store_.store()).empty());  // no temporary name left behind
  r = run_quire({"area", "list"});
  EXPECT_EQ(r.out, "");
  r = run_quire({"area", "rm", "DEMO", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(output_lines(r.err),
            std::vector<std::string>{"quire area rm: no area called DEMO in " + store_.store().string()});
}

TEST_F(AreaRm, WithoutYesSaysWhatItWouldRemoveAndKeepsIt) {
  auto r = run_quire({"area", "rm", "DEMO"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(output_lines(r.err),
            std::vector<std::string>{"quire area rm: would remove area DEMO: 50 markers, 20 models, 141 pieces, "
                                     "20 orders (" +
                                     path_ + "); run again with --yes to remove it"});
  expect_store_unchanged();
  // A missing area is that, with or without --yes.
  r = run_quire({"area", "rm", "OTHER"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no area called OTHER"), std::string::npos) << r.err;
}

TEST_F(AreaRm, NamesThatArePathsAreRefused) {
  // Files a path-like name could reach, were it taken as a path.
  write_file((store_.store() / "x.sqlite").string(), "keep");
  write_file((store_.root() / "x.sqlite").string(), "keep");
  before_ = snapshot(store_.store());
  for (const char* name : {"../x", "..", ".", "a/b", "sub\\x", "../store/demo"}) {
    SCOPED_TRACE(name);
    auto r = run_quire({"area", "rm", name, "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(output_lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("is not an area name"), std::string::npos) << r.err;
    quire::areas::RemoveRefusal why;
    std::string removed;
    EXPECT_FALSE(quire::areas::remove_area(name, &removed, &why).ok());
    EXPECT_EQ(why, quire::areas::RemoveRefusal::kBadName);
  }
  expect_store_unchanged();
  EXPECT_EQ(read_file(store_.root() / "x.sqlite"), "keep");
}

TEST_F(AreaRm, AJournalBesideTheFileStopsTheRemoval) {
  for (const char* suffix : {"-journal", "-wal"}) {
    SCOPED_TRACE(suffix);
    write_file(path_ + suffix, "pages of a writer");
    auto r = run_quire({"area", "rm", "DEMO", "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(path_ + suffix + " exists"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(path_), before_.at(fs::path(path_).filename().string()));
    fs::remove(path_ + suffix);
  }
  expect_store_unchanged();
}

#ifndef _WIN32
TEST_F(AreaRm, ALinkAtTheAreasNameGoesItsTargetStays) {
  const fs::path target = store_.root() / "elsewhere.sqlite";
  fs::rename(path_, target);
  fs::create_symlink(target, path_);
  const std::string bytes = read_file(target);
  auto info = run_quire({"area", "info", "DEMO"});  // read through the link
  EXPECT_EQ(info.status, 0) << info.err;
  auto r = run_quire({"area", "rm", "DEMO", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  EXPECT_EQ(read_file(target), bytes);
  EXPECT_TRUE(snapshot(store_.store()).empty());
}

TEST_F(AreaRm, SomethingElseAtTheAreasNameIsLeftAlone) {
  fs::remove(path_);
  fs::create_directory(path_);
  auto r = run_quire({"area", "rm", "DEMO", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is not an area file"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_directory(path_));
}
#endif

// A report under a host window that removes its area once the first item
// is done, as another user's `quire area rm` would.
struct Remover {
  std::string area;
  bool tried = false;
  quire::Status status;
  quire::areas::RemoveRefusal refusal = quire::areas::RemoveRefusal::kNone;
};

intptr_t remove_on_first_progress(QuireWindow, unsigned int message, uintptr_t, intptr_t, void* context) {
  auto* r = static_cast<Remover*>(context);
  if (message == QUIRE_MSG_PROGRESS && !r->tried) {
    r->tried = true;
    std::string removed;
    r->status = quire::areas::remove_area(r->area, &removed, &r->refusal);
  }
  return 0;
}

int run_mkpc(const std::string& area, const std::string& output, QuireWindow window) {
  std::string command = "mkpc";
  std::vector<char*> argv{command.data(), const_cast<char*>(area.c_str()), const_cast<char*>(output.c_str()),
                          nullptr};
  return dmp_mkpc(3, argv.data(), window, 0);
}

TEST(AreaRmDuringAReport, TheReportFinishesOnWhatItOpened) {
  TempStore store;
  quire::areas::GenerateOptions o;
  o.name = "BUSY";
  o.markers = 300;  // enough pieces in a row for the library to read ahead
  ASSERT_TRUE(quire::areas::generate_area(o).ok());
  const std::string reference = store.path("reference.csv");
  ASSERT_EQ(run_mkpc("BUSY", reference, 0), 1);

  Remover remover;
  remover.area = "BUSY";
  QuireWindow window = quire_create_window(remove_on_first_progress, &remover);
  const std::string output = store.path("during.csv");
  const int result = run_mkpc("BUSY", output, window);
  quire_destroy_window(window);
  ASSERT_TRUE(remover.tried);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(read_file(output), read_file(reference));
#ifdef _WIN32
  // The report's open file does not let its name go: one line naming it.
  EXPECT_FALSE(remover.status.ok());
  EXPECT_EQ(remover.refusal, quire::areas::RemoveRefusal::kInUse);
  EXPECT_NE(remover.status.message().find(quire::areas::area_path("BUSY")), std::string::npos)
      << remover.status.message();
  EXPECT_TRUE(fs::exists(quire::areas::area_path("BUSY")));
#else
  EXPECT_TRUE(remover.status.ok()) << remover.status.message();
  EXPECT_FALSE(fs::exists(quire::areas::area_path("BUSY")));
  EXPECT_TRUE(snapshot(store.store()).empty());
#endif
}

}  // namespace
}  // namespace plotbase_test
