// Reruns of `quire mkpc` over a previous output: killed runs, unchanged
// reruns that must not open a single item, changes against a clean run, the
// other table shapes, and the stop request.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <thread>

#include "support/test_support.h"

namespace quire::testing {
namespace {

using nlohmann::json;

// Runs `quire ARGS...` with dir as the current directory (its delta.lst is
// the change log).
RunResult quire_in(const fs::path& dir, const std::vector<std::string>& args) {
  std::string cmd = "cd " + shell_quote(dir.string()) + " && " + shell_quote(quire_program());
  for (const auto& a : args) cmd += " " + shell_quote(a);
  return run_shell(cmd);
}

// Starts quire in dir, kills it after delay, and tells whether it had
// finished on its own (exit status 0) before the kill.
bool run_and_kill(const fs::path& dir, const std::vector<std::string>& args,
                  std::chrono::microseconds delay) {
  std::vector<std::string> argv_text = {quire_program()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    FILE* null_out = std::freopen("/dev/null", "w", stdout);
    FILE* null_err = std::freopen("/dev/null", "w", stderr);
    (void)null_out;
    (void)null_err;
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::this_thread::sleep_for(delay);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> log_lines(const fs::path& file) { return csv_lines(read_file(file)); }

// The lines of a text whose lines end in LF.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class ReuseRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = run_quire({"area", "generate", "BIG", "--markers", "1000", "--pieces-per-marker", "12",
                             "--seed", "11"});
    ASSERT_EQ(0, r.status) << r.err;
  }

  json export_area() {
    RunResult r = run_quire({"area", "export", "BIG"});
    EXPECT_EQ(0, r.status) << r.err;
    return json::parse(r.out);
  }

  void import(const json& area) {
    RunResult r = import_area(area.dump());
    ASSERT_EQ(0, r.status) << r.err;
  }

  // A fresh directory under the store's scratch space.
  fs::path dir(const std::string& name) {
    fs::path d = store_.work() / name;
    fs::create_directories(d);
    return d;
  }

  // Changes the area: a new stamp for markers 10 and 800, marker 500 and
  // the last one gone, a new marker between 600 and 601.
  void change_area(json area) {
    json& markers = area["markers"];
    markers[10]["modified"] = markers[10]["modified"].get<int64_t>() + 1;
    markers[800]["modified"] = 12345;
    json added = markers[600];
    added["name"] = markers[600]["name"].get<std::string>() + "A";
    markers.erase(markers.end() - 1);
    markers.erase(markers.begin() + 500);
    markers.push_back(added);
    import(area);
  }

  TempStore store_;
};

TEST_F(ReuseRuns, KilledRunsLeaveNoTrace) {
  // The previous output, and what a clean run over the changed area gives.
  fs::path base = dir("base");
  ASSERT_EQ(0, quire_in(base, {"mkpc", "--no-progress", "BIG", "out.csv"}).status);
  change_area(export_area());
  fs::path reference = dir("reference");
  fs::copy_file(base / "out.csv", reference / "out.csv");
  write_file(reference / "delta.lst", "");
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, quire_in(reference, {"mkpc", "--no-progress", "BIG", "out.csv"}).status);
  auto run_time = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::vector<std::string> changes = log_lines(reference / "delta.lst");
  ASSERT_EQ(6u, changes.size());  // the preamble, two changed, two deleted, one new
  fs::path killed = dir("killed");
  fs::copy_file(base / "out.csv", killed / "out.csv");
  write_file(killed / "delta.lst", "");
  std::mt19937 random(12345);
  std::uniform_int_distribution<long> delay(0, run_time.count());
  for (int i = 0; i < 25; ++i) {
    run_and_kill(killed, {"mkpc", "--no-progress", "BIG", "out.csv"}, std::chrono::microseconds(delay(random)));
  }
  // The run record a killed run left describes the table at the path (or
  // there is none): the run after the kills finds no damage.
  RunResult last = quire_in(killed, {"mkpc", "--no-progress", "BIG", "out.csv"});
  ASSERT_EQ(0, last.status);
  EXPECT_EQ(std::string::npos, last.err.find("damaged")) << last.err;

  EXPECT_TRUE(read_file(killed / "out.csv") == read_file(reference / "out.csv"));
  // The change log holds whole blocks: the changes, logged before the table
  // took its place, again by a run killed between its log and its rename,
  // and the preamble alone for each run after the table took its place.
  std::vector<std::string> logged = log_lines(killed / "delta.lst");
  size_t i = 0;
  while (i + changes.size() <= logged.size() &&
         std::equal(changes.begin(), changes.end(), logged.begin() + static_cast<long>(i)))
    i += changes.size();
  EXPECT_GE(i, changes.size());
  for (; i < logged.size(); ++i) EXPECT_EQ(changes[0], logged[i]) << i;
  for (const auto& entry : fs::directory_iterator(killed)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "out.csv" || name == "OLD.DAT" || name == "delta.lst" || name == ".out.csv.quire-run")
        << name;
  }
}

