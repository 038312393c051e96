// The item loop and its per-item pipeline: host-window messages, the date
// filter, the list file, reuse of unchanged items, library failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fake_report.h"
#include "report/run_figures.h"
#include "report_test_support.h"
#include "support/test_support.h"

namespace quire {
namespace {

using testing::FakePrints;
using testing::FakeItem;
using testing::FakeReport;
using testing::ScopedTimeZone;
using testing::TempStore;

struct Message {
  unsigned int id;
  uintptr_t wparam;
  intptr_t lparam;
  bool operator==(const Message&) const = default;
};

struct Host {
  std::vector<Message> messages;
  int stop_from_progress = 0;  // answer 1 once this many progress messages came
  int progress = 0;
};

intptr_t host_proc(QuireWindow, unsigned int id, uintptr_t wparam, intptr_t lparam, void* ctx) {
  Host* h = static_cast<Host*>(ctx);
  h->messages.push_back({id, wparam, lparam});
  if (id == QUIRE_MSG_PROGRESS) ++h->progress;
  return id == QUIRE_MSG_STOP_QUERY && h->stop_from_progress > 0 &&
         h->progress >= h->stop_from_progress;
}

const Message kStop{QUIRE_MSG_STOP_QUERY, 0, 0};
Message progress(uintptr_t total, intptr_t number) { return {QUIRE_MSG_PROGRESS, total, number}; }

class Pipeline : public ::testing::Test {
 protected:
  Pipeline() { window_ = quire_create_window(host_proc, &host_); }
  ~Pipeline() override { quire_destroy_window(window_); }

  std::vector<FakeItem> three_items() {
    return {{"A", 0x100, 5, 6, "ann", "bob", "cy"},
            {"B", 0x200, -1, -1, "", "", ""},
            {"C", 0x300, 7, 8, "x", "y", "z"}};
  }

  // Constructs a report under the host window, lets setup adjust it, and
  // runs header, items and finish on out.csv. Returns the finish result.
  template <class Setup>
  int run(FakeReport& report, Setup setup) {
    report.output_path = output_.c_str();
    report.notation = 0;
    begin_run_figures();  // as run_report does
    setup(report);
    if (report.write_header() != 1) return -1;
    report.dump_all_items();
    return report.finish_output();
  }

  // The last run's item counts and whether it ended early, as one text.
  static std::string figures() {
    QuireRunFigures f{};
    quire_run_figures(&f);
    return "seen " + std::to_string(f.items_seen) + ", read " + std::to_string(f.items_read) + ", failed " +
           std::to_string(f.items_failed) + ", missing " + std::to_string(f.names_missing) + ", rows " +
           std::to_string(f.rows_written) + ", ended early " + std::to_string(f.ended_early);
  }

  std::vector<std::string> rows() {
    auto lines = testing::csv_lines(testing::read_file(output_));
    if (lines.size() >= 2) lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
  }

