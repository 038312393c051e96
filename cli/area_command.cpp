// `quire area import|export|list|generate|info|rm`: a thin layer over the
// area functions of area management (core/areas/area_store.h, core/areas/area_info.h).
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "area_info.h"
#include "area_store.h"
#include "commands.h"
#include "console.h"
#include "count_text.h"
#include "quire/files/file_replacement.h"
#include "quire/files/file_system.h"
#include "quire/status.h"
#include "pattern_import.h"

namespace quire::cli {

namespace {

std::string summary_text(const areas::AreaSummary& s) {
  return areas::latin1_to_utf8(s.name) + ": " + plural(s.markers, "marker") + ", " + plural(s.models, "model") +
         ", " + plural(s.pieces, "piece") + ", " + plural(s.orders, "order");
}

int error(const char* command, const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "quire area %s: %s\n", command, line.c_str());
  return 1;
}

// An area name given on the command line (UTF-8) as the library keeps it.
bool area_name_arg(const std::string& utf8, std::string* latin1) {
  if (!areas::utf8_to_latin1(utf8, latin1)) return false;
  return !latin1->empty();
}

// Reads the first bytes of a regular file into *head, to tell a pattern
// file from an area file; nothing for standard input ("-") and anything
// else that is not a directory (a FIFO's bytes must stay for the import).
// Fails ("cannot open: No such file or directory") when the file cannot be
// read at all, so that its own reason is what the user sees.
quire::Status file_head(const std::string& file, std::string* head) {
  head->clear();
  if (file == "-") return {};
  auto cannot = [&](quire::StatusCode code, const std::string& message) {
    return quire::Status::failure(code, message, file);
  };
  std::error_code ec;
  auto status = std::filesystem::status(platform::filesystem_path(file), ec);
  if (ec) return cannot(quire::StatusCode::kNotFound, "cannot open: " + ec.message());
  if (std::filesystem::is_directory(status))
    return cannot(quire::StatusCode::kInvalid, std::string("cannot read: ") + std::strerror(EISDIR));
  if (!std::filesystem::is_regular_file(status)) return {};
  platform::ReadableFile in(platform::file_env());
  if (!in.open(file)) {
    const int error = in.status().ok() ? ENOENT : in.status().error();
    return cannot(quire::StatusCode::kInvalid, std::string("cannot open: ") + std::strerror(error));
  }
  char bytes[64];
  const long length = in.read_at(0, bytes, sizeof bytes);
  if (length < 0) return cannot(quire::StatusCode::kIo, std::string("cannot read: ") + std::strerror(in.status().error()));
  head->assign(bytes, static_cast<size_t>(length));
  return {};
}

// Pattern files (DXF), several into one area. They are read by name (each
// is read twice), never from standard input.
int do_import_patterns(const std::vector<std::string>& files, const areas::PatternImportOptions& options) {
  std::vector<areas::PatternSource> sources;
  for (const std::string& file : files) {
    std::string head;
    if (quire::Status status = file_head(file, &head); !status.ok())
      return error("import", file + ": " + status.message());
    if (file == "-" || !areas::looks_like_dxf(head))
      return error("import", (file == "-" ? "<stdin>" : file) +
                                 ": not a pattern file (DXF); an area file (JSON) is imported alone");
    areas::PatternSource source;
    source.name = source.path = file;
    sources.push_back(std::move(source));
  }
  std::vector<std::string> warnings;
  areas::AreaSummary summary;
  quire::Status status = areas::import_pattern_files(sources, options, &warnings, &summary);
  for (const std::string& w : warnings) std::fprintf(stderr, "quire area import: warning: %s\n", w.c_str());
  if (!status.ok()) return error("import", status.message());
  std::printf("imported %s\n", summary_text(summary).c_str());
  return 0;
}

int do_import(const std::vector<std::string>& files, const areas::PatternImportOptions& options) {
  const std::string& file = files.front();
  std::string where = file == "-" ? "<stdin>" : file;
  std::string head;
  if (files.size() == 1) {
    if (quire::Status status = file_head(file, &head); !status.ok())
      return error("import", where + ": " + status.message());
  }
  if (files.size() > 1 || areas::looks_like_dxf(head)) return do_import_patterns(files, options);
  if (!options.area.empty() || !options.units.empty() || !options.marker.empty())
    return error("import", where + ": --area, --units and --marker apply to pattern files (DXF) only");
  areas::AreaSummary summary;
  if (quire::Status status = areas::import_area_file(file, &summary); !status.ok())
    return error("import", where + ": " + status.message());
  std::printf("imported %s\n", summary_text(summary).c_str());
  return 0;
}

int do_export(const std::string& name, const std::string& file) {
  const bool to_standard_output = file.empty() || file == "-";
  quire::Status status = to_standard_output ? areas::export_area_json(name, std::cout)
                                            : areas::export_area_file(name, file);
  if (!status.ok()) return error("export", status.message());
  if (to_standard_output) std::cout.flush();
  return 0;
}

int do_list() {
  quire::Status listed;
  auto areas = areas::list_areas(&listed);
  if (!listed.ok()) return error("list", listed.message());
  int status = 0;
  for (const auto& a : areas) {
    if (a.skipped) {
      // Named so that nobody wonders where the area went; no failure.
      std::fprintf(stderr, "quire area list: skipped %s: %s\n", a.path.c_str(), a.error.c_str());
      continue;
    }
    if (!a.error.empty()) {
      status = error("list", a.path + ": " + a.error);
      continue;
    }
    std::printf("%s\n", summary_text(a).c_str());
  }
  return status;
}

int do_generate(areas::GenerateOptions options) {
  std::string latin1;
  if (!area_name_arg(options.name, &latin1)) return error("generate", "\"" + options.name + "\" is not an area name");
  options.name = latin1;
  areas::AreaSummary summary;
  if (quire::Status status = areas::generate_area(options, &summary); !status.ok())
    return error("generate", status.message());
  std::printf("generated %s\n", summary_text(summary).c_str());
  return 0;
}

// One field per line, `key: value`, in a fixed order for scripts.
int do_info(const std::string& name) {
  std::string latin1;
  if (!area_name_arg(name, &latin1)) return error("info", "\"" + name + "\" is not an area name");
  areas::AreaInfo info;
  if (quire::Status status = areas::area_info(latin1, &info); !status.ok()) return error("info", status.message());
  auto stamp = [&](int64_t seconds) { return info.has_stamps ? areas::stamp_text(seconds) : std::string("none"); };
  std::printf(
      "name: %s\nmarkers: %lld\nmodels: %lld\norders: %lld\npieces: %lld\noldest_modified: %s\n"
      "newest_modified: %s\nfile: %s\nsize: %llu\nengine: %s\n",
      areas::latin1_to_utf8(info.summary.name).c_str(), static_cast<long long>(info.summary.markers),
      static_cast<long long>(info.summary.models), static_cast<long long>(info.summary.orders),
      static_cast<long long>(info.summary.pieces), stamp(info.oldest_modified).c_str(),
      stamp(info.newest_modified).c_str(), info.summary.path.c_str(),
      static_cast<unsigned long long>(info.size), info.engine);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : error("info", "cannot write to standard output");
}

// Without --yes only says what it would remove (exit status 2).
int do_rm(const std::string& name, bool yes) {
  std::string latin1;
  if (!area_name_arg(name, &latin1)) return error("rm", "\"" + name + "\" is not an area name");
  if (!yes) {
    areas::AreaInfo info;
    quire::Status looked = areas::area_info(latin1, &info);
    if (looked.code() == quire::StatusCode::kNotFound) return error("rm", looked.message());
    std::string what = "area " + name + " (" + areas::area_path(latin1) + ")";
    if (looked.ok()) what = "area " + summary_text(info.summary) + " (" + info.summary.path + ")";
    std::fprintf(stderr, "quire area rm: would remove %s; run again with --yes to remove it\n", what.c_str());
    return 2;
  }
  std::string removed;
  if (quire::Status status = areas::remove_area(latin1, &removed); !status.ok())
    return error("rm", status.message());
  std::printf("removed area %s (%s)\n", name.c_str(), removed.c_str());
  return 0;
}

// Checks one area: a line per problem found, then a line that sums up.
// Exit status 0 when the area is sound, 1 when it is damaged or cannot be
// checked.
int do_check(const std::string& name) {
  std::string latin1;
  if (!area_name_arg(name, &latin1)) return error("check", "\"" + name + "\" is not an area name");
  areas::AreaCheck check;
  if (quire::Status status = areas::check_area(latin1, &check); !status.ok())
    return error("check", status.message());
  const std::string area = areas::latin1_to_utf8(check.summary.name.empty() ? latin1 : check.summary.name);
  for (const std::string& problem : check.problems)
    std::printf("%s: %s\n", area.c_str(), areas::latin1_to_utf8(problem).c_str());
  // What the store checks itself (a server's table pages) is said, so that
  // "no damage found" is not taken to cover it.
  for (const std::string& left : check.unchecked)
    std::printf("%s: not checked here: %s\n", area.c_str(), areas::latin1_to_utf8(left).c_str());
  if (check.problems.empty()) {
    std::printf("%s: no damage found\n", summary_text(check.summary).c_str());
    return 0;
  }
  std::printf("%s: damaged, %s found; import the area again from its area file\n", area.c_str(),
              plural(static_cast<int64_t>(check.problems.size()), "problem").c_str());
  return 1;
}

}  // namespace

