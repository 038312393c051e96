// Every file call of a run, made to fail in turn: for a first run, an
// unchanged and a changed rerun, in both layouts, with a change log, the Nth
// call fails with ENOSPC or EIO for every N until the run no longer reaches
// N. A long first run writes its table in the background over several
// buffers and moves its change lines out of memory on the way. A run that fails says so in one line naming the reason and leaves the
// output path, OLD.DAT, delta.lst and the change feed byte for byte as they
// were, and no temporary file; the next run without faults gives a clean
// run's table and logs and feeds each change once. The run record beside
// the table is always the one of the table at the path, or absent.
#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <optional>
#include <regex>
#include <tuple>

#include "support/faulty_file_env.h"
#include "table/change_feed.h"
#include "table_test_util.h"

namespace quire::testing {
namespace {

// kReadChangedRerun: a changed rerun on a system that cannot map the
// previous table, which is then read instead. kUnlinkedChangedRerun: a
// changed rerun over a table and an OLD.DAT on a file system without hard
// links, where the old table is renamed aside rather than given a second
// name. kChangeAfterUnchanged:
// a changed rerun after an unchanged one, which left OLD.DAT a second name
// of the table at the path.
enum Scenario {
  kFirstRun,
  kUnchangedRerun,
  kChangedRerun,
  kReadChangedRerun,
  kLongFirstRun,
  kUnlinkedChangedRerun,
  kChangeAfterUnchanged,
};

// Enough rows for more than one buffer of table, so that later writes fail
// too, not only the first.
std::vector<TestItem> items(bool changed) {
  std::vector<TestItem> list;
  for (int i = 0; i < 30; ++i) {
    if (changed && i == 7) continue;  // deleted
    std::string name = "M" + std::to_string(100 + i);
    list.push_back({name, changed && i == 3 ? "b1" : "a1", 120});
    if (changed && i == 20) list.push_back({name + "A", "a1", 2});  // new
  }
  return list;
}

// 17,000 one-row items: a table of several buffers and more NEW lines than
// the change log keeps in memory.
std::vector<TestItem> long_items() {
  std::vector<TestItem> list;
  for (int i = 0; i < 17000; ++i) list.push_back({"M" + std::to_string(100000 + i), "a1", 1});
  return list;
}

// The files of a work directory that a run may touch.
struct State {
  std::optional<std::string> table, old_table, record;
  std::string log;
  std::string feed;  // without the runs' times and output paths, which differ between runs
  bool old_table_is_table = false;  // OLD.DAT is a second name of the table
};

const char kFeedName[] = "feed.jsonl";

std::string without_run_times(const std::string& feed) {
  static const std::regex kOfTheRun("\"(run|output)\":\"[^\"]*\"");
  return std::regex_replace(feed, kOfTheRun, "\"$1\":\"\"");
}

// Every run of the test appends to the change feed in its store.
class FeedOfTheTest {
 public:
  explicit FeedOfTheTest(const std::string& path) { table::set_change_feed_path(path); }
  ~FeedOfTheTest() { table::set_change_feed_path(""); }
};

// A table without the date of its writing (a dBASE header's bytes 1 to 3),
// which changes when a long loop runs past midnight.
std::string undated(const std::string& name, std::string table) {
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".dbf") == 0 && table.size() >= 4)
    table.replace(1, 3, 3, '\0');
  return table;
}

std::optional<std::string> file_if_any(const fs::path& p) {
  if (!fs::exists(p)) return std::nullopt;
  return read_file(p);
}

State state_of(const TempStore& store, const std::string& name) {
  std::error_code ignored;
  return {file_if_any(store.path(name)), file_if_any(store.path("OLD.DAT")),
          file_if_any(table::run_record_path(store.path(name))), read_file(store.path("delta.lst")),
          without_run_times(read_file(store.path(kFeedName))),
          fs::equivalent(store.path(name), store.path("OLD.DAT"), ignored)};
}

void restore(const TempStore& store, const std::string& name, const State& s) {
  if (s.table) write_file(store.path(name), *s.table);
  if (s.old_table_is_table) fs::create_hard_link(store.path(name), store.path("OLD.DAT"));
  else if (s.old_table) write_file(store.path("OLD.DAT"), *s.old_table);
  if (s.record) write_file(table::run_record_path(store.path(name)), *s.record);
  write_file(store.path("delta.lst"), s.log);
  write_file(store.path(kFeedName), s.feed);
}

