#include "table/dbf/dbf_layout.h"

#include <algorithm>

#include "table/table_format.h"
#include "quire/ascii.h"

namespace quire::table {

bool is_dbase_path(std::string_view path) {
  // Directory names may hold dots of their own ("runs/2026.12/out.dbf"):
  // only the file name counts.
  size_t separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos) path.remove_prefix(separator + 1);
  size_t dot = path.find('.');
  if (dot == std::string_view::npos) return false;
  std::string_view rest = path.substr(dot);
  if (rest.size() != 4) return false;
  static const char kDbf[] = ".dbf";
  for (size_t i = 0; i < 4; ++i)
    if (ascii::to_lower(rest[i]) != kDbf[i]) return false;
  return true;
}

std::string dbase_column_name(const char* name, std::vector<std::string>* used) {
  std::string upper;
  for (const char* p = name; *p != '\0'; ++p) upper += ascii::to_upper(*p);
  std::string cut = upper.substr(0, 10);
  auto taken = [&](const std::string& s) {
    return std::find(used->begin(), used->end(), s) != used->end();
  };
  if (taken(cut)) {
    for (int n = 2;; ++n) {
      char suffix[16] = "_";
      size_t suffix_length = format_int(suffix + 1, n) + 1;
      std::string candidate = upper.substr(0, 10 - suffix_length);
      candidate.append(suffix, suffix_length);
      if (!taken(candidate)) {
        cut = candidate;
        break;
      }
    }
  }
  used->push_back(cut);
  return cut;
}

}  // namespace quire::table
