// ReportLayout: what every report table has in common, whatever its kind:
// the four preamble values of a text table (their order and words) and the
// six closing columns that end the rows of most kinds. The report writes
// them from here and the previous-table readers check them from here.
#ifndef QUIRE_TABLE_REPORT_LAYOUT_H_
#define QUIRE_TABLE_REPORT_LAYOUT_H_

#include <cstddef>
#include <string_view>

namespace quire {

class ReportLayout {
 public:
  // ---- the preamble ------------------------------------------------------
  // The preamble values, in the order they are written.
  static constexpr std::size_t kVersionValue = 0;   // kVersionWord
  static constexpr std::size_t kNotationValue = 1;  // notation_word of the run
  static constexpr std::size_t kTagValue = 2;       // the report kind's tag ("MKPC")
  static constexpr std::size_t kAreaValue = 3;      // the storage area's path
  static constexpr std::size_t kPreambleValues = 4;

  // The version word this build writes; a previous table is taken for a
  // report table when its first line holds any word starting with
  // kVersionPrefix (quoted).
  static constexpr char kVersionWord[] = "DB_VERSION_3";
  static constexpr std::string_view kVersionPrefix = "DB_VERSION_";

  // The words of the two notations.
  static constexpr char kMetricWord[] = "METRIC";
  static constexpr char kImperialWord[] = "IMPERIAL";

  // The preamble word of notation: 1 imperial, any other value metric.
  static constexpr const char* notation_word(int notation) {
    return notation == 1 ? kImperialWord : kMetricWord;
  }

  // ---- the closing columns -----------------------------------------------
  // The closing columns, in table order: when and by whom the item was last
  // modified, created, and modified before that. The first is named by the
  // report kind (its change-stamp column); the three time columns hold time
  // texts, the three user columns user names.
  static constexpr std::size_t kClosingColumns = 6;

  struct ClosingColumn {
    const char* name;
    int width;
  };

  // Closing column index (below kClosingColumns) of a table whose change-stamp
  // column is time_column, in the plain (detailed 0) or detailed form.
  static constexpr ClosingColumn closing_column(std::size_t index, const char* time_column,
                                                int detailed) {
    constexpr const char* kNames[kClosingColumns] = {
        nullptr, "User_Last_Mod", "Created_Time", "User_Created", "Prev_Mod_Time", "User_Prev_Mod"};
    const bool is_time = index % 2 == 0;
    const int time_width = detailed ? kDetailedTimeWidth : kPlainTimeWidth;
    return {index == 0 ? time_column : kNames[index], is_time ? time_width : kUserWidth};
  }

 private:
  static constexpr int kPlainTimeWidth = 8;      // "yy/mm/dd"
  static constexpr int kDetailedTimeWidth = 24;  // the detailed time text
  static constexpr int kUserWidth = 40;
};

}  // namespace quire

#endif  // QUIRE_TABLE_REPORT_LAYOUT_H_