TEST_F(ReuseRuns, KilledUnchangedRerunsKeepThePathWhole) {
  // An unchanged rerun writes nothing until it links the path's table as
  // OLD.DAT: killed anywhere, the path holds the whole table.
  fs::path work = dir("unchanged-killed");
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, quire_in(work, {"mkpc", "--no-progress", "BIG", "out.dbf"}).status);
  auto run_time = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  const std::string table = read_file(work / "out.dbf");
  std::mt19937 random(777);
  std::uniform_int_distribution<long> delay(0, run_time.count());
  for (int i = 0; i < 15; ++i) {
    run_and_kill(work, {"mkpc", "--no-progress", "BIG", "out.dbf"}, std::chrono::microseconds(delay(random)));
    EXPECT_TRUE(read_file(work / "out.dbf") == table) << i;
    EXPECT_TRUE(!fs::exists(work / "OLD.DAT") || read_file(work / "OLD.DAT") == table) << i;
  }
  RunResult last = quire_in(work, {"mkpc", "--no-progress", "BIG", "out.dbf"});
  ASSERT_EQ(0, last.status);
  EXPECT_NE(std::string::npos, last.err.find(" 0 read, 1000 reused")) << last.err;
  EXPECT_TRUE(read_file(work / "out.dbf") == table);
  EXPECT_TRUE(fs::equivalent(work / "out.dbf", work / "OLD.DAT"));
  for (const auto& entry : fs::directory_iterator(work)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "out.dbf" || name == "OLD.DAT" || name == ".out.dbf.quire-run") << name;
  }
}

TEST_F(ReuseRuns, UnchangedRerunOpensNoItem) {
  fs::path work = dir("unchanged");
  write_file(work / "delta.lst", "");
  for (std::vector<std::string> form : {std::vector<std::string>{"BIG", "out.csv"},
                                        std::vector<std::string>{"--detailed", "BIG", "out.dbf"}}) {
    form.insert(form.begin(), {"mkpc", "--no-progress"});
    ASSERT_EQ(0, quire_in(work, form).status);
  }
  // Every marker now fails to open: a rerun that opened one would say so.
  json area = export_area();
  for (json& marker : area["markers"]) marker["faults"]["open"] = true;
  import(area);
  size_t log_size = read_file(work / "delta.lst").size();
  for (std::vector<std::string> form : {std::vector<std::string>{"BIG", "out.csv"},
                                        std::vector<std::string>{"--detailed", "BIG", "out.dbf"}}) {
    std::string table = form.back();
    form.insert(form.begin(), {"mkpc", "--no-progress"});
    RunResult r = quire_in(work, form);
    EXPECT_EQ(0, r.status) << table;
    EXPECT_EQ("quire mkpc: 1000 markers: 0 read, 1000 reused, 12000 rows, 0 failed, ", r.err.substr(0, 69)) << table;
    std::string now = read_file(work / table);
    std::string before = read_file(work / "OLD.DAT");
    ASSERT_EQ(before.size(), now.size()) << table;
    if (table == "out.dbf") now.replace(1, 3, before.substr(1, 3));  // the date of the run
    EXPECT_TRUE(before == now) << table;
  }
  std::string log = read_file(work / "delta.lst").substr(log_size);
  EXPECT_EQ(2u, csv_lines(log).size()) << log;  // the two preamble lines only
}

