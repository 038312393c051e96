// Damage SQLite does not see by itself: lists that disagree with the lengths
// their items declare, items missing from the numbering, count lists that
// do not parse. A report counts such an item failed and names it (exit 3)
// instead of writing a shorter table as complete, and `quire area check`
// names every problem (exit 1). Each file is edited with SQLite on a copy
// of a generated area that then replaces it.
#include <regex>

#include "store_damage_support.h"

namespace quire::testing {
namespace {

class DeclaredCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult g = run_quire({"area", "generate", "DMG", "--markers", "30", "--models", "8", "--orders", "8"});
    ASSERT_EQ(g.status, 0) << g.err;
  }

  RunResult report(const std::string& kind) {
    std::string table;
    return run_report(store_, kind, "DMG", &table);
  }

  TempStore store_;
  fs::path area_ = store_.store() / "dmg.sqlite";
};

// One damage: the SQL that makes it, the report kind that reads the list,
// and what the report's stderr and the check's stdout must say (regular
// expressions, searched).
struct Damage {
  const char* sql;
  const char* kind;
  const char* report_says;
  const char* check_says;
};

const Damage kDamages[] = {
    {"UPDATE markers SET piece_count = 9 WHERE name = 'M000003'", "mkpc",
     "marker M000003: 8 pieces stored, 9 declared \\(the area file is damaged\\)",
     "DMG: marker M000003: 8 pieces stored, 9 declared"},
    // Past the first 64 pieces a walk reads pieces ahead in a thread of its own.
    {"DELETE FROM marker_pieces WHERE marker_id = 25 AND position = 7", "mkpc",
     "marker M000025: 7 pieces stored, 8 declared", "DMG: marker M000025: 7 pieces stored, 8 declared"},
    {"DELETE FROM marker_pieces WHERE marker_id = 3 AND position = 2", "mkpc",
     "marker M000003: 7 pieces stored, 8 declared", "DMG: marker M000003: 7 pieces stored, 8 declared"},
    {"INSERT INTO marker_pieces (marker_id, position, name, category, area, perimeter, size) "
     "SELECT marker_id, 8, name, category, area, perimeter, size FROM marker_pieces "
     "WHERE marker_id = 3 AND position = 0",
     "mkpc", "marker M000003: 9 pieces stored, 8 declared", "DMG: marker M000003: 9 pieces stored, 8 declared"},
    {"DELETE FROM overrides WHERE marker_id = 3 AND position = 1", "mkov",
     "marker M000003: override 1 of 3 declared is missing", "DMG: marker M000003: 2 overrides stored, 3 declared"},
    {"DELETE FROM model_pieces WHERE model_id = 1 AND option_group = 0 AND position = 0", "model",
     "model MOD0001: 2 base pieces stored, 3 declared", "DMG: model MOD0001: 2 base pieces stored, 3 declared"},
    {"UPDATE option_groups SET piece_count = 99 WHERE model_id = 1 AND position = 1", "model",
     "model MOD0001: 2 pieces in option group 2 stored, 99 declared",
     "DMG: model MOD0001: option group 2 \\(BELTED\\): 2 pieces stored, 99 declared"},
    {"DELETE FROM order_model_sizes WHERE owner = 'order' AND owner_id = 1 AND model_position = 2 AND position = 1",
     "ordml", "order ORD00001: model list: model 2, size entry 1 is missing",
     "DMG: order ORD00001: model 2 \\([^)]*\\) of its model list: 3 size entries stored, 4 declared"},
    {"DELETE FROM orders WHERE id = 5", "ordml",
     "the orders cannot be read in order: item 6 where item 5 of 8 belongs",
     "DMG: orders: 7 orders stored, numbered 1 to 8; the area declares 8"},
    {"UPDATE area SET markers = 31", "mkpc", "the markers cannot be read in order: the walk ends before item 31 of 31",
     "DMG: markers: 30 markers stored, numbered 1 to 30; the area declares 31"},
    {"UPDATE marker_analysis SET notch_counts = '[15,0' WHERE marker_id = 2", "mkmc",
     "marker M000002: a count list of its analysis is not a list of whole numbers",
     "DMG: marker M000002: notch counts: not a list of at most"},
};

