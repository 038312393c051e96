// Reuse of the previous output and the change log, driven through the
// table module as the report framework drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "table/previous_table.h"
#include "table/table_test_util.h"

namespace quire::testing {
namespace {

std::vector<TestItem> three_items() { return {{"M1", "a0", 2}, {"M2", "b0", 3}, {"M3", "c0", 1}}; }

// One record of the test layout: Name C 20, Piece N 5, Util F 8.2, Time C 8.
std::string dbf_record(const std::string& name, const std::string& piece, const std::string& util,
                       const std::string& time) {
  return " " + name + std::string(20 - name.size(), ' ') + piece + util + time +
         std::string(8 - time.size(), ' ');
}

struct DbfColumn {
  const char* name;
  char type;
  int width;
};

// A dBASE table made by hand.
std::string make_dbf(const std::vector<DbfColumn>& columns, const std::vector<std::string>& records) {
  int length = 1;
  for (const DbfColumn& c : columns) length += c.width;
  std::string f(32, '\0');
  f[0] = 3;
  f[4] = static_cast<char>(records.size());
  int header_length = 33 + 32 * static_cast<int>(columns.size());
  f[8] = static_cast<char>(header_length & 0xFF);
  f[9] = static_cast<char>(header_length >> 8);
  f[10] = static_cast<char>(length);
  for (const DbfColumn& c : columns) {
    std::string d(32, '\0');
    d.replace(0, std::strlen(c.name), c.name);
    d[11] = c.type;
    d[16] = static_cast<char>(c.width);
    f += d;
  }
  f += '\r';
  for (const std::string& r : records) f += r;
  return f + '\x1a';
}

const char kPreamble[] = "DB_VERSION_3,METRIC,TEST,/store/area.db\r\n";

class Reuse : public ::testing::Test {
 protected:
  void SetUp() override { write_file(store_.path("delta.lst"), ""); }
  std::string log() { return read_file(store_.path("delta.lst")); }
  void clear_log() { write_file(store_.path("delta.lst"), ""); }
  TempStore store_;
};

TEST_F(Reuse, FirstRunThenUnchangedRerunCopiesEverything) {
  for (const char* name : {"out.csv", "out.dbf"}) {
    std::string path = store_.path(name);
    clear_log();
    write_file(store_.path("OLD.DAT"), "stale");
    EXPECT_EQ(std::vector<std::string>({"M1", "M2", "M3"}), run_table(path, three_items()));
    EXPECT_EQ(std::string(kPreamble) + "NEW: \"M1\"\r\nNEW: \"M2\"\r\nNEW: \"M3\"\r\n", log());
    EXPECT_FALSE(fs::exists(store_.path("OLD.DAT"))) << name;
    std::string first = read_file(path);

    clear_log();
    EXPECT_TRUE(run_table(path, three_items()).empty()) << name;
    std::string second = read_file(path);
    if (first.size() > 4) second.replace(1, 3, first.substr(1, 3));  // the dBASE date
    EXPECT_EQ(first, second) << name;
    EXPECT_EQ(kPreamble, log());
    EXPECT_EQ(read_file(store_.path("OLD.DAT")).size(), first.size());
    fs::remove(store_.path("OLD.DAT"));
  }
}

TEST_F(Reuse, ChangedAndDeletedItemsAreLoggedOnce) {
  std::string path = store_.path("out.csv");
  run_table(path, {{"M1", "a0", 2}, {"M2", "b0", 3}, {"M3", "c0", 2}, {"M4", "d0", 2}, {"M5", "e0", 1}});
  clear_log();
  // M2 is gone (three rows), M3 changed, M5 gone after the last item.
  std::vector<TestItem> now = {{"M1", "a0", 2}, {"m3", "C1", 1}, {"M4", "D0", 2}};
  EXPECT_EQ(std::vector<std::string>({"m3"}), run_table(path, now));
  EXPECT_EQ(std::string(kPreamble) + "DELETED: \"M2\"\r\nCHANGED: \"m3\"\r\n", log());

  std::vector<std::string> lines = csv_lines(read_file(path));
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("\"M1\",0,80.00,\"a0\"", lines[2]);
  EXPECT_EQ("\"M1\",1,80.25,\"a0\"", lines[3]);
  EXPECT_EQ("\"m3\",0,80.00,\"C1\"", lines[4]);
  EXPECT_EQ("\"M4\",0,80.00,\"d0\"", lines[5]);  // stamps compare ignoring case
  EXPECT_EQ("\"M4\",1,80.25,\"d0\"", lines[6]);
}

// Records of one item are told by their whole key: an item whose name
// starts with the name before it is an item of its own.
TEST_F(Reuse, ItemNamedAfterThePreviousOnesStartIsItsOwnItem) {
  for (const char* name : {"out.csv", "out.dbf"}) {
    const std::string path = store_.path(name);
    run_table(path, {{"M1", "a0", 2}, {"M10", "b0", 2}, {"M100", "c0", 1}});
    clear_log();
    EXPECT_EQ(std::vector<std::string>({"M10"}), run_table(path, {{"M1", "a0", 2}, {"M10", "b1", 1}, {"M100", "c0", 1}}))
        << name;
    EXPECT_EQ(std::string(kPreamble) + "CHANGED: \"M10\"\r\n", log()) << name;
  }
}

TEST_F(Reuse, PreviousOutputOfAnotherShapeIsNotReused) {
  std::string path = store_.path("out.csv");
  run_table(path, three_items());
  std::string old = read_file(path);

  // The other notation: not reused, and the log stays untouched.
  clear_log();
  RunOptions imperial;
  imperial.notation = 1;
  EXPECT_EQ(3u, run_table(path, three_items(), imperial).size());
  EXPECT_EQ("", log());

  // Another column count (as the other detailed form has): all new.
  RunOptions extra;
  extra.notation = 1;
  extra.extra_column = true;
  EXPECT_EQ(3u, run_table(path, three_items(), extra).size());
  EXPECT_EQ("DB_VERSION_3,IMPERIAL,TEST,/store/area.db\r\nNEW: \"M1\"\r\nNEW: \"M2\"\r\nNEW: \"M3\"\r\n",
            log());

  // An empty file at the path carries no version mark.
  clear_log();
  write_file(path, "");
  EXPECT_EQ(3u, run_table(path, three_items()).size());
  EXPECT_EQ("", log());
}

TEST_F(Reuse, TextPreviousOutputQuirks) {
  std::string path = store_.path("out.csv");
  // CR LF and LF line ends (a CR left in place would add a column) and
  // blanks around values.
  write_file(path,
             "\"DB_VERSION_3\",\"METRIC\",\"TEST\",\"/store/area.db\"\r\n"
             "\"Name\",\"Piece\",\"Util\",\"Time\"\r\n"
             " \"M1\",0, 80.00,\"a0\"\n"
             "\"M2\",0,1.5,\"b0\"\r\n"
             "\"M3\",0,1.5,\"c0\"\r\n");
  // M3, the last item of a table without run record, is read again.
  EXPECT_EQ(std::vector<std::string>({"M3", "M4"}),
            run_table(path, {{"M1", "a0"}, {"M2", "b0"}, {"M3", "c0"}, {"M4", "d0"}}));
  std::vector<std::string> lines = csv_lines(read_file(path));
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ(" \"M1\",0, 80.00,\"a0\"", lines[2]);  // copied as it was
  EXPECT_EQ("\"M4\",0,80.00,\"d0\"", lines[5]);
}

TEST_F(Reuse, ConversionBetweenFormats) {
  std::string csv = store_.path("out.csv");
  std::string dbf = store_.path("out.dbf");
  // A CSV previous output at a dBASE path (and back) is converted value by
  // value: numbers re-read and re-printed, a value that is no number 0.
  write_file(dbf,
             "\"DB_VERSION_3\",\"METRIC\",\"TEST\",\"/store/area.db\"\r\n"
             "\"Name\",\"Piece\",\"Util\",\"Time\"\r\n"
             "\"M1\",7,12.3456,\"a0\"\r\n"
             "\"M1\",abc,x,\"a0\"\r\n"
             "\"M2\",1,2,\"b0\"\r\n");
  // M2, the text table's last item, is read again.
  EXPECT_EQ(std::vector<std::string>({"M2", "M3"}), run_table(dbf, {{"M1", "a0"}, {"M2", "b0"}, {"M3", "c0"}}));
  std::string f = read_file(dbf);
  const size_t records = 32 + 4 * 32 + 1;
  EXPECT_EQ(4u, u32_at(f, 4));
  EXPECT_EQ(dbf_record("M1", "    7", "   12.35", "a0"), bytes_at(f, records, 42));
  EXPECT_EQ(dbf_record("M1", "    0", "    0.00", "a0"), bytes_at(f, records + 42, 42));
  EXPECT_EQ(dbf_record("M2", "    0", "   80.00", "b0"), bytes_at(f, records + 84, 42));

  // And back: the dBASE table becomes the previous output of a CSV run.
  fs::copy_file(dbf, csv);
  EXPECT_TRUE(run_table(csv, {{"M1", "a0"}, {"M2", "b0"}, {"M3", "c0"}}).empty());
  std::vector<std::string> lines = csv_lines(read_file(csv));
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("\"M1\",7,12.35,\"a0\"", lines[2]);
  EXPECT_EQ("\"M3\",0,80.00,\"c0\"", lines[5]);

  // A record with values missing is not as this system writes them: the
  // previous output is not used (the key and time columns come first in
  // this one, so the record has both).
  write_file(dbf,
             "\"DB_VERSION_3\",\"METRIC\",\"TEST\",\"/store/area.db\"\r\n"
             "\"Name\",\"Time\",\"Piece\",\"Util\"\r\n"
             "\"M1\",\"a0\"\r\n");
  EXPECT_EQ(std::vector<std::string>({"M1"}), run_table(dbf, {{"M1", "a0"}}));
  EXPECT_EQ(dbf_record("M1", "    0", "   80.00", "a0"), bytes_at(read_file(dbf), records, 42));
}

TEST_F(Reuse, QuotesSurviveTheRoundTrip) {
  std::string csv = store_.path("out.csv");
  std::string dbf = store_.path("out.dbf");
  std::vector<TestItem> items = {{"M\"1", "a0"}, {"M2", "b0"}};
  run_table(csv, items);
  EXPECT_EQ("\"M\"\"1\",0,80.00,\"a0\"", csv_lines(read_file(csv))[2]);
  EXPECT_TRUE(run_table(csv, items).empty());
  fs::copy_file(csv, dbf);
  EXPECT_EQ(std::vector<std::string>({"M2"}), run_table(dbf, items));  // the last item, read again
  EXPECT_EQ(" M\"1", bytes_at(read_file(dbf), 32 + 4 * 32 + 1, 4));
}

// A text with line ends is written quoted and read back whole across them:
// an unchanged rerun copies its item and logs no change.
TEST_F(Reuse, ValuesWithLineEndsSurviveTheRerun) {
  std::string path = store_.path("out.csv");
  const std::vector<TestItem> items = {{"M1", "a0"}, {"M2\r\nx\ny", "b0", 2}, {"M3", "c0"}};
  run_table(path, items);
  const std::string first = read_file(path);
  clear_log();
  EXPECT_TRUE(run_table(path, items).empty());
  EXPECT_EQ(first, read_file(path));
  EXPECT_EQ(kPreamble, log());
}

// A dBASE header that contradicts itself would misalign every record: such
// a previous table is not used, one line names it and says why, and the
// run gives what a run without it gives (every item read and logged new).
TEST_F(Reuse, ContradictoryDbaseHeadersAreNotUsed) {
  const std::vector<TestItem> items = three_items();
  run_table(store_.path("clean.dbf"), items);
  const std::string reference_log = log();
  const std::string table =
      make_dbf({{"NAME", 'C', 20}, {"PIECE", 'N', 5}, {"UTIL", 'N', 8}, {"TIME", 'C', 8}},
               {dbf_record("M1", "    0", "   80.00", "a0"), dbf_record("M2", "    0", "   80.00", "b0")});
  const struct {
    size_t offset;
    char value;
    const char* why;
  } cases[] = {
      {10, 1, "record length"},
      {8, static_cast<char>(33 + 5 * 32), "header length"},
      {8, static_cast<char>(33 + 4 * 32 + 7), "header length"},
      {4, 3, "past the end"},
      {11, 0x10, "longer than"},  // records of 4096 bytes and more
  };
  const std::string path = store_.path("out.dbf");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::string f = table;
    f[c.offset] = c.value;
    write_foreign_table(path, f);
    clear_log();
    PrintCapture print;
    EXPECT_EQ(3u, run_table(path, items).size());
    EXPECT_EQ(path + " is not used as the previous table: ", print.text().substr(0, path.size() + 36));
    EXPECT_NE(std::string::npos, print.text().find(c.why)) << print.text();
    EXPECT_EQ(1, std::count(print.text().begin(), print.text().end(), '\n')) << print.text();
    EXPECT_EQ(reference_log, log());
    EXPECT_EQ(read_file(store_.path("clean.dbf")).substr(32), read_file(path).substr(32));
  }
}

TEST_F(Reuse, DbasePreviousOutputRecords) {
  std::string path = store_.path("out.dbf");
  run_table(path, three_items());
  std::string f = read_file(path);
  const size_t records = 32 + 4 * 32 + 1;
  const size_t length = 42;
  // Delete M1's second record.
  f[records + length] = '*';
  write_foreign_table(path, f);
  clear_log();
  EXPECT_TRUE(run_table(path, three_items()).empty());
  EXPECT_EQ(kPreamble, log());
  EXPECT_EQ(5u, u32_at(read_file(path), 4));

  // Other widths with the same record length: converted value by value,
  // never copied raw.
  write_foreign_table(path, make_dbf({{"NAME", 'C', 21}, {"PIECE", 'N', 5}, {"UTIL", 'N', 8}, {"TIME", 'C', 7}},
                            {" M1" + std::string(19, ' ') + "    3   80.25a0     "}));
  EXPECT_TRUE(run_table(path, {{"M1", "a0"}}).empty());
  EXPECT_EQ(dbf_record("M1", "    3", "   80.25", "a0"), bytes_at(read_file(path), records, length));
}

// An unchanged rerun by an intact run record neither reads nor logs an item
// that wrote no rows; a record that cannot be trusted leaves the run to the
// table alone, which has no trace of that item: it is read and logged NEW.
TEST_F(Reuse, RunRecordIsTrustedOnlyWhole) {
  const std::vector<TestItem> items = {{"M1", "a0", 2}, {"M2", "b0", 0}, {"M3", "c0", 1}};
  const struct {
    const char* name;
    const char* table;
    void (*spoil)(const std::string& record, const std::string& table);
  } cases[] = {
      {"intact", "out.csv", [](const std::string&, const std::string&) {}},
      {"intact", "out.dbf", [](const std::string&, const std::string&) {}},
      {"absent", "out.csv", [](const std::string& record, const std::string&) { fs::remove(record); }},
      {"cut short", "out.dbf",
       [](const std::string& record, const std::string&) {
         std::string r = read_file(record);
         write_file(record, r.substr(0, r.size() - 20));
       }},
      {"a stamp changed", "out.csv",
       [](const std::string& record, const std::string&) {
         std::string r = read_file(record);
         r[r.find(" b0 ") + 1] = 'x';
         write_file(record, r);
       }},
      {"of the other format", "out.csv",
       [](const std::string& record, const std::string& table) {
         const std::string other = (fs::path(table).parent_path() / "other.dbf").string();
         run_table(other, {{"M1", "a0", 2}, {"M2", "b0", 0}, {"M3", "c0", 1}});
         write_file(record, read_file(table::run_record_path(other)));
       }},
      {"of another notation", "out.csv",
       [](const std::string& record, const std::string& table) {
         RunOptions imperial;
         imperial.notation = 1;
         run_table(table + "2", {{"M1", "a0", 2}, {"M2", "b0", 0}, {"M3", "c0", 1}}, imperial);
         write_file(record, read_file(table::run_record_path(table + "2")));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.table);
    TempStore store;
    write_file(store.path("delta.lst"), "");
    const std::string path = store.path(c.table);
    run_table(path, items);
    const std::string table = read_file(path);
    c.spoil(table::run_record_path(path), path);
    write_file(store.path("delta.lst"), "");
    const bool trusted = std::string(c.name) == "intact";
    // Walked without a record, a text table's last item is read again.
    const bool text = std::string(c.table) == "out.csv";
    const std::vector<std::string> dumped = trusted ? std::vector<std::string>{}
                                            : text  ? std::vector<std::string>{"M2", "M3"}
                                                    : std::vector<std::string>{"M2"};
    EXPECT_EQ(dumped, run_table(path, items));
    EXPECT_EQ(std::string(kPreamble) + (trusted ? "" : "NEW: \"M2\"\r\n"), read_file(store.path("delta.lst")));
    std::string now = read_file(path);
    if (now.size() > 4 && now[0] == 3) now.replace(1, 3, table.substr(1, 3));  // the date of the run
    EXPECT_TRUE(now == table);
  }
}

TEST_F(Reuse, UnfinishedRunLogsNothing) {
  std::string path = store_.path("out.csv");
  run_table(path, three_items());
  clear_log();
  std::string before = read_file(path);
  ReportTable& t = report_table();
  ASSERT_EQ(1, t.open_report_output(path.c_str(), "Name", "Time", 0, pb_printf));
  for (int i = 0; i < 4; ++i) t.write_preamble_value(i == 3, "v");
  t.define_field(1, 'C', 20, 0, "Name");
  EXPECT_EQ(1, t.reuse_previous_record("M0", "x"));
  // A second open abandons the unfinished run as a crash would.
  ASSERT_EQ(1, t.open_report_output(store_.path("other.csv").c_str(), "Name", "Time", 0, pb_printf));
  EXPECT_EQ(1, t.close_report_output());
  EXPECT_EQ(before, read_file(path));
  EXPECT_EQ("", log());
}

TEST_F(Reuse, LongChangeLogArrivesWholeAndInOrder) {
  // More lines than are held in memory: the rest waits in an unnamed file.
  std::vector<TestItem> items;
  char name[16];
  for (int i = 0; i < 20000; ++i) {
    std::snprintf(name, sizeof name, "M%05d", i);
    items.push_back({name, "a0"});
  }
  run_table(store_.path("out.csv"), items);
  std::vector<std::string> lines = csv_lines(log());
  ASSERT_EQ(20001u, lines.size());
  EXPECT_EQ("NEW: \"M00000\"", lines[1]);
  EXPECT_EQ("NEW: \"M12345\"", lines[12346]);
  EXPECT_EQ("NEW: \"M19999\"", lines[20000]);
}

// Whatever the previous output holds, it is dropped, not trusted.
TEST_F(Reuse, PreviousOutputBeyondTheLimitsIsDropped) {
  std::string path = store_.path("out.csv");
  const std::string header =
      "\"DB_VERSION_3\",\"METRIC\",\"TEST\",\"/store/area.db\"\r\n\"Name\",\"Piece\",\"Util\",\"Time\"\r\n";
  std::string many_values;
  for (int i = 0; i < 101; ++i) many_values += "1,";
  for (const std::string& body :
       {"\"M1\",0,1," + std::string(5000, 'x') + ",\"a0\"\r\n", std::string(300000, 'y')}) {
    write_file(path, header + body + "\"M2\",0,1,\"b0\"\r\n");
    EXPECT_EQ(2u, run_table(path, {{"M1", "a0"}, {"M2", "b0"}}).size());
  }
  // Converting needs every value of a record; more than 100 do not fit.
  write_file(store_.path("many.dbf"), header + many_values + "\r\n\"M2\",0,1,\"b0\"\r\n");
  EXPECT_EQ(2u, run_table(store_.path("many.dbf"), {{"M1", "a0"}, {"M2", "b0"}}).size());

  std::string dbf = store_.path("out.dbf");
  run_table(dbf, three_items());
  std::string good = read_file(dbf);
  for (auto patch : std::vector<std::pair<size_t, std::string>>{
           {10, std::string("\0\0", 2)},  // record length 0
           {8, "\xff\xff"},               // 2046 columns
           {32 + 16, "\x80"},             // negative width
           {32 + 4 * 32, "X"},            // no header terminator
       }) {
    std::string bad = good;
    bad.replace(patch.first, patch.second.size(), patch.second);
    write_foreign_table(dbf, bad);
    EXPECT_EQ(3u, run_table(dbf, three_items()).size()) << patch.first;
  }
  // A long path is no limit: its previous output is reused.
  std::string deep = store_.work().string() + "/" + std::string(200, 'd');
  fs::create_directories(deep);
  std::string long_path = deep + "/" + std::string(100, 'f') + ".csv";
  run_table(long_path, three_items());
  EXPECT_EQ(0u, run_table(long_path, three_items()).size());
  EXPECT_TRUE(fs::exists(deep + "/OLD.DAT"));
}

// The previous table is used only when it is provably this report's; what
// is not used is said in one line, and the run's changes are either all
// logged (every item new, as on a first run) or, for another report's,
// area's or notation's table, not logged at all.
TEST_F(Reuse, TextTableRewrittenWithoutItsPreambleIsReadAfreshAndLogged) {
  const std::string path = store_.path("out.csv");
  const std::vector<TestItem> now = {{"M1", "a0", 2}, {"M2", "b1", 3}, {"M4", "d0", 1}};
  for (const bool emptied : {false, true}) {
    SCOPED_TRACE(emptied ? "emptied" : "saved without its preamble");
    run_table(path, three_items());
    const std::string table = read_file(path);
    // Another program saved the rows again without the preamble line, or
    // emptied the file; the run record beside it is intact.
    write_file(path, emptied ? std::string() : table.substr(table.find('\n') + 1));
    clear_log();
    PrintCapture print;
    EXPECT_EQ(std::vector<std::string>({"M1", "M2", "M4"}), run_table(path, now));
    EXPECT_EQ(std::string(kPreamble) + "NEW: \"M1\"\r\nNEW: \"M2\"\r\nNEW: \"M4\"\r\n", log());
    EXPECT_EQ(path + " is not used as the previous table: ", print.text().substr(0, path.size() + 36));
    EXPECT_EQ(1, std::count(print.text().begin(), print.text().end(), '\n')) << print.text();
  }
}

TEST_F(Reuse, TableOfTheOtherNotationIsNotUsedInEitherLayout) {
  RunOptions imperial;
  imperial.notation = 1;
  for (const char* name : {"out.csv", "out.dbf"}) {
    SCOPED_TRACE(name);
    const std::string path = store_.path(name);
    run_table(path, three_items());
    clear_log();
    PrintCapture print;
    // A dBASE table does not carry its notation: its run record tells it.
    EXPECT_EQ(3u, run_table(path, three_items(), imperial).size());
    EXPECT_EQ("", log());
    EXPECT_NE(std::string::npos, print.text().find("it was written in the other notation (METRIC)")) << print.text();
    // The table is now the imperial one, and used as such.
    EXPECT_TRUE(run_table(path, three_items(), imperial).empty());
    EXPECT_EQ(3u, run_table(path, three_items()).size());
  }
}

// A table without a record may have been cut between two rows of its last
// item: that item is read again (and not logged), never copied in part.
TEST_F(Reuse, LastItemOfATextTableWithoutRecordIsReadAgain) {
  const std::string path = store_.path("out.csv");
  const std::vector<TestItem> items = {{"M1", "a0", 2}, {"M2", "b0", 3}};
  run_table(path, items);
  const std::string whole = read_file(path);
  size_t cut = 0;
  for (int line = 0; line < 5; ++line) cut = whole.find('\n', cut) + 1;  // after M2's first row
  write_foreign_table(path, whole.substr(0, cut));
  clear_log();
  EXPECT_EQ(std::vector<std::string>({"M2"}), run_table(path, items));
  EXPECT_TRUE(read_file(path) == whole);
  EXPECT_EQ(kPreamble, log());

  // A stopped run keeps that item's rows but gives it no entry in the run
  // record: the next run reads it again.
  write_foreign_table(path, whole.substr(0, cut));
  RunOptions stop;
  stop.stop_after = 1;
  EXPECT_TRUE(run_table(path, items, stop).empty());
  EXPECT_EQ(std::vector<std::string>({"M2"}), run_table(path, items));
  EXPECT_TRUE(read_file(path) == whole);
}

// Items gone from a table without record are found in the store's order,
// which is blind to case: "a2" comes before "B1".
TEST_F(Reuse, ItemsGoneFromATableWithoutRecordFollowTheStoresOrder) {
  const std::string path = store_.path("out.csv");
  run_table(path, {{"a2", "a0"}, {"B1", "b0", 2}, {"c3", "c0"}});
  write_foreign_table(path, read_file(path));
  clear_log();
  // c3 is the table's last item, read again as above.
  EXPECT_EQ(std::vector<std::string>({"c3"}), run_table(path, {{"B1", "b0", 2}, {"c3", "c0"}}));
  EXPECT_EQ(std::string(kPreamble) + "DELETED: \"a2\"\r\n", log());
  const std::vector<std::string> lines = csv_lines(read_file(path));
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("\"B1\",0,80.00,\"b0\"", lines[2]);
}

// A run that fails while putting its table in place leaves the table, its
// run record and the change log as they were.
TEST_F(Reuse, FailedRunLeavesTheRunRecordAsItWas) {
  const std::string path = store_.path("out.csv");
  run_table(path, three_items());
  const std::string table = read_file(path);
  const std::string record = read_file(table::run_record_path(path));
  fs::create_directories(fs::path(store_.path("OLD.DAT")) / "kept");
  clear_log();
  int closed = 1;
  RunOptions options;
  options.expect_close = false;
  options.result = &closed;
  run_table(path, {{"M1", "a1", 2}, {"M2", "b0", 3}, {"M3", "c0", 1}}, options);
  EXPECT_EQ(0, closed);
  EXPECT_TRUE(read_file(path) == table);
  EXPECT_TRUE(read_file(table::run_record_path(path)) == record);
  EXPECT_EQ("", log());
  EXPECT_TRUE(files_with_prefix(store_.work(), ".quire-new-").empty());
  // The record still vouches for the table.
  fs::remove_all(store_.path("OLD.DAT"));
  EXPECT_TRUE(run_table(path, three_items()).empty());
}

// A run over listed items finds each one's previous rows whatever the
// list's order, by the run record or walking the table, and logs nothing
// for the items it is not asked about.
TEST_F(Reuse, ListedItemsAreFoundInAnyOrder) {
  RunOptions listed;
  listed.listed = true;
  for (const bool with_record : {true, false}) {
    SCOPED_TRACE(with_record ? "with its run record" : "without run record");
    const std::string path = store_.path(with_record ? "recorded.csv" : "walked.csv");
    run_table(path, {{"M1", "a0", 2}, {"M2", "b0", 3}, {"M3", "c0"}, {"M4", "d0"}});
    if (!with_record) write_foreign_table(path, read_file(path));
    clear_log();
    // Without a record M4, the table's last item, is read again.
    EXPECT_EQ(with_record ? std::vector<std::string>{} : std::vector<std::string>{"M4"},
              run_table(path, {{"M3", "c0"}, {"M1", "a0", 2}, {"M4", "d0"}}, listed));
    EXPECT_EQ(kPreamble, log());
    std::vector<std::string> lines = csv_lines(read_file(path));
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ("\"M3\",0,80.00,\"c0\"", lines[2]);
    EXPECT_EQ("\"M1\",1,80.25,\"a0\"", lines[4]);
    // Again, over the table in the list's order, with M1 changed.
    clear_log();
    EXPECT_EQ(std::vector<std::string>({"M1"}), run_table(path, {{"M4", "d0"}, {"M1", "a1", 2}, {"M3", "c0"}}, listed));
    EXPECT_EQ(std::string(kPreamble) + "CHANGED: \"M1\"\r\n", log());
  }
}

}  // namespace
}  // namespace quire::testing
