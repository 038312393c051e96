#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace quire::cli {
namespace {

// The number of single-character edits that turn a into b.
size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Where the usage's text on a host option begins.
constexpr size_t kUsageHelpColumn = 25;

constexpr HostOption kHostOptions[] = {
    {HostOptionId::kDetailed, "--detailed", nullptr, "the detailed column set and calendar times"},
    {HostOptionId::kQuiet, "--quiet", nullptr, "no summary line at the end of the run"},
    {HostOptionId::kStopAfter, "--stop-after", "N",
     "stop once N items are handled, keeping the rest of the previous table"},
    {HostOptionId::kChanges, "--changes", "FILE",
     "append a JSON line per new, changed or deleted item to FILE (created when absent)"},
    {HostOptionId::kProgress, "--progress", nullptr,
     "a progress bar on standard error (default: when it is a terminal)"},
    {HostOptionId::kNoProgress, "--no-progress", nullptr, ""},
    {HostOptionId::kHelp, "--help", nullptr, nullptr},
};

}  // namespace

std::span<const HostOption> host_options() { return kHostOptions; }

const HostOption* find_host_option(const char* arg, const char** attached) {
  *attached = nullptr;
  for (const HostOption& option : kHostOptions) {
    const size_t length = std::strlen(option.name);
    if (std::strncmp(arg, option.name, length) != 0) continue;
    if (arg[length] == '\0') return &option;
    if (option.value && arg[length] == '=') {
      *attached = arg + length + 1;
      return &option;
    }
  }
  return nullptr;
}

const char* program_usage() {
  static const std::string kUsage = [] {
    std::string text =
        "usage: quire KIND [host options] [-Llist] [-Syy/mm/dd[,hh:mm]] [-Eyy/mm/dd[,hh:mm]] [-N0|-N1]\n"
        "                  AREA OUTPUT\n"
        "       quire all AREA FOLDER [--kinds LIST] [--dbf] [--log] [--wait SECONDS] [--detailed]\n"
        "                 [--changes FILE] [--quiet] [--progress|--no-progress]\n"
        "       quire area import FILE|-\n"
        "       quire area import FILE.dxf... [--area NAME] [--units mm|cm|in] [--marker NAME]\n"
        "       quire area export NAME [FILE]\n"
        "       quire area list | info NAME | rm NAME [--yes]\n"
        "       quire area generate NAME [--markers N] [--models N] [--orders N] [--pieces-per-marker N] [--seed S]\n"
        "       quire area check NAME\n"
        "       quire --version | --help\n"
        "\n"
        "KIND is one of:";
    for (const ReportKind& kind : report_kinds()) {
      text += ' ';
      text += kind.name;
    }
    text +=
        ".\n"
        "OUTPUT whose file name reads .dbf from its first \".\" is written as a dBASE III table,\n"
        "anything else as CSV; - writes CSV to standard output.\n"
        "\n"
        "Host options, anywhere on the line:\n";
    const std::span<const HostOption> options = host_options();
    for (size_t i = 0; i < options.size(); ++i) {
      if (options[i].help == nullptr || *options[i].help == '\0') continue;
      std::string label = "  ";
      // The options after it whose line this is.
      for (size_t j = i; j < options.size() && (j == i || (options[j].help && *options[j].help == '\0')); ++j) {
        if (j > i) label += ", ";
        label += options[j].name;
        if (options[j].value) label += std::string(" ") + options[j].value;
      }
      label.resize(std::max(label.size() + 2, kUsageHelpColumn), ' ');
      text += label + options[i].help + "\n";
    }
    text +=
        "\n"
        "\n"
        "quire all runs every kind (or those of --kinds) of AREA into FOLDER/KIND.csv, with FOLDER as\n"
        "the current directory (FOLDER/delta.lst is the change log); its own options:\n"
        "  --kinds LIST           only these kinds, separated by commas (mkpc,mkhdr)\n"
        "  --dbf                  dBASE III tables (FOLDER/KIND.dbf) instead of CSV\n"
        "  --log                  create FOLDER/delta.lst when absent, so that the changes are logged\n"
        "  --wait SECONDS         wait at most this long for another quire all into FOLDER\n"
        "                         (default 600, or $QUIRE_ALL_WAIT_S), then exit with status 1\n"
        "Its exit status is the worst of its kinds': 1 over 3 over 0.\n"
        "\n"
        "Exit status: 0 the table is complete and every change logged; 1 the command was rejected\n"
        "or the table could not be written (the output path is as it was); 2 usage error;\n"
        "3 the table was written but is not complete (stopped, a listed name not in the area,\n"
        "an item that could not be read, or the change log could not be written).\n";
    return text;
  }();
  return kUsage.c_str();
}

const char* program_version() { return QUIRE_VERSION; }

const char* nearest_word(const char* word, const char* const* words, int count) {
  std::string w = word ? word : "";
  const char* best = nullptr;
  size_t best_distance = 0;
  for (int i = 0; i < count; ++i) {
    size_t d = edit_distance(w, words[i]);
    if (best == nullptr || d < best_distance) {
      best = words[i];
      best_distance = d;
    }
  }
  // A slip of one or two characters, never a word of its own.
  if (best == nullptr || best_distance == 0 || best_distance > 2 || best_distance >= w.size())
    return nullptr;
  return best;
}

const char* nearest_command(const char* word) {
  // The report kinds and "area".
  static const std::vector<const char*> kCommandWords = [] {
    std::vector<const char*> words;
    for (const ReportKind& kind : report_kinds()) words.push_back(kind.name);
    words.push_back("area");
    words.push_back("all");
    return words;
  }();
  return nearest_word(word, kCommandWords.data(), static_cast<int>(kCommandWords.size()));
}

}  // namespace quire::cli
