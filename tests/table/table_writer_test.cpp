// The table writer: CSV and dBASE III layouts byte for byte, the format and
// OLD.DAT path rules, misuse messages, and how a table takes its path.
#include <gtest/gtest.h>

#include <ctime>

#include "quire/files/file_system.h"
#include "table/check_value.h"
#include "table/dbf/dbf_layout.h"
#include "table/table_format.h"
#include "table_test_util.h"

namespace quire::testing {
namespace {

using table::is_dbase_path;
using table::old_table_path;

// Opens the table at path and writes the four preamble values "v".
bool open_with_preamble(ReportTable& t, const std::string& path) {
  if (t.open_report_output(path.c_str(), "Name", "Time", 0, pb_printf) != 1) return false;
  for (int i = 0; i < 4; ++i) t.write_preamble_value(i == 3, "v");
  return true;
}

TEST(TablePaths, FormatFollowsTheFirstDotOfTheFileName) {
  // Dots in directory names do not count.
  for (const char* p : {"OUT.DBF", "out.Dbf", "C:\\data\\out.dbf", "/tmp/out.dbf", "./out.dbf",
                        ".\\out.dbf", "C:\\rel.2\\out.dbf", "reports.v2/out.dbf",
                        "runs/2026.12/out.dbf"})
    EXPECT_TRUE(is_dbase_path(p)) << p;
  for (const char* p : {"out.dbf.bak", "runs/2026.12/out.dbf.bak", "out.csv", "out", "a.dbf/out",
                        "out.dbff", "out.db"})
    EXPECT_FALSE(is_dbase_path(p)) << p;
}

TEST(TablePaths, RunRecordLiesBesideTheTable) {
  EXPECT_EQ("C:\\out\\.mkpc.csv.quire-run", table::run_record_path("C:\\out\\mkpc.csv"));
  EXPECT_EQ("/data/rep/.out.dbf.quire-run", table::run_record_path("/data/rep/out.dbf"));
}

// The check value of the run record: CRC-32C, the same by the processor's
// instruction (three runs side by side, then joined) as by the table, over
// lengths around the joins and continued from a value.
TEST(CheckValue, InstructionAndTableAgree) {
  EXPECT_EQ(0xE3069283u, table::extend_check(0, "123456789", 9));
  std::string bytes(5000, '\0');
  uint32_t x = 1;
  for (char& c : bytes) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  for (size_t n : {0, 7, 8, 767, 768, 769, 1536, 4999}) {
    EXPECT_EQ(table::extend_check_by_table(0, bytes.data(), n), table::extend_check(0, bytes.data(), n)) << n;
    const uint32_t head = table::extend_check(0, bytes.data(), n);
    EXPECT_EQ(table::extend_check(0, bytes.data(), 5000), table::extend_check(head, bytes.data() + n, 5000 - n)) << n;
  }
}

TEST(TablePaths, OldTableLiesBesideTheOutput) {
  EXPECT_EQ("C:\\out\\OLD.DAT", old_table_path("C:\\out\\mkpc.csv"));
  EXPECT_EQ("D:OLD.DAT", old_table_path("D:mkpc.csv"));
  EXPECT_EQ("OLD.DAT", old_table_path("mkpc.csv"));
  // Forward slashes separate directories as well, so OLD.DAT never lands
  // in another directory (or file system) than the output.
  EXPECT_EQ("/data/rep/OLD.DAT", old_table_path("/data/rep/mkpc.csv"));
  EXPECT_EQ("/data/a:b/OLD.DAT", old_table_path("/data/a:b/mkpc.csv"));
}

TEST(TableNumbers, FixedTextMatchesPrintf) {
  char text[table::kFixedTextSize];
  char expected[512];
  for (double v : {0.0, -0.0, 81.5, 1.005, 2.675, -0.001, 1e15, 123456.789, 0.125, -7.5}) {
    for (int decimals : {0, 1, 2, 3, 6}) {
      size_t n = table::format_fixed(text, v, decimals);
      std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
      EXPECT_EQ(std::string(expected), std::string(text, n)) << v << " " << decimals;
    }
  }
  EXPECT_EQ(12.5, table::parse_double("12.5abc"));
  EXPECT_EQ(-3.0, table::parse_double("-3"));
  EXPECT_EQ(0.0, table::parse_double("abc"));
  EXPECT_EQ(0.0, table::parse_double(""));
  EXPECT_EQ(42, table::parse_int("+42x"));
  EXPECT_EQ(INT32_MAX, table::parse_int("99999999999"));
  EXPECT_EQ(0, table::parse_int("x1"));
}

// Columns of the layout example: Name C 20, Util F 8.2, Placed N 5.
void write_example(const std::string& path, const std::vector<std::string>& names) {
  ReportTable& t = report_table();
  ASSERT_EQ(1, t.open_report_output(path.c_str(), "Name", "Time", 0, pb_printf));
  t.write_preamble_value(0, "DB_VERSION_3");
  t.write_preamble_value(0, "METRIC");
  t.write_preamble_value(0, "MKPC");
  t.write_preamble_value(1, "/store/a \"b\".db");
  t.define_field(0, 'C', 20, 0, names[0].c_str());
  t.define_field(0, 'F', 8, 2, names[1].c_str());
  t.define_field(1, 'N', 5, 0, names[2].c_str());
  t.write_field(1, "M100");
  t.write_field(0, 81.5);
  t.write_field(0, int32_t{42});
  t.write_field(1, "12\" sleeve, long and wide!!");
  t.write_field(0, 123456.789);  // 9 characters: too wide for 8
  t.write_field(0, int32_t{-123456});
  ASSERT_EQ(1, t.close_report_output());
}

TEST(CsvTable, LayoutWithQuotesDoubled) {
  TempStore store;
  std::string path = store.path("out.csv");
  write_example(path, {"Name", "Util", "Placed"});
  EXPECT_EQ(
      "\"DB_VERSION_3\",\"METRIC\",\"MKPC\",\"/store/a \"\"b\"\".db\"\r\n"
      "\"Name\",\"Util\",\"Placed\"\r\n"
      "\"M100\",81.50,42\r\n"
      "\"12\"\" sleeve, long and wide!!\",123456.79,-123456\r\n",
      read_file(path));
}

// Opens the table at path with the preamble value four times and the
// columns Name (text), a whole number and Time (text) of the given widths.
ReportTable& open_name_number_time(const std::string& path, const char* preamble, int name_width,
                                   const char* number_name, int time_width) {
  ReportTable& t = report_table();
  EXPECT_EQ(1, t.open_report_output(path.c_str(), "Name", "Time", 0, pb_printf));
  for (int i = 0; i < 4; ++i) t.write_preamble_value(i == 3, preamble);
  t.define_field(0, 'C', name_width, 0, "Name");
  t.define_field(0, 'N', 5, 0, number_name);
  t.define_field(1, 'C', time_width, 0, "Time");
  return t;
}

TEST(CsvTable, TextValuesInEveryPosition) {
  TempStore store;
  std::string path = store.path("out.csv");
  ReportTable& t = open_name_number_time(path, "v", 20, "Piece", 8);
  const std::string long_text(5000, 'x');
  ::testing::internal::CaptureStderr();
  t.write_field(1, "a");
  t.write_field(0, "12");   // a text into a number column
  t.write_field(0, "q\"");  // the last column, with a quote
  t.write_field(0, "over");  // one value too many
  t.write_field(1, long_text.c_str());
  t.write_field(1, "");     // the record before is padded
  t.write_field(0, "7");
  t.write_field(0, "");
  std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(1, t.close_report_output());
  EXPECT_EQ("INTERNAL ERROR, NEW_PRINT_FIELD.\n", err);
  EXPECT_EQ("\"v\",\"v\",\"v\",\"v\"\r\n\"Name\",\"Piece\",\"Time\"\r\n"
            "\"a\",12,\"q\"\"\"\r\n\"" + long_text + "\",,\"\"\r\n\"\",7,\"\"\r\n",
            read_file(path));
}

TEST(CsvTable, NoRecordsGivesTheTwoHeaderLines) {
  TempStore store;
  std::string path = store.path("out.csv");
  ReportTable& t = report_table();
  ASSERT_EQ(1, t.open_report_output(path.c_str(), "Name", "Time", 1, pb_printf));
  for (const char* v : {"DB_VERSION_3", "IMPERIAL", "MKPC"}) t.write_preamble_value(0, v);
  t.write_preamble_value(1, "p");
  t.define_field(1, 'C', 20, 0, "Marker_Name");
  ASSERT_EQ(1, t.close_report_output());
  EXPECT_EQ("\"DB_VERSION_3\",\"IMPERIAL\",\"MKPC\",\"p\"\r\n\"Marker_Name\"\r\n", read_file(path));
}

TEST(DbaseTable, LayoutByteForByte) {
  TempStore store;
  std::string path = store.path("out.dbf");
  write_example(path, {"Marker_Name", "Util", "Placed"});
  std::string f = read_file(path);
  ASSERT_EQ(32u + 3 * 32 + 1 + 2 * 34 + 1, f.size());

  std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  EXPECT_EQ(3, f[0]);
  EXPECT_EQ(local.tm_year & 0xFF, static_cast<unsigned char>(f[1]));
  EXPECT_EQ(local.tm_mon + 1, f[2]);
  EXPECT_EQ(local.tm_mday, f[3]);
  EXPECT_EQ(2u, u32_at(f, 4));
  EXPECT_EQ(33u + 3 * 32, u16_at(f, 8));
  EXPECT_EQ(34u, u16_at(f, 10));
  EXPECT_EQ(0, f[14]);                                  // finished
  EXPECT_EQ(0x57, static_cast<unsigned char>(f[29]));  // Windows ANSI texts
  for (size_t i : {12u, 13u, 15u, 28u, 30u, 31u}) EXPECT_EQ(0, f[i]) << i;

  // Descriptors: name cut to 10 and upper-cased, F stored as N with its
  // decimals, N with decimals 0.
  EXPECT_EQ(std::string("MARKER_NAM\0C", 12), bytes_at(f, 32, 12));
  EXPECT_EQ(20, f[32 + 16]);
  EXPECT_EQ(0, f[32 + 17]);
  EXPECT_EQ(std::string("UTIL\0\0\0\0\0\0\0N", 12), bytes_at(f, 64, 12));
  EXPECT_EQ(8, f[64 + 16]);
  EXPECT_EQ(2, f[64 + 17]);
  EXPECT_EQ(std::string("PLACED\0\0\0\0\0N", 12), bytes_at(f, 96, 12));
  EXPECT_EQ(5, f[96 + 16]);
  EXPECT_EQ(0, f[96 + 17]);
  EXPECT_EQ(std::string(14, '\0'), bytes_at(f, 96 + 18, 14));
  EXPECT_EQ(0x0D, f[128]);

  EXPECT_EQ(" M100                   81.50   42", bytes_at(f, 129, 34));
  // The text is cut to its width; numbers too wide for theirs are blanks.
  EXPECT_EQ(" 12\" sleeve, long and" + std::string(8 + 5, ' '), bytes_at(f, 163, 34));
  EXPECT_EQ(0x1A, f[197]);
}

// Records of 17 bytes over several buffers of the output, so that records
// straddle each buffer boundary: every value blank-padded or cut, a record
// left short padded with blanks, texts given with a length not NUL-ended.
TEST(DbaseTable, RecordsStayWholeAcrossOutputBuffers) {
  TempStore store;
  std::string path = store.path("out.dbf");
  ReportTable& t = open_name_number_time(path, "p", 7, "Count", 4);
  const char kLetters[] = "abcdefghijklmnopqrstuvwxyz";
  constexpr int kRecords = 40000;  // 680,000 bytes: past two boundaries
  std::string expected;
  for (int i = 0; i < kRecords; ++i) {
    size_t n = static_cast<size_t>(i % 10);  // 0..9: 8 and 9 are cut to 7
    t.write_field(1, kLetters + i % 13, n);
    t.write_field(0, static_cast<int32_t>(i % 100000));
    std::string count = std::to_string(i % 100000);
    expected += ' ' + std::string(kLetters + i % 13, std::min<size_t>(n, 7)) +
                std::string(7 - std::min<size_t>(n, 7), ' ') + std::string(5 - count.size(), ' ') + count;
    if (i % 3 == 0) {
      expected += "    ";  // no Time value: blanks
    } else {
      t.write_field(0, i % 3 == 1 ? "xy" : "wxyz!");
      expected += i % 3 == 1 ? "xy  " : "wxyz";
    }
  }
  ASSERT_EQ(1, t.close_report_output());
  std::string f = read_file(path);
  const size_t records_at = 32 + 3 * 32 + 1;
  ASSERT_EQ(records_at + expected.size() + 1, f.size());
  EXPECT_EQ(static_cast<uint32_t>(kRecords), u32_at(f, 4));
  EXPECT_TRUE(f.compare(records_at, expected.size(), expected) == 0);
  EXPECT_EQ(0x1A, f.back());
}

TEST(DbaseTable, RepeatedCutNamesInDescriptorsButWholeInCsv) {
  TempStore store;
  for (const char* name : {"out.dbf", "out.csv"}) {
    std::string path = store.path(name);
    ReportTable& t = report_table();
    ASSERT_TRUE(open_with_preamble(t, path));
    t.define_field(0, 'F', 8, 3, "Shrink_Stretch_X");
    t.define_field(0, 'F', 8, 3, "Shrink_Stretch_Y");
    t.define_field(0, 'F', 8, 3, "Shrink_Stretch_Z");
    t.define_field(1, 'C', 8, 0, "SHRINK_S_3");
    ASSERT_EQ(1, t.close_report_output());
  }
  std::string f = read_file(store.path("out.dbf"));
  EXPECT_EQ("SHRINK_STR", bytes_at(f, 32, 10));
  EXPECT_EQ("SHRINK_S_2", bytes_at(f, 64, 10));
  EXPECT_EQ("SHRINK_S_3", bytes_at(f, 96, 10));
  EXPECT_EQ("SHRINK_S_4", bytes_at(f, 128, 10));  // a declared name that is taken
  EXPECT_EQ("\"Shrink_Stretch_X\",\"Shrink_Stretch_Y\",\"Shrink_Stretch_Z\",\"SHRINK_S_3\"",
            csv_lines(read_file(store.path("out.csv")))[1]);
}

TEST(DbaseTable, ReadableByAnOrdinaryReader) {
#ifdef _WIN32
  GTEST_SKIP() << "read back with python3-dbfread on Linux only";
#else
  if (run_shell("/usr/bin/python3 -c 'import dbfread'").status != 0) GTEST_SKIP() << "python3-dbfread missing";
  TempStore store;
  std::string path = store.path("out.dbf");
  write_example(path, {"Name", "Util", "Placed"});
  RunResult r = run_shell(
      "/usr/bin/python3 -c 'import dbfread,sys; t=dbfread.DBF(sys.argv[1]); "
      "[print(repr(dict(x))) for x in t]' " + shell_quote(path));
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("{'NAME': 'M100', 'UTIL': 81.5, 'PLACED': 42}\n"
            "{'NAME': '12\" sleeve, long and', 'UTIL': None, 'PLACED': None}\n",
            r.out);

  // Latin-1 texts decode through the code page the header names.
  ReportTable& t = report_table();
  ASSERT_TRUE(open_with_preamble(t, path));
  t.define_field(1, 'C', 10, 0, "Name");
  t.write_field(1, "Caf\xe9");
  ASSERT_EQ(1, t.close_report_output());
  r = run_shell("/usr/bin/python3 -c 'import dbfread,sys; print(ascii(list(dbfread.DBF(sys.argv[1]))[0][\"NAME\"]))' " +
                shell_quote(path));
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("'Caf\\xe9'\n", r.out);
#endif
}

TEST(TableMisuse, MessagesAndRecordsStayWhole) {
  TempStore store;
  std::string path = store.path("out.dbf");
  ReportTable& t = report_table();
  ASSERT_TRUE(open_with_preamble(t, path));
  t.define_field(0, 'C', 4, 0, "Name");
  t.define_field(1, 'X', 3, 0, "Odd");
  ::testing::internal::CaptureStderr();
  t.write_field(1, "abc");
  t.write_field(0, "zz");     // bad type letter: blanks keep the record whole
  t.write_field(0, "extra");  // one value too many
  t.write_field(1, "d");      // a record cut short is padded
  t.write_field(1, "e");
  t.write_field(0, "f");
  std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(1, t.close_report_output());
  EXPECT_EQ("INTERNAL ERROR, BAD FIELD\nINTERNAL ERROR, NEW_PRINT_FIELD.\n"
            "INTERNAL ERROR, BAD FIELD\nINTERNAL ERROR, BAD FIELD\n",
            err);
  std::string f = read_file(path);
  EXPECT_EQ(3u, u32_at(f, 4));
  EXPECT_EQ(" abc     d       e      \x1A", f.substr(97));
}

TEST(TableMisuse, MoreThanOneHundredColumnsAreRefused) {
  TempStore store;
  std::string path = store.path("out.dbf");
  ReportTable& t = report_table();
  ASSERT_TRUE(open_with_preamble(t, path));
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 102; ++i) t.define_field(i == 101, 'C', 200, 0, ("C" + std::to_string(i)).c_str());
  std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(1, t.close_report_output());
  EXPECT_EQ("INTERNAL ERROR, BAD FIELD\nINTERNAL ERROR, BAD FIELD\n", err);
  std::string f = read_file(path);
  EXPECT_EQ(33u + 100 * 32, u16_at(f, 8));
  EXPECT_EQ(1u + 100 * 127, u16_at(f, 10));  // widths held to 127
}

// ---- taking the output path ------------------------------------------------

TEST(TablePlace, OldTableMovesToOldDatOnlyAtClose) {
  TempStore store;
  std::string path = store.path("out.csv");
  write_file(path, "previous table\r\n");
  write_file(store.path("OLD.DAT"), "older table\r\n");
  ReportTable& t = report_table();
  ASSERT_TRUE(open_with_preamble(t, path));
  t.define_field(1, 'C', 20, 0, "Name");
  t.write_field(1, "M1");
  EXPECT_EQ("previous table\r\n", read_file(path));
  EXPECT_EQ("older table\r\n", read_file(store.path("OLD.DAT")));
  ASSERT_EQ(1, t.close_report_output());
  EXPECT_EQ("\"v\",\"v\",\"v\",\"v\"\r\n\"Name\"\r\n\"M1\"\r\n", read_file(path));
  EXPECT_EQ("previous table\r\n", read_file(store.path("OLD.DAT")));
  EXPECT_TRUE(files_with_prefix(store.work(), ".quire-").empty());
}

TEST(TablePlace, InterruptedRunLeavesThePathAlone) {
  TempStore store;
  std::string path = store.path("out.dbf");
  write_file(path, "previous");
  ReportTable& t = report_table();
  ASSERT_TRUE(open_with_preamble(t, path));
  t.define_field(1, 'C', 100, 0, "Name");
  for (int i = 0; i < 5000; ++i) t.write_field(1, "M1");  // past one buffer
  // While the run goes on, the table being written carries the in-progress
  // flag; the path still holds the previous table.
  // The table's temporary file and its run record's.
  std::vector<std::string> temporary = files_with_prefix(store.work(), ".quire-new-");
  ASSERT_EQ(2u, temporary.size());
  std::string partial = std::max(read_file(temporary[0]), read_file(temporary[1]),
                                 [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  ASSERT_GE(partial.size(), 32u);
  EXPECT_EQ(1, partial[14]);
  EXPECT_EQ(0u, u32_at(partial, 4));
  EXPECT_EQ("previous", read_file(path));
  ASSERT_EQ(1, t.close_report_output());
  EXPECT_EQ(0, read_file(path)[14]);
}

TEST(TablePlace, StaleTemporaryFilesOfDeadRunsAreRemoved) {
  TempStore store;
  write_file(store.path(".quire-new-dead.tmp"), "left by a killed run");
  run_table(store.path("out.csv"), {{"M1", "1"}});
  EXPECT_TRUE(files_with_prefix(store.work(), ".quire-new-").empty());
}

TEST(TableFailures, NoFileCanBeCreated) {
  TempStore store;
  PrintCapture print;
  std::string path = store.path("missing/out.csv");
  ReportTable& t = report_table();
  EXPECT_EQ(0, t.open_report_output(path.c_str(), "Name", "Time", 0, pb_printf));
  EXPECT_FALSE(t.is_open());
  EXPECT_NE(std::string::npos, print.text().find(path)) << print.text();
  EXPECT_NE(std::string::npos, print.text().find("No such file or directory")) << print.text();
  // Nothing is written through the missing file.
  t.write_preamble_value(1, "v");
  t.define_field(1, 'C', 4, 0, "Name");
  t.write_field(1, "M1");
  EXPECT_EQ(1, t.reuse_previous_record("M1", "1"));
  EXPECT_EQ(0, t.close_report_output());
  EXPECT_FALSE(fs::exists(store.work() / "missing"));

  fs::create_directories(store.work() / "dir.csv");
  EXPECT_EQ(0, t.open_report_output(store.path("dir.csv").c_str(), "Name", "Time", 0, pb_printf));
  EXPECT_NE(std::string::npos, print.text().find("is a directory")) << print.text();
}

TEST(TableFailures, SecondRunInTheSameDirectoryIsTurnedAway) {
  TempStore store;
  std::string path = store.path("out.csv");
  write_file(path, "previous");
  platform::DirectoryLock other_run(platform::system_file_env());
  quire::Status status;
  ASSERT_EQ(platform::DirectoryLock::kLocked, other_run.acquire(store.work().string(), &status));
  PrintCapture print;
  EXPECT_EQ(0, report_table().open_report_output(path.c_str(), "Name", "Time", 0, pb_printf));
  EXPECT_NE(std::string::npos, print.text().find(store.work().string())) << print.text();
  EXPECT_EQ("previous", read_file(path));
  EXPECT_TRUE(files_with_prefix(store.work(), ".quire-").empty());
  other_run.release();
  run_table(path, {{"M1", "1"}});
}

}  // namespace
}  // namespace quire::testing
