// `quire all`: every kind of an area into one folder, the same tables as
// `quire KIND`, the worst exit status, the folder's delta.lst, a second run
// waiting for the folder's lock, Ctrl-C between kinds; the nightly recipes
// of docs/nightly.md run as written; the manual page against the usage.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {
namespace {

const std::vector<std::string> kKinds = {"mkhdr", "mkpc", "mkov", "mksplice", "mkmc", "mkmod", "model", "ordml"};

std::string shop_file() { return std::string(QUIRE_SOURCE_DIR) + "/examples/shop.json"; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Waits until the file holds text (at most ten seconds).
bool wait_for_text(const std::string& path, const std::string& text) {
  for (int i = 0; i < 1000; ++i) {
    if (contains(read_file(path), text)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Starts quire with args, standard error into err_path; returns its id.
pid_t start_quire(const std::vector<std::string>& args, const std::string& err_path) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    std::vector<char*> argv;
    std::string program = quire_program();
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int wait_status(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

// The summary lines of a run's standard error (each kind's and the run's).
std::vector<std::string> summary_lines(const std::string& err) {
  std::vector<std::string> lines;
  const std::regex summary("quire [a-z]+: [0-9]+ [a-z]+: .*");
  for (const std::string& line : output_lines(err))
    if (std::regex_match(line, summary)) lines.push_back(line);
  return lines;
}

class All : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = run_quire({"area", "import", shop_file()});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  RunResult all(std::vector<std::string> args) {
    args.insert(args.begin(), {"all", "--no-progress"});
    return run_quire(args);
  }

  TempStore store_;
};

// Each table equals the one `quire KIND` writes, in both formats; the lines
// are the kinds' summaries in order and the run's own; a rerun reuses every
// previous table of the folder.
TEST_F(All, TablesAreThoseOfEachKindByteForByte) {
  RunResult r = all({"SHOP", "tables"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = summary_lines(r.err);
  ASSERT_EQ(lines.size(), kKinds.size() + 1) << r.err;
  for (size_t i = 0; i < kKinds.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("quire " + kKinds[i] + ": ", 0), 0u) << lines[i];
    EXPECT_TRUE(lines[i].ends_with(" -> tables/" + kKinds[i] + ".csv")) << lines[i];
  }
  EXPECT_TRUE(std::regex_match(lines.back(),
                               std::regex(R"(quire all: 8 kinds: 8 complete, 0 incomplete, 0 failed, [0-9]+\.[0-9][0-9] s -> tables/)")))
      << lines.back();

  fs::create_directory(store_.work() / "single");
  for (const std::string& kind : kKinds) {
    ASSERT_EQ(run_quire({kind, "--no-progress", "--quiet", "SHOP", "single/" + kind + ".csv"}).status, 0) << kind;
    const std::string table = read_file(store_.path("tables/" + kind + ".csv"));
    EXPECT_GT(csv_lines(table).size(), 2u) << kind;
    EXPECT_EQ(table, read_file(store_.path("single/" + kind + ".csv"))) << kind;
  }

  r = all({"SHOP", "tables"});
  ASSERT_EQ(r.status, 0) << r.err;
  lines = summary_lines(r.err);
  ASSERT_EQ(lines.size(), kKinds.size() + 1) << r.err;
  for (size_t i = 0; i < kKinds.size(); ++i) EXPECT_TRUE(contains(lines[i], ": 0 read, ")) << lines[i];

  r = all({"--dbf", "--detailed", "--kinds", "MKPC,mkhdr,mkpc", "--quiet", "SHOP", "dbase"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const std::string kind : {"mkhdr", "mkpc"}) {
    ASSERT_EQ(run_quire({kind, "--detailed", "--no-progress", "SHOP", std::string("single/") + kind + ".dbf"}).status, 0);
    EXPECT_EQ(read_file(store_.path(std::string("dbase/") + kind + ".dbf")),
              read_file(store_.path(std::string("single/") + kind + ".dbf")))
        << kind;
  }
  EXPECT_FALSE(fs::exists(store_.path("dbase/mkov.dbf")));
}

// A kind that is incomplete makes the run 3; one whose table cannot be
// written makes it 1, and the kinds after it still run.
TEST_F(All, ExitStatusIsTheWorstOfTheKinds) {
  // The model list of M1 cannot be located: only mkmod reads it.
  RunResult r = import_area(R"({"name": "FAULTY", "markers": [
    {"name": "M1", "modified": 1, "pieces": [{"name": "P1"}], "faults": {"ordmod": true}},
    {"name": "M2", "modified": 2, "pieces": [{"name": "P2"}]}]})");
  ASSERT_EQ(r.status, 0) << r.err;
  r = all({"FAULTY", "tables"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(contains(r.err, "quire mkmod: marker M1: ")) << r.err;
  EXPECT_TRUE(contains(r.err, "\nquire all: 8 kinds: 7 complete, 1 incomplete, 0 failed, ")) << r.err;

  fs::remove(store_.path("tables/mkov.csv"));
  fs::create_directory(store_.path("tables/mkov.csv"));
  fs::remove(store_.path("tables/ordml.csv"));
  r = all({"FAULTY", "tables"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(contains(r.err, "quire mkov: cannot write ")) << r.err;
  EXPECT_TRUE(contains(r.err, "\nquire all: 8 kinds: 6 complete, 1 incomplete, 1 failed, ")) << r.err;
  EXPECT_TRUE(fs::exists(store_.path("tables/ordml.csv")));

  r = all({"--kinds", "mkpc,mkov", "FAULTY", "tables"});
  EXPECT_EQ(r.status, 1) << r.err;
  r = all({"--kinds", "mkpc,mkhdr", "FAULTY", "tables"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// The change log is the folder's delta.lst: used when it exists, made by
// --log; the current directory's is left alone. A relative change feed is
// the current directory's.
TEST_F(All, ChangesAreLoggedInTheFolder) {
  write_file(store_.path("delta.lst"), "");
  RunResult r = all({"--kinds", "mkpc,mkhdr", "SHOP", "plain"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(store_.path("plain/delta.lst")));

  r = all({"--kinds", "mkpc,mkhdr", "--log", "--changes", "feed.jsonl", "SHOP", "logged/deeper"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string log = read_file(store_.path("logged/deeper/delta.lst"));
  EXPECT_TRUE(contains(log, ",MKHDR,")) << log;
  EXPECT_TRUE(contains(log, ",MKPC,")) << log;
  EXPECT_TRUE(contains(log, "NEW: \"M100\"\r\n")) << log;
  EXPECT_TRUE(contains(log, "NEW: \"M200\"\r\n")) << log;
  EXPECT_EQ(read_file(store_.path("delta.lst")), "");
  const std::string feed = read_file(store_.path("feed.jsonl"));
  EXPECT_TRUE(contains(feed, "\"kind\":\"MKPC\"")) << feed;
  EXPECT_TRUE(contains(feed, "\"kind\":\"MKHDR\"")) << feed;

  // Used as it is on the next run: nothing changed, nothing logged.
  r = all({"--kinds", "mkpc", "SHOP", "logged/deeper"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string again = read_file(store_.path("logged/deeper/delta.lst"));
  EXPECT_EQ(again.substr(0, log.size()), log);
  EXPECT_FALSE(contains(again.substr(log.size()), "NEW:")) << again;
}

// A run into a folder that another run holds waits for it, and gives up
// after the wait with status 1 and nothing written.
TEST_F(All, SecondRunWaitsForTheFolder) {
  fs::create_directory(store_.path("tables"));
  const std::string lock_path = store_.path("tables/.quire-all.lock");
  int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  RunResult r = all({"--wait", "1", "SHOP", "tables"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err,
            "quire all: another quire all is writing to tables/; waiting for it up to 1 s\n"
            "quire all: another quire all was still writing to tables/ after 1 s; no table written\n");
  EXPECT_FALSE(fs::exists(store_.path("tables/mkhdr.csv")));
  set_environment("QUIRE_ALL_WAIT_S", "0");
  r = all({"SHOP", "tables"});
  unset_environment("QUIRE_ALL_WAIT_S");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "quire all: another quire all was still writing to tables/ after 0 s; no table written\n");

  // Released while the second run waits: it goes on and writes every table.
  const std::string err = store_.path("err.txt");
  pid_t pid = start_quire({"all", "--no-progress", "--wait", "600", "SHOP", "tables"}, err);
  const bool waiting = wait_for_text(err, "waiting for it");
  ::close(fd);
  ASSERT_TRUE(waiting) << read_file(err);
  EXPECT_EQ(wait_status(pid), 0) << read_file(err);
  EXPECT_TRUE(contains(read_file(err), "quire all: 8 kinds: 8 complete,")) << read_file(err);
  EXPECT_TRUE(fs::exists(store_.path("tables/ordml.csv")));

  // A link at the lock file's place is not followed.
  fs::remove(lock_path);
  fs::create_symlink(store_.path("elsewhere"), lock_path);
  r = all({"SHOP", "tables"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(contains(r.err, lock_path)) << r.err;
  EXPECT_FALSE(fs::exists(store_.path("elsewhere")));
}

TEST_F(All, UsageErrorsTouchNothing) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--kinds", "mkpc,bogus", "SHOP", "out"}, "quire all: unknown report kind 'bogus' in --kinds\n"},
      {{"--kinds", "mkpx", "SHOP", "out"}, "quire all: unknown report kind 'mkpx' in --kinds; did you mean mkpc?\n"},
      {{"--kinds", "mkpc,", "SHOP", "out"}, "quire all: --kinds needs report kinds separated by commas, not 'mkpc,'\n"},
      {{"--kinds"}, "quire all: --kinds needs a value\n"},
      {{"--wait", "soon", "SHOP", "out"}, "quire all: --wait needs a whole number of seconds, not 'soon'\n"},
      {{"--stop-after", "2", "SHOP", "out"}, "quire all: unknown option '--stop-after'\n"},
      {{"-N1", "SHOP", "out"}, "quire all: '-N1': quire all takes no report options; run quire KIND for them\n"},
      {{"--dbf=yes", "SHOP", "out"}, "quire all: --dbf takes no value\n"},
      {{"SHOP"}, "quire all: the folder is missing\n"},
      {{"SHOP", "out", "more"}, "quire all: unexpected argument 'more' after the folder out\n"},
  };
  for (const auto& [args, message] : cases) {
    RunResult r = all(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err, message + "Try 'quire --help' for more information.\n") << args[0];
  }
  set_environment("QUIRE_ALL_WAIT_S", "-1");
  RunResult r = all({"SHOP", "out"});
  unset_environment("QUIRE_ALL_WAIT_S");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_FALSE(fs::exists(store_.path("out")));
  // Host options before `all` are its own.
  r = run_quire({"--quiet", "all", "--no-progress", "--kinds", "mkpc", "SHOP", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// Ctrl-C stops the kind under way; the kinds after it are not run and are
// named.
TEST(AllInterrupt, CtrlCRunsNoFurtherKind) {
  TempStore store;
  ASSERT_EQ(run_quire({"area", "generate", "BIG", "--markers", "3000"}).status, 0);
  const std::string err = store.path("err.txt");
  pid_t pid = start_quire({"all", "--no-progress", "BIG", "tables"}, err);
  const bool first_done = wait_for_text(err, "-> tables/mkhdr.csv\n");
  ::kill(pid, SIGINT);
  EXPECT_EQ(wait_status(pid), 3);
  ASSERT_TRUE(first_done) << read_file(err);
  const std::string text = read_file(err);
  EXPECT_TRUE(contains(text, "quire: stopping after the current item")) << text;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("quire all: stopped; not run, their tables left as they were: "
                                                    "([a-z, ]+)\n")))
      << text;
  EXPECT_TRUE(m[1].str().ends_with("ordml")) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("\nquire all: 8 kinds: .* [1-7] not run, "))) << text;
  EXPECT_TRUE(fs::exists(store.path("tables/mkhdr.csv")));
  EXPECT_FALSE(fs::exists(store.path("tables/ordml.csv")));
}

// ---- docs/nightly.md ---------------------------------------------------------

// The text of the fenced block of the given language that follows marker.
std::string fenced_block(const std::string& text, const std::string& marker, const std::string& language) {
  size_t at = text.find(marker);
  if (at == std::string::npos) return "";
  at = text.find("```" + language + "\n", at);
  if (at == std::string::npos) return "";
  at += 4 + language.size();
  const size_t end = text.find("```", at);
  return end == std::string::npos ? "" : text.substr(at, end - at);
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string nightly_doc() { return read_file(std::string(QUIRE_SOURCE_DIR) + "/docs/nightly.md"); }

// The recipe's paths moved into root, the program to the build's.
std::string moved_paths(const std::string& text, const fs::path& root) {
  return replace_all(replace_all(text, "/usr/local/bin/quire", quire_program()), "/srv/quire", root.string());
}

// The crontab's lines run as cron runs them: its variables set, the command
// under /bin/sh with cron's bare environment. A second night that finds
// the first still running waits for it.
TEST(Nightly, CronLineRunsAsWritten) {
  TempStore store;
  const std::string crontab = fenced_block(nightly_doc(), "## Linux: cron", "crontab");
  ASSERT_FALSE(crontab.empty());
  const fs::path root = store.root() / "srv" / "quire";
  fs::create_directories(root);
  std::string environment = "HOME=" + shell_quote(store.root().string()) + " SHELL=/bin/sh PATH=/usr/bin:/bin";
  std::string command;
  int lines = 0;
  std::istringstream in(moved_paths(crontab, root));
  for (std::string line; std::getline(in, line);) {
    ++lines;
    std::smatch m;
    if (line.empty() || line[0] == '#') continue;
    if (std::regex_match(line, m, std::regex("([A-Z_]+)=(.*)"))) {
      environment += " " + m[1].str() + "=" + shell_quote(m[2].str());
    } else if (std::regex_match(line, m, std::regex("[0-9*,/-]+ [0-9*,/-]+ [0-9*,/-]+ [0-9*,/-]+ [0-9*,/-]+ (.*)"))) {
      ASSERT_TRUE(command.empty()) << "two schedule lines";
      command = m[1].str();
    } else {
      FAIL() << "not a crontab line: " << line;
    }
  }
  EXPECT_LE(lines, 3);
  ASSERT_FALSE(command.empty());
  ASSERT_EQ(command.find('%'), std::string::npos) << "cron reads % as a newline";
  // The README shows the same lines.
  const std::string readme = read_file(std::string(QUIRE_SOURCE_DIR) + "/README.md");
  std::istringstream original(crontab);
  for (std::string line; std::getline(original, line);) {
    if (line.empty() || line[0] == '#') continue;
    EXPECT_TRUE(contains(readme, "\n" + line + "\n")) << line;
  }
  // The store of the recipe, with the example area.
  set_environment("QUIRE_STORE", (root / "store").string());
  ASSERT_EQ(run_quire({"area", "import", shop_file()}).status, 0);
  set_environment("QUIRE_STORE", store.store().string());

  const std::string run = "env -i " + environment + " /bin/sh -c " + shell_quote(command);
  RunResult r = run_shell(run);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");  // nothing for cron to mail
  const std::string log = read_file(root / "nightly.log");
  EXPECT_TRUE(contains(log, "quire all: 8 kinds: 8 complete, 0 incomplete, 0 failed")) << log;
  for (const std::string& kind : kKinds) EXPECT_TRUE(fs::exists(root / "tables" / (kind + ".csv"))) << kind;
  EXPECT_TRUE(contains(read_file(root / "tables" / "delta.lst"), "NEW: \"M100\""));
  EXPECT_TRUE(contains(read_file(root / "tables" / "changes.jsonl"), "\"event\":\"NEW\""));

  // A failing night prints one line, for cron to mail.
  fs::remove(root / "tables" / "mkpc.csv");
  fs::create_directory(root / "tables" / "mkpc.csv");
  r = run_shell(run);
  EXPECT_EQ(r.out, "quire all: exit status 1, see " + (root / "nightly.log").string() + "\n");
}

// Both unit files pass systemd's own check (the program path moved to the
// build's); they are not run under systemd here.
TEST(Nightly, SystemdUnitsVerify) {
  if (run_shell("systemd-analyze --version").status != 0) GTEST_SKIP() << "systemd-analyze missing";
  TempStore store;
  const std::string doc = nightly_doc();
  const std::string service = fenced_block(doc, "`quire-nightly.service`:", "ini");
  const std::string timer = fenced_block(doc, "`quire-nightly.timer`:", "ini");
  ASSERT_TRUE(contains(service, "ExecStart=/usr/local/bin/quire all ")) << service;
  ASSERT_TRUE(contains(timer, "OnCalendar=")) << timer;
  write_file(store.path("quire-nightly.service"), moved_paths(service, store.root()));
  write_file(store.path("quire-nightly.timer"), timer);
  RunResult r = run_shell("systemd-analyze verify ./quire-nightly.service ./quire-nightly.timer");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
}

// The batch file is three lines and ends with quire's exit status.
TEST(Nightly, BatchFileEndsWithQuiresStatus) {
  const std::string batch = fenced_block(nightly_doc(), "## Windows: Task Scheduler", "bat");
  std::vector<std::string> lines = output_lines(batch);
  ASSERT_EQ(lines.size(), 3u) << batch;
  EXPECT_EQ(lines[1].find("quire.exe all "), lines[1].find("quire.exe")) << lines[1];
  EXPECT_EQ(lines[2], "exit /b %ERRORLEVEL%");
}

// ---- the manual page ---------------------------------------------------------

// The long options a text names ("--name"), the manual page's "\-\-name"
// read as such.
std::set<std::string> long_options(const std::string& text) {
  const std::string plain = replace_all(text, "\\-", "-");
  std::set<std::string> names;
  const std::regex option("--[a-z][a-z-]*[a-z]");
  for (std::sregex_iterator m(plain.begin(), plain.end(), option), end; m != end; ++m) names.insert(m->str());
  return names;
}

std::string manual_page() { return read_file(std::string(QUIRE_SOURCE_DIR) + "/docs/quire.1"); }

// Every option the usage shows is in the manual page, and the page has no
// other; every report kind of the usage is in it too.
TEST(ManPage, CoversTheOptionsAndKindsOfTheUsage) {
  RunResult r = run_quire({"--help"});
  ASSERT_EQ(r.status, 0);
  const std::string page = manual_page();
  EXPECT_EQ(long_options(page), long_options(r.out));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\nKIND is one of: ([a-z ]+)\\.\n")));
  std::istringstream kinds(m[1].str());
  for (std::string kind; kinds >> kind;) EXPECT_TRUE(contains(page, ".B " + kind) || contains(page, ".BR " + kind)) << kind;
  for (const std::string report_option : {"\\-L", "\\-S", "\\-E", "\\-N0", "\\-N1"})
    EXPECT_TRUE(contains(page, report_option)) << report_option;
}

// The completion offers the options of `quire all` that the usage shows.
TEST(ManPage, CompletionOffersTheOptionsOfAll) {
  RunResult r = run_quire({"--help"});
  ASSERT_EQ(r.status, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\n *quire all AREA FOLDER ([^\n]*\n[^q\n][^\n]*)\n")));
  std::set<std::string> usage = long_options(m[1].str());
  usage.insert("--help");
  const std::string completion = read_file(std::string(QUIRE_SOURCE_DIR) + "/cli/quire-completion.bash");
  ASSERT_TRUE(std::regex_search(completion, m, std::regex("local all_options=\"([^\"]*)\"")));
  EXPECT_EQ(long_options(m[1].str()), usage);
}

TEST(ManPage, RendersWithoutWarningsAndIsInstalled) {
  const std::string page = std::string(QUIRE_SOURCE_DIR) + "/docs/quire.1";
  if (run_shell("groff --version").status == 0) {
    RunResult r = run_shell("groff -man -Tutf8 -ww -z " + shell_quote(page));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  TempStore store;
  const fs::path prefix = store.root() / "prefix";
  RunResult r = run_shell(shell_quote(QUIRE_CMAKE_COMMAND) + " --install " + shell_quote(QUIRE_BUILD_DIR) +
                          " --prefix " + shell_quote(prefix.string()));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(read_file(prefix / "share" / "man" / "man1" / "quire.1"), read_file(page));
}

}  // namespace
}  // namespace quire::testing
