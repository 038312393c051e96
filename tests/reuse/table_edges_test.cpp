// Reruns of `quire mkpc` at the edges of the table: store failures in the
// middle of a run, output paths that are not plain files, the change log.
#include <gtest/gtest.h>
#include <algorithm>
#include <ctime>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "quire/files/output_target.h"
#include "support/test_support.h"

namespace quire::testing {
namespace {

using nlohmann::json;

RunResult quire_in(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"mkpc", "--no-progress"});
  std::string cmd = "cd " + shell_quote(dir.string()) + " && " + shell_quote(quire_program());
  for (const auto& a : args) cmd += " " + shell_quote(a);
  return run_shell(cmd);
}

// True when no file of dir has the name of a run's temporary file.
bool no_temporary_files(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().rfind(".quire-", 0) == 0) return false;
  return true;
}

// Damages the area file the way a bad disk block does: the first table page
// that holds text gets a page type no reader accepts. False when no such
// page is found.
bool damage_page_holding(const fs::path& file, const std::string& text) {
  std::string bytes = read_file(file);
  if (bytes.size() < 100) return false;
  size_t page_size = (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
  if (page_size == 1) page_size = 65536;
  for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1)) {
    size_t page = at / page_size * page_size;
    size_t type = page == 0 ? 100 : page;
    if (static_cast<unsigned char>(bytes[type]) != 0x0D) continue;  // not a table leaf
    bytes[type] = static_cast<char>(0xFF);
    write_file(file, bytes);
    return true;
  }
  return false;
}

class TableEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = run_quire({"area", "generate", "EDGE", "--markers", "200", "--pieces-per-marker", "2",
                             "--models", "0", "--orders", "0", "--seed", "3"});
    ASSERT_EQ(0, r.status) << r.err;
    r = run_quire({"area", "export", "EDGE"});
    ASSERT_EQ(0, r.status) << r.err;
    area_ = json::parse(r.out);
  }

  void import(const json& area) {
    RunResult r = import_area(area.dump());
    ASSERT_EQ(0, r.status) << r.err;
  }

  std::string marker(size_t i) const { return area_["markers"][i]["name"].get<std::string>(); }

  // Runs the report into table in the work directory and returns the
  // table's bytes; empty, with the test failed, when the run fails.
  std::string first_run(const char* table) {
    RunResult r = quire_in(store_.work(), {"EDGE", table});
    EXPECT_EQ(0, r.status) << r.err;
    return r.status == 0 ? read_file(store_.work() / table) : std::string();
  }

  // The data rows of a CSV table.
  static std::vector<std::string> rows(const fs::path& table) {
    std::vector<std::string> lines = csv_lines(read_file(table));
    lines.erase(lines.begin(), lines.begin() + std::min<size_t>(2, lines.size()));
    return lines;
  }

  TempStore store_;
  json area_;
};

// Links, FIFOs, devices, sockets, modes and owners: POSIX only.
#ifndef _WIN32
TEST(OutputTarget, StandardOutputByEveryNameAndThroughLinks) {
  TempStore store;
  fs::create_symlink("/dev/stdout", store.work() / "to-stdout");
  for (const std::string& name : std::vector<std::string>{"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", store.path("to-stdout")}) {
    platform::OutputTarget t = platform::examine_output(name);
    EXPECT_EQ(platform::OutputTarget::kStream, t.kind) << name;
    EXPECT_TRUE(t.standard_output) << name;
  }
  // A chain of links ends at its last target; a loop is an error.
  fs::create_symlink("b", store.work() / "a");
  fs::create_symlink("sub/c", store.work() / "b");
  platform::OutputTarget t = platform::examine_output(store.path("a"));
  EXPECT_EQ(platform::OutputTarget::kFile, t.kind);
  EXPECT_EQ(store.path("sub/c"), t.path);
  fs::create_symlink("loop", store.work() / "loop");
  EXPECT_EQ(platform::OutputTarget::kFailed, platform::examine_output(store.path("loop")).kind);
}
#endif  // _WIN32