  ScopedTimeZone tz_{"UTC"};
  TempStore store_;
  std::string output_ = store_.path("out.csv");
  Host host_;
  QuireWindow window_ = 0;
};

TEST_F(Pipeline, ProgressAndStopQueryFollowEveryItemIncludingFilteredOnes) {
  set_host_window(window_);
  FakeReport report;
  int r = run(report, [&](FakeReport& rep) {
    rep.items = three_items();
    rep.start_time = 0x150;  // B and C pass, A is filtered out
    rep.end_time = 0x250;    // C too
  });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(host_.messages,
            (std::vector<Message>{kStop, progress(3, 1), kStop, progress(3, 2), kStop,
                                  progress(3, 3), kStop}));
  EXPECT_EQ(report.opened, std::vector<std::string>{"B"});
  EXPECT_EQ(rows().size(), 1u);
}

TEST_F(Pipeline, ItemsModifiedExactlyAtTheBoundsPassTheDateFilter) {
  set_host_window(0);
  FakeReport report;
  int r = run(report, [&](FakeReport& rep) {
    rep.items = three_items();
    rep.start_time = 0x200;  // B's time
    rep.end_time = 0x300;    // C's time
  });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(report.opened, (std::vector<std::string>{"B", "C"}));
}

TEST_F(Pipeline, NoWindowMeansTheRunNeverStops) {
  set_host_window(0);
  FakeReport report;
  EXPECT_EQ(run(report, [&](FakeReport& rep) { rep.items = three_items(); }), 1);
  EXPECT_EQ(report.dumped.size(), 3u);
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(Pipeline, RowsCarryTimeTextsAndUserNames) {
  set_host_window(window_);
  FakeReport report;
  std::string long_name(60, 'u');
  run(report, [&](FakeReport& rep) {
    rep.items = three_items();
    rep.items[2].user_last_mod = long_name;
  });
  ASSERT_EQ(report.dumped.size(), 3u);
  EXPECT_EQ(report.dumped[0].creation_time, 5);
  EXPECT_EQ(report.dumped[1].creation_time, 0);  // none (-1) becomes 0
  EXPECT_EQ(report.dumped[1].prev_mod_time, 0);
  EXPECT_EQ(report.dumped[2].user_last_mod, std::string(43, 'u'));  // cut at 43
  EXPECT_EQ(rows(), (std::vector<std::string>{
                        R"("A","100","ann","5","bob","6","cy")",
                        R"("B","200","","0","","0","")",
                        R"("C","300",")" + std::string(43, 'u') + R"(","7","y","8","z")"}));
}

TEST_F(Pipeline, DetailedRowsCarryCalendarTexts) {
  set_host_window(window_);
  FakeReport report;
  run(report, [&](FakeReport& rep) {
    rep.detailed = 1;
    rep.items = {{"B", 86400, -1, -1, "", "", ""}};
  });
  EXPECT_EQ(rows(), std::vector<std::string>{
                        R"("B","Fri Jan 02 00:00:00 1970","","Thu Jan 01 00:00:00 1970","",)"
                        R"("Thu Jan 01 00:00:00 1970","")"});
}

TEST_F(Pipeline, StopAfterFirstItemKeepsThatItemOnly) {
  set_host_window(window_);
  host_.stop_from_progress = 1;
  FakeReport report;
  EXPECT_EQ(run(report, [&](FakeReport& rep) { rep.items = three_items(); }), 1);
  EXPECT_EQ(report.opened, std::vector<std::string>{"A"});
  EXPECT_EQ(rows().size(), 1u);
}

TEST_F(Pipeline, UnchangedItemsAreCopiedWithProgressAndStopCarriesTheRest) {
  set_host_window(window_);
  {
    FakeReport first;
    ASSERT_EQ(run(first, [&](FakeReport& rep) { rep.items = three_items(); }), 1);
  }
  auto before = rows();
  ASSERT_EQ(before.size(), 3u);

  // A unchanged, B changed; the host stops after B: C comes from the
  // previous output.
  host_.messages.clear();
  host_.progress = 0;
  host_.stop_from_progress = 2;
  FakeReport second;
  ASSERT_EQ(run(second,
                [&](FakeReport& rep) {
                  rep.items = three_items();
                  rep.items[1].modified = 0x250;
                  rep.items[2].modified = 0x999;  // never reached
                }),
            1);
  EXPECT_EQ(second.opened, std::vector<std::string>{"B"});
  EXPECT_EQ(host_.messages,
            (std::vector<Message>{kStop, progress(3, 1), kStop, progress(3, 2), kStop}));
  auto after = rows();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_EQ(after[1], R"("B","250","","0","","0","")");
  EXPECT_EQ(after[2], before[2]);
}

class ListFile : public Pipeline {
 protected:
  std::vector<std::string> dump_list(const std::string& content, std::vector<FakeItem> items) {
    testing::write_file(store_.path("names.lst"), content);
    // Each list runs on a fresh output, with nothing to reuse.
    std::filesystem::remove(output_);
    std::filesystem::remove(store_.path("OLD.DAT"));
    set_host_window(window_);
    FakeReport report;
    run(report, [&](FakeReport& rep) {
      rep.items = items;
      rep.list_file = std::fopen(store_.path("names.lst").c_str(), "r");
    });
    std::vector<std::string> names;
    for (const auto& d : report.dumped) names.push_back(d.name);
    return names;
  }
};

TEST_F(ListFile, CrLfAndLfLinesGiveTheSameNamesAndBlankLinesAreSkipped) {
  auto items = three_items();
  std::vector<std::string> expected{"B", "A", "C"};
  EXPECT_EQ(dump_list("B\nA\nC\n", items), expected);
  EXPECT_EQ(dump_list("B\r\n\r\nA\r\n\n\nC", items), expected);
}

TEST_F(ListFile, NamesAreMatchedWithoutRegardToCase) {
  EXPECT_EQ(dump_list("b\r\n", three_items()), std::vector<std::string>{"B"});
}

TEST_F(ListFile, LongLinesAreTakenTwentyCharactersAtATime) {
  std::vector<FakeItem> items(3);
  items[0].name = "ABCDEFGHIJKLMNOPQRST";
  items[1].name = "UVWXY";
  items[2].name = "Z";
  EXPECT_EQ(dump_list("ABCDEFGHIJKLMNOPQRSTUVWXY\r\nZ\r\n", items),
            (std::vector<std::string>{"ABCDEFGHIJKLMNOPQRST", "UVWXY", "Z"}));
  // Exactly 20 characters before the CR LF: the line end alone is blank.
  EXPECT_EQ(dump_list("ABCDEFGHIJKLMNOPQRST\r\nZ\r\n", items),
            (std::vector<std::string>{"ABCDEFGHIJKLMNOPQRST", "Z"}));
}

TEST_F(ListFile, UnknownNameIsReportedAndSkippedAndEmptyListsDumpNothing) {
  {
    FakePrints captured;
    EXPECT_EQ(dump_list("A\nNOPE\nC\nGONE\n", three_items()), (std::vector<std::string>{"A", "C"}));
    EXPECT_NE(captured.text().find("marker NOPE is not in storage area "), std::string::npos) << captured.text();
    EXPECT_NE(captured.text().find("marker GONE is not in storage area "), std::string::npos) << captured.text();
    EXPECT_EQ(figures(), "seen 4, read 2, failed 0, missing 2, rows 2, ended early 0");
  }
  EXPECT_TRUE(dump_list("", three_items()).empty());
  EXPECT_TRUE(dump_list("\r\n\n\r\n", three_items()).empty());
  EXPECT_TRUE(rows().empty());
  auto lines = testing::csv_lines(testing::read_file(output_));
  EXPECT_EQ(lines.size(), 2u);  // preamble and column names only
}

TEST_F(Pipeline, OpenFailureIsReportedAndEndsTheLoop) {
  set_host_window(window_);
  FakePrints captured;
  FakeReport report;
  EXPECT_EQ(run(report,
                [&](FakeReport& rep) {
                  rep.items = three_items();
                  rep.items[1].fail_open = true;
                }),
            1);
  EXPECT_EQ(captured.text(), "Error 41, fake.cpp(7)");
  EXPECT_EQ(figures(), "seen 2, read 1, failed 1, missing 0, rows 1, ended early 1");
  EXPECT_EQ(report.opened, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(report.closes, 1);
  EXPECT_EQ(rows().size(), 1u);
  // No progress for the failed item.
  EXPECT_EQ(host_.messages, (std::vector<Message>{kStop, progress(3, 1), kStop}));
}

TEST_F(Pipeline, StoreFailuresEndTheRunEarlyAndKeepThePreviousRecordsOfTheRest) {
  set_host_window(window_);
  auto items = three_items();
  {
    FakeReport report;
    ASSERT_EQ(run(report, [&](FakeReport& rep) { rep.items = items; }), 1);
    EXPECT_EQ(report.ended_early, 0);
  }
  auto names = [&] {
    std::vector<std::string> first;
    for (const auto& row : rows()) first.push_back(row.substr(0, row.find(',')));
    return first;
  };
  const std::vector<std::string> all{"\"A\"", "\"B\"", "\"C\""};
  // A failed lookup is no end of the area: B and C keep their rows.
  items[0].modified = 0x101;
  items[1].fail_lookup = true;
  {
    FakePrints captured;
    FakeReport report;
    ASSERT_EQ(run(report, [&](FakeReport& rep) { rep.items = items; }), 1);
    EXPECT_EQ(captured.text(), "Error 43, fake.cpp(7)");
    EXPECT_EQ(report.dumped.size(), 1u);
    EXPECT_EQ(report.ended_early, 1);
    EXPECT_EQ(report.stopped, 0);
    EXPECT_STREQ(report.failed_item, "");
    EXPECT_EQ(names(), all);
  }
  // A failed open of a changed item: the item is missing, the rest kept.
  items[1].fail_lookup = false;
  items[1].fail_open = true;
  items[1].modified = 0x201;
  {
    FakePrints captured;
    FakeReport report;
    ASSERT_EQ(run(report, [&](FakeReport& rep) { rep.items = items; }), 1);
    EXPECT_EQ(captured.text(), "Error 41, fake.cpp(7)");
    EXPECT_EQ(report.ended_early, 1);
    EXPECT_STREQ(report.failed_item, "B");
    EXPECT_EQ(names(), (std::vector<std::string>{"\"A\"", "\"C\""}));
  }
}

TEST_F(Pipeline, CloseFailureKeepsTheItemsRows) {
  set_host_window(window_);
  FakePrints captured;
  FakeReport report;
  run(report, [&](FakeReport& rep) {
    rep.items = three_items();
    rep.items[0].fail_close = true;
  });
  EXPECT_EQ(captured.text(), "Error 42, fake.cpp(7)");
  EXPECT_EQ(report.dumped.size(), 1u);
  EXPECT_EQ(rows().size(), 1u);
}

}  // namespace
}  // namespace quire
