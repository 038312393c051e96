// Shared helpers for tests: a private store directory, the quire program,
// files. Header-only so that every test module can include it.
#ifndef QUIRE_TESTS_SUPPORT_TEST_SUPPORT_H_
#define QUIRE_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quire::testing {

namespace fs = std::filesystem;

// Directory of the built libraries and programs.
inline std::string bin_dir() { return QUIRE_BIN_DIR; }
inline std::string quire_program() { return bin_dir() + "/quire"; }

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Quotes one argument for /bin/sh.
inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// A fresh temporary directory that is removed at the end of the scope, and
// a store inside it: QUIRE_STORE points there for this process and every
// program it starts, and the current directory is the scratch directory.
class TempStore {
 public:
  TempStore() {
    std::random_device rd;
    root_ = fs::temp_directory_path() /
            ("quire-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(root_ / "store");
    fs::create_directories(root_ / "work");
    old_cwd_ = fs::current_path();
    const char* old = std::getenv("QUIRE_STORE");
    had_store_ = old != nullptr;
    if (old) old_store_ = old;
    ::setenv("QUIRE_STORE", (root_ / "store").c_str(), 1);
    fs::current_path(root_ / "work");
  }
  ~TempStore() {
    std::error_code ec;
    fs::current_path(old_cwd_, ec);
    if (had_store_) ::setenv("QUIRE_STORE", old_store_.c_str(), 1);
    else ::unsetenv("QUIRE_STORE");
    fs::remove_all(root_, ec);
  }
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  fs::path root() const { return root_; }
  fs::path store() const { return root_ / "store"; }
  fs::path work() const { return root_ / "work"; }
  std::string path(const std::string& name) const { return (root_ / "work" / name).string(); }

 private:
  fs::path root_;
  fs::path old_cwd_;
  std::string old_store_;
  bool had_store_ = false;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs a shell command line, capturing standard output and standard error.
inline RunResult run_shell(const std::string& command_line) {
  static int counter = 0;
  std::string base = (fs::temp_directory_path() /
                      ("quire-run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                         .string();
  std::string cmd = command_line + " >" + shell_quote(base + ".out") + " 2>" +
                    shell_quote(base + ".err") + " </dev/null";
  int raw = std::system(cmd.c_str());
  RunResult r;
  if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  else if (raw != -1 && WIFSIGNALED(raw)) r.status = 128 + WTERMSIG(raw);
  r.out = read_file(base + ".out");
  r.err = read_file(base + ".err");
  std::error_code ec;
  fs::remove(base + ".out", ec);
  fs::remove(base + ".err", ec);
  return r;
}

// Runs the quire program with the given arguments.
inline RunResult run_quire(const std::vector<std::string>& args) {
  std::string cmd = shell_quote(quire_program());
  for (const auto& a : args) cmd += " " + shell_quote(a);
  return run_shell(cmd);
}

// Imports an area from JSON text through `quire area import -`.
inline RunResult import_area(const std::string& json) {
  fs::path file = fs::temp_directory_path() /
                  ("quire-area-" + std::to_string(::getpid()) + "-" +
                   std::to_string(std::random_device{}()) + ".json");
  write_file(file, json);
  RunResult r = run_quire({"area", "import", file.string()});
  std::error_code ec;
  fs::remove(file, ec);
  return r;
}

// Splits a CSV output into its lines (without the CR LF).
inline std::vector<std::string> csv_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace quire::testing

#endif  // QUIRE_TESTS_SUPPORT_TEST_SUPPORT_H_
