// MKPC, the marker pieces report: one row per piece of every marker.
#include "kinds/columns.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {
namespace {

namespace piece = records::marker_piece;
using kinds::Cell;
using kinds::Form;

// One row: the marker's name and one of its piece records.
struct MkpcRow {
  const char* marker_name;
  const unsigned char* piece;
};

constexpr kinds::Column<MkpcRow> kColumns[] = {
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

constexpr kinds::KindTable<MkpcRow> kTable{"MKPC", "Name", "Time", true, kColumns};

class MkpcReport : public MarkerReport {
 public:
  int write_header() override { return kinds::open_kind_table(*this, kTable); }

  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    ClosingValues closing{pbc_last_mod_time, user_last_mod, creation_time,
                          user_created,      prev_mod_time, user_prev_mod};
    unsigned char rec[piece::kSize];
    int status = pb_first_marker_piece(item_area, rec);
    while (status == 1) {
      kinds::write_kind_row(*this, kTable, MkpcRow{name, rec}, &closing);
      status = pb_next_marker_piece(item_area, rec);
    }
    return status;
  }
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_mkpc(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkpcReport>(argc, argv, hwnd, detailed);
}