TEST_F(DeclaredCounts, ACleanAreaChecksCleanAndEveryKindCompletes) {
  RunResult check = run_quire({"area", "check", "DMG"});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_EQ(output_lines(check.out),
            std::vector<std::string>{"DMG: 30 markers, 8 models, 48 pieces, 8 orders: no damage found"});
  for (const char* kind : {"mkhdr", "mkpc", "mkov", "mksplice", "mkmc", "mkmod", "model", "ordml"}) {
    RunResult r = report(kind);
    EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
    EXPECT_EQ(r.err.find("area DMG"), std::string::npos) << kind << ": " << r.err;
  }
}

TEST_F(DeclaredCounts, EachDisagreementFailsItsItemAndIsNamedByTheCheck) {
  const std::string clean = read_file(area_);
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.sql);
    replace_area_file(area_, clean);
    edit_area(area_, d.sql);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(integrity_of(area_), "ok") << "SQLite would see this damage by itself";

    RunResult r = report(d.kind);
    EXPECT_EQ(r.status, 3) << d.kind << ": " << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(std::string("quire ") + d.kind +
                                                    ": [^\n]*area DMG: [^\n]*dmg\\.sqlite: " + d.report_says)))
        << r.err;

    RunResult check = run_quire({"area", "check", "DMG"});
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    EXPECT_TRUE(std::regex_search(check.out, std::regex(d.check_says))) << check.out;
    const std::vector<std::string> lines = output_lines(check.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("DMG: damaged, [0-9]+ problems? found; import the area "
                                                          "again from its area file")))
        << lines.back();
  }
}

// A bit flip in a b-tree page that SQLite's integrity check reports: found
// by flipping one byte of each page's first cell pointer in turn.
TEST_F(DeclaredCounts, TheCheckReportsDamageSqliteFinds) {
  const std::string clean = read_file(area_);
  const size_t page_size = page_size_of(clean);
  ASSERT_GT(page_size, 0u);
  bool found = false;
  for (size_t page = 1; page < clean.size() / page_size && !found; ++page) {
    std::string damaged = clean;
    damaged[page * page_size + 9] ^= 0x10;  // the low byte of the first cell pointer
    replace_area_file(area_, damaged);
    const std::string said = integrity_of(area_);
    if (said == "ok") continue;
    found = true;
    SCOPED_TRACE("page " + std::to_string(page + 1) + ": " + said);
    RunResult check = run_quire({"area", "check", "DMG"});
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    const std::vector<std::string> lines = output_lines(check.out);
    ASSERT_GE(lines.size(), 2u) << check.out;
    // SQLite's first line, after the table or index it names.
    EXPECT_NE(check.out.find(said.substr(0, said.find('\n'))), std::string::npos) << check.out;
  }
  EXPECT_TRUE(found) << "no flipped cell pointer was reported by SQLite";
}

TEST_F(DeclaredCounts, TheCheckRefusesWhatIsNoArea) {
  RunResult missing = run_quire({"area", "check", "NOPE"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(std::regex_match(missing.err, std::regex("quire area check: no area NOPE \\([^\n]*nope\\.sqlite\\)\n")))
      << missing.err;
  write_file(store_.store() / "junk.sqlite", "this is not a database");
  RunResult junk = run_quire({"area", "check", "JUNK"});
  EXPECT_EQ(junk.status, 1);
  EXPECT_TRUE(std::regex_match(
      junk.err,
      std::regex("quire area check: [^\n]*junk\\.sqlite: not a readable area file: file is not a database\n")))
      << junk.err;
  EXPECT_EQ(run_quire({"area", "check"}).status, 2);
  EXPECT_EQ(run_quire({"area", "check", "DMG", "extra"}).status, 2);
}

}  // namespace
}  // namespace quire::testing
