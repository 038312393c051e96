// MKSPLICE: one row per splice of a marker, with the marker's length and
// width and the splice's distance from the left and from the right end.
// Lengths are written in the unit the store gives them.
#include <cstdint>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/kind_support.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {
namespace {

namespace si = records::splice_info;
using records::load_double;

// One row: the marker's header and one of its splice records.
struct MkspliceRow {
  const unsigned char* header;
  const unsigned char* splice;
};

double marker_length(const MkspliceRow& r) { return load_double(r.header + mh::kLength); }
double splice_start(const MkspliceRow& r) { return load_double(r.splice + si::kStart); }
double splice_length(const MkspliceRow& r) { return load_double(r.splice + si::kLength); }

constexpr Column<MkspliceRow> kColumns[] = {
    {"Name", 'C', 20, Form::kBoth,
     [](const MkspliceRow& r) { return Cell::field_text(r.header + mh::kName, mh::kTextSize); }},
    {"Marker_Length", 'F', 16, Form::kBoth, [](const MkspliceRow& r) { return Cell(marker_length(r)); }},
    {"Marker_Width", 'F', 16, Form::kBoth,
     [](const MkspliceRow& r) { return Cell(load_double(r.header + mh::kWidth)); }},
    {"Start_From_Left", 'F', 16, Form::kBoth, [](const MkspliceRow& r) { return Cell(splice_start(r)); }},
    {"Len", 'F', 16, Form::kBoth, [](const MkspliceRow& r) { return Cell(splice_length(r)); }},
    {"Start_From_Right", 'F', 16, Form::kBoth,
     [](const MkspliceRow& r) { return Cell(marker_length(r) - splice_start(r) - splice_length(r)); }},
};

constexpr KindTable<MkspliceRow> kTable{"MKSPLICE", "Name", "Time", true, kColumns};

class MkspliceReport : public TableReport<StoreKind::kMarker, kTable> {
 public:
  using TableReport::TableReport;

 protected:
  // Writes one row per splice in index order. A marker whose header cannot
  // be read gets no rows; a splice read that fails ends the marker's rows
  // there, the earlier rows standing. Either is returned as a failure only
  // when the area file failed the read.
  Status dump_item(const Item& item) override {
    Status ended;
    const Status header = for_each_marker_index(
        reader(), item.name, item.area, mh::kSplices, [&](int32_t i, const unsigned char* marker_header) {
          unsigned char splice[si::kSize];
          const Status read = reader().splice(item.area, i, splice);
          if (!read.ok()) {
            if (is_file_failure(read)) ended = store_failure(read, "splice read failed");
            return false;
          }
          write_row(MkspliceRow{marker_header, splice}, item.closing);
          return true;
        });
    return header.ok() ? ended : header;
  }
};

}  // namespace

int run_mksplice(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<MkspliceReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