// Whether a failed file call of each kind must fail the run or may be
// got over. A call that must fail the run makes it return 0 with one line
// naming the error, leaving the table, OLD.DAT and delta.lst as they were
// and no temporary file; one that may be got over either does that too or
// gives a clean run's table.
//   kOpen:  a previous table that cannot be opened is none (every item is
//           read from the store); a change log that cannot be opened is
//           reported and the run goes on unlogged; the directory opened to
//           sync it after the rename counts as that sync.
//   kLink:  without a second name for the old table it is renamed to
//           OLD.DAT instead.
//   kMap:   a previous table that cannot be mapped is read instead.
//   kRead:  a comparison of the new table with the one at the path that
//           cannot read the old one takes them as different, and the new
//           table is written out whole (a previous record that cannot be
//           read fails the run).
//   kRemove: the run's own temporary file that cannot be removed once the
//           table stands (an unchanged rerun) stays until the next run
//           removes it (a removal of OLD.DAT that fails fails the run).
//   kSyncDirectory: after the rename the table is written; the run says so
//           ("is written, but ...") and fails.
//   kCreate: the scratch file that change lines beyond the memory limit
//           move to cannot be created: they stay in memory (on Linux it is
//           made by an open of an unnamed file, on Windows by a creation).
//           The table's own temporary file that cannot be created fails the
//           run.
// Got over, the run leaves the table and OLD.DAT of a clean run and logs
// its changes as a clean run does (but for kOpen: with no previous table
// every item is NEW, with no log none is logged). Every write, sync,
// rename, lock, truncation or change of mode that fails fails the run.
bool may_be_got_over(platform::FileCall kind) {
  using platform::FileCall;
  switch (kind) {
    case FileCall::kOpen:
    case FileCall::kLink:
    case FileCall::kMap:
    case FileCall::kSyncDirectory:
    case FileCall::kRead:
    case FileCall::kRemove:
    case FileCall::kCreate:
      return true;
    case FileCall::kWrite:
    case FileCall::kSync:
    case FileCall::kRename:
    case FileCall::kLock:
    case FileCall::kTruncate:
    case FileCall::kChangeMode:
      return false;
  }
  return false;
}

const char* call_name(platform::FileCall kind) {
  static const char* kNames[] = {"create", "open", "read", "write", "sync", "sync directory", "rename",
                                 "link", "remove", "lock", "truncate", "change mode", "map"};
  return kNames[static_cast<int>(kind)];
}

class TableFaultLoop : public ::testing::TestWithParam<std::tuple<const char*, Scenario, int>> {};

