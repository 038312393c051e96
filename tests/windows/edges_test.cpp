// The Windows edges of writing a table or an area file: files another
// program holds open, read-only tables, devices and named pipes as the
// output, long, UNC and cp1252 paths, another drive than the current
// directory's, and the time zone that TZ sets.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "files/windows_files.h"
#include "quire/files/file_system.h"
#include "support/test_support.h"
#include "table/dbf/dbf_layout.h"
#include "table/table_format.h"

namespace quire::testing {
namespace {

// M1 and M2 at 2006-07-15 00:00:00 and :01 UTC, m3 a day later.
const char kArea[] = R"({
  "name": "EDGES", "notation": 0, "precision": 3,
  "markers": [
    {"name": "M1", "modified": 1152921600,
     "pieces": [{"name": "FRONT", "category": "BODY", "area": 10.0, "perimeter": 12.5, "size": "M"}]},
    {"name": "M2", "modified": 1152921601},
    {"name": "m3", "modified": 1153008001,
     "pieces": [{"name": "COLLAR", "category": "NECK", "area": 1, "perimeter": 2, "size": "S"}]}
  ]})";

const char kBusy[] = ": it is open in another program; close it and run again\n";

// The path in the ANSI code page; empty when that lacks a character of it.
std::string ansi(const std::wstring& wide) {
  std::string path;
  return platform::internal::narrow_path(wide, &path) ? path : std::string();
}

std::wstring wide(const std::string& path) { return platform::internal::wide_path(path.c_str()); }

