// Ctrl-C during `quire mkpc`: the first ends the run as a stopped run, the
// second aborts it and leaves the output path untouched. The list file is a
// pipe, so the test decides when the run moves on.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace quire::testing {
namespace {

const char kArea[] = R"({"name": "INT", "markers": [
  {"name": "M1", "modified": 1, "pieces": [{"name": "P1"}]},
  {"name": "M2", "modified": 2, "pieces": [{"name": "P2"}]},
  {"name": "M3", "modified": 3, "pieces": [{"name": "P3"}]}]})";

class Interrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = import_area(kArea);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(::mkfifo(store_.path("names.fifo").c_str(), 0600), 0);
  }

  // Starts quire mkpc reading its list from the pipe; returns the pipe's
  // writing end once quire has opened it.
  int start() {
    std::string err = store_.path("err.txt");
    std::string list = "-L" + store_.path("names.fifo");
    std::string out = store_.path("out.csv");
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 2);
      ::execl(quire_program().c_str(), "quire", "mkpc", "--progress", list.c_str(), "INT",
              out.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return ::open(store_.path("names.fifo").c_str(), O_WRONLY);
  }

  // Starts quire, lists M1, and once M1 is done (quire then waits for the
  // next list line) sends Ctrl-C; returns the pipe's writing end, or -1
  // when a step did not happen.
  int start_and_stop_after_m1() {
    int fd = start();
    if (fd < 0) return -1;
    if (::write(fd, "M1\n", 3) != 3 || !wait_for_message("1/3 items")) return ::close(fd), -1;
    ::kill(pid_, SIGINT);
    if (!wait_for_message("stopping")) return ::close(fd), -1;
    return fd;
  }

  // Waits until standard error holds text (at most five seconds).
  bool wait_for_message(const std::string& text) {
    for (int i = 0; i < 500; ++i) {
      if (read_file(store_.path("err.txt")).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  int wait_status() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
  }

  TempStore store_;
  pid_t pid_ = -1;
};

TEST_F(Interrupt, FirstCtrlCStopsAfterTheCurrentItem) {
  int fd = start_and_stop_after_m1();
  ASSERT_GE(fd, 0);
  // The interrupted read goes on: M2 is dumped, then its stop query ends
  // the run before M3.
  ASSERT_EQ(::write(fd, "M2\nM3\n", 6), 6);
  ::close(fd);
  // The table is written but not complete.
  EXPECT_EQ(wait_status(), 3);
  EXPECT_NE(read_file(store_.path("err.txt")).find("(incomplete: stopped)"), std::string::npos);
  auto lines = csv_lines(read_file(store_.path("out.csv")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].rfind(R"("M1","P1")", 0), 0u);
  EXPECT_EQ(lines[3].rfind(R"("M2","P2")", 0), 0u);
}

// The second Ctrl-C also removes the table's temporary file, and leaves
// standard error with its lines ended.
TEST_F(Interrupt, SecondCtrlCAbortsAndLeavesThePreviousTable) {
  write_file(store_.path("out.csv"), "previous table\r\n");
  int fd = start_and_stop_after_m1();
  ASSERT_GE(fd, 0);
  ::kill(pid_, SIGINT);
  EXPECT_EQ(wait_status(), 128 + SIGINT);
  ::close(fd);
  EXPECT_EQ(read_file(store_.path("out.csv")), "previous table\r\n");
  for (const auto& entry : std::filesystem::directory_iterator(store_.work()))
    EXPECT_NE(entry.path().filename().string().rfind(".quire-new-", 0), 0u) << entry.path();
  std::string err = read_file(store_.path("err.txt"));
  EXPECT_EQ(err.back(), '\n') << err;
}

// A reader that closes standard output ends the run as SIGPIPE does, with
// the progress line ended: the shell's next line starts on a line of its
// own.
TEST(BrokenPipe, EndsTheProgressLine) {
  TempStore store;
  RunResult r = run_quire({"area", "generate", "BIG", "--markers", "3000"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string err = store.path("err.txt");
  r = run_shell("(" + shell_quote(quire_program()) + " mkpc --progress BIG - 2>" + shell_quote(err) +
                "; echo $? >" + shell_quote(store.path("status.txt")) + ") | head -c 1 >/dev/null");
  EXPECT_EQ(read_file(store.path("status.txt")), std::to_string(128 + SIGPIPE) + "\n");
  std::string text = read_file(err);
  EXPECT_NE(text.find(" items "), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n') << text;
}

}  // namespace
}  // namespace quire::testing