TEST_P(TableFaultLoop, EveryFailedCallLeavesEverythingAsItWas) {
  const std::string name = std::get<0>(GetParam());
  const Scenario scenario = std::get<1>(GetParam());
  const int error = std::get<2>(GetParam());
  const bool changed = scenario == kChangedRerun || scenario == kReadChangedRerun ||
                       scenario == kUnlinkedChangedRerun || scenario == kChangeAfterUnchanged;
  const std::vector<TestItem> run_items = scenario == kLongFirstRun ? long_items() : items(changed);

  // The state before the run, and what a clean run makes of it.
  State before;
  State clean;
  {
    TempStore store;
    FeedOfTheTest feed(store.path(kFeedName));
    write_file(store.path("delta.lst"), "earlier\r\n");
    write_file(store.path(kFeedName), "{}\n");
    // An OLD.DAT of its own for the run without hard links to keep.
    if (scenario == kUnlinkedChangedRerun) run_table(store.path(name), items(true));
    if (scenario != kFirstRun && scenario != kLongFirstRun) run_table(store.path(name), items(false));
    if (scenario == kChangeAfterUnchanged) run_table(store.path(name), items(false));
    before = state_of(store, name);
    run_table(store.path(name), run_items);
    clean = state_of(store, name);
  }
  ASSERT_TRUE(clean.table);
  const std::string clean_block = clean.log.substr(before.log.size());
  const std::string clean_feed_block = clean.feed.substr(before.feed.size());

  for (int n = 1;; ++n) {
    SCOPED_TRACE("call " + std::to_string(n));
    TempStore store;
    FeedOfTheTest feed(store.path(kFeedName));
    restore(store, name, before);
    PrintCapture print;
    int result = -1;
    bool tripped;
    bool failed_remove;
    platform::FileCall kind = platform::FileCall::kOpen;
    {
      FaultyFileEnv env;
      env.fail_at(std::nullopt, n, error);
      if (scenario == kReadChangedRerun) env.refuse_maps();
      if (scenario == kUnlinkedChangedRerun) env.refuse_links();
      RunOptions options;
      options.expect_close = false;
      options.result = &result;
      options.env = &env;
      run_table(store.path(name), run_items, options);
      tripped = env.tripped();
      failed_remove = tripped && env.tripped_kind() == platform::FileCall::kRemove;
      kind = env.tripped_kind();
    }
    State after = state_of(store, name);
    if (!tripped) {
      // The run made fewer than n calls: every call has failed once.
      EXPECT_EQ(1, result);
      EXPECT_GT(n, 10);
      break;
    }
    const std::string& message = print.text();
    const bool written_unsynced = message.find("is written, but") != std::string::npos;
    SCOPED_TRACE(std::string("failed call: ") + call_name(kind));
    if (result == 1 || written_unsynced) {
      // The failure was got over: a clean table, and only where that may be.
      EXPECT_TRUE(may_be_got_over(kind)) << message;
      EXPECT_EQ(undated(name, *clean.table), undated(name, *after.table));
      EXPECT_TRUE(clean.old_table == after.old_table);
      // The run record describes the table at the path, or there is none.
      EXPECT_TRUE(!after.record || after.record == clean.record);
      if (kind == platform::FileCall::kOpen) {
        // With no previous table every item is logged NEW; with no log
        // nothing is.
        EXPECT_EQ(0u, after.log.rfind(before.log, 0));
        EXPECT_EQ(0u, after.feed.rfind(before.feed, 0));
      } else {
        EXPECT_EQ(before.log + clean_block, after.log);
        EXPECT_EQ(before.feed + clean_feed_block, after.feed);
      }
    } else {
      EXPECT_EQ(1, std::count(message.begin(), message.end(), '\n')) << message;
      EXPECT_NE(std::string::npos, message.find(std::strerror(error))) << message;
      EXPECT_TRUE(before.table == after.table);
      EXPECT_TRUE(before.old_table == after.old_table);
      EXPECT_TRUE(!after.record || after.record == before.record);
      EXPECT_EQ(before.log, after.log);
      EXPECT_EQ(before.feed, after.feed);
    }
    // A temporary file whose removal failed stays until the next run.
    if (!failed_remove) {
      EXPECT_TRUE(files_with_prefix(store.work(), ".quire-").empty());
    }

    // The next run without faults.
    const std::string log_before_rerun = read_file(store.path("delta.lst"));
    run_table(store.path(name), run_items);
    EXPECT_EQ(undated(name, *clean.table), undated(name, read_file(store.path(name))));
    EXPECT_TRUE(files_with_prefix(store.work(), ".quire-").empty());
    if (result == 0 && !written_unsynced) {
      EXPECT_EQ(before.log + clean_block, read_file(store.path("delta.lst")));
      EXPECT_EQ(before.feed + clean_feed_block, without_run_times(read_file(store.path(kFeedName))));
    }
    if (::testing::Test::HasFailure()) break;
  }
}

std::string case_name(const ::testing::TestParamInfo<TableFaultLoop::ParamType>& info) {
  static const char* kScenarios[] = {"FirstRun",     "UnchangedRerun",       "ChangedRerun",
                                     "ReadChangedRerun", "LongFirstRun", "UnlinkedChangedRerun",
                                     "ChangeAfterUnchanged"};
  const std::string file = std::get<0>(info.param);
  return std::string(file == "out.csv" ? "Csv" : "Dbase") + kScenarios[std::get<1>(info.param)] +
         (std::get<2>(info.param) == ENOSPC ? "Enospc" : "Eio");
}

INSTANTIATE_TEST_SUITE_P(Runs, TableFaultLoop,
                         ::testing::Combine(::testing::Values("out.csv", "out.dbf"),
                                            ::testing::Values(kFirstRun, kUnchangedRerun, kChangedRerun, kReadChangedRerun),
                                            ::testing::Values(ENOSPC, EIO)),
                         case_name);
