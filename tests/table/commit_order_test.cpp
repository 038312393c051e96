// The order in which a run's files reach the disk and their names. Every
// file the run writes and then renames into place (the table, its run
// record) is synced after its last write and before its rename; the blocks
// of delta.lst and the change feed are synced before the table takes the
// path; the run record named after the table never describes another table
// (the old one leaves its name before the table is replaced, the new one
// comes after); the directory is synced after the last rename. A run cut
// off at any moment thereby leaves whole files under their names. The
// fault loop sees which calls fail, never their order: this test does.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/recording_file_env.h"
#include "table/change_feed.h"
#include "table_test_util.h"

namespace quire::testing {
namespace {

using Call = RecordingFileEnv::Call;

std::vector<TestItem> items(bool changed) {
  std::vector<TestItem> list;
  for (int i = 0; i < 12; ++i) {
    if (changed && i == 4) continue;
    list.push_back({"M" + std::to_string(100 + i), changed && i == 2 ? "b1" : "a1", 3});
  }
  return list;
}

// The position of the first call at or after from that matches, or the
// number of calls when none does.
template <typename Matches>
size_t find_call(const std::vector<Call>& calls, Matches matches, size_t from = 0) {
  for (size_t i = from; i < calls.size(); ++i)
    if (matches(calls[i])) return i;
  return calls.size();
}

// The position of the last call before end that matches, or end when none.
template <typename Matches>
size_t find_last_call(const std::vector<Call>& calls, Matches matches, size_t end) {
  for (size_t i = end; i-- > 0;)
    if (matches(calls[i])) return i;
  return end;
}

std::string describe(const std::vector<Call>& calls) {
  static const char* kNames[] = {"create", "write", "sync", "sync directory", "rename", "link", "remove", "truncate"};
  std::string text;
  for (const Call& call : calls) {
    text += std::string(kNames[call.kind]) + " " + call.path;
    if (!call.to.empty()) text += " -> " + call.to;
    text += "\n";
  }
  return text;
}

// The file at path (as the calls name it) was synced after its last write
// before position end, with a write before it.
bool synced_after_last_write(const std::vector<Call>& calls, const std::string& path, size_t end) {
  const size_t write = find_last_call(
      calls, [&](const Call& c) { return c.kind == RecordingFileEnv::kWrite && c.path == path; }, end);
  if (write == end) return true;  // nothing written: nothing to sync
  const size_t sync = find_call(
      calls, [&](const Call& c) { return c.kind == RecordingFileEnv::kSync && c.path == path; }, write);
  return sync < end;
}

void check_order(const std::vector<Call>& calls, const std::string& table, const std::string& feed) {
  SCOPED_TRACE(describe(calls));
  using R = RecordingFileEnv;
  const std::string record = table::run_record_path(table);
  const size_t put = find_call(calls, [&](const Call& c) { return c.kind == R::kRename && c.to == table; });
  ASSERT_LT(put, calls.size()) << "no rename onto the table";

  // Every file created by the run and renamed is on the disk first.
  std::set<std::string> created;
  for (size_t i = 0; i < calls.size(); ++i) {
    const Call& c = calls[i];
    if (c.kind == R::kCreate) created.insert(c.path);
    if (c.kind == R::kRename && created.count(c.path)) {
      EXPECT_TRUE(synced_after_last_write(calls, c.path, i)) << "renamed unsynced: " << c.path << " -> " << c.to;
    }
  }
  // The change lines before the table.
  for (const std::string& log : {std::string("delta.lst"), feed}) {
    EXPECT_LT(find_call(calls, [&](const Call& c) { return c.kind == R::kWrite && c.path == log; }), put) << log;
    EXPECT_TRUE(synced_after_last_write(calls, log, put)) << log;
  }
  // The record at its name belongs to the table at the path.
  const size_t old_record_aside =
      find_call(calls, [&](const Call& c) { return c.kind == R::kRename && c.path == record; });
  if (old_record_aside < calls.size()) {
    EXPECT_LT(old_record_aside, put);
  }
  const size_t new_record =
      find_call(calls, [&](const Call& c) { return c.kind == R::kRename && c.to == record; });
  ASSERT_LT(new_record, calls.size()) << "no rename onto the run record";
  EXPECT_GT(new_record, put);
  // The names are on the disk last (where a directory can be synced:
  // Windows has no such call, and its renames are written through).
#ifndef _WIN32
  const size_t last_rename =
      find_last_call(calls, [&](const Call& c) { return c.kind == R::kRename; }, calls.size());
  const size_t directory_sync =
      find_last_call(calls, [&](const Call& c) { return c.kind == R::kSyncDirectory; }, calls.size());
  EXPECT_TRUE(directory_sync < calls.size() && directory_sync > last_rename);
#endif
}

TEST(TableCommitOrder, EveryFileIsSyncedBeforeItTakesItsName) {
  for (const char* name : {"out.csv", "out.dbf"}) {
    SCOPED_TRACE(name);
    TempStore store;
    const std::string feed = store.path("feed.jsonl");
    table::set_change_feed_path(feed);
    write_file(store.path("delta.lst"), "");
    const std::string table = store.path(name);
    {
      SCOPED_TRACE("first run");
      RecordingFileEnv env;
      run_table(table, items(false), {.env = &env});
      check_order(env.calls(), table, feed);
    }
    {
      SCOPED_TRACE("changed rerun");
      RecordingFileEnv env;
      run_table(table, items(true), {.env = &env});
      check_order(env.calls(), table, feed);
    }
    // An unchanged rerun leaves OLD.DAT a second name of the table; the
    // change after it replaces the table while OLD.DAT stays.
    run_table(table, items(true));
    {
      SCOPED_TRACE("changed rerun after an unchanged one");
      RecordingFileEnv env;
      run_table(table, items(false), {.env = &env});
      check_order(env.calls(), table, feed);
    }
    table::set_change_feed_path("");
  }
}

}  // namespace
}  // namespace quire::testing
