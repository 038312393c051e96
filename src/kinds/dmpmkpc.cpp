// MKPC, the marker pieces report: one row per piece of every marker.
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {

namespace piece = records::marker_piece;

class MkpcReport : public MarkerReport {
 public:
  int write_header() override;
  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override;
};

int MkpcReport::write_header() {
  int precision = area_precision();
  int r = open_table("Name", "Time", "MKPC");
  if (r != 1) return r;
  ReportTable& t = table();
  t.define_field(0, 'C', 20, 0, "Name");
  t.define_field(0, 'C', 20, 0, "Piece");
  t.define_field(0, 'C', 20, 0, "Category");
  if (detailed) {
    t.define_field(0, 'F', 16, precision, "Area");
    t.define_field(0, 'F', 16, precision, "Perimeter");
    t.define_field(0, 'C', 6, 0, "Size");
  }
  define_closing_fields("Time");
  return 1;
}

int MkpcReport::dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                          int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                          const char* user_prev_mod) {
  ReportTable& t = table();
  unsigned char rec[piece::kSize];
  int status = pb_first_marker_piece(item_area, rec);
  while (status == 1) {
    // Each text ends within its own field whatever the library left there.
    rec[piece::kName + piece::kNameSize - 1] = 0;
    rec[piece::kCategory + piece::kCategorySize - 1] = 0;
    rec[piece::kSizeName + piece::kSizeNameSize - 1] = 0;
    t.write_field(1, name);
    t.write_field(0, records::load_text(rec + piece::kName));
    t.write_field(0, records::load_text(rec + piece::kCategory));
    if (detailed) {
      t.write_field(0, records::load_double(rec + piece::kArea));
      t.write_field(0, records::load_double(rec + piece::kPerimeter));
      t.write_field(0, records::load_text(rec + piece::kSizeName));
    }
    write_closing_values(pbc_last_mod_time, user_last_mod, creation_time, user_created,
                         prev_mod_time, user_prev_mod);
    status = pb_next_marker_piece(item_area, rec);
  }
  return status;
}

}  // namespace quire

extern "C" QUIRE_API int dmp_mkpc(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkpcReport>(argc, argv, hwnd, detailed);
}
