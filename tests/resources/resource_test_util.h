// Paths of the resource test fixtures, library file names of this system, a
// scratch directory, and running a program with its output captured.
#ifndef QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_
#define QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <fstream>
#include <iterator>
#include <random>
#else
#include "support/test_support.h"
#endif

namespace quire::testing {

#ifdef _WIN32
namespace fs = std::filesystem;

inline std::string bin_dir() { return QUIRE_BIN_DIR; }

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh temporary directory with a work directory inside that is the
// current directory until the end of the scope, when all of it is removed.
class TempStore {
 public:
  TempStore() {
    root_ = fs::temp_directory_path() /
            ("quire-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_ / "work");
    old_cwd_ = fs::current_path();
    fs::current_path(root_ / "work");
  }
  ~TempStore() {
    std::error_code ec;
    fs::current_path(old_cwd_, ec);
    fs::remove_all(root_, ec);
  }
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  fs::path root() const { return root_; }
  fs::path work() const { return root_ / "work"; }
  std::string path(const std::string& name) const { return (root_ / "work" / name).string(); }

 private:
  fs::path root_;
  fs::path old_cwd_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
#endif

// Runs program with args in directory (the current one when empty),
// capturing standard output and standard error.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::string& directory = "") {
#ifdef _WIN32
  // Quoted for the C runtime's parsing of the command line: no argument of
  // these tests holds a quote or ends in a backslash.
  std::string command = "\"" + program + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  static int counter = 0;
  fs::path base = fs::temp_directory_path() /
                  ("quire-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  auto open = [&](const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  std::string out_path = base.string() + ".out", err_path = base.string() + ".err";
  HANDLE out = open(out_path), err = open(err_path);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  RunResult r;
  if (CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) r.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  std::error_code ec;
  fs::remove(out_path, ec);
  fs::remove(err_path, ec);
  // The C runtime writes text mode: line ends come back as CR LF.
  for (std::string* s : {&r.out, &r.err}) {
    std::string plain;
    for (size_t i = 0; i < s->size(); ++i)
      if (!((*s)[i] == '\r' && i + 1 < s->size() && (*s)[i + 1] == '\n')) plain += (*s)[i];
    *s = plain;
  }
  return r;
#else
  std::string command = directory.empty() ? "" : "cd " + shell_quote(directory) + " && ";
  command += shell_quote(program);
  for (const std::string& a : args) command += " " + shell_quote(a);
  return run_shell(command);
#endif
}

// The lines of a program's output, without their line ends.
inline std::vector<std::string> output_lines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The file name of the shared library base on this system: libBASE.so, or
// BASE.dll on Windows.
inline std::string library_name(const std::string& base) {
#ifdef _WIN32
  return base + ".dll";
#else
  return "lib" + base + ".so";
#endif
}

// The fixture libraries and the probe program (cmake/resources.cmake).
inline std::string fixture(const std::string& name) { return bin_dir() + "/../resource_fixtures/" + name; }

// The fixture library base ("fixture-match", ...) by its file name.
inline std::string fixture_library(const std::string& base) { return fixture(library_name(base)); }

}  // namespace quire::testing

#endif  // QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_