// The subcommands of `quire area`.
const char* const kAreaSubcommands[] = {"import", "export", "list", "generate", "info", "rm", "check"};

// A count option of `area generate`: a whole number from 0 to kMaxCount.
constexpr int64_t kMaxCount = 100000000;

CLI::Validator whole_number() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        errno = 0;
        char* end = nullptr;
        long long v = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || v < 0 || v > kMaxCount)
          return "expected a whole number from 0 to " + std::to_string(kMaxCount) + ", not '" + text + "'";
        return "";
      },
      "N");
}

// A name option of `area import`: given, it must name something (an empty
// name would be taken for no option at all).
CLI::Validator non_empty_name() {
  return CLI::Validator(
      [](std::string& text) -> std::string { return text.empty() ? "expected a name, not an empty text" : ""; },
      "NAME");
}

int run_area_command(int argc, char** argv) {
  // An unknown subcommand is named, with the valid ones.
  if (argc >= 2 && argv[1][0] != '-') {
    bool known = false;
    for (const char* s : kAreaSubcommands) known = known || std::strcmp(argv[1], s) == 0;
    if (!known) {
      std::string message = std::string("unknown subcommand '") + argv[1] + "'";
      const char* near = nearest_word(argv[1], kAreaSubcommands, static_cast<int>(std::size(kAreaSubcommands)));
      if (near) message += std::string("; did you mean ") + near + "?";
      message += "; the subcommands are import, export, list, generate, info, rm and check";
      std::fprintf(stderr, "quire area: %s\n", message.c_str());
      return 2;
    }
  }
  CLI::App app{std::string("Manages the storage areas of the store (") + store_location_text() + ").",
               "quire area"};
  app.require_subcommand(1);
  // A parse error is one line, as every other error of `quire area`.
  // A path such as /tmp/x is a path, not an option, on Windows too.
  app.allow_windows_style_options(false);
  app.failure_message([](const CLI::App*, const CLI::Error& e) { return "quire area: " + std::string(e.what()) + "\n"; });

  std::vector<std::string> import_files;
  areas::PatternImportOptions pattern;
  auto* import_cmd =
      app.add_subcommand("import", "Create or replace an area from an area file (JSON) or from pattern files (DXF)");
  import_cmd->add_option("FILE", import_files, "The area file, or pattern files into one area; - for standard input")
      ->required();
  import_cmd->add_option("--area", pattern.area, "Pattern files: the area's name (default: the style name)")
      ->check(non_empty_name());
  import_cmd->add_option("--units", pattern.units, "Pattern files: the unit of their lengths, over what they say")
      ->check(CLI::IsMember({"mm", "cm", "in"}));
  import_cmd->add_option("--marker", pattern.marker, "Pattern files: also store the placed pieces as this marker")
      ->check(non_empty_name());

  std::string export_name, export_file;
  auto* export_cmd = app.add_subcommand("export", "Write an area as an area file (JSON)");
  export_cmd->add_option("NAME", export_name, "The area's name")->required();
  export_cmd->add_option("FILE", export_file, "The file to write (default: standard output)");

  auto* list_cmd = app.add_subcommand("list", "One line per area: its name and its numbers of items");

  areas::GenerateOptions gen;
  auto* gen_cmd = app.add_subcommand("generate", "Create or replace a synthetic area");
  gen_cmd->add_option("NAME", gen.name, "The area's name")->required();
  gen_cmd->add_option("--markers", gen.markers, "Number of markers (default 50)")->check(whole_number());
  gen_cmd->add_option("--models", gen.models, "Number of models (default 20)")->check(whole_number());
  gen_cmd->add_option("--orders", gen.orders, "Number of orders (default 20)")->check(whole_number());
  gen_cmd->add_option("--pieces-per-marker", gen.pieces_per_marker, "Pieces of each marker (default 8)")
      ->check(whole_number());
  gen_cmd->add_option("--seed", gen.seed, "Seed of the values (default 1)");

  std::string info_name;
  auto* info_cmd = app.add_subcommand("info", "One area's numbers of items, modification dates, file and size");
  info_cmd->add_option("NAME", info_name, "The area's name")->required();

  std::string rm_name;
  bool rm_yes = false;
  auto* rm_cmd = app.add_subcommand("rm", "Remove an area from the store");
  rm_cmd->add_option("NAME", rm_name, "The area's name")->required();
  rm_cmd->add_flag("--yes", rm_yes, "Remove it (without, only say what would be removed)");

  std::string check_name;
  auto* check_cmd = app.add_subcommand("check", "Look for damage in an area file: one line per problem found");
  check_cmd->add_option("NAME", check_name, "The area's name")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  // A new store or export file half written when the user interrupts goes
  // with the process.
  quire::platform::FileReplacement::remove_on_interrupt();
  if (*import_cmd) return do_import(import_files, pattern);
  if (*export_cmd) return do_export(export_name, export_file);
  if (*list_cmd) return do_list();
  if (*gen_cmd) return do_generate(gen);
  if (*info_cmd) return do_info(info_name);
  if (*rm_cmd) return do_rm(rm_name, rm_yes);
  if (*check_cmd) return do_check(check_name);
  return 2;
}

}  // namespace quire::cli
