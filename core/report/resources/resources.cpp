// The report library's string table and the loading of the translated
// resource library and of the shared glossary beside the report library.
#include "resources/resources.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/message_box.h"
#include "platform/shared_library.h"
#include "platform/string_table.h"
#include "platform/version_record.h"

// QUIRE_STRING_IDS is the largest id of own_strings.txt (cmake/resources.cmake):
// a string added there, or one named here and missing there, fails the build.
static_assert(quire::kStringLast == QUIRE_STRING_IDS,
              "src/resources/own_strings.txt and the ids of resources.h differ");

namespace quire {

// The report library's own texts, generated from own_strings.txt
// (cmake/resources.cmake).
extern const QuireStringTable own_string_table;

namespace {

constexpr const char kLoadFailedFormat[] =
    "Error loading resource DLL! (%s)  Error Code %ld.\nUntranslated resources will be used.";
constexpr const char kOtherVersionFormat[] =
    "Error loading resource DLL! (%s)  Incompatable version.\nUntranslated resources will be used.";
constexpr const char kGlossaryOtherVersionFormat[] =
    "Error loading resource DLL! (%s) with (%s)  Incompatable version.";

// The shared glossary, once loaded; never released.
platform::LibraryHandle g_shared_glossary = nullptr;

// printf into a string of whatever length the values need (a module path
// may be long).
__attribute__((format(printf, 1, 2))) std::string format_text(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n < 0) {
    text = format;
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

// Prints a message on standard error: the channel of a load without a run.
__attribute__((format(printf, 1, 2))) int print_to_standard_error(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  int n = std::vfprintf(stderr, format, args);
  va_end(args);
  return n;
}

// Loads the library at path; on failure shows the load-failure message with
// file_name and prints the loader's reason through print.
platform::LibraryHandle load_or_report(const std::string& path, const char* file_name, PrintFunction print) {
  platform::LibraryLoadError error;
  platform::LibraryHandle handle = platform::open_shared_library(path, &error);
  if (!handle) {
    platform::show_message_box(format_text(kLoadFailedFormat, file_name, error.code).c_str());
    print("Resource library not loaded: %s\n", error.reason.c_str());
  }
  return handle;
}

void load_shared_glossary(const std::string& directory, const std::string& module_path, PrintFunction print) {
  const char* name = shared_glossary_name();
  std::string path = directory + name;
  if (!platform::library_file_exists(path)) return;
  platform::LibraryHandle handle = load_or_report(path, name, print);
  if (!handle) return;  // tried again by the next report
  g_shared_glossary = handle;
  if (!platform::same_file_version(module_path.c_str(), path.c_str())) {
    platform::show_message_box(format_text(kGlossaryOtherVersionFormat, module_path.c_str(), name).c_str());
  }
}

}  // namespace

const char* resource_library_name() {
  static const std::string name = platform::library_file_name("quireres");
  return name.c_str();
}

const char* shared_glossary_name() {
  static const std::string name = platform::library_file_name("SharedGlossary");
  return name.c_str();
}

ModuleHandle own_module_handle() { return platform::own_library_handle(); }

const char* own_string(unsigned id) { return platform::string_table_text(&own_string_table, id); }

ModuleHandle load_resource_library(ModuleHandle module, const char* file_name) {
  return load_resource_library(module, file_name, print_to_standard_error);
}

ModuleHandle load_resource_library(ModuleHandle module, const char* file_name, PrintFunction print) {
  std::string module_path = platform::library_path(module);
  std::string directory = platform::library_directory(module_path);
  // Without a directory of the module there is nowhere to look: never the
  // current directory.
  if (directory.empty() || !file_name || !*file_name) return nullptr;

  ModuleHandle result = nullptr;
  std::string candidate = directory + file_name;
  if (platform::library_file_exists(candidate)) {
    if (platform::same_file_version(module_path.c_str(), candidate.c_str())) {
      result = load_or_report(candidate, file_name, print);
    } else {
      platform::show_message_box(format_text(kOtherVersionFormat, file_name).c_str());
    }
  }
  if (!g_shared_glossary) load_shared_glossary(directory, module_path, print);
  return result;
}

int load_string(ModuleHandle module, unsigned id, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  const char* text = nullptr;
  if (module && module != own_module_handle()) {
    text = platform::string_table_text(platform::find_string_table(module), id);
    if (text && !*text) text = nullptr;  // an empty translation: keep our own
  }
  if (!text) text = own_string(id);
  if (!text) {
    buffer[0] = 0;
    return 0;
  }
  size_t n = std::strlen(text);
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  std::memcpy(buffer, text, n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

bool is_missing_piece_format(const char* text) {
  if (!text) return false;
  int strings = 0;
  for (const char* p = text; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    if (*p != 's') return false;  // any other conversion, or a "%" at the end
    ++strings;
  }
  return strings == 2;
}

const char* missing_piece_format(ModuleHandle module, char* buffer, int size) {
  const char* own = own_string(kStringMissingPiece);
  if (!buffer || size <= 0) return own;
  load_string(module, kStringMissingPiece, buffer, size);
  return is_missing_piece_format(buffer) ? buffer : own;
}

}  // namespace quire