// Every kind, both layouts: an unchanged rerun reads no item and logs no
// change, also of the items that wrote no rows (markers without overrides
// or splices) and of MKMC, whose table names neither item nor time.
TEST(EveryKind, UnchangedRerunReadsNothing) {
  TempStore store;
  RunResult g = run_quire({"area", "generate", "KINDS", "--markers", "60", "--seed", "5"});
  ASSERT_EQ(0, g.status) << g.err;
  fs::path work = store.work();
  for (const char* kind : {"mkhdr", "mkpc", "mkov", "mksplice", "mkmc", "mkmod", "model", "ordml"}) {
    for (const char* table : {"out.csv", "out.dbf"}) {
      SCOPED_TRACE(std::string(kind) + " " + table);
      ASSERT_EQ(0, quire_in(work, {kind, "--no-progress", "KINDS", table}).status);
      write_file(work / "delta.lst", "");
      RunResult r = quire_in(work, {kind, "--no-progress", "KINDS", table});
      EXPECT_EQ(0, r.status) << r.err;
      EXPECT_NE(std::string::npos, r.err.find(": 0 read, ")) << r.err;
      EXPECT_EQ(1u, log_lines(work / "delta.lst").size());
      fs::remove(work / "delta.lst");
    }
  }
}

// The detailed dBASE runs are in a time zone with daylight saving: the
// change feed reads the previous table's calendar times back as local time.
// The feed's lines are delta.lst's changes, one for one, with the stamps
// that the system's own date command gives.
TEST_F(ReuseRuns, ChangesGiveWhatACleanRunGives) {
  struct Form {
    const char* table;
    std::vector<std::string> options;
  };
  const Form forms[] = {{"out.csv", {}}, {"out.dbf", {"--detailed"}}};
  auto run = [](const fs::path& where, const Form& form, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"mkpc", "--no-progress", "BIG", form.table};
    args.insert(args.end(), form.options.begin(), form.options.end());
    args.insert(args.end(), more.begin(), more.end());
    if (form.options.empty()) return quire_in(where, args).status;
    args.insert(args.begin(), {"env", "TZ=Europe/Paris", quire_program()});
    std::string cmd = "cd " + shell_quote(where.string());
    for (size_t i = 0; i < args.size(); ++i) cmd += (i == 0 ? " && " : " ") + shell_quote(args[i]);
    return run_shell(cmd).status;
  };
  fs::path work = dir("changes");
  for (const Form& form : forms) ASSERT_EQ(0, run(work, form));
  json area = export_area();
  change_area(area);
  const json& markers = area["markers"];
  auto name = [&](size_t i) { return markers[i]["name"].get<std::string>(); };
  auto iso = [](int64_t t) {
    RunResult r = run_shell("date -u -d @" + std::to_string(t) + " +%Y-%m-%dT%H:%M:%SZ");
    return json(r.out.substr(0, r.out.find('\n')));
  };
  auto modified = [&](size_t i) { return markers[i]["modified"].get<int64_t>(); };

  fs::path clean = dir("clean");
  for (const Form& form : forms) {
    const std::string table = form.table;
    write_file(work / "delta.lst", "");
    write_file(work / "feed.jsonl", "{}\n");
    ASSERT_EQ(0, run(work, form, {"--changes", "feed.jsonl"}));
    ASSERT_EQ(0, run(clean, form));
    std::string reused = read_file(work / table);
    std::string fresh = read_file(clean / table);
    ASSERT_EQ(fresh.size(), reused.size()) << table;
    if (table == "out.dbf") reused.replace(1, 3, fresh.substr(1, 3));
    EXPECT_TRUE(fresh == reused) << table;
    std::vector<std::string> expected = {
        "DB_VERSION_3,METRIC,MKPC," + (store_.store() / "big.sqlite").string(),
        "CHANGED: \"" + name(10) + "\"",
        "DELETED: \"" + name(500) + "\"",
        "NEW: \"" + name(600) + "A\"",
        "CHANGED: \"" + name(800) + "\"",
        "DELETED: \"" + name(999) + "\"",
    };
    std::vector<std::string> logged = log_lines(work / "delta.lst");
    EXPECT_EQ(expected, logged) << table;

    const json stamps[][2] = {{iso(modified(10)), iso(modified(10) + 1)},
                              {iso(modified(500)), nullptr},
                              {nullptr, iso(modified(600))},
                              {iso(modified(800)), iso(12345)},
                              {iso(modified(999)), nullptr}};
    std::vector<std::string> fed = lines_of(read_file(work / "feed.jsonl"));
    ASSERT_EQ(logged.size(), fed.size()) << table;  // one line was there before
    for (size_t i = 1; i < fed.size(); ++i) {
      SCOPED_TRACE(table + ": " + fed[i]);
      json change = json::parse(fed[i]);
      EXPECT_EQ(logged[i], change["event"].get<std::string>() + ": \"" + change["item"].get<std::string>() + "\"");
      EXPECT_EQ(stamps[i - 1][0], change["old"]);
      EXPECT_EQ(stamps[i - 1][1], change["new"]);
      EXPECT_EQ("MKPC", change["kind"]);
      EXPECT_EQ("BIG", change["area"]);
      EXPECT_EQ(table, change["output"]);
      EXPECT_TRUE(std::regex_match(change["run"].get<std::string>(), std::regex("20[0-9-]{8}T[0-9:]{8}Z")));
    }
  }
}

