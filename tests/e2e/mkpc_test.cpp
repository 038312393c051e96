// `quire mkpc` end to end on small imported areas: rows in both forms and
// both table formats, host options, exit statuses and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {
namespace {

// M1 has three pieces, M2 none, M3 one; the times are 2006-07-15 00:00 UTC
// and around it.
const char kArea[] = R"({
  "name": "E2E", "notation": 0, "precision": 3,
  "markers": [
    {"name": "M1", "modified": 1152921600, "created": -1, "prev_modified": 86400,
     "user_last_mod": "ann", "user_created": "bob \"the cutter\"", "user_prev_mod": "cy",
     "pieces": [
       {"name": "FRONT", "category": "BODY", "area": 10.0, "perimeter": 12.5, "size": "LONGSIZE9"},
       {"name": "BACK", "category": "BODY", "area": 1234.56789, "perimeter": 0.5, "size": "M"},
       {"name": "SLEEVE", "category": "ARM", "area": -2.5, "perimeter": 3, "size": ""}]},
    {"name": "M2", "modified": 1152921601},
    {"name": "m3", "modified": 1153008001, "created": 1152921600,
     "pieces": [{"name": "COLLAR", "category": "NECK", "area": 1, "perimeter": 2, "size": "S"}]}
  ]})";

const std::string kPlainColumns =
    R"("Name","Piece","Category","Time","User_Last_Mod","Created_Time","User_Created",)"
    R"("Prev_Mod_Time","User_Prev_Mod")";

class Mkpc : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = import_area(kArea);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // Runs quire mkpc without its summary line.
  RunResult mkpc(std::vector<std::string> args) {
    args.insert(args.begin(), {"mkpc", "--no-progress", "--quiet"});
    return run_quire(args);
  }
  std::vector<std::string> lines(const std::string& name) {
    return csv_lines(read_file(store_.path(name)));
  }

  TempStore store_;
};

