// `cmake --install` into a temporary prefix: the installed program finds its
// libraries from where it is and runs a report; the bash completion offers
// kinds, host options and area names; every public header is installed and
// compiles on its own, and a program builds against them and the installed
// libraries alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace quire::testing {
namespace {

// Installs the build under prefix.
RunResult install_into(const fs::path& prefix) {
  return run_shell(shell_quote(QUIRE_CMAKE_COMMAND) + " --install " + shell_quote(QUIRE_BUILD_DIR) + " --prefix " +
                   shell_quote(prefix.string()));
}

TEST(Install, InstalledProgramRunsAReportAndCompletes) {
  TempStore store;
  const fs::path prefix = store.root() / "prefix with space";
  RunResult r = install_into(prefix);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // Moved elsewhere after installing, the tree still runs: nothing points
  // back into the build or the prefix.
  const fs::path moved = store.root() / "moved";
  fs::rename(prefix, moved);
  const std::string quire = shell_quote((moved / "bin" / "quire").string());
  r = run_shell(quire + " area generate SHOP --markers 3 --pieces-per-marker 2");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_shell(quire + " mkpc --no-progress SHOP out.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(csv_lines(read_file(store.path("out.csv"))).size(), 8u);
  r = run_shell("ldd " + quire);
  EXPECT_EQ(r.out.find(QUIRE_BUILD_DIR), std::string::npos) << r.out;

  const fs::path completion = moved / "share" / "bash-completion" / "completions" / "quire";
  ASSERT_TRUE(fs::exists(completion));
  auto complete = [&](const std::string& words) {
    return run_shell("bash -c " + shell_quote("source " + shell_quote(completion.string()) + "; COMP_WORDS=(" +
                                              words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quire; "
                                              "printf '%s\\n' \"${COMPREPLY[@]}\"")).out;
  };
  EXPECT_EQ(complete(quire + " mkp"), "mkpc\n");
  EXPECT_EQ(complete(quire + " mkpc --det"), "--detailed\n");
  EXPECT_EQ(complete(quire + " mkpc --detailed SH"), "SHOP\n");
  EXPECT_EQ(complete(quire + " area ex"), "export\n");
  EXPECT_EQ(complete(quire + " area export S"), "SHOP\n");
}

TEST(Install, PublicHeadersAreInstalledAndAProgramBuildsOnThem) {
  TempStore store;
  const fs::path prefix = store.root() / "prefix";
  RunResult r = install_into(prefix);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // Every header of include/ is installed, so that none that an installed
  // one includes is missing.
  const fs::path source = fs::path(QUIRE_SOURCE_DIR) / "include";
  const fs::path installed = prefix / "include";
  std::vector<std::string> headers;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(source)) {
    if (e.path().extension() != ".h") continue;
    headers.push_back(fs::relative(e.path(), source).generic_string());
    EXPECT_TRUE(fs::exists(installed / headers.back())) << headers.back() << " is not installed";
  }
  ASSERT_FALSE(headers.empty());

  // Each compiles alone, with nothing but the installed headers to include.
  const std::string compiler = shell_quote(QUIRE_CXX_COMPILER) + " -std=c++20 -I" + shell_quote(installed.string());
  std::string program;
  for (const std::string& header : headers) {
    r = run_shell("printf '#include <%s>\\n' " + shell_quote(header) + " | " + compiler + " -fsyntax-only -x c++ -");
    EXPECT_EQ(r.status, 0) << header << ": " << r.err;
    program += "#include <" + header + ">\n";
  }

  // A host links the installed libraries and calls into the report library.
  program += "int main() {\n  int32_t bound = 0;\n  return quire::parse_date_time(\"06/07/01\", &bound) == 3 ? 0 : 1;\n}\n";
  write_file(store.path("host.cpp"), program);
  std::string lib;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(prefix))
    if (e.path().filename() == "libquire.so") lib = e.path().parent_path().string();
  ASSERT_FALSE(lib.empty());
  r = run_shell(compiler + " " + QUIRE_LINK_FLAGS + " host.cpp -o host -L" + shell_quote(lib) +
                " -lquire -lplotbase -lquire_files -Wl,-rpath," + shell_quote(lib) + " && ./host");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

}  // namespace
}  // namespace quire::testing
