// MKPC, the marker pieces report: one row per piece of every marker.
#include "kinds/columns.h"
#include "kinds/kind_support.h"
#include "kinds/kinds.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {
namespace {

namespace piece = records::marker_piece;

// One row: the marker's name and one of its piece records.
struct MkpcRow {
  std::string_view marker_name;
  const unsigned char* piece;
};

constexpr Column<MkpcRow> kColumns[] = {
    {"Name", 'C', 20, Form::kBoth, [](const MkpcRow& r) { return Cell(r.marker_name); }},
    {"Piece", 'C', 20, Form::kBoth,
     [](const MkpcRow& r) { return Cell::field_text(r.piece + piece::kName, piece::kNameSize - 1); }},
    {"Category", 'C', 20, Form::kBoth,
     [](const MkpcRow& r) {
       return Cell::field_text(r.piece + piece::kCategory, piece::kCategorySize - 1);
     }},
    {"Area", 'F', 16, Form::kDetailed,
     [](const MkpcRow& r) { return Cell(records::load_double(r.piece + piece::kArea)); }},
    {"Perimeter", 'F', 16, Form::kDetailed,
     [](const MkpcRow& r) { return Cell(records::load_double(r.piece + piece::kPerimeter)); }},
    {"Size", 'C', 6, Form::kDetailed,
     [](const MkpcRow& r) {
       return Cell::field_text(r.piece + piece::kSizeName, piece::kSizeNameSize - 1);
     }},
};

constexpr KindTable<MkpcRow> kTable{"MKPC", "Name", "Time", true, kColumns};

class MkpcReport : public TableReport<StoreKind::kMarker, kTable> {
 public:
  using TableReport::TableReport;

 protected:
  // Writes one row per piece until the store reports the end of the
  // marker's pieces. A read the area file fails is returned (the marker
  // counts as failed); any other failure ends the rows without a message.
  Status dump_item(const Item& item) override {
    unsigned char rec[piece::kSize];
    const std::string_view marker_name(item.name);
    StoreReader& store = reader();
    bool found = false;
    Status read = store.first_marker_piece(item.area, rec, found);
    while (read.ok() && found) {
      write_row(MkpcRow{marker_name, rec}, item.closing);
      read = store.next_marker_piece(item.area, rec, found);
    }
    return is_file_failure(read) ? store_failure(read, "piece read failed") : Status();
  }
};

}  // namespace

int run_mkpc(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<MkpcReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