// One error number is enough to walk the long run's calls.
INSTANTIATE_TEST_SUITE_P(LongRuns, TableFaultLoop,
                         ::testing::Combine(::testing::Values("out.csv", "out.dbf"), ::testing::Values(kLongFirstRun),
                                            ::testing::Values(ENOSPC)),
                         case_name);
// The ways the old table is kept while the new one takes the path: renamed
// aside without hard links, and held under a second name while OLD.DAT
// already is one. A failure on the way puts both names back.
INSTANTIATE_TEST_SUITE_P(OldTableKept, TableFaultLoop,
                         ::testing::Combine(::testing::Values("out.csv", "out.dbf"),
                                            ::testing::Values(kUnlinkedChangedRerun, kChangeAfterUnchanged),
                                            ::testing::Values(ENOSPC)),
                         case_name);

// A table makes its file calls through the FileEnv it was given, and only
// that table does: a failing one fails its run, and a table made without it
// (the module's, over the system's calls) never reaches it.
TEST(TableFileEnv, OnlyTheTableGivenAFileEnvCallsThroughIt) {
  TempStore store;
  FaultyFileEnv env;
  env.fail_at(platform::FileCall::kRename, 1, EIO);
  int result = -1;
  RunOptions options;
  options.expect_close = false;
  options.result = &result;
  options.env = &env;
  run_table(store.path("a.csv"), items(false), options);
  EXPECT_TRUE(env.tripped());
  EXPECT_EQ(0, result);
  EXPECT_FALSE(fs::exists(store.path("a.csv")));
  const int calls = env.calls();
  run_table(store.path("b.csv"), items(false));
  EXPECT_EQ(calls, env.calls());
  EXPECT_TRUE(fs::exists(store.path("b.csv")));
}

// The new table is on the disk before it takes the path, and so are the
// blocks of delta.lst and the change feed that log its changes: a run cut
// off anywhere never leaves a table at the path whose data or change lines
// are lost. (The fault loop sees which calls fail, never their order.)
TEST(TableSyncOrder, TableAndItsChangeLinesAreSyncedBeforeTheTableTakesThePath) {
  for (const char* name : {"out.csv", "out.dbf"}) {
    SCOPED_TRACE(name);
    TempStore store;
    FeedOfTheTest feed(store.path(kFeedName));
    write_file(store.path("delta.lst"), "");
    const std::string table = store.path(name);
    run_table(table, items(false));
    FaultyFileEnv env;
    env.record_order();
    run_table(table, items(true), {.env = &env});
    const std::vector<std::string>& order = env.order();
    auto first = [&](auto matches) {
      return std::find_if(order.begin(), order.end(), matches) - order.begin();
    };
    auto ends_with = [](const std::string& text, const std::string& end) {
      return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    const auto put = first([&](const std::string& e) { return e.rfind("rename ", 0) == 0 && ends_with(e, " " + table); });
    ASSERT_LT(put, static_cast<long>(order.size())) << "no rename to the table";
    const std::string temporary = order[put].substr(7, order[put].size() - 8 - table.size());
    EXPECT_LT(first([&](const std::string& e) { return e == "sync " + temporary; }), put) << temporary;
    EXPECT_LT(first([&](const std::string& e) { return e.rfind("sync ", 0) == 0 && ends_with(e, "delta.lst"); }), put);
    EXPECT_LT(first([&](const std::string& e) { return e.rfind("sync ", 0) == 0 && ends_with(e, kFeedName); }), put);
  }
}

// Another user who plants a symbolic link at the name the run is about to
// give its new table gets the link left alone and the target untouched.
// POSIX only: planting links on Windows takes a privilege.
#ifndef _WIN32
TEST(TableLinks, LinkPlantedAtTheNewTablesNameIsNeverWrittenThrough) {
  TempStore store;
  const std::string victim = store.root().string() + "/victim";
  write_file(victim, "someone else's file");
  run_table(store.path("out.csv"), items(false));
  const std::string first = read_file(store.path("out.csv"));
  int planted;
  {
    FaultyFileEnv env;
    env.plant_links(victim, 3);
    run_table(store.path("out.csv"), items(true), {.env = &env});
    planted = env.planted();
  }
  EXPECT_EQ(3, planted);
  EXPECT_EQ("someone else's file", read_file(victim));
  EXPECT_NE(first, read_file(store.path("out.csv")));
  EXPECT_EQ(first, read_file(store.path("OLD.DAT")));
}
#endif  // _WIN32

}  // namespace
}  // namespace quire::testing