TEST_F(Mkpc, PlainCsvHasNineColumnsAndOneRowPerPiece) {
  RunResult r = mkpc({"E2E", "out.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto l = lines("out.csv");
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(l[0].rfind(R"("DB_VERSION_3","METRIC","MKPC",")", 0), 0u) << l[0];
  EXPECT_NE(l[0].find(store_.store().string()), std::string::npos) << l[0];
  EXPECT_EQ(l[1], kPlainColumns);
  const std::string closing = R"("44b83000","ann","0","bob ""the cutter""","15180","cy")";
  EXPECT_EQ(l[2], R"("M1","FRONT","BODY",)" + closing);
  EXPECT_EQ(l[3], R"("M1","BACK","BODY",)" + closing);
  EXPECT_EQ(l[4], R"("M1","SLEEVE","ARM",)" + closing);
  EXPECT_EQ(l[5], R"("m3","COLLAR","NECK","44b98181","","44b83000","","0","")");
  // Every line ends with CR LF, the last one included.
  std::string text = read_file(store_.path("out.csv"));
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(Mkpc, DetailedCsvAddsAreaPerimeterSizeAndCalendarTimes) {
  RunResult r = mkpc({"--detailed", "-N1", "E2E", "out.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto l = lines("out.csv");
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(l[0].rfind(R"("DB_VERSION_3","IMPERIAL","MKPC",)", 0), 0u) << l[0];
  EXPECT_EQ(l[1],
            R"("Name","Piece","Category","Area","Perimeter","Size","Time","User_Last_Mod",)"
            R"("Created_Time","User_Created","Prev_Mod_Time","User_Prev_Mod")");
  const std::string closing =
      R"("Sat Jul 15 00:00:00 2006","ann","Thu Jan 01 00:00:00 1970","bob ""the cutter""",)"
      R"("Fri Jan 02 00:00:00 1970","cy")";
  // Values as the library gives them (no unit conversion), with the area's
  // precision; the size name whole in CSV.
  EXPECT_EQ(l[2], R"("M1","FRONT","BODY",10.000,12.500,"LONGSIZE9",)" + closing);
  EXPECT_EQ(l[3], R"("M1","BACK","BODY",1234.568,0.500,"M",)" + closing);
  EXPECT_EQ(l[4], R"("M1","SLEEVE","ARM",-2.500,3.000,"",)" + closing);
}

TEST_F(Mkpc, DetailedDbaseRecordsAreFixedWidth) {
  RunResult r = mkpc({"--detailed", "E2E", "out.dbf"});
  ASSERT_EQ(r.status, 0) << r.err;
  // LONGSIZE9 does not fit the Size column: said once, at the end.
  EXPECT_EQ(r.err, "quire mkpc: column Size: 1 value cut to 6 characters\n");
  std::string t = read_file(store_.path("out.dbf"));
  const size_t columns = 12;
  const size_t header = 33 + 32 * columns;
  const size_t record = 1 + 20 + 20 + 20 + 16 + 16 + 6 + 24 + 40 + 24 + 40 + 24 + 40;
  ASSERT_EQ(t.size(), header + 4 * record + 1);
  EXPECT_EQ(static_cast<unsigned char>(t[4]), 4u);  // record count
  EXPECT_EQ(static_cast<unsigned char>(t[8]) | static_cast<unsigned char>(t[9]) << 8, header);
  EXPECT_EQ(static_cast<unsigned char>(t[10]) | static_cast<unsigned char>(t[11]) << 8, record);
  EXPECT_EQ(t[14], 0);  // finished
  EXPECT_EQ(t.back(), '\x1a');
  std::string first = t.substr(header, record);
  std::string expected = " " + std::string("M1").append(18, ' ') +
                         std::string("FRONT").append(15, ' ') + std::string("BODY").append(16, ' ') +
                         std::string(10, ' ') + "10.000" + std::string(10, ' ') + "12.500" +
                         "LONGSI" + "Sat Jul 15 00:00:00 2006" + std::string("ann").append(37, ' ') +
                         "Thu Jan 01 00:00:00 1970" +
                         std::string("bob \"the cutter\"").append(24, ' ') +
                         "Fri Jan 02 00:00:00 1970" + std::string("cy").append(38, ' ');
  EXPECT_EQ(first, expected);
}

TEST_F(Mkpc, DateFilterAndListFileSelectMarkers) {
  // Only m3 was modified on or after 2006-07-16.
  ASSERT_EQ(mkpc({"-S06/07/16", "E2E", "late.csv"}).status, 0);
  auto l = lines("late.csv");
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[2].rfind(R"("m3","COLLAR")", 0), 0u);

  // The end day is included whole: 06/07/15 keeps M1 and M2, not m3.
  ASSERT_EQ(mkpc({"-E06/07/15", "E2E", "early.csv"}).status, 0);
  EXPECT_EQ(lines("early.csv").size(), 5u);

  write_file(store_.path("names.lst"), "M3\r\nm1\r\n");
  ASSERT_EQ(mkpc({"-Lnames.lst", "E2E", "listed.csv"}).status, 0);
  l = lines("listed.csv");
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(l[2].rfind(R"("m3","COLLAR")", 0), 0u);
  EXPECT_EQ(l[3].rfind(R"("M1","FRONT")", 0), 0u);
}

TEST_F(Mkpc, StopAfterKeepsTheFirstMarkersAndExitsWithThree) {
  RunResult r = run_quire({"mkpc", "--no-progress", "--stop-after", "1", "E2E", "out.csv"});
  ASSERT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(lines("out.csv").size(), 5u);  // M1's three rows
  // The summary says of how many: the area holds three.
  EXPECT_TRUE(std::regex_match(
      r.err, std::regex(R"(quire mkpc: 1 of 3 markers: 1 read, 0 reused, 3 rows, 0 failed, [0-9.]+ s -> out\.csv )"
                        R"(\(incomplete: stopped\)\n)")))
      << r.err;
  r = mkpc({"--stop-after=2", "E2E", "two.csv"});
  ASSERT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(lines("two.csv").size(), 5u);  // M2 has no rows
}

// The summary line counts what the run did: a first run reads every marker,
// a rerun after one change reads that one and reuses the rest.
TEST_F(Mkpc, SummaryCountsItemsRowsAndReuse) {
  RunResult r = run_quire({"mkpc", "--no-progress", "E2E", "out.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::regex_match(
      r.err, std::regex(R"(quire mkpc: 3 markers: 3 read, 0 reused, 4 rows, 0 failed, [0-9.]+ s -> out\.csv\n)")))
      << r.err;
  ASSERT_EQ(import_area(std::regex_replace(kArea, std::regex("1153008001"), "1153008002")).status, 0);
  r = run_quire({"mkpc", "--no-progress", "E2E", "out.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The changed marker is read; the marker without pieces is not.
  EXPECT_NE(r.err.find(": 3 markers: 1 read, 2 reused, 4 rows, 0 failed, "), std::string::npos) << r.err;
  // Names the area does not have are reported, skipped, and make the run
  // incomplete: exit status 3.
  write_file(store_.path("names.lst"), "NOPE\nm3\n");
  r = run_quire({"mkpc", "--no-progress", "-Lnames.lst", "E2E", "listed.csv"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("quire mkpc: marker NOPE is not in storage area E2E; skipped\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": 2 markers: 1 read, 0 reused, 1 row, 0 failed, "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(incomplete: 1 listed name not in the area)"), std::string::npos) << r.err;
  EXPECT_EQ(lines("listed.csv").size(), 3u);
}

// Host options stand anywhere: before the kind, between the arguments and
// after the output path.
TEST_F(Mkpc, HostOptionsAreTakenAnywhere) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--detailed", "mkpc", "--quiet", "E2E", "a.csv"},
           {"mkpc", "E2E", "--quiet", "b.csv", "--detailed"},
           {"mkpc", "-N0", "E2E", "c.csv", "--detailed", "--quiet", "--stop-after", "9"}}) {
    RunResult r = run_quire(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  for (const char* name : {"a.csv", "b.csv", "c.csv"})
    EXPECT_EQ(lines(name)[1].rfind(R"("Name","Piece","Category","Area",)", 0), 0u) << name;
}

TEST_F(Mkpc, RejectedCommandLinesExitWithOne) {
  RunResult r = mkpc({"NOPE", "out.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire mkpc: Unrecognized Storage Area: NOPE.\n");
  EXPECT_FALSE(std::filesystem::exists(store_.path("out.csv")));
}

// A date the library would refuse is a usage error naming option and value,
// by the library's own reading of dates.
TEST_F(Mkpc, BadDatesAreUsageErrorsNamingTheOption) {
  for (const char* option : {"-S06/13/01", "-S06/02/29", "-e06/01/01,25:00", "-E", "-Syesterday"}) {
    RunResult r = mkpc({option, "E2E", "out.csv"});
    EXPECT_EQ(r.status, 2) << option;
    EXPECT_EQ(r.err, std::string("quire mkpc: ") + option +
                         ": not a date; expected YY/MM/DD[,HH:MM]\nTry 'quire --help' for more information.\n");
  }
  EXPECT_FALSE(std::filesystem::exists(store_.path("out.csv")));
  EXPECT_EQ(mkpc({"-S06/02/28", "-e08-02-29,12:30p", "E2E", "out.csv"}).status, 0);
}

TEST_F(Mkpc, DamagedAreaNamesTheFileThenPrintsTheLibraryError) {
  write_file(store_.store() / "broken.sqlite", "this is not a database");
  RunResult r = mkpc({"BROKEN", "out.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(std::regex_match(r.err, std::regex("quire mkpc: area BROKEN: [^\n]+[/\\\\]broken\\.sqlite: file is not a database\n"
                                                 "quire mkpc: Error -?[0-9]+, [^\n]+\\([0-9]+\\): storage area lookup failed\n")))
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(store_.path("out.csv")));
}

TEST_F(Mkpc, UsageErrorsExitWithTwoAndTouchNothing) {
  write_file(store_.path("names.lst"), "M1\n");
  std::filesystem::create_directory(store_.path("dir.lst"));
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"nosuchkind", "E2E", "out.csv"},
           {"mkpc", "--bogus", "E2E", "out.csv"},
           {"mkpc", "E2E", "out.csv", "--bogus"},
           {"mkpc", "--stop-after", "0", "E2E", "out.csv"},
           {"mkpc", "--stop-after", "x", "E2E", "out.csv"},
           {"mkpc", "--stop-after"},
           {"mkpc"},
           {"mkpc", "E2E"},
           {"mkpc", "-X", "E2E", "out.csv"},
           {"mkpc", "-N2", "E2E", "out.csv"},
           {"mkpc", "-N", "E2E", "out.csv"},
           {"mkpc", "-Lno-such.lst", "E2E", "out.csv"},
           {"mkpc", "-Ldir.lst", "E2E", "out.csv"},
           {"mkpc", "E2E", "out.csv", "extra"},
           {"mkpc", "E2E", "out.csv", "-Lnames.lst"},
           {"mkpc", "E2E", "out.csv", "--changes"},
           {"mkpc", "E2E", "-", "--changes", "feed.jsonl"},
       }) {
    RunResult r = run_quire(args);
    EXPECT_EQ(r.status, 2) << args.size() << " " << args.back();
    EXPECT_EQ(r.err.rfind("quire: ", 0), 0u) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(store_.path("out.csv")));
  RunResult r = run_quire({"mkpcc", "E2E", "out.csv"});
  EXPECT_NE(r.err.find("did you mean mkpc?"), std::string::npos) << r.err;
  r = run_quire({"area", "lst"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown subcommand 'lst'; did you mean list?"), std::string::npos) << r.err;
  r = run_quire({"area", "generate", "X", "--markers", "abc"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(std::regex_match(r.err, std::regex("quire area: --markers: expected a whole number from 0 to [0-9]+, not 'abc'\n")))
      << r.err;
}

// The change feed never names a file the run writes otherwise (the table,
// its run record, OLD.DAT beside it, the change log), by any path to it, and
// no table takes the name of the change log or of OLD.DAT: each would put
// one file's lines into another. Usage errors saying why, touching nothing.
TEST_F(Mkpc, ChangesAndOutputNeverNameAnotherFileOfTheRun) {
  ASSERT_EQ(mkpc({"E2E", "out.csv"}).status, 0);
  // A second table unlike the first: OLD.DAT is a file of its own.
  ASSERT_EQ(mkpc({"-S06/07/16", "E2E", "out.csv"}).status, 0);
  std::filesystem::create_directory(store_.path("sub"));
  write_file(store_.path("delta.lst"), "");
  const std::map<std::string, std::string> before = [&] {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(store_.work()))
      if (e.is_regular_file()) files[e.path().string()] = read_file(e.path());
    return files;
  }();
  struct Case {
    std::vector<std::string> args;
    std::string why;
  };
  std::vector<Case> cases = {
      {{"E2E", "out.csv", "--changes", "out.csv"}, "--changes out.csv is the output path"},
      {{"E2E", "new.csv", "--changes", "sub/../new.csv"}, "--changes sub/../new.csv is the output path"},
      {{"E2E", "out.csv", "--changes", ".out.csv.quire-run"}, "--changes .out.csv.quire-run is the run record of out.csv"},
      {{"E2E", "sub/t.csv", "--changes", "sub/.t.csv.quire-run"}, "--changes sub/.t.csv.quire-run is the run record"},
      {{"E2E", "out.csv", "--changes", "OLD.DAT"}, "--changes OLD.DAT is the previous table OLD.DAT of out.csv"},
      {{"E2E", "sub/t.csv", "--changes", "sub/OLD.DAT"}, "--changes sub/OLD.DAT is the previous table sub/OLD.DAT"},
      {{"E2E", "out.csv", "--changes", "delta.lst"}, "--changes delta.lst is the change log delta.lst"},
      {{"E2E", "sub/t.csv", "--changes", "sub/../delta.lst"}, "--changes sub/../delta.lst is the change log"},
      {{"E2E", "delta.lst"}, "the output path delta.lst is named as the change log delta.lst"},
      {{"E2E", "sub/delta.lst"}, "the output path sub/delta.lst is named as the change log"},
      {{"E2E", "OLD.DAT"}, "the output path OLD.DAT is named as the previous table OLD.DAT"},
      {{"E2E", "sub/OLD.DAT", "--changes", "feed.jsonl"}, "the output path sub/OLD.DAT is named as the previous table"},
  };
#ifndef _WIN32
  // Another name of the table, and a table written through a link, whose
  // record goes beside the link's target.
  std::filesystem::create_hard_link(store_.path("out.csv"), store_.path("second-name.csv"));
  std::filesystem::create_symlink("sub/linked.csv", store_.path("link.csv"));
  cases.push_back({{"E2E", "out.csv", "--changes", "./sub/../second-name.csv"},
                   "--changes ./sub/../second-name.csv is the output path"});
  cases.push_back({{"E2E", "link.csv", "--changes", "sub/.linked.csv.quire-run"},
                   "--changes sub/.linked.csv.quire-run is the run record"});
#else
  // Windows takes names in any case.
  cases.push_back({{"E2E", "Delta.LST"}, "the output path Delta.LST is named as the change log"});
  cases.push_back({{"E2E", "sub\\old.dat"}, "the output path sub\\old.dat is named as the previous table"});
#endif
  for (const Case& c : cases) {
    RunResult r = mkpc(c.args);
    EXPECT_EQ(r.status, 2) << c.why;
    EXPECT_EQ(r.err.rfind("quire: " + c.why, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nTry 'quire --help' for more information.\n"), std::string::npos) << r.err;
  }
  for (const auto& [path, bytes] : before) EXPECT_EQ(read_file(path), bytes) << path;
  EXPECT_FALSE(std::filesystem::exists(store_.path("new.csv")));
  EXPECT_FALSE(std::filesystem::exists(store_.path("sub/t.csv")));
  // Names that only resemble them are the user's to choose.
  EXPECT_EQ(mkpc({"E2E", "sub/t.csv", "--changes", "sub/delta.lst"}).status, 0);
  EXPECT_EQ(mkpc({"E2E", "sub/t.dat", "--changes", "OLD.DAT.jsonl"}).status, 0);
#ifndef _WIN32
  EXPECT_EQ(mkpc({"E2E", "old.dat"}).status, 0);
#endif
}

// `-` writes the table to standard output, the same bytes as a file run,
// with no previous table, no OLD.DAT and no change log.
TEST_F(Mkpc, DashWritesTheTableToStandardOutput) {
  ASSERT_EQ(mkpc({"E2E", "out.csv"}).status, 0);
  write_file(store_.path("delta.lst"), "");
  RunResult r = run_quire({"mkpc", "--no-progress", "E2E", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, read_file(store_.path("out.csv")));
  EXPECT_NE(r.err.find(" -> standard output\n"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(store_.path("delta.lst")), "");
  EXPECT_FALSE(std::filesystem::exists(store_.path("OLD.DAT")));
}

TEST_F(Mkpc, VersionAndHelp) {
  RunResult r = run_quire({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("quire [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
  for (const char* option : {"-h", "--help"}) {
    r = run_quire({option});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Exit status"), std::string::npos);
    EXPECT_EQ(run_quire({"mkpc", "E2E", option}).out, r.out);
  }
}

TEST_F(Mkpc, UnwritableOutputExitsWithOne) {
  RunResult r = mkpc({"E2E", store_.path("no/such/dir/out.csv")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no/such/dir"), std::string::npos) << r.err;
}

// The change feed's lines are JSON whatever the names hold: a quote and a
// backslash escaped, the cp1252 bytes é (0xE9) and € (0x80) in UTF-8. It is
// created when absent and appended to after.
TEST_F(Mkpc, ChangeFeedWritesNamesAsJsonText) {
  const std::string area = R"({"name": "FEED", "notation": 0, "precision": 2, "markers": [
    {"name": "A\"1\\", "modified": 1152921600,
     "pieces": [{"name": "P", "category": "C", "area": 1, "perimeter": 2, "size": "S"}]},
    {"name": "B\u00e9\u0080", "modified": 86400,
     "pieces": [{"name": "P", "category": "C", "area": 1, "perimeter": 2, "size": "S"}]}]})";
  ASSERT_EQ(import_area(area).status, 0);
  RunResult r = mkpc({"FEED", "out.csv", "--changes", "feed.jsonl"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = mkpc({"FEED", "out.csv", "--changes=feed.jsonl"});  // unchanged: nothing to add
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex line(R"re(\{"run":"[0-9-]{10}T[0-9:]{8}Z","kind":"MKPC","area":"FEED","output":"out.csv",)re"
                        R"re("event":"NEW","item":"(.*)","old":null,"new":"(.*)"\}\n)re");
  const std::string feed = read_file(store_.path("feed.jsonl"));
  std::vector<std::string> items;
  for (std::sregex_iterator m(feed.begin(), feed.end(), line), end; m != end; ++m)
    items.push_back((*m)[1].str() + " " + (*m)[2].str());
  EXPECT_EQ(items, (std::vector<std::string>{"A\\\"1\\\\ 2006-07-15T00:00:00Z",
                                             "B\xc3\xa9\xe2\x82\xac 1970-01-02T00:00:00Z"}))
      << feed;
  EXPECT_EQ(2, std::count(feed.begin(), feed.end(), '\n'));
}

}  // namespace
}  // namespace quire::testing