TEST_F(ReuseRuns, OtherShapesAreNotReused) {
  fs::path work = dir("shapes");
  ASSERT_EQ(0, quire_in(work, {"mkpc", "--no-progress", "BIG", "out.csv"}).status);
  // The other notation: dumped afresh, change log untouched.
  write_file(work / "delta.lst", "");
  ASSERT_EQ(0, quire_in(work, {"mkpc", "--no-progress", "-N1", "BIG", "out.csv"}).status);
  EXPECT_EQ("", read_file(work / "delta.lst"));
  // The other column set: every item new.
  ASSERT_EQ(0, quire_in(work, {"mkpc", "--no-progress", "--detailed", "-N1", "BIG", "out.csv"}).status);
  std::vector<std::string> log = log_lines(work / "delta.lst");
  ASSERT_EQ(1001u, log.size());
  EXPECT_EQ("NEW: \"M000001\"", log[1]);

  // A CSV previous output at a dBASE path is converted, giving the clean
  // run's table.
  fs::path clean = dir("clean");
  ASSERT_EQ(0, quire_in(clean, {"mkpc", "--no-progress", "--detailed", "-N1", "BIG", "out.dbf"}).status);
  fs::copy_file(work / "out.csv", work / "out.dbf");
  write_file(work / "delta.lst", "");
  ASSERT_EQ(0, quire_in(work, {"mkpc", "--no-progress", "--detailed", "-N1", "BIG", "out.dbf"}).status);
  EXPECT_EQ(1u, log_lines(work / "delta.lst").size());
  std::string converted = read_file(work / "out.dbf");
  std::string fresh = read_file(clean / "out.dbf");
  ASSERT_EQ(fresh.size(), converted.size());
  converted.replace(1, 3, fresh.substr(1, 3));
  EXPECT_TRUE(fresh == converted);
}

TEST_F(ReuseRuns, StopRequestKeepsTheRestOfThePreviousOutput) {
  fs::path work = dir("stop");
  ASSERT_EQ(0, quire_in(work, {"mkpc", "--no-progress", "BIG", "out.csv"}).status);
  std::string previous = read_file(work / "out.csv");
  json area = export_area();
  for (json& marker : area["markers"]) marker["modified"] = 77;
  import(area);
  write_file(work / "delta.lst", "");
  // A stopped run writes its table but says it is not complete.
  ASSERT_EQ(3, quire_in(work, {"mkpc", "--no-progress", "--stop-after", "1", "BIG", "out.csv"}).status);
  std::vector<std::string> lines = csv_lines(read_file(work / "out.csv"));
  std::vector<std::string> old_lines = csv_lines(previous);
  ASSERT_EQ(old_lines.size(), lines.size());
  // The first marker is dumped afresh, the others are as they were.
  long first_rows = std::count_if(old_lines.begin(), old_lines.end(),
                                  [&](const std::string& l) { return l.rfind(old_lines[2].substr(0, 10), 0) == 0; });
  ASSERT_GT(first_rows, 0);
  EXPECT_NE(old_lines[2], lines[2]);
  EXPECT_TRUE(std::equal(lines.begin() + 2 + first_rows, lines.end(), old_lines.begin() + 2 + first_rows));
  std::vector<std::string> log = log_lines(work / "delta.lst");
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ(0u, log[1].rfind("CHANGED: ", 0));
}

}  // namespace
}  // namespace quire::testing
