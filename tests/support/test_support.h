// Shared helpers for tests: a private store directory, the quire program,
// files. Header-only so that every test module can include it.
#ifndef QUIRE_TESTS_SUPPORT_TEST_SUPPORT_H_
#define QUIRE_TESTS_SUPPORT_TEST_SUPPORT_H_

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#include <stdlib.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

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
#ifdef _WIN32
inline std::string quire_program() { return bin_dir() + "/quire.exe"; }
// The file names of a shared library and of a program of the build.
inline std::string library_file(const std::string& base) { return base + ".dll"; }
inline std::string program_file(const std::string& base) { return base + ".exe"; }
inline int process_id() { return _getpid(); }
inline void set_environment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
inline void unset_environment(const char* name) { _putenv_s(name, ""); }
#else
inline std::string quire_program() { return bin_dir() + "/quire"; }
inline std::string library_file(const std::string& base) { return "lib" + base + ".so"; }
inline std::string program_file(const std::string& base) { return base; }
inline int process_id() { return static_cast<int>(::getpid()); }
inline void set_environment(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
inline void unset_environment(const char* name) { ::unsetenv(name); }
#endif

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
            ("quire-test-" + std::to_string(process_id()) + "-" + std::to_string(rd()));
    fs::create_directories(root_ / "store");
    fs::create_directories(root_ / "work");
    old_cwd_ = fs::current_path();
    const char* old = std::getenv("QUIRE_STORE");
    had_store_ = old != nullptr;
    if (old) old_store_ = old;
    set_environment("QUIRE_STORE", (root_ / "store").string());
    fs::current_path(root_ / "work");
  }
  ~TempStore() {
    std::error_code ec;
    fs::current_path(old_cwd_, ec);
    if (had_store_) set_environment("QUIRE_STORE", old_store_);
    else unset_environment("QUIRE_STORE");
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

// A fresh name for the captured output of a run (.out, .err).
inline std::string capture_base() {
  static int counter = 0;
  return (fs::temp_directory_path() / ("quire-run-" + std::to_string(process_id()) + "-" + std::to_string(counter++)))
      .string();
}

// Reads and removes the captured output of a run.
inline void collect_capture(const std::string& base, RunResult* r) {
  r->out = read_file(base + ".out");
  r->err = read_file(base + ".err");
  std::error_code ec;
  fs::remove(base + ".out", ec);
  fs::remove(base + ".err", ec);
}

#ifdef _WIN32
// Quotes one argument as the C runtime splits a command line: quotes
// around it, a backslash before each quote, backslashes doubled before a
// quote.
inline std::string windows_quote(const std::string& s) {
  if (!s.empty() && s.find_first_of(" \t\n\v\"") == std::string::npos) return s;
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : s) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  q.append(2 * backslashes, '\\');
  return q + "\"";
}

// Runs program with args in directory (the current one when empty),
// standard input empty, capturing standard output and standard error.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::string& directory = "") {
  std::string base = capture_base();
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  auto create = [&](const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE out = create(base + ".out", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = create(base + ".err", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = create("NUL", GENERIC_READ, OPEN_EXISTING);
  std::string line = windows_quote(program);
  for (const auto& a : args) line += " " + windows_quote(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  RunResult r;
  // Under Wine a start now and then fails while the machine is busy with
  // other test programs; a few tries tell that apart from a program that
  // cannot start.
  bool started = false;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             directory.empty() ? nullptr : directory.c_str(), &si, &pi);
    if (!started) {
      start_error = GetLastError();
      Sleep(200);
    }
  }
  if (started) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) r.status = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  for (HANDLE h : {out, err, in})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  collect_capture(base, &r);
  if (!started) r.err += "cannot start " + program + ": error " + std::to_string(start_error) + "\n";
  return r;
}

// Runs the quire program with the given arguments.
inline RunResult run_quire(const std::vector<std::string>& args) { return run_program(quire_program(), args); }
#else
// Runs a shell command line, capturing standard output and standard error.
inline RunResult run_shell(const std::string& command_line) {
  std::string base = capture_base();
  std::string cmd = command_line + " >" + shell_quote(base + ".out") + " 2>" +
                    shell_quote(base + ".err") + " </dev/null";
  int raw = std::system(cmd.c_str());
  RunResult r;
  if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  else if (raw != -1 && WIFSIGNALED(raw)) r.status = 128 + WTERMSIG(raw);
  collect_capture(base, &r);
  return r;
}

// Runs program with args in directory (the current one when empty),
// standard input empty, capturing standard output and standard error.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::string& directory = "") {
  std::string command = directory.empty() ? "" : "cd " + shell_quote(directory) + " && ";
  command += shell_quote(program);
  for (const std::string& a : args) command += " " + shell_quote(a);
  return run_shell(command);
}

// Runs the quire program with the given arguments.
inline RunResult run_quire(const std::vector<std::string>& args) { return run_program(quire_program(), args); }
#endif

// The lines of a program's output, without their line ends (LF, or CR LF
// as a program's text output has them on Windows).
inline std::vector<std::string> output_lines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    size_t stop = end > start && out[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(out.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

// Imports an area from JSON text through `quire area import -`.
inline RunResult import_area(const std::string& json) {
  fs::path file = fs::temp_directory_path() /
                  ("quire-area-" + std::to_string(process_id()) + "-" +
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
