// `quire all AREA FOLDER`: every report kind of one area (or the kinds
// named) into one folder, each as `quire KIND` runs it, with FOLDER as the
// current directory so that FOLDER/delta.lst is the change log. One lock
// file in FOLDER keeps two of these runs apart: the second waits for the
// first, for a bounded time.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "console.h"
#include "count_text.h"
#include "quire/ascii.h"
#include "quire/files/file_replacement.h"
#include "quire/files/file_system.h"

namespace quire::cli {
namespace {

constexpr const char kWho[] = "quire all";
// The lock file another `quire all` into the same folder waits for. It stays
// in the folder: removing it would let a third run lock a file the second
// one no longer sees.
constexpr const char kLockName[] = ".quire-all.lock";
// How long a run waits for another run into the same folder, unless
// --wait or kWaitVariable says otherwise.
constexpr long kDefaultWaitSeconds = 600;
constexpr const char kWaitVariable[] = "QUIRE_ALL_WAIT_S";
// Seconds a wait may be at most (a year), so that the time cannot overflow.
constexpr long kMaxWaitSeconds = 366L * 24 * 3600;

struct AllOptions {
  std::vector<const ReportKind*> kinds;  // in the usage's order
  bool dbase = false;
  bool log = false;
  bool wait_given = false;
  long wait_seconds = kDefaultWaitSeconds;
  int detailed = 0;
  bool quiet = false;
  bool progress = false;
  const char* changes = nullptr;
  std::string area;
  std::string folder;
};

// Reads a whole text as a number of seconds, 0 included.
bool parse_seconds(const char* text, long* out) {
  if (!text || !*text) return false;
  ascii::ScannedInteger n = ascii::scan_integer(text);
  if (n.length == 0 || text[n.length] != 0 || n.out_of_range || n.value < 0 || n.value > kMaxWaitSeconds)
    return false;
  *out = static_cast<long>(n.value);
  return true;
}

// The kinds of a --kinds list ("mkpc,mkhdr"), in the usage's order; an
// empty text when they are good, else why not.
std::string parse_kinds(const std::string& list, std::vector<const ReportKind*>* kinds) {
  std::vector<bool> chosen(report_kinds().size(), false);
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : name) c = ascii::to_lower(c);
    if (name.empty()) return "--kinds needs report kinds separated by commas, not '" + list + "'";
    const ReportKind* kind = find_kind(name);
    if (!kind) {
      std::vector<const char*> names;
      for (const ReportKind& k : report_kinds()) names.push_back(k.name);
      std::string why = "unknown report kind '" + name + "' in --kinds";
      const char* near = nearest_word(name.c_str(), names.data(), static_cast<int>(names.size()));
      if (near) why += std::string("; did you mean ") + near + "?";
      return why;
    }
    chosen[static_cast<size_t>(kind - report_kinds().data())] = true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  kinds->clear();
  for (size_t i = 0; i < chosen.size(); ++i)
    if (chosen[i]) kinds->push_back(&report_kinds()[i]);
  return "";
}

// Reads the command line into options. Returns -1 when the run goes on,
// else the exit status (help shown, or a usage error).
int parse_command_line(int argc, char** argv, AllOptions* options) {
  options->progress = standard_error_is_terminal();
  for (const ReportKind& kind : report_kinds()) options->kinds.push_back(&kind);
  std::vector<char*> positional;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    char* a = argv[i];
    if (options_end || a[0] != '-' || std::strcmp(a, "-") == 0) {
      if (positional.size() == 2)
        return usage_error(std::string("unexpected argument '") + a + "' after the folder " + positional[1], kWho);
      positional.push_back(a);
      continue;
    }
    if (std::strcmp(a, "--") == 0) {
      options_end = true;
      continue;
    }
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(program_usage(), stdout);
      return kExitComplete;
    }
    // The options that take a value: "--name VALUE" or "--name=VALUE".
    std::string name = a;
    const char* value = nullptr;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = a + equals + 1;
      name.resize(equals);
    }
    const bool valued = name == "--kinds" || name == "--changes" || name == "--wait";
    if (valued && !value) {
      if (i + 1 >= argc) return usage_error(name + " needs a value", kWho);
      value = argv[++i];
    } else if (!valued && value) {
      return usage_error(name + " takes no value", kWho);
    }
    if (name == "--kinds") {
      std::string why = parse_kinds(value, &options->kinds);
      if (!why.empty()) return usage_error(why, kWho);
    } else if (name == "--changes") {
      if (*value == '\0') return usage_error("--changes needs a file name", kWho);
      options->changes = value;
    } else if (name == "--wait") {
      if (!parse_seconds(value, &options->wait_seconds))
        return usage_error(std::string("--wait needs a whole number of seconds, not '") + value + "'", kWho);
      options->wait_given = true;
    } else if (name == "--dbf") {
      options->dbase = true;
    } else if (name == "--log") {
      options->log = true;
    } else if (name == "--detailed") {
      options->detailed = 1;
    } else if (name == "--quiet") {
      options->quiet = true;
    } else if (name == "--progress") {
      options->progress = true;
    } else if (name == "--no-progress") {
      options->progress = false;
    } else if (a[1] == '-') {
      return usage_error("unknown option '" + name + "'", kWho);
    } else {
      return usage_error(std::string("'") + a + "': quire all takes no report options; run quire KIND for them",
                         kWho);
    }
  }
  if (positional.empty()) return usage_error("the storage area and the folder are missing", kWho);
  if (positional.size() == 1) return usage_error("the folder is missing", kWho);
  options->area = positional[0];
  options->folder = positional[1];
  if (options->folder.empty() || options->folder == "-")
    return usage_error("the folder must name a folder, not '" + options->folder + "'", kWho);
  if (!options->wait_given) {
    const char* text = std::getenv(kWaitVariable);
    if (text && *text && !parse_seconds(text, &options->wait_seconds))
      return usage_error(std::string(kWaitVariable) + " must be a whole number of seconds, not '" + text + "'",
                         kWho);
  }
  return -1;
}

