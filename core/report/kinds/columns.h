// The columns of a report kind, declared once as data.
//
// Each kind lists its columns in table order in one KindTable: name, type,
// width, the forms of the table the column appears in and how its value is
// taken from a row. open_kind_table walks the list to declare the columns and
// write_kind_row walks it again to write each row, so that adding a column
// to a kind is one more line in its list.
#ifndef QUIRE_KINDS_COLUMNS_H_
#define QUIRE_KINDS_COLUMNS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

#include "quire/records.h"
#include "report/dump_report.h"
#include "table/report_table.h"

namespace quire::kinds {

// The forms of the table a column appears in.
enum class Form : unsigned char {
  kBoth,      // the plain and the detailed table
  kDetailed,  // the detailed table only
};

// The longest text a record field gives a column.
inline constexpr std::size_t kMaxFieldText = 127;

// One value of a row, kept in the kind it was produced as and handed to the
// table writer as such (which converts it to the column's type).
class Cell {
 public:
  Cell(const char* text) : kind_(Kind::kText), text_(text) {}        // NOLINT: implicit
  // A text measured before, for one that comes again on many rows.
  Cell(std::string_view text)                                        // NOLINT: implicit
      : kind_(Kind::kSpan), max_length_(text.size()), field_(reinterpret_cast<const unsigned char*>(text.data())) {}
  Cell(double value) : kind_(Kind::kReal), real_(value) {}           // NOLINT: implicit
  Cell(int32_t value) : kind_(Kind::kInteger), integer_(value) {}    // NOLINT: implicit

  // The text of a fixed-size record field: the bytes before the first NUL
  // but at most max_length (and at most kMaxFieldText) of them, so a field
  // left unterminated cannot run into the next one.
  static Cell field_text(const unsigned char* field, std::size_t max_length) {
    Cell c(static_cast<const char*>(nullptr));
    c.kind_ = Kind::kField;
    c.field_ = field;
    c.max_length_ = max_length < kMaxFieldText ? max_length : kMaxFieldText;
    return c;
  }

  // Writes the value as the current record's next field; is_first starts
  // the record.
  void write(ReportTable& table, int is_first) const;

 private:
  enum class Kind : unsigned char { kText, kField, kSpan, kReal, kInteger };
  Kind kind_;
  std::size_t max_length_ = 0;  // kField: at most this long; kSpan: the length
  union {
    const char* text_;
    const unsigned char* field_;
    double real_;
    int32_t integer_;
  };
};

inline void Cell::write(ReportTable& table, int is_first) const {
  switch (kind_) {
    case Kind::kText:
      table.write_field(is_first, text_);
      return;
    case Kind::kField:
      table.write_field(is_first, reinterpret_cast<const char*>(field_),
                        records::text_length(field_, max_length_));
      return;
    case Kind::kSpan:
      table.write_field(is_first, reinterpret_cast<const char*>(field_), max_length_);
      return;
    case Kind::kReal:
      table.write_field(is_first, real_);
      return;
    case Kind::kInteger:
      table.write_field(is_first, integer_);
      return;
  }
}

// One column of a kind whose rows are described by Row.
template <class Row>
struct Column {
  const char* name;
  char type;   // 'C' text, 'N' integer, 'F' decimal with the area's precision
  int width;
  Form form;
  Cell (*value)(const Row& row);
};

// The table of a report kind: its tag, the columns the previous output is
// matched by, its own columns and whether the six closing columns end it.
template <class Row>
struct KindTable {
  using RowType = Row;
  const char* tag;
  const char* key_column;
  const char* time_column;  // also the name of the first closing column
  bool closing_columns;
  std::span<const Column<Row>> columns;
};

// Whether column belongs to the table of the given form.
inline bool in_form(Form form, int detailed) { return detailed || form == Form::kBoth; }

// Opens report's output for kind and declares the columns of the run's form,
// followed by the six closing columns when the kind has them (otherwise the
// last of its own columns ends the table). The area's precision is read only
// for a kind with F columns. Returns 1, or 0 when the output could not be
// opened (a message has been printed).
template <class Row>
int open_kind_table(DumpReport& report, const KindTable<Row>& kind) {
  int precision = 0;
  for (const Column<Row>& c : kind.columns) {
    if (c.type == 'F') {
      precision = report.area_precision();
      break;
    }
  }
  if (report.open_table(kind.key_column, kind.time_column, kind.tag) != 1) return 0;
  ReportTable& t = report.table();
  // One past the column that ends the table, when one of the kind's own does.
  std::size_t end = 0;
  if (!kind.closing_columns) {
    end = kind.columns.size();
    while (end > 0 && !in_form(kind.columns[end - 1].form, report.detailed)) --end;
  }
  for (std::size_t i = 0; i < kind.columns.size(); ++i) {
    const Column<Row>& c = kind.columns[i];
    if (!in_form(c.form, report.detailed)) continue;
    t.define_field(i + 1 == end ? 1 : 0, c.type, c.width, c.type == 'F' ? precision : 0, c.name);
  }
  if (kind.closing_columns) report.define_closing_fields(kind.time_column);
  return 1;
}

// Writes one row of kind: the value of each column of the run's form, then,
// when the kind has closing columns, the closing values.
template <class Row>
void write_kind_row(DumpReport& report, const KindTable<Row>& kind, const Row& row,
                    const ClosingValues& closing) {
  ReportTable& t = report.table();
  int first = 1;
  for (const Column<Row>& c : kind.columns) {
    if (!in_form(c.form, report.detailed)) continue;
    c.value(row).write(t, first);
    first = 0;
  }
  if (kind.closing_columns) report.write_closing_values(closing);
}

// A report kind whose table is described by the KindTable kKind and whose
// items are of kStore: its header is the table's; each item's rows are
// written by its dump_item, closed by the item's closing values.
template <StoreKind kStore, const auto& kKind>
class TableReport : public DumpReport {
 public:
  using Row = typename std::remove_cvref_t<decltype(kKind)>::RowType;

  explicit TableReport(StoreReader& reader) : DumpReport(reader, kStore) {}

  int write_header() override { return open_kind_table(*this, kKind); }

 protected:
  // Writes one row, closed by closing when the kind has closing columns.
  void write_row(const Row& row, const ClosingValues& closing) {
    write_kind_row(*this, kKind, row, closing);
  }
};

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_COLUMNS_H_
