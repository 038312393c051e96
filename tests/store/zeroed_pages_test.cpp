// A damaged area file never shortens a table silently: each page of a
// generated area's file is zeroed in turn and every report kind is run on
// it. A run that exits 0 must have written the table of the undamaged area,
// byte for byte; any other run must end with exit status 1 (the run failed)
// or 3 (the table is incomplete), never pass for a complete one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {
namespace {

const char* const kKinds[] = {"mkhdr", "mkpc", "mkov", "mksplice", "mkmc", "mkmod", "model", "ordml"};

// The page size an SQLite file's header gives (bytes 16-17, big-endian; 1
// stands for 65536), or 0 when the file is too short to hold a header.
size_t page_size_of(const std::string& file) {
  if (file.size() < 100) return 0;
  size_t n = (static_cast<size_t>(static_cast<unsigned char>(file[16])) << 8) |
             static_cast<unsigned char>(file[17]);
  return n == 1 ? 65536 : n;
}

class ZeroedPages : public ::testing::Test {
 protected:
  // Runs kind on the area into a fresh output (no previous table to reuse)
  // and returns the run with the table's bytes in *table.
  RunResult run_kind(const char* kind, std::string* table) {
    const fs::path out = store_.work() / (std::string(kind) + ".csv");
    std::error_code ec;
    fs::remove(out, ec);
    fs::remove(store_.work() / "OLD.DAT", ec);
    RunResult r = run_quire({kind, "--detailed", "--no-progress", "--quiet", "DMG", out.string()});
    *table = read_file(out);
    return r;
  }

  // Puts bytes in place of the area file as a new file: the library reads
  // area files as files that are replaced whole.
  void replace_area_file(const std::string& bytes) {
    const fs::path next = store_.root() / "next.sqlite";
    write_file(next, bytes);
    fs::rename(next, area_file_);
  }

  TempStore store_;
  fs::path area_file_ = store_.store() / "dmg.sqlite";
};

TEST_F(ZeroedPages, EveryKindGivesTheCleanTableOrFails) {
  // Enough markers that the walk reads marker pieces ahead in a thread of
  // its own, few enough that the file has a few dozen pages.
  RunResult g = run_quire({"area", "generate", "DMG", "--markers", "30", "--models", "8", "--orders", "8"});
  ASSERT_EQ(g.status, 0) << g.err;
  const std::string clean_file = read_file(area_file_);
  const size_t page_size = page_size_of(clean_file);
  ASSERT_GT(page_size, 0u);
  ASSERT_EQ(clean_file.size() % page_size, 0u);
  const size_t pages = clean_file.size() / page_size;

  std::vector<std::string> clean(std::size(kKinds));
  for (size_t k = 0; k < std::size(kKinds); ++k) {
    RunResult r = run_kind(kKinds[k], &clean[k]);
    ASSERT_EQ(r.status, 0) << kKinds[k] << ": " << r.err;
    ASSERT_FALSE(clean[k].empty()) << kKinds[k];
  }

  auto start = std::chrono::steady_clock::now();
  int complete = 0, failed = 0;
  for (size_t page = 0; page < pages; ++page) {
    std::string damaged = clean_file;
    damaged.replace(page * page_size, page_size, page_size, '\0');
    replace_area_file(damaged);
    for (size_t k = 0; k < std::size(kKinds); ++k) {
      SCOPED_TRACE(std::string(kKinds[k]) + ", page " + std::to_string(page) + " of " +
                   std::to_string(pages) + " zeroed");
      std::string table;
      RunResult r = run_kind(kKinds[k], &table);
      if (r.status == 0) {
        ++complete;
        // Compared as a flag first: a differing table is long.
        EXPECT_TRUE(table == clean[k]) << "exit 0 with a table unlike the clean one (" << table.size()
                                       << " bytes, clean " << clean[k].size() << ")\n"
                                       << r.err;
      } else {
        ++failed;
        EXPECT_TRUE(r.status == 1 || r.status == 3) << "exit " << r.status << "\n" << r.err;
      }
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu pages x %zu kinds: %d complete, %d failed, %.1f s\n", pages, std::size(kKinds), complete,
              failed, seconds);
}

}  // namespace
}  // namespace quire::testing
