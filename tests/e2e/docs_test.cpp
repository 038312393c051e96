// What the documentation promises: the README's recipes for opening a table
// (run on a table with an accented text, hexadecimal times that look like
// numbers and values with a comma, a quote and a line break; a reader that
// is not installed is skipped), the example area, the column dictionary
// of docs/reports.md, the library's table of report kinds in the usage, the
// completion, the README and docs/reports.md, and the host options of the
// usage in the completion and in docs/running-reports.md.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "quire/quire.h"
#include "support/test_support.h"

namespace quire::testing {
namespace {

// The report kinds as `quire --help` lists them ("KIND is one of: ..."), in
// its order: the program's one list of them.
std::vector<std::string> usage_kinds() {
  RunResult r = run_quire({"--help"});
  std::smatch m;
  std::vector<std::string> kinds;
  if (r.status != 0 || !std::regex_search(r.out, m, std::regex("\nKIND is one of: ([a-z ]+)\\.\n"))) return kinds;
  std::istringstream in(m[1].str());
  for (std::string w; in >> w;) kinds.push_back(w);
  return kinds;
}

// The library's table of its report kinds, in its order.
std::vector<QuireReportKind> library_kinds() {
  std::vector<QuireReportKind> kinds;
  for (int i = 0; const QuireReportKind* kind = quire_report_kind(i); ++i) kinds.push_back(*kind);
  return kinds;
}

// The words of the bash completion's `local <variable>="..."`, in order.
std::vector<std::string> completion_words(const std::string& variable) {
  const std::string completion = read_file(std::string(QUIRE_SOURCE_DIR) + "/cli/quire-completion.bash");
  std::smatch m;
  std::vector<std::string> words;
  if (!std::regex_search(completion, m, std::regex("local " + variable + "=\"([^\"]*)\""))) return words;
  std::istringstream in(m[1].str());
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// 0x590e0288 reads as 5.9E+290 to a reader that guesses types.
const char kArea[] = R"({
  "name": "READ", "notation": 0, "precision": 2,
  "markers": [{"name": "M1", "modified": 1494090376, "created": 1494090376, "prev_modified": -1,
    "user_last_mod": "Zo\u00eb", "user_created": "a,b \"c\"\nd",
    "pieces": [{"name": "\u00c4rmel", "category": "x, \"y\"\nz", "area": 1.5, "perimeter": 2, "size": "M"}]}]})";

class Readers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(import_area(kArea).status, 0);
    RunResult r = run_quire({"mkpc", "--quiet", "--no-progress", "READ", "out.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static bool have(const std::string& command) { return run_shell(command + " >/dev/null 2>&1").status == 0; }

  TempStore store_;
};

TEST_F(Readers, Pandas) {
  if (!have("/usr/bin/python3 -c 'import pandas'")) GTEST_SKIP() << "python3-pandas missing";
  RunResult r = run_shell(
      "/usr/bin/python3 -c " +
      shell_quote("import pandas as pd\n"
                  "df = pd.read_csv('out.csv', skiprows=1, encoding='cp1252', keep_default_na=False,\n"
                  "                 dtype={'Time': str, 'Created_Time': str, 'Prev_Mod_Time': str})\n"
                  "row = df.iloc[0]\n"
                  "assert row['Piece'] == '\\u00c4rmel', row['Piece']\n"
                  "assert row['Category'] == 'x, \"y\"\\nz', row['Category']\n"
                  "assert row['Time'] == '590e0288', row['Time']\n"
                  "assert row['User_Prev_Mod'] == '', row['User_Prev_Mod']\n"));
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(Readers, Csvkit) {
  if (!have("csvlook --version")) GTEST_SKIP() << "csvkit missing";
  RunResult r = run_shell("csvlook -K 1 -e cp1252 -I out.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("| \xc3\x84rmel |"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("| 590e0288 |"), std::string::npos) << r.out;
  r = run_shell("csvcut -K 1 -e cp1252 -c Category,Time out.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Category,Time\n\"x, \"\"y\"\"\nz\",590e0288\n");
}

TEST_F(Readers, Sqlite3) {
  if (!have("sqlite3 --version") || !have("iconv --version")) GTEST_SKIP() << "sqlite3 or iconv missing";
  RunResult r = run_shell(
      "iconv -f cp1252 -t utf-8 out.csv > out-utf8.csv && "
      "sqlite3 t.db '.import --csv --skip 1 out-utf8.csv mkpc' "
      "\"select Piece || '|' || Category || '|' || Time || '|' || typeof(Time) from mkpc\"");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\xc3\x84rmel|x, \"y\"\nz|590e0288|text\n");
}

TEST_F(Readers, R) {
  if (!have("Rscript --version")) GTEST_SKIP() << "R missing";
  RunResult r = run_shell(
      "Rscript -e " +
      shell_quote("t <- read.csv('out.csv', skip = 1, fileEncoding = 'latin1', "
                  "colClasses = c(Time = 'character', Created_Time = 'character', Prev_Mod_Time = 'character'))\n"
                  "stopifnot(t$Piece[1] == '\\u00c4rmel', t$Time[1] == '590e0288', t$Category[1] == 'x, \"y\"\\nz')"));
  EXPECT_EQ(r.status, 0) << r.err;
}

// The README imports examples/shop.json; every report runs on it, complete.
TEST(Docs, ExampleAreaImportsAndEveryReportRuns) {
  TempStore store;
  RunResult r = run_quire({"area", "import", std::string(QUIRE_SOURCE_DIR) + "/examples/shop.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported SHOP: 2 markers, 1 model, 3 pieces, 1 order\n");
  const std::vector<QuireReportKind> kinds = library_kinds();
  ASSERT_FALSE(kinds.empty());
  for (const QuireReportKind& k : kinds) {
    const std::string kind = k.name;
    r = run_quire({kind, "--detailed", "--no-progress", "SHOP", kind + ".csv"});
    EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
    const std::vector<std::string> lines = csv_lines(read_file(store.path(kind + ".csv")));
    ASSERT_GT(lines.size(), 2u) << kind;
    // The table is the kind's: its tag in the preamble, its key column
    // first.
    EXPECT_EQ(lines[0].rfind("\"DB_VERSION_3\",\"METRIC\",\"" + std::string(k.tag) + "\",", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("\"" + std::string(k.key_column) + "\",", 0), 0u) << kind << ": " << lines[1];
  }
}

// The kinds table of the library is the one list of the kinds: the usage
// lists them in its order, the completion offers them, the README's table
// of commands has them with what one row is, docs/reports.md gives each its
// tag and has their column dictionaries in that order.
TEST(Docs, ReportKindsAgreeWithTheCompletionAndTheReadme) {
  const std::vector<QuireReportKind> kinds = library_kinds();
  ASSERT_EQ(kinds.size(), 8u);
  std::vector<std::string> names, tags;
  for (const QuireReportKind& k : kinds) {
    names.push_back(k.name);
    tags.push_back(k.tag);
  }
  EXPECT_EQ(usage_kinds(), names);
  EXPECT_EQ(completion_words("kinds"), names);

  const std::string readme = read_file(std::string(QUIRE_SOURCE_DIR) + "/README.md");
  std::vector<std::string> table;
  std::map<std::string, std::string> rows;
  const std::regex row("\n\\| `quire ([a-z]+)` \\| ([^|\n]*) \\|");
  for (std::sregex_iterator m(readme.begin(), readme.end(), row), end; m != end; ++m) {
    table.push_back((*m)[1]);
    rows[(*m)[1]] = (*m)[2];
  }
  EXPECT_EQ(table, names);
  for (const QuireReportKind& k : kinds) EXPECT_EQ(rows[k.name].rfind(k.rows, 0), 0u) << k.name << ": " << rows[k.name];

  const std::string reports = read_file(std::string(QUIRE_SOURCE_DIR) + "/docs/reports.md");
  std::map<std::string, std::string> tag_of;
  const std::regex command("\n\\| `quire ([a-z]+)` \\| ([A-Z]+) \\|");
  for (std::sregex_iterator m(reports.begin(), reports.end(), command), end; m != end; ++m) tag_of[(*m)[1]] = (*m)[2];
  EXPECT_EQ(tag_of.size(), kinds.size());
  for (const QuireReportKind& k : kinds) EXPECT_EQ(tag_of[k.name], k.tag) << k.name;
  std::vector<std::string> dictionary;
  const std::regex heading("\n### ([A-Z]+)\n");
  for (std::sregex_iterator m(reports.begin(), reports.end(), heading), end; m != end; ++m) dictionary.push_back((*m)[1]);
  EXPECT_EQ(dictionary, tags);
}

// The program names an item with the word its command's own messages use:
// a listed name that is not in the area is skipped by the command with
// "<word> NAME is not in storage area", and counted in the program's summary
// as "1 <word>".
TEST(Docs, ItemWordsOfTheProgramAreThoseOfTheCommands) {
  TempStore store;
  ASSERT_EQ(run_quire({"area", "import", std::string(QUIRE_SOURCE_DIR) + "/examples/shop.json"}).status, 0);
  write_file(store.path("absent.lst"), "ABSENT\n");
  const std::regex skipped("\\b([a-z]+) ABSENT is not in storage area SHOP; skipped");
  for (const std::string& kind : usage_kinds()) {
    RunResult r = run_quire({kind, "--no-progress", "-Labsent.lst", "SHOP", "out.csv"});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.err, m, skipped)) << kind << ": " << r.err;
    EXPECT_NE(r.err.find("quire " + kind + ": 1 " + m[1].str() + ": "), std::string::npos) << kind << ": " << r.err;
  }
}

TEST(Docs, ColumnDictionaryMatchesTheDeclaredColumns) {
  if (run_shell("/usr/bin/python3 --version").status != 0) GTEST_SKIP() << "python3 missing";
  RunResult r = run_shell("/usr/bin/python3 " + shell_quote(std::string(QUIRE_SOURCE_DIR) + "/scripts/column-dictionary") +
                          " --check " + shell_quote(bin_dir()));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// The host options the usage lists, and which of them take a value, are
// those the bash completion offers and skips the value of; each is
// described in docs/running-reports.md.
TEST(Docs, HostOptionsAgreeWithTheCompletionAndTheDocs) {
  RunResult r = run_quire({"--help"});
  ASSERT_EQ(r.status, 0);
  std::set<std::string> names = {"--help"}, valued;
  std::istringstream usage(r.out);
  std::string line;
  while (std::getline(usage, line) && line != "Host options, anywhere on the line:") {
  }
  const std::regex option("(--[a-z-]+)( [A-Z]+)?");
  while (std::getline(usage, line) && !line.empty()) {
    const std::string label = line.substr(0, line.find("  ", 2));
    for (std::sregex_iterator m(label.begin(), label.end(), option), end; m != end; ++m) {
      names.insert((*m)[1]);
      if ((*m)[2].matched) valued.insert((*m)[1]);
    }
  }
  ASSERT_GT(valued.size(), 1u) << r.out;

  auto words_of = [](const std::string& variable) {
    const std::vector<std::string> words = completion_words(variable);
    return std::set<std::string>(words.begin(), words.end());
  };
  EXPECT_EQ(names, words_of("host_options"));
  EXPECT_EQ(valued, words_of("valued_options"));

  const std::string docs = read_file(std::string(QUIRE_SOURCE_DIR) + "/docs/running-reports.md");
  for (const std::string& name : names) EXPECT_NE(docs.find("`" + name), std::string::npos) << name;
}

// The usage errors docs/running-reports.md shows under "Messages" are the
// program's own lines, each followed by the pointer to --help: `quire:` for
// the command line as a whole, `quire KIND:` for a date the command refuses.
TEST(Docs, UsageErrorPrefixesAreThoseTheDocsShow) {
  TempStore store;
  const std::string docs = read_file(std::string(QUIRE_SOURCE_DIR) + "/docs/running-reports.md");
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"mkpc", "--bogus", "SHOP", "out.csv"}, "quire: unknown option '--bogus'"},
      {{"mkpc", "-S06/13/01", "SHOP", "out.csv"}, "quire mkpc: -S06/13/01: not a date; expected YY/MM/DD[,HH:MM]"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(docs.find("\n    " + c.line + "\n"), std::string::npos) << c.line;
    RunResult r = run_quire(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.line + "\nTry 'quire --help' for more information.\n");
  }
}

// The ids of a string table file ("ID TEXT" lines, # comments).
std::vector<int> string_ids(const std::string& path) {
  std::vector<int> ids;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') ids.push_back(std::stoi(line));
  return ids;
}

// A translation changes the texts docs/translating.md lists and nothing
// else: its table has the ids of the English table and of the German one,
// and the README counts them as the docs do.
TEST(Docs, TranslatedTextsAreThoseTheDocsList) {
  const std::string source = QUIRE_SOURCE_DIR;
  const std::string translating = read_file(source + "/docs/translating.md");
  std::vector<int> listed;
  const std::regex row("\n\\| ([0-9]+) \\| `");
  for (std::sregex_iterator m(translating.begin(), translating.end(), row), end; m != end; ++m)
    listed.push_back(std::stoi((*m)[1]));
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(string_ids(source + "/core/report/resources/own_strings.txt"), listed);
  EXPECT_EQ(string_ids(source + "/resources/de/strings.txt"), listed);
  EXPECT_NE(translating.find("a string table of six texts"), std::string::npos);
  EXPECT_EQ(listed.size(), 6u);
  const std::string readme = read_file(source + "/README.md");
  EXPECT_NE(readme.find("the six texts"), std::string::npos);
  EXPECT_EQ(readme.find("German tables and messages"), std::string::npos);
}

}  // namespace
}  // namespace quire::testing
