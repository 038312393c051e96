// MKOV: one row per piece override of a marker: the piece, whether it is the
// right-hand piece, the override text, and the size and model of the piece.
#include <cstdint>
#include <cstring>

#include "kinds/kind_support.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {
namespace {

namespace mh = records::marker_header;
namespace po = records::piece_override;
using records::load_i32;

class MkovReport : public MarkerReport {
 public:
  int write_header() override {
    if (open_table("Name", "Time", "MKOV") != 1) return 0;
    ReportTable& t = table();
    t.define_field(0, 'C', 20, 0, "Name");
    t.define_field(0, 'C', 20, 0, "Piece");
    t.define_field(0, 'N', 2, 0, "IsRight");
    t.define_field(0, 'C', 20, 0, "Overrides");
    t.define_field(0, 'C', 6, 0, "Size");
    t.define_field(0, 'C', 20, 0, "Model");
    define_closing_fields("Time");
    return 1;
  }

  // Writes one row per override, in index order. A marker whose header
  // cannot be read gets no rows and no message. An override that cannot be
  // read is reported with the library's error record and gets no row (its
  // record would still hold the previous override); the next one is read.
  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    unsigned char header[mh::kSize] = {};
    if (pb_get_marker_header(name, header, item_area) != 1) return 0;
    int32_t overrides = load_i32(header + mh::kOverrides);
    ReportTable& t = table();
    unsigned char override_record[po::kSize];
    for (int32_t i = 0; i < overrides; ++i) {
      std::memset(override_record, 0, sizeof override_record);
      if (pb_get_piece_override(item_area, i, header, override_record) != 1) {
        print_library_error("piece override read failed");
        continue;
      }
      char piece[po::kPieceSize + 1];
      char override_text[po::kOverrideSize + 1];
      char size_name[po::kSizeNameSize + 1];
      char model[po::kModelSize + 1];
      t.write_field(1, name);
      t.write_field(0, kinds::copy_field_text(override_record + po::kPiece, piece));
      t.write_field(0, static_cast<int32_t>(override_record[po::kRight] != 0 ? 1 : 0));
      t.write_field(0, kinds::copy_field_text(override_record + po::kOverride, override_text));
      t.write_field(0, kinds::copy_field_text(override_record + po::kSizeName, size_name));
      t.write_field(0, kinds::copy_field_text(override_record + po::kModel, model));
      write_closing_values(pbc_last_mod_time, user_last_mod, creation_time, user_created,
                           prev_mod_time, user_prev_mod);
    }
    return 1;
  }
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_mkov(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkovReport>(argc, argv, hwnd, detailed);
}