// The path of a file in folder, joined with the separator folder shows.
std::string in_folder(const std::string& folder, const std::string& name) {
  const char last = folder.back();
  if (last == '/' || last == '\\') return folder + name;
  const bool backslashes = folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
  return folder + (backslashes ? "\\" : "/") + name;
}

// Makes sure the folder is there; false with the message printed when it is
// not and cannot be made. (Folders are made, and entered below, through
// std::filesystem: the file layer has calls for files, none for making
// directories or for the current directory.)
bool make_folder(const std::string& folder, const std::string& shown) {
  const std::filesystem::path path = quire::platform::filesystem_path(folder);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return true;
  if (quire::platform::path_exists(folder)) {
    std::fprintf(stderr, "%s: %s is not a folder\n", kWho, shown.c_str());
    return false;
  }
  std::filesystem::create_directories(path, ec);
  if (ec) {
    std::fprintf(stderr, "%s: cannot create the folder %s: %s\n", kWho, shown.c_str(), ec.message().c_str());
    return false;
  }
  return true;
}

// Opens the folder's lock file (created when absent, never through a link)
// and takes its lock, waiting for another holder at most wait. False with
// the message printed when the lock was not taken.
bool lock_folder(platform::WritableFile* lock, const std::string& folder, const std::string& shown,
                 std::chrono::seconds wait, bool quiet) {
  const std::string path = in_folder(folder, kLockName);
  bool open = lock->open_append(path);
  if (!open && lock->status().ok()) {
    // Created exclusively; one that another run put there meanwhile is
    // opened as it is.
    open = lock->create_exclusive(path);
    if (!open && lock->status().error() == EEXIST) open = lock->open_append(path);
  }
  if (!open) {
    if (lock->status().ok())
      std::fprintf(stderr, "%s: the lock file %s went away as it was created\n", kWho, path.c_str());
    else
      std::fprintf(stderr, "%s: %s\n", kWho, lock->status().message().c_str());
    return false;
  }
  if (lock->lock(false)) return true;
  if (lock->status().error() == EWOULDBLOCK) {
    if (!quiet && wait.count() > 0)
      std::fprintf(stderr, "%s: another quire all is writing to %s; waiting for it up to %ld s\n", kWho,
                   shown.c_str(), static_cast<long>(wait.count()));
    if (lock->lock_within(wait)) return true;
    if (lock->status().error() == EWOULDBLOCK) {
      std::fprintf(stderr, "%s: another quire all was still writing to %s after %ld s; no table written\n", kWho,
                   shown.c_str(), static_cast<long>(wait.count()));
      return false;
    }
  }
  std::fprintf(stderr, "%s: %s\n", kWho, lock->status().message().c_str());
  return false;
}