TEST_F(TableEdges, StoreFailuresKeepThePreviousRowsOfTheItemsNotReached) {
  fs::path work = store_.work();
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  const std::vector<std::string> before = rows(work / "out.csv");
  ASSERT_EQ(400u, before.size());

  // A changed marker that fails to open: it is left out, every other marker
  // keeps its rows and nothing is taken for deleted.
  json area = area_;
  area["markers"][50]["modified"] = area["markers"][50]["modified"].get<int64_t>() + 1;
  area["markers"][50]["faults"]["open"] = true;
  import(area);
  write_file(work / "delta.lst", "");
  RunResult r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_EQ(3, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Error -106, ")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(marker(50))) << r.err;
  std::vector<std::string> expected = before;
  expected.erase(expected.begin() + 100, expected.begin() + 102);
  EXPECT_EQ(expected, rows(work / "out.csv"));
  std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ("CHANGED: \"" + marker(50) + "\"", log[1]);

  // A close failure keeps the item's new rows and the rest as well.
  area["markers"][50]["faults"] = {{"close", true}};
  import(area);
  r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_NE(std::string::npos, r.err.find("Error -106, ")) << r.err;
  EXPECT_EQ(before.size(), rows(work / "out.csv").size());

  // A damaged page of the area file makes a lookup fail halfway: the table
  // keeps every row instead of ending where the damage begins.
  import(area_);
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  ASSERT_EQ(before, rows(work / "out.csv"));
  ASSERT_TRUE(damage_page_holding(store_.store() / "edge.sqlite", marker(150)));
  write_file(work / "delta.lst", "");
  r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_EQ(3, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Error -105, ")) << r.err;
  EXPECT_EQ(before, rows(work / "out.csv"));
  EXPECT_EQ(1u, csv_lines(read_file(work / "delta.lst")).size());  // the preamble only
}

TEST_F(TableEdges, ItemsGoneFromTheEndAreLoggedDeleted) {
  fs::path work = store_.work();
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  json area = area_;
  area["markers"].erase(area["markers"].end() - 2, area["markers"].end());
  import(area);
  // A stopped run keeps their rows and logs nothing for them.
  write_file(work / "delta.lst", "");
  ASSERT_EQ(3, quire_in(work, {"--stop-after", "1", "EDGE", "out.csv"}).status);
  EXPECT_EQ(400u, rows(work / "out.csv").size());
  EXPECT_EQ(1u, csv_lines(read_file(work / "delta.lst")).size());
  // A run that reaches the end drops them and logs each once.
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  EXPECT_EQ(396u, rows(work / "out.csv").size());
  std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
  ASSERT_EQ(4u, log.size());
  EXPECT_EQ("DELETED: \"" + marker(198) + "\"", log[2]);
  EXPECT_EQ("DELETED: \"" + marker(199) + "\"", log[3]);
}

#ifndef _WIN32
TEST_F(TableEdges, ReplacedTableKeepsItsModeAndOwners) {
  fs::path work = store_.work();
  fs::path table = work / "out.csv";
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  ASSERT_EQ(0, ::chmod(table.c_str(), 0640));
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown(table.c_str(), 4321, 4322));
  }
  json area = area_;
  area["markers"][7]["modified"] = 99;
  import(area);
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  ASSERT_EQ(400u, rows(table).size());
  struct stat st {};
  ASSERT_EQ(0, ::stat(table.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  if (root) {
    EXPECT_EQ(4321u, st.st_uid);
    EXPECT_EQ(4322u, st.st_gid);
  }
}

TEST_F(TableEdges, ChangeLogThatIsNoPlainFileIsLeftAlone) {
  fs::path work = store_.work();
  // Another user's link: its target is not written.
  write_file(work / "victim.txt", "mine\n");
  fs::create_symlink(work / "victim.txt", work / "delta.lst");
  // The table is written; the run counts as incomplete for want of its log.
  RunResult r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_EQ(3, r.status) << r.err;
  EXPECT_EQ("mine\n", read_file(work / "victim.txt"));
  EXPECT_NE(std::string::npos, r.err.find("not logged")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("a symbolic link")) << r.err;
  EXPECT_EQ(400u, rows(work / "out.csv").size());
  // A FIFO nobody reads does not hold the run.
  fs::remove(work / "delta.lst");
  ASSERT_EQ(0, ::mkfifo((work / "delta.lst").c_str(), 0600));
  fs::remove(work / "out.csv");
  r = run_shell("cd " + shell_quote(work.string()) + " && timeout 60 " + shell_quote(quire_program()) +
                " mkpc --no-progress EDGE out.csv");
  EXPECT_EQ(3, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("a FIFO")) << r.err;
  EXPECT_EQ(400u, rows(work / "out.csv").size());
}

TEST_F(TableEdges, LinkedOutputReplacesTheLinksTarget) {
  fs::path work = store_.work();
  fs::create_directories(work / "real");
  ASSERT_EQ(0, quire_in(work, {"EDGE", "real/out.csv"}).status);
  const std::string table = read_file(work / "real" / "out.csv");
  // A relative link, followed from its own directory; a dangling one
  // creates its target.
  fs::create_symlink("real/out.csv", work / "link.csv");
  fs::create_symlink("real/new.csv", work / "dangling.csv");
  write_file(work / "delta.lst", "");
  for (const char* name : {"link.csv", "dangling.csv"}) {
    RunResult r = quire_in(work, {"EDGE", name});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(fs::is_symlink(work / name)) << name;
    // OLD.DAT beside the target holds what the run replaced.
    EXPECT_EQ(name == std::string("link.csv"), fs::exists(work / "real" / "OLD.DAT")) << name;
  }
  EXPECT_TRUE(read_file(work / "real" / "out.csv") == table);
  EXPECT_TRUE(read_file(work / "real" / "new.csv") == table);
  EXPECT_FALSE(fs::exists(work / "OLD.DAT"));
  // The linked table was reused: its run logged no item before the
  // dangling link's preamble.
  std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
  ASSERT_EQ(202u, log.size());
  EXPECT_EQ(0u, log[1].rfind("DB_VERSION_3,", 0)) << log[1];
}

TEST_F(TableEdges, StreamsAreWrittenStraightInto) {
  fs::path work = store_.work();
  ASSERT_EQ(0, quire_in(work, {"EDGE", "plain.csv"}).status);
  const std::string table = read_file(work / "plain.csv");
  write_file(work / "delta.lst", "");
  // Standard output, also when it is a redirected file. (Its name
  // /dev/stdout is left to the unit test of examine_output: a fault here
  // must not be able to replace the system's own entry.)
  for (const char* name : {"/dev/fd/1", "/proc/self/fd/1"}) {
    RunResult r = quire_in(work, {"EDGE", name});
    ASSERT_EQ(0, r.status) << name << ": " << r.err;
    EXPECT_TRUE(r.out == table) << name;
    r = run_shell("(cd " + shell_quote(work.string()) + " && " + shell_quote(quire_program()) +
                  " mkpc --no-progress EDGE " + name + " >redirected.csv)");
    ASSERT_EQ(0, r.status) << name << ": " << r.err;
    EXPECT_TRUE(read_file(work / "redirected.csv") == table) << name;
  }
  // A FIFO with a reader.
  ASSERT_EQ(0, ::mkfifo((work / "pipe.csv").c_str(), 0600));
  RunResult r = run_shell("cd " + shell_quote(work.string()) + " && { cat pipe.csv >piped.csv & } && " +
                          shell_quote(quire_program()) + " mkpc --no-progress EDGE pipe.csv; s=$?; wait; exit $s");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(read_file(work / "piped.csv") == table);
  EXPECT_EQ(fs::file_type::fifo, fs::symlink_status(work / "pipe.csv").type());
  // A character device of our own (root only): /dev/null's twin.
  if (::geteuid() == 0 && ::mknod((work / "null.csv").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    r = quire_in(work, {"EDGE", "null.csv"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(fs::file_type::character, fs::symlink_status(work / "null.csv").type());
  }
  // None of them is a previous table, OLD.DAT or a change.
  EXPECT_FALSE(fs::exists(work / "OLD.DAT"));
  EXPECT_EQ("", read_file(work / "delta.lst"));
  for (const auto& entry : fs::directory_iterator(work))
    EXPECT_NE(0u, entry.path().filename().string().rfind(".quire", 0)) << entry.path();
}

TEST_F(TableEdges, DirectoriesSocketsAndBlockDevicesAreRefused) {
  fs::path work = store_.work();
  fs::create_directories(work / "dir.csv");
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socket_path = (work / "sock.csv").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size());
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
  std::vector<std::pair<std::string, std::string>> refused = {{"dir.csv", "a directory"},
                                                              {"sock.csv", "a socket"}};
  if (::geteuid() == 0 && ::mknod((work / "block.csv").c_str(), S_IFBLK | 0600, makedev(7, 200)) == 0)
    refused.push_back({"block.csv", "a block device"});
  write_file(work / "delta.lst", "");
  for (const auto& [name, what] : refused) {
    RunResult r = quire_in(work, {"EDGE", name});
    EXPECT_EQ(1, r.status) << name;
    EXPECT_NE(std::string::npos, r.err.find(name + ": it is " + what)) << r.err;
    r = run_quire({"area", "export", "EDGE", (work / name).string()});
    EXPECT_EQ(1, r.status) << name;
    EXPECT_NE(std::string::npos, r.err.find("it is " + what)) << r.err;
  }
  ::close(fd);
  EXPECT_TRUE(fs::is_empty(work / "dir.csv"));
  EXPECT_EQ("", read_file(work / "delta.lst"));
  EXPECT_FALSE(fs::exists(work / "OLD.DAT"));
}

// Another user's link in a sticky, world-writable directory is never
// followed, also further down a chain of links; root's own is. Needs root
// to give a link another owner.
TEST_F(TableEdges, OtherUsersLinkInASharedDirectoryIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link another owner";
  fs::path work = store_.work();
  fs::path shared = work / "shared";
  fs::path private_dir = work / "private";
  fs::create_directories(shared);
  fs::create_directories(private_dir);
  ASSERT_EQ(0, ::chmod(shared.c_str(), 01777));
  ASSERT_EQ(0, ::chmod(private_dir.c_str(), 0700));
  const fs::path victim = private_dir / "victim.csv";
  write_file(victim, "root's file\n");
  auto plant = [](const fs::path& target, const fs::path& link, uid_t owner) {
    fs::remove(link);
    fs::create_symlink(target, link);
    ASSERT_EQ(0, ::lchown(link.c_str(), owner, owner));
  };
  // The foreign link first in the chain, then behind a link of root's.
  plant(victim, shared / "out.csv", 65534);
  plant(shared / "out.csv", shared / "chain.csv", 0);
  plant(victim, shared / "area.json", 65534);
  write_file(work / "delta.lst", "");
  for (const char* name : {"out.csv", "chain.csv"}) {
    RunResult r = quire_in(work, {"EDGE", std::string("shared/") + name});
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    // The link not followed is named (absolute when reached through one).
    EXPECT_NE(std::string::npos, r.err.find("cannot write ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("shared/out.csv: it is a symbolic link owned by another "
                                            "user in a shared directory (sticky, world-writable); not followed"))
        << r.err;
  }
  RunResult r = run_shell("cd " + shell_quote(work.string()) + " && " + shell_quote(quire_program()) +
                          " area export EDGE shared/area.json");
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("shared/area.json: cannot write: it is a symbolic link owned by another"))
      << r.err;
  EXPECT_EQ("root's file\n", read_file(victim));
  EXPECT_FALSE(fs::exists(private_dir / "OLD.DAT"));
  EXPECT_TRUE(no_temporary_files(private_dir));
  EXPECT_TRUE(no_temporary_files(shared));
  EXPECT_EQ("", read_file(work / "delta.lst"));
  // A link of root's own there is followed as anywhere.
  plant(victim, shared / "out.csv", 0);
  r = quire_in(work, {"EDGE", "shared/out.csv"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(fs::is_symlink(shared / "out.csv"));
  EXPECT_EQ(400u, rows(victim).size());
  EXPECT_EQ("root's file\n", read_file(private_dir / "OLD.DAT"));
}

// A change log that another program keeps locked fails the run after the
// wait limit (made short here) and leaves everything as it was.
TEST_F(TableEdges, ChangeLogLockedByAnotherProgramFailsTheRunAfterAWait) {
  fs::path work = store_.work();
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  write_file(work / "delta.lst", "earlier\r\n");
  json area = area_;
  area["markers"][7]["modified"] = 99;
  import(area);
  const std::string table = read_file(work / "out.csv");
  const std::string old_table = read_file(work / "OLD.DAT");
  // A second opening of the log holds its lock, as another program's does.
  int holder = ::open((work / "delta.lst").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(0, ::flock(holder, LOCK_EX));
  RunResult r = run_shell("cd " + shell_quote(work.string()) + " && QUIRE_LOCK_WAIT_MS=200 " +
                          shell_quote(quire_program()) + " mkpc --no-progress EDGE out.csv");
  ::close(holder);
  EXPECT_EQ(1, r.status) << r.err;
  EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("cannot write out.csv: delta.lst is locked by another program "
                                          "(waited 0.2 s); run again when it is released"))
      << r.err;
  EXPECT_TRUE(read_file(work / "out.csv") == table);
  EXPECT_TRUE(read_file(work / "OLD.DAT") == old_table);
  EXPECT_EQ("earlier\r\n", read_file(work / "delta.lst"));
  EXPECT_TRUE(no_temporary_files(work));
  // Released, the same run goes through.
  r = quire_in(work, {"EDGE", "out.csv"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, read_file(work / "delta.lst").find("CHANGED")) << read_file(work / "delta.lst");
}

TEST_F(TableEdges, ExportFollowsLinksAndWritesIntoStreams) {
  fs::path work = store_.work();
  const std::string json_text = run_quire({"area", "export", "EDGE"}).out;
  fs::create_directories(work / "real");
  fs::create_symlink("real/area.json", work / "link.json");
  RunResult r = run_shell("cd " + shell_quote(work.string()) + " && " + shell_quote(quire_program()) +
                          " area export EDGE link.json");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(fs::is_symlink(work / "link.json"));
  EXPECT_TRUE(read_file(work / "real" / "area.json") == json_text);
  r = run_shell("(" + shell_quote(quire_program()) + " area export EDGE /dev/fd/1 >" +
                shell_quote((work / "out.json").string()) + ")");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(read_file(work / "out.json") == json_text);
  ASSERT_EQ(0, ::mkfifo((work / "pipe.json").c_str(), 0600));
  r = run_shell("cd " + shell_quote(work.string()) + " && { cat pipe.json >piped.json & } && " +
                shell_quote(quire_program()) + " area export EDGE pipe.json; s=$?; wait; exit $s");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(read_file(work / "piped.json") == json_text);
}
#endif  // _WIN32

// A previous table that is not as this system writes tables, damaged past
// its first half so that the run has used part of it when it finds out.
struct Damage {
  const char* name;
  const char* table;  // the output's file name
  const char* why;    // what the line about the table says
  // Damages the table's bytes.
  std::string (*damage)(const std::string& bytes);
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

// The lines of a CSV table back into its bytes.
std::string csv_bytes(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

const Damage kDamages[] = {
    {"ResortedRows", "out.csv", "not in the store's order",
     [](const std::string& bytes) {
       std::vector<std::string> lines = csv_lines(bytes);
       std::reverse(lines.end() - 100, lines.end());
       return csv_bytes(lines);
     }},
    {"BlankRow", "out.csv", "record 202 is blank",
     [](const std::string& bytes) {
       std::vector<std::string> lines = csv_lines(bytes);
       lines.insert(lines.begin() + 2 + 201, "");
       return csv_bytes(lines);
     }},
    {"EmptyKey", "out.csv", "record 202 has no item name",
     [](const std::string& bytes) {
       std::vector<std::string> lines = csv_lines(bytes);
       std::string& row = lines[2 + 201];
       row = "\"\"" + row.substr(row.find(','));
       return csv_bytes(lines);
     }},
    {"MissingValue", "out.csv", "record 202 has 8 values, not 9",
     [](const std::string& bytes) {
       std::vector<std::string> lines = csv_lines(bytes);
       std::string& row = lines[2 + 201];
       row.erase(row.rfind(','));
       return csv_bytes(lines);
     }},
    {"LastRecordCutShort", "out.csv", "its last record is cut short",
     [](const std::string& bytes) { return bytes.substr(0, bytes.size() - 10); }},
    {"DbaseKeysOutOfOrder", "out.dbf", "not in the store's order",
     [](const std::string& bytes) {
       const size_t header = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
       const size_t record = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11]) << 8;
       std::string damaged = bytes;
       for (size_t i = 0; i < record; ++i)
         std::swap(damaged[header + 250 * record + i], damaged[header + 350 * record + i]);
       return damaged;
     }},
};

class DamagedPrevious : public TableEdges, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedPrevious, IsNotUsedAndTheRunEqualsACleanOne) {
  const Damage& d = GetParam();
  const fs::path work = store_.work(), table = work / d.table;
  const std::string clean = first_run(d.table);
  ASSERT_FALSE(clean.empty());
  const std::string damaged = d.damage(clean);
  // A table without its run record: its records are checked as read.
  write_file(table, damaged);
  fs::remove(work / (std::string(".") + d.table + ".quire-run"));
  write_file(work / "delta.lst", "");

  RunResult r = quire_in(work, {"EDGE", d.table});
  EXPECT_EQ(0, r.status) << r.err;
  // One line names the table and why; every item is read afresh.
  const std::string line = std::string(d.table) + " is not used as the previous table: ";
  const size_t at = r.err.find(line);
  ASSERT_NE(std::string::npos, at) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find(line, at + 1)) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(d.why, at)) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("200 read, 0 reused, 400 rows")) << r.err;

  EXPECT_TRUE(read_file(table) == clean);
  EXPECT_TRUE(read_file(work / "OLD.DAT") == damaged);
  // Logged once, as a run without previous table logs: every item new.
  std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
  ASSERT_EQ(201u, log.size());
  for (size_t i = 1; i < log.size(); ++i) EXPECT_EQ("NEW: \"" + marker(i - 1) + "\"", log[i]);
  // No temporary file is left: the table, OLD.DAT, delta.lst, the record.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(work)) files += entry.path().filename() != "store" ? 1 : 0;
  EXPECT_EQ(4u, files);
}

INSTANTIATE_TEST_SUITE_P(Tables, DamagedPrevious, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// Damage inside marker 100 (rows 200 and 201) of a table that has its run
// record: that marker alone is read again, with one line naming it, and
// nothing is logged; where the table is cut, the markers after the cut are
// read again too.
struct RecordedDamage {
  const char* name;
  const char* table;
  int read;
  // Damages the rows (each with its line end, or a whole dBASE record).
  void (*damage)(std::vector<std::string>* rows);
};

void PrintTo(const RecordedDamage& d, std::ostream* os) { *os << d.name; }

const RecordedDamage kRecordedDamages[] = {
    {"CsvRowRemoved", "out.csv", 1, [](std::vector<std::string>* r) { r->erase(r->begin() + 201); }},
    {"CsvRowDuplicated", "out.csv", 1, [](std::vector<std::string>* r) { r->insert(r->begin() + 201, (*r)[201]); }},
    {"CsvByteChanged", "out.csv", 1, [](std::vector<std::string>* r) { (*r)[201][3] ^= 1; }},
    {"CsvCutAtRow", "out.csv", 100, [](std::vector<std::string>* r) { r->resize(201); }},
    {"DbaseRowRemoved", "out.dbf", 1, [](std::vector<std::string>* r) { r->erase(r->begin() + 201); }},
    {"DbaseRowDuplicated", "out.dbf", 1, [](std::vector<std::string>* r) { r->insert(r->begin() + 201, (*r)[201]); }},
    {"DbaseByteChanged", "out.dbf", 1, [](std::vector<std::string>* r) { (*r)[201][3] ^= 1; }},
    {"DbaseCutAtRow", "out.dbf", 100, [](std::vector<std::string>* r) { r->resize(201); }},
};

class DamagedRecordedItem : public TableEdges, public ::testing::WithParamInterface<RecordedDamage> {};

TEST_P(DamagedRecordedItem, IsReadAgainAloneAndNamed) {
  const RecordedDamage& d = GetParam();
  const fs::path work = store_.work(), table = work / d.table;
  const std::string clean = first_run(d.table);
  ASSERT_FALSE(clean.empty());
  // The table as its head, its rows and its end (the dBASE end mark).
  const bool dbase = std::string(d.table) == "out.dbf";
  size_t start = 0, row = 0;
  if (dbase) {
    start = static_cast<unsigned char>(clean[8]) | static_cast<unsigned char>(clean[9]) << 8;
    row = static_cast<unsigned char>(clean[10]) | static_cast<unsigned char>(clean[11]) << 8;
  } else {
    start = clean.find("\r\n", clean.find("\r\n") + 2) + 2;
  }
  std::vector<std::string> rows;
  size_t at = start;
  while (rows.size() < 400) {
    const size_t end = dbase ? at + row : clean.find("\r\n", at) + 2;
    rows.push_back(clean.substr(at, end - at));
    at = end;
  }
  d.damage(&rows);
  std::string damaged = clean.substr(0, start);
  for (const std::string& r : rows) damaged += r;
  if (d.read == 1) damaged += clean.substr(at);  // not cut
  write_file(table, damaged);
  write_file(work / "delta.lst", "");

  RunResult r = quire_in(work, {"EDGE", d.table});
  EXPECT_EQ(0, r.status) << r.err;
  const std::string line = "marker " + marker(100) + ": the previous table " + d.table + " was damaged there";
  EXPECT_NE(std::string::npos, r.err.find(line)) << r.err;
  EXPECT_EQ(2, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;  // that line and the summary
  EXPECT_NE(std::string::npos, r.err.find(" " + std::to_string(d.read) + " read, ")) << r.err;
  EXPECT_TRUE(read_file(table) == clean);
  EXPECT_EQ(1u, csv_lines(read_file(work / "delta.lst")).size());  // the preamble alone
}

INSTANTIATE_TEST_SUITE_P(Tables, DamagedRecordedItem, ::testing::ValuesIn(kRecordedDamages),
                         [](const ::testing::TestParamInfo<RecordedDamage>& info) {
                           return std::string(info.param.name);
                         });

// Another area's table moved to the path with its run record, its markers
// named and stamped as this area's: it is not reused, and the run logs
// nothing, as for a table of another report.
TEST_F(TableEdges, AnotherAreasTableIsNotReused) {
  RunResult g = run_quire({"area", "generate", "EDGE2", "--markers", "200", "--pieces-per-marker", "2",
                           "--models", "0", "--orders", "0", "--seed", "3"});
  ASSERT_EQ(0, g.status) << g.err;
  fs::path work = store_.work();
  fs::create_directories(work / "other");
  for (std::string table : {"out.csv", "out.dbf"}) {
    ASSERT_EQ(0, quire_in(work, {"EDGE", table}).status);
    const std::string own = read_file(work / table);
    ASSERT_EQ(0, quire_in(work / "other", {"EDGE2", table}).status);
    for (std::string name : {table, "." + table + ".quire-run"}) fs::copy_file(work / "other" / name, work / name, fs::copy_options::overwrite_existing);
    write_file(work / "delta.lst", "");
    RunResult r = quire_in(work, {"EDGE", table});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(" 200 read, 0 reused")) << table << r.err;
    EXPECT_TRUE(read_file(work / table) == own) << table;
    EXPECT_EQ("", read_file(work / "delta.lst")) << table;
  }
}

// Filtered runs take only the items they are asked for: the items left out
// are neither copied nor logged, and a list's order does not matter.
TEST_F(TableEdges, FilteredRunsLogNothingForTheItemsLeftOut) {
  json area = area_;
  for (size_t i = 0; i < area["markers"].size(); ++i)
    area["markers"][i]["modified"] = i < 190 ? 1483228800 : 1609459200 + static_cast<int64_t>(i);  // 2017, 2021
  import(area);
  const fs::path work = store_.work();
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  const std::vector<std::string> all_rows = rows(work / "out.csv");

  // By date: the ten markers of 2021 are reused, the others left out.
  write_file(work / "delta.lst", "");
  RunResult r = quire_in(work, {"-S20/01/01", "EDGE", "out.csv"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(" 0 read, 10 reused")) << r.err;
  EXPECT_EQ(1u, csv_lines(read_file(work / "delta.lst")).size()) << read_file(work / "delta.lst");
  EXPECT_EQ(std::vector<std::string>(all_rows.end() - 20, all_rows.end()), rows(work / "out.csv"));

  // By a list in no particular order, after a full run: the listed markers
  // are reused and nothing is logged, at every rerun.
  ASSERT_EQ(0, quire_in(work, {"EDGE", "out.csv"}).status);
  write_file(work / "list.txt", marker(150) + "\r\n" + marker(3) + "\n\n" + marker(199) + "\n");
  for (int run = 0; run < 2; ++run) {
    write_file(work / "delta.lst", "");
    r = quire_in(work, {"-Llist.txt", "EDGE", "out.csv"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(" 0 read, 3 reused")) << r.err;
    EXPECT_EQ(1u, csv_lines(read_file(work / "delta.lst")).size()) << read_file(work / "delta.lst");
    // The table holds them in the list's order.
    std::vector<std::string> expected = {all_rows[300], all_rows[301], all_rows[6], all_rows[7], all_rows[398],
                                         all_rows[399]};
    EXPECT_EQ(expected, rows(work / "out.csv"));
  }
  // A listed marker that changed is logged; an unlisted one that is gone is not.
  area["markers"][150]["modified"] = 1609459200;
  area["markers"].erase(area["markers"].begin() + 100);
  import(area);
  write_file(work / "delta.lst", "");
  r = quire_in(work, {"-Llist.txt", "EDGE", "out.csv"});
  EXPECT_EQ(0, r.status) << r.err;
  std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ("CHANGED: \"" + marker(150) + "\"", log[1]);
}

// An unchanged item is unchanged whatever the time zone of the rerun, and
// the feed's old time is the item's own.
TEST_F(TableEdges, DetailedRerunInAnotherTimeZoneFindsOnlyRealChanges) {
  const fs::path work = store_.work();
  const int64_t was = area_["markers"][7]["modified"].get<int64_t>();
  json area = area_;
  area["markers"][7]["modified"] = was + 3600;
  for (std::string table : {"out.csv", "out.dbf"}) {
    SCOPED_TRACE(table);
    import(area_);
    ASSERT_EQ(0, quire_in(work, {"--detailed", "EDGE", table}).status);
    import(area);
    write_file(work / "delta.lst", "");
    fs::remove(work / "feed.jsonl");
    RunResult r = run_shell("cd " + shell_quote(work.string()) + " && TZ=JST-9 " + shell_quote(quire_program()) +
                            " mkpc --no-progress --detailed --changes feed.jsonl EDGE " + table);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(" 1 read, 199 reused")) << r.err;
    std::vector<std::string> log = csv_lines(read_file(work / "delta.lst"));
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ("CHANGED: \"" + marker(7) + "\"", log[1]);
    json change = json::parse(read_file(work / "feed.jsonl"));
    char old_time[32];
    const std::time_t t = static_cast<std::time_t>(was);
    std::strftime(old_time, sizeof old_time, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
    EXPECT_EQ(old_time, change["old"].get<std::string>());
  }
}

// Two stores given by the same relative path in two directories each have
// an area of one name: the table of one is never taken for the other's.
TEST_F(TableEdges, SameAreaNameInTwoRelativeStoresIsNotMixedUp) {
  const fs::path root = store_.work();
  auto in = [&](const std::string& dir, const std::string& args) {
    fs::create_directories(root / dir);
    return run_shell("cd " + shell_quote((root / dir).string()) + " && QUIRE_STORE=store " +
                     shell_quote(quire_program()) + " " + args);
  };
  // The same names and stamps, other pieces.
  ASSERT_EQ(0, in("a", "area generate A30 --markers 30 --pieces-per-marker 2 --models 0 --orders 0 --seed 5").status);
  ASSERT_EQ(0, in("b", "area generate A30 --markers 30 --pieces-per-marker 3 --models 0 --orders 0 --seed 5").status);
  json a = json::parse(in("a", "area export A30").out);
  json b = json::parse(in("b", "area export A30").out);
  for (size_t i = 0; i < 30; ++i) {
    b["markers"][i]["name"] = a["markers"][i]["name"];
    b["markers"][i]["modified"] = a["markers"][i]["modified"];
  }
  write_file(root / "b" / "area.json", b.dump());
  ASSERT_EQ(0, in("b", "area import area.json").status);
  ASSERT_EQ(0, in("b", "mkpc --no-progress A30 ../fresh.csv").status);
  fs::create_directories(root / "t");
  for (const char* table : {"out.csv", "out.dbf"}) {
    SCOPED_TRACE(table);
    ASSERT_EQ(0, in("a", std::string("mkpc --no-progress A30 ../t/") + table).status);
    write_file(root / "b" / "delta.lst", "");
    RunResult r = in("b", std::string("mkpc --no-progress A30 ../t/") + table);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(" 30 read, 0 reused")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("from another storage area")) << r.err;
    if (std::string(table) == "out.csv") {
      EXPECT_TRUE(read_file(root / "t" / table) == read_file(root / "fresh.csv"));
    }
  }
}

}  // namespace
}  // namespace quire::testing
