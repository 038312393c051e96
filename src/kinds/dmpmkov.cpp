// MKOV: one row per piece override of a marker: the piece, whether it is the
// right-hand piece, the override text, and the size and model of the piece.
#include <cstdint>
#include <cstring>

#include "kinds/columns.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {
namespace {

namespace mh = records::marker_header;
namespace po = records::piece_override;
using kinds::Cell;
using kinds::Form;

// One row: the marker's name and one of its override records.
struct MkovRow {
  const char* marker_name;
  const unsigned char* override_record;
};

// The text of an override field of the given size.
template <std::size_t kOffset, std::size_t kSize>
Cell override_text(const MkovRow& r) {
  return Cell::field_text(r.override_record + kOffset, kSize);
}

constexpr kinds::Column<MkovRow> kColumns[] = {
    {"Name", 'C', 20, Form::kBoth, [](const MkovRow& r) { return Cell(r.marker_name); }},
    {"Piece", 'C', 20, Form::kBoth, override_text<po::kPiece, po::kPieceSize>},
    {"IsRight", 'N', 2, Form::kBoth,
     [](const MkovRow& r) { return Cell(static_cast<int32_t>(r.override_record[po::kRight] != 0)); }},
    {"Overrides", 'C', 20, Form::kBoth, override_text<po::kOverride, po::kOverrideSize>},
    {"Size", 'C', 6, Form::kBoth, override_text<po::kSizeName, po::kSizeNameSize>},
    {"Model", 'C', 20, Form::kBoth, override_text<po::kModel, po::kModelSize>},
};

constexpr kinds::KindTable<MkovRow> kTable{"MKOV", "Name", "Time", true, kColumns};

class MkovReport : public MarkerReport {
 public:
  int write_header() override { return kinds::open_kind_table(*this, kTable); }

  // Writes one row per override, in index order. A marker whose header
  // cannot be read gets no rows and no message. An override that cannot be
  // read is reported with the library's error record and gets no row (its
  // record would still hold the previous override); the next one is read.
  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    unsigned char header[mh::kSize] = {};
    if (pb_get_marker_header(name, header, item_area) != 1) return 0;
    int32_t overrides = records::load_i32(header + mh::kOverrides);
    ClosingValues closing{pbc_last_mod_time, user_last_mod, creation_time,
                          user_created,      prev_mod_time, user_prev_mod};
    unsigned char override_record[po::kSize];
    for (int32_t i = 0; i < overrides; ++i) {
      std::memset(override_record, 0, sizeof override_record);
      if (pb_get_piece_override(item_area, i, header, override_record) != 1) {
        print_library_error("piece override read failed");
        continue;
      }
      kinds::write_kind_row(*this, kTable, MkovRow{name, override_record}, &closing);
    }
    return 1;
  }
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_mkov(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkovReport>(argc, argv, hwnd, detailed);
}
