// Single-bit flips spread over a generated area's file: a report that exits
// 0 on a flipped file has every row of the clean table (a flip may change a
// value, which no reader can tell, but never drop rows), and every flip
// SQLite's integrity check reports is reported by `quire area check`.
#include <cstdio>

#include "store_damage_support.h"

namespace quire::testing {
namespace {

// The kinds whose rows come from the lists a flip most often cuts short.
const char* const kKinds[] = {"mkpc", "model", "ordml"};

size_t line_count(const std::string& table) {
  size_t n = 0;
  for (char c : table) n += c == '\n';
  return n;
}

TEST(BitFlips, NoReportLosesRowsAndTheCheckSeesWhatSqliteSees) {
  TempStore store;
  RunResult g = run_quire({"area", "generate", "DMG", "--markers", "30", "--models", "8", "--orders", "8"});
  ASSERT_EQ(g.status, 0) << g.err;
  const fs::path area = store.store() / "dmg.sqlite";
  const std::string clean_file = read_file(area);
  std::vector<std::string> clean(std::size(kKinds));
  for (size_t k = 0; k < std::size(kKinds); ++k) {
    RunResult r = run_report(store, kKinds[k], "DMG", &clean[k]);
    ASSERT_EQ(r.status, 0) << kKinds[k] << ": " << r.err;
  }

  constexpr size_t kFlips = 300;
  int reported = 0, failed_runs = 0;
  for (size_t i = 0; i < kFlips; ++i) {
    // Offsets that visit every page, in no simple order.
    const size_t offset = (i * 102947) % clean_file.size();
    std::string damaged = clean_file;
    damaged[offset] = static_cast<char>(damaged[offset] ^ (1 << (i % 8)));
    replace_area_file(area, damaged);
    SCOPED_TRACE("byte " + std::to_string(offset) + ", bit " + std::to_string(i % 8));
    for (size_t k = 0; k < std::size(kKinds); ++k) {
      std::string table;
      RunResult r = run_report(store, kKinds[k], "DMG", &table);
      if (r.status == 0) {
        EXPECT_EQ(line_count(table), line_count(clean[k])) << kKinds[k] << ": exit 0 with rows missing or extra";
      } else {
        ++failed_runs;
        EXPECT_TRUE(r.status == 1 || r.status == 3) << kKinds[k] << ": exit " << r.status << "\n" << r.err;
      }
    }
    const std::string said = integrity_of(area);
    if (said != "ok") {
      ++reported;
      RunResult check = run_quire({"area", "check", "DMG"});
      EXPECT_EQ(check.status, 1) << said << "\n" << check.out << check.err;
    }
  }
  EXPECT_GT(reported, 0) << "no flip was reported by SQLite";
  std::printf("%zu flips: %d reported by SQLite, %d failed report runs\n", kFlips, reported, failed_runs);
}

}  // namespace
}  // namespace quire::testing