// Creates the folder's change log when it is absent; an existing one is
// left to the report runs, which append to it.
bool create_change_log(const std::string& folder) {
  const std::string path = in_folder(folder, kChangeLogName);
  platform::WritableFile log(platform::file_env());
  if (log.create_exclusive(path)) {
    if (log.close()) return true;
  } else if (log.status().error() == EEXIST) {
    return true;
  }
  std::fprintf(stderr, "%s: %s\n", kWho, log.status().message().c_str());
  return false;
}

// The worse of two exit statuses of report runs: failed over incomplete
// over complete.
int worse(int a, int b) {
  auto rank = [](int status) { return status == kExitFailed ? 2 : status == kExitIncomplete ? 1 : 0; };
  return rank(b) > rank(a) ? b : a;
}

}  // namespace

int run_all_command(int argc, char** argv) {
  AllOptions options;
  int status = parse_command_line(argc, argv, &options);
  if (status >= 0) return status;

  // The kinds run with the folder as the current directory: every path of
  // the user's is made absolute first, the store's too when it is given as
  // a relative one.
  const std::string shown_folder = in_folder(options.folder, "");
  if (!make_folder(options.folder, shown_folder)) return kExitFailed;
  const std::string folder = absolute_path(options.folder);
  std::string changes;
  if (options.changes) changes = absolute_path(options.changes);
  const char* store = std::getenv("QUIRE_STORE");
  if (store && *store) {
    const std::string absolute_store = absolute_path(store);
    if (absolute_store != store && !set_environment_variable("QUIRE_STORE", absolute_store.c_str())) {
      std::fprintf(stderr, "%s: cannot set QUIRE_STORE to %s\n", kWho, absolute_store.c_str());
      return kExitFailed;
    }
  }

  platform::WritableFile lock(platform::file_env());  // held until the end of the run
  if (!lock_folder(&lock, folder, shown_folder, std::chrono::seconds(options.wait_seconds), options.quiet))
    return kExitFailed;
  if (options.log && !create_change_log(folder)) return kExitFailed;
  std::error_code ec;
  const std::filesystem::path previous_directory = std::filesystem::current_path(ec);
  std::filesystem::current_path(quire::platform::filesystem_path(folder), ec);
  if (ec) {
    std::fprintf(stderr, "%s: cannot enter the folder %s: %s\n", kWho, shown_folder.c_str(), ec.message().c_str());
    return kExitFailed;
  }

  // One Ctrl-C stops the kind under way after its current item and runs no
  // further kind; a second aborts as in `quire KIND`.
  quire::platform::FileReplacement::remove_on_interrupt();
  InterruptWatch watch;
  const char* extension = options.dbase ? ".dbf" : ".csv";
  size_t complete = 0, incomplete = 0, failed = 0;
  size_t done = 0;
  int worst = kExitComplete;
  const auto start = std::chrono::steady_clock::now();
  for (; done < options.kinds.size() && !InterruptWatch::stop_requested(); ++done) {
    const ReportKind* kind = options.kinds[done];
    const std::string file = std::string(kind->name) + extension;
    ReportRun run;
    run.kind = kind;
    run.arguments = {options.area, in_folder(folder, file)};
    run.shown_output = in_folder(options.folder, file);
    run.detailed = options.detailed;
    run.quiet = options.quiet;
    run.progress = options.progress;
    run.changes = options.changes ? changes.c_str() : nullptr;
    run.interrupt_watched = true;
    const int result = run_report(run);
    if (result == kExitComplete) ++complete;
    else if (result == kExitIncomplete) ++incomplete;
    else ++failed;
    worst = worse(worst, result);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const size_t not_run = options.kinds.size() - done;
  if (not_run > 0) {
    std::string names;
    for (size_t i = done; i < options.kinds.size(); ++i) names += std::string(i > done ? ", " : "") + options.kinds[i]->name;
    std::fprintf(stderr, "%s: stopped; not run, their tables left as they were: %s\n", kWho, names.c_str());
    worst = worse(worst, kExitIncomplete);
  }
  if (!options.quiet) {
    std::string line = std::string(kWho) + ": " + plural(static_cast<int64_t>(options.kinds.size()), "kind") + ": " +
                       std::to_string(complete) + " complete, " + std::to_string(incomplete) + " incomplete, " +
                       std::to_string(failed) + " failed";
    if (not_run > 0) line += ", " + std::to_string(not_run) + " not run";
    char time_text[32];
    std::snprintf(time_text, sizeof time_text, ", %.2f s -> ", seconds);
    line += time_text + shown_folder;
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (!previous_directory.empty()) std::filesystem::current_path(previous_directory, ec);
  return worst;
}

}  // namespace quire::cli
