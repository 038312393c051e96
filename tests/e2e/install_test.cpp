// `cmake --install` into a temporary prefix: the installed program finds its
// libraries from where it is and runs a report; the bash completion offers
// kinds, host options and area names.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace quire::testing {
namespace {

TEST(Install, InstalledProgramRunsAReportAndCompletes) {
  TempStore store;
  const fs::path prefix = store.root() / "prefix with space";
  RunResult r = run_shell(shell_quote(QUIRE_CMAKE_COMMAND) + " --install " + shell_quote(QUIRE_BUILD_DIR) +
                          " --prefix " + shell_quote(prefix.string()));
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

}  // namespace
}  // namespace quire::testing
