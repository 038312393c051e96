// Helpers shared by the marker report kinds (MKHDR, MKMC, MKOV, MKSPLICE):
// bounded copies of record texts and the six closing values of a row.
#ifndef QUIRE_KINDS_MARKER_KINDS_SUPPORT_H_
#define QUIRE_KINDS_MARKER_KINDS_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quire/records.h"
#include "report/dump_report.h"
#include "table/report_table.h"

namespace quire::kinds {

// Copies the text of a record field of `size` bytes into out, which must
// hold size + 1 bytes: the bytes up to the first NUL but never more than
// size, always terminated, so a field the library left unterminated cannot
// run into the next one. Returns out.
inline char* copy_field_text(const unsigned char* field, size_t size, char* out) {
  size_t n = records::text_length(field, size);
  std::memcpy(out, field, n);
  out[n] = 0;
  return out;
}

// The six closing values of the rows of one item (time, User_Last_Mod,
// Created_Time, User_Created, Prev_Mod_Time, User_Prev_Mod). The time texts
// are formed once per item by form() and written with every row by write(),
// so an item with many rows formats its times only once.
class ClosingValues {
 public:
  // Forms the three time texts under report's `detailed` flag and keeps the
  // three user names, which must stay valid until the last write().
  void form(const DumpReport& report, int32_t mod_time, const char* user_last_mod,
            int32_t creation_time, const char* user_created, int32_t prev_mod_time,
            const char* user_prev_mod) {
    report.time_text(mod_time, mod_time_);
    report.time_text(creation_time, created_time_);
    report.time_text(prev_mod_time, prev_mod_time_);
    user_last_mod_ = user_last_mod ? user_last_mod : "";
    user_created_ = user_created ? user_created : "";
    user_prev_mod_ = user_prev_mod ? user_prev_mod : "";
  }

  // Writes the six values as the last six values of the current record.
  void write(ReportTable& table) const {
    table.write_field(0, mod_time_);
    table.write_field(0, user_last_mod_);
    table.write_field(0, created_time_);
    table.write_field(0, user_created_);
    table.write_field(0, prev_mod_time_);
    table.write_field(0, user_prev_mod_);
  }

 private:
  char mod_time_[kTimeTextSize] = {};
  char created_time_[kTimeTextSize] = {};
  char prev_mod_time_[kTimeTextSize] = {};
  const char* user_last_mod_ = "";
  const char* user_created_ = "";
  const char* user_prev_mod_ = "";
};

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_MARKER_KINDS_SUPPORT_H_