bool exists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// The names in directory that begin with prefix.
std::vector<std::string> names_with(const std::string& directory, const std::string& prefix) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((wide(directory) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = ansi(found.cFileName);
    if (name.rfind(prefix, 0) == 0 && name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// A file opened as a spreadsheet program opens the table it shows: sharing
// nothing with anybody.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path)
      : handle_(CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

class Edges : public ::testing::Test {
 protected:
  void SetUp() override {
    set_environment("TZ", "UTC");
    RunResult r = import_area(kArea);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  RunResult mkpc(std::vector<std::string> args) {
    args.insert(args.begin(), {"mkpc", "--no-progress", "--quiet"});
    return run_quire(args);
  }
  // A table at out.csv, an OLD.DAT and a change log of a run before.
  void previous_run() {
    ASSERT_EQ(mkpc({"EDGES", "out.csv"}).status, 0);
    write_file(store_.path("OLD.DAT"), "the table before\r\n");
    write_file(store_.path("delta.lst"), "a change\r\n");
  }
  std::string contents(const char* name) { return read_file(store_.path(name)); }

  TempStore store_;
};

TEST_F(Edges, FileHeldOpenStopsTheRunBeforeAnythingChanges) {
  previous_run();
  const std::string table = contents("out.csv");
  struct Case {
    const char* held;
    std::string message;
  } cases[] = {
      {"out.csv", "quire mkpc: cannot replace out.csv" + std::string(kBusy)},
      {"OLD.DAT", "quire mkpc: cannot replace OLD.DAT" + std::string(kBusy)},
      {"delta.lst", "quire mkpc: cannot write to delta.lst" + std::string(kBusy)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    HeldOpen held(store_.path(c.held));
    ASSERT_TRUE(held.ok());
    RunResult r = mkpc({"--detailed", "EDGES", "out.csv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_EQ(contents("out.csv"), table);
  EXPECT_EQ(contents("OLD.DAT"), "the table before\r\n");
  EXPECT_EQ(contents("delta.lst"), "a change\r\n");
  EXPECT_TRUE(names_with(store_.work().string(), ".quire-").empty());
}

// One table held open in another program never stops a run of another
// table in the same folder: OLD.DAT is a copy of the table it keeps, never
// a second name of it, also after an unchanged rerun. An OLD.DAT that is a
// second name all the same (left by an earlier version) is named with the
// table the user has open. Run records are hidden files, replaced as such.
TEST_F(Edges, TableHeldOpenDoesNotStopARunOfAnotherTable) {
  ASSERT_EQ(mkpc({"EDGES", "out.csv"}).status, 0);
  ASSERT_EQ(mkpc({"EDGES", "out.csv"}).status, 0);
  const std::string table = contents("out.csv");
  EXPECT_EQ(contents("OLD.DAT"), table);
  EXPECT_FALSE(platform::same_file(store_.path("out.csv"), store_.path("OLD.DAT")));
  {
    HeldOpen held(store_.path("out.csv"));
    ASSERT_TRUE(held.ok());
    RunResult r = mkpc({"EDGES", "other.csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = mkpc({"--detailed", "EDGES", "other.csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(contents("out.csv"), table);
  auto hidden = [&](const char* name) {
    const DWORD attributes = GetFileAttributesW(wide(store_.path(name)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  };
  EXPECT_TRUE(hidden(".out.csv.quire-run"));
  EXPECT_TRUE(hidden(".other.csv.quire-run"));
  ASSERT_EQ(mkpc({"--detailed", "EDGES", "out.csv"}).status, 0);
  EXPECT_TRUE(hidden(".out.csv.quire-run"));
  EXPECT_NE(contents("out.csv"), table);

  ASSERT_TRUE(DeleteFileW(wide(store_.path("OLD.DAT")).c_str()));
  ASSERT_TRUE(CreateHardLinkW(wide(store_.path("OLD.DAT")).c_str(), wide(store_.path("out.csv")).c_str(), nullptr));
  HeldOpen held(store_.path("out.csv"));
  ASSERT_TRUE(held.ok());
  RunResult r = mkpc({"EDGES", "other.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire mkpc: cannot replace OLD.DAT: it is a second name of out.csv, which is open in another "
                   "program; close it and run again\n");
  EXPECT_TRUE(names_with(store_.work().string(), ".quire-").empty());
}

// The same failure when another program opens the file only after the run
// checked it: the step that meets it says why.
TEST_F(Edges, RenameAndRemoveOfFileHeldOpenSayWhy) {
  write_file(store_.path("a"), "a");
  write_file(store_.path("b"), "b");
  for (const char* held_name : {"a", "b"}) {
    SCOPED_TRACE(held_name);
    HeldOpen held(store_.path(held_name));
    ASSERT_TRUE(held.ok());
    quire::Status status;
    EXPECT_FALSE(platform::rename_file(platform::system_file_env(), "a", "b", &status));
    EXPECT_EQ(status.message(), "cannot rename a to b" + std::string(kBusy, sizeof kBusy - 2));
    quire::Status removal;
    EXPECT_FALSE(platform::remove_file(platform::system_file_env(), held_name, &removal));
    EXPECT_EQ(removal.error(), ETXTBSY);
  }
  EXPECT_EQ(contents("a"), "a");
  EXPECT_EQ(contents("b"), "b");
}

TEST_F(Edges, AreaFileHeldOpenIsNotReplaced) {
  ASSERT_EQ(run_quire({"area", "export", "EDGES", "area.json"}).status, 0);
  const std::string exported = contents("area.json");
  {
    HeldOpen held(store_.path("area.json"));
    ASSERT_TRUE(held.ok());
    RunResult r = run_quire({"area", "export", "EDGES", "area.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quire area export: cannot replace area.json" + std::string(kBusy));
  }
  EXPECT_EQ(contents("area.json"), exported);

  std::vector<std::string> stored = names_with(store_.store().string(), "");
  ASSERT_EQ(stored.size(), 1u);
  const std::string area_file = (store_.store() / stored[0]).string();
  const std::string before = read_file(area_file);
  {
    HeldOpen held(area_file);
    ASSERT_TRUE(held.ok());
    RunResult r = run_quire({"area", "import", "area.json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot replace " + area_file + kBusy), std::string::npos) << r.err;
  }
  EXPECT_EQ(read_file(area_file), before);
  EXPECT_EQ(names_with(store_.store().string(), "").size(), 1u);
}

TEST_F(Edges, ReadOnlyTableIsNotReplaced) {
  previous_run();
  const std::string table = contents("out.csv");
  const std::wstring name = wide(store_.path("out.csv"));
  ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY));
  RunResult r = mkpc({"--detailed", "EDGES", "out.csv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quire mkpc: cannot replace the read-only file out.csv: Permission denied\n");
  EXPECT_EQ(contents("out.csv"), table);
  EXPECT_EQ(contents("OLD.DAT"), "the table before\r\n");
  EXPECT_EQ(contents("delta.lst"), "a change\r\n");
  EXPECT_TRUE(names_with(store_.work().string(), ".quire-").empty());
  SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Edges, DevicesAreWrittenAsStreams) {
  write_file(store_.path("delta.lst"), "a change\r\n");
  for (const char* output : {"NUL", "nul.csv", "C:\\no such directory\\NUL", "NUL:", "nul.dbf"}) {
    SCOPED_TRACE(output);
    RunResult r = mkpc({"EDGES", output});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  // No table, OLD.DAT, temporary file or change line anywhere here.
  EXPECT_EQ(names_with(store_.work().string(), "").size(), 1u);
  EXPECT_EQ(contents("delta.lst"), "a change\r\n");
}

TEST_F(Edges, NamedPipeReceivesTheTable) {
  ASSERT_EQ(mkpc({"EDGES", "file.csv"}).status, 0);
  const std::string pipe_name = "\\\\.\\pipe\\quire-edges-" + std::to_string(process_id());
  HANDLE pipe = CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 65536, 0,
                                 nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::string received;
  std::thread reader([&] {
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(pipe, block, sizeof block, &got, nullptr) && got > 0) received.append(block, got);
  });
  RunResult r = mkpc({"EDGES", pipe_name});
  reader.join();
  CloseHandle(pipe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(received, contents("file.csv"));
  EXPECT_FALSE(exists(store_.path("OLD.DAT")));
}

TEST(EdgePaths, ShareLongAndDrivePathsKeepOldTableBesideTheTable) {
  struct Case {
    const char* path;
    const wchar_t* wide;
    const char* directory;
    const char* old_table;
    bool dbase;
  } cases[] = {
      {"\\\\server\\share\\dir\\out.dbf", L"\\\\?\\UNC\\server\\share\\dir\\out.dbf", "\\\\server\\share\\dir",
       "\\\\server\\share\\dir\\OLD.DAT", true},
      {"\\\\server\\share\\out.DBF", L"\\\\?\\UNC\\server\\share\\out.DBF", "\\\\server\\share\\",
       "\\\\server\\share\\OLD.DAT", true},
      {"//server/share/dir/out.csv", L"\\\\?\\UNC\\server\\share\\dir\\out.csv", "//server/share/dir",
       "//server/share/dir/OLD.DAT", false},
      {"\\\\?\\UNC\\server\\share\\x.dbf", L"\\\\?\\UNC\\server\\share\\x.dbf", "\\\\?\\UNC\\server\\share\\",
       "\\\\?\\UNC\\server\\share\\OLD.DAT", true},
      {"\\\\server\\share.dbf\\d.dbf\\out", L"\\\\?\\UNC\\server\\share.dbf\\d.dbf\\out",
       "\\\\server\\share.dbf\\d.dbf", "\\\\server\\share.dbf\\d.dbf\\OLD.DAT", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(wide(c.path), c.wide);
    EXPECT_EQ(platform::directory_of(c.path), c.directory);
    EXPECT_EQ(table::old_table_path(c.path), c.old_table);
    EXPECT_EQ(table::is_dbase_path(c.path), c.dbase);
  }
  std::string narrow;
  ASSERT_TRUE(platform::internal::narrow_path(L"\\\\?\\UNC\\server\\share\\dir\\out.dbf", &narrow));
  EXPECT_EQ(narrow, "\\\\server\\share\\dir\\out.dbf");
}

TEST_F(Edges, LongCp1252AndOtherDrivePaths) {
  // A directory path past 260 characters, given without the \\?\ prefix.
  std::string long_directory = store_.work().string();
  while (long_directory.size() < 300) {
    long_directory += "\\a-directory-name-of-forty-characters-xx";
    ASSERT_TRUE(CreateDirectoryW(wide(long_directory).c_str(), nullptr));
  }
  // Letters of the ANSI code page in the directory and the table's names.
  const std::string letters = ansi(L"\u00e9\u00fc\u00df");
  std::string letters_directory;
  if (!letters.empty()) {
    // Joined as texts: a std::filesystem path would read them as UTF-8.
    letters_directory = store_.work().string() + "\\d" + letters;
    ASSERT_TRUE(CreateDirectoryW(wide(letters_directory).c_str(), nullptr));
  }
  // A drive other than the current directory's (Wine has C: and Z:).
  const std::string current = store_.work().string();
  const bool on_c = current[0] == 'C' || current[0] == 'c';
  const std::string other_drive = std::string(on_c ? "Z:\\tmp" : "C:\\windows\\temp") + "\\quire-edges-" +
                                  std::to_string(process_id());
  ASSERT_TRUE(CreateDirectoryW(wide(other_drive).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);

  std::vector<std::string> outputs = {long_directory + "\\out.csv", other_drive + "\\out.dbf"};
  if (!letters.empty()) outputs.push_back(letters_directory + "\\t" + letters + ".csv");
  write_file(store_.path("delta.lst"), "");
  for (const std::string& output : outputs) {
    SCOPED_TRACE(output);
    ASSERT_EQ(mkpc({"EDGES", output}).status, 0);
    RunResult r = mkpc({"--detailed", "EDGES", output});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(output));
    EXPECT_TRUE(exists(platform::directory_of(output) + "\\OLD.DAT"));
    EXPECT_TRUE(names_with(platform::directory_of(output), ".quire-").empty());
  }
  // Each run logged its changes in the current directory's log.
  EXPECT_NE(contents("delta.lst"), "");
  // The long directories go from the deepest up, through \\?\ paths.
  DeleteFileW(wide(long_directory + "\\out.csv").c_str());
  DeleteFileW(wide(long_directory + "\\OLD.DAT").c_str());
  while (long_directory.size() > current.size() && RemoveDirectoryW(wide(long_directory).c_str()))
    long_directory = platform::directory_of(long_directory);
  DeleteFileW(wide(other_drive + "\\out.dbf").c_str());
  DeleteFileW(wide(other_drive + "\\OLD.DAT").c_str());
  RemoveDirectoryW(wide(other_drive).c_str());

  // An area exported to, imported from and stored under such names.
  if (letters.empty()) GTEST_SKIP() << "the ANSI code page has no \u00e9, \u00fc, \u00df";
  const std::string area_file = letters_directory + "\\" + letters + ".json";
  ASSERT_EQ(run_quire({"area", "export", "EDGES", area_file}).status, 0);
  ASSERT_EQ(run_quire({"area", "export", "EDGES", area_file}).status, 0);
  set_environment("QUIRE_STORE", letters_directory + "\\st" + letters);
  RunResult r = run_quire({"area", "import", area_file});
  EXPECT_EQ(r.status, 0) << r.err;
  // And a list file of such a name.
  const std::string list = letters_directory + "\\l" + letters + ".lst";
  HANDLE file = CreateFileW(wide(list).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "m3\r\n", 4, &written, nullptr);
  CloseHandle(file);
  r = mkpc({"-L" + list, "EDGES", "again.csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(contents("again.csv").find("\"m3\""), std::string::npos);
  EXPECT_EQ(contents("again.csv").find("\"M1\""), std::string::npos);
}

// The detailed table's times and the -S filter agree with the zone TZ sets,
// whatever zone Windows itself is set to.
TEST_F(Edges, TimesFollowTz) {
  struct Case {
    const char* tz;
    const char* m1_time;  // M1's modification time as the detailed table shows it
    const char* keeps_m1;
    const char* drops_m1;  // and M2, a second later
  } cases[] = {
      {"UTC", "Sat Jul 15 00:00:00 2006", "-S06/07/15,00:00", "-S06/07/15,00:01"},
      {"EST5EDT", "Fri Jul 14 20:00:00 2006", "-S06/07/14,20:00", "-S06/07/14,20:01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    set_environment("TZ", c.tz);
    const std::string all = std::string(c.tz) + "-all.csv";
    const std::string kept = std::string(c.tz) + "-kept.csv";
    const std::string dropped = std::string(c.tz) + "-dropped.csv";
    ASSERT_EQ(mkpc({"--detailed", "EDGES", all}).status, 0);
    ASSERT_EQ(mkpc({"--detailed", c.keeps_m1, "EDGES", kept}).status, 0);
    ASSERT_EQ(mkpc({"--detailed", c.drops_m1, "EDGES", dropped}).status, 0);
    EXPECT_NE(contents(all.c_str()).find(c.m1_time), std::string::npos) << contents(all.c_str());
    EXPECT_NE(contents(kept.c_str()).find("\"M1\""), std::string::npos);
    EXPECT_EQ(contents(dropped.c_str()).find("\"M1\""), std::string::npos);
    EXPECT_NE(contents(dropped.c_str()).find("\"m3\""), std::string::npos);
  }
  set_environment("TZ", "UTC");
}

}  // namespace
}  // namespace quire::testing
