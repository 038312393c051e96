// MKSPLICE: one row per splice of a marker, with the marker's length and
// width and the splice's distance from the left and from the right end.
// Lengths are written in the unit the library gives them.
#include <cstdint>

#include "kinds/kind_support.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {
namespace {

namespace mh = records::marker_header;
namespace si = records::splice_info;
using records::load_double;
using records::load_i32;

class MkspliceReport : public MarkerReport {
 public:
  int write_header() override {
    int precision = area_precision();
    if (open_table("Name", "Time", "MKSPLICE") != 1) return 0;
    ReportTable& t = table();
    t.define_field(0, 'C', 20, 0, "Name");
    t.define_field(0, 'F', 16, precision, "Marker_Length");
    t.define_field(0, 'F', 16, precision, "Marker_Width");
    t.define_field(0, 'F', 16, precision, "Start_From_Left");
    t.define_field(0, 'F', 16, precision, "Len");
    t.define_field(0, 'F', 16, precision, "Start_From_Right");
    define_closing_fields("Time");
    return 1;
  }

  // Writes one row per splice in index order. A marker whose header cannot
  // be read gets no rows and no message; a splice read that fails ends the
  // marker's rows there, the earlier rows standing.
  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    unsigned char header[mh::kSize] = {};
    if (pb_get_marker_header(name, header, item_area) != 1) return 0;
    int32_t splices = load_i32(header + mh::kSplices);
    char marker_name[mh::kTextSize + 1];
    kinds::copy_field_text(header + mh::kName, marker_name);
    double length = load_double(header + mh::kLength);
    double width = load_double(header + mh::kWidth);

    ReportTable& t = table();
    unsigned char splice[si::kSize];
    for (int32_t i = 0; i < splices; ++i) {
      if (pb_get_splice_info(splice, i, item_area) != 1) break;
      double start = load_double(splice + si::kStart);
      double splice_length = load_double(splice + si::kLength);
      t.write_field(1, marker_name);
      t.write_field(0, length);
      t.write_field(0, width);
      t.write_field(0, start);
      t.write_field(0, splice_length);
      t.write_field(0, length - start - splice_length);
      write_closing_values(pbc_last_mod_time, user_last_mod, creation_time, user_created,
                           prev_mod_time, user_prev_mod);
    }
    return 1;
  }
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_mksplice(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkspliceReport>(argc, argv, hwnd, detailed);
}
