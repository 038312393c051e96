// Helpers shared by the model and order report kinds.
#ifndef QUIRE_KINDS_ITEM_CLOSING_H_
#define QUIRE_KINDS_ITEM_CLOSING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "report/dump_report.h"
#include "table/report_table.h"

namespace quire::model_kinds {

// The six closing values of every row of one item. The three time texts
// are formed once per item, not once per row.
class ItemClosing {
 public:
  ItemClosing(const DumpReport& report, int32_t mod_time, const char* user_last_mod,
              int32_t creation_time, const char* user_created, int32_t prev_mod_time,
              const char* user_prev_mod)
      : user_last_mod_(user_last_mod ? user_last_mod : ""),
        user_created_(user_created ? user_created : ""),
        user_prev_mod_(user_prev_mod ? user_prev_mod : "") {
    report.time_text(mod_time, mod_);
    report.time_text(creation_time, created_);
    report.time_text(prev_mod_time, prev_);
  }

  // Writes Time, User_Last_Mod, Created_Time, User_Created, Prev_Mod_Time
  // and User_Prev_Mod as the last six values of a row.
  void write(ReportTable& table) const {
    table.write_field(0, mod_);
    table.write_field(0, user_last_mod_);
    table.write_field(0, created_);
    table.write_field(0, user_created_);
    table.write_field(0, prev_);
    table.write_field(0, user_prev_mod_);
  }

 private:
  char mod_[kTimeTextSize];
  char created_[kTimeTextSize];
  char prev_[kTimeTextSize];
  const char* user_last_mod_;
  const char* user_created_;
  const char* user_prev_mod_;
};

// A text field of a record as a terminated string: the bytes up to the
// first NUL, at most Size - 1 of them, so a field the library left without
// its terminator never reads into the next one.
template <std::size_t Size>
class FieldText {
 public:
  explicit FieldText(const unsigned char* field) {
    const void* nul = std::memchr(field, 0, Size - 1);
    std::size_t n = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - field)
                        : Size - 1;
    std::memcpy(text_, field, n);
    text_[n] = 0;
  }
  const char* c_str() const { return text_; }

 private:
  char text_[Size];
};

}  // namespace quire::model_kinds

#endif  // QUIRE_KINDS_ITEM_CLOSING_H_
