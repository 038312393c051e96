// MKOV: one row per piece override of a marker: the piece, whether it is the
// right-hand piece, the override text, and the size and model of the piece.
#include <cstdint>
#include <cstring>
#include <utility>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/kind_support.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {
namespace {

namespace po = records::piece_override;

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

constexpr Column<MkovRow> kColumns[] = {
    {"Name", 'C', 20, Form::kBoth, [](const MkovRow& r) { return Cell(r.marker_name); }},
    {"Piece", 'C', 20, Form::kBoth, override_text<po::kPiece, po::kPieceSize>},
    {"IsRight", 'N', 2, Form::kBoth,
     [](const MkovRow& r) { return Cell(static_cast<int32_t>(r.override_record[po::kRight] != 0)); }},
    {"Overrides", 'C', 20, Form::kBoth, override_text<po::kOverride, po::kOverrideSize>},
    {"Size", 'C', 6, Form::kBoth, override_text<po::kSizeName, po::kSizeNameSize>},
    {"Model", 'C', 20, Form::kBoth, override_text<po::kModel, po::kModelSize>},
};

constexpr KindTable<MkovRow> kTable{"MKOV", "Name", "Time", true, kColumns};

class MkovReport : public TableReport<StoreKind::kMarker, kTable> {
 public:
  using TableReport::TableReport;

 protected:
  // Writes one row per override, in index order. A marker whose header
  // cannot be read gets no rows, and a failure only when the area file
  // failed the read. An override that cannot be read is reported at once
  // and gets no row (its record would still hold the previous override);
  // the next one is read, unless the area file failed the read: then the
  // marker's rows end there and that failure is returned.
  Status dump_item(const Item& item) override {
    unsigned char record[po::kSize];
    Status ended;
    const Status header = for_each_marker_index(
        reader(), item.name, item.area, mh::kOverrides, [&](int32_t i, unsigned char* marker_header) {
          std::memset(record, 0, sizeof record);
          const Status read = reader().piece_override(item.area, i, marker_header, record);
          if (read.ok()) {
            write_row(MkovRow{item.name, record}, item.closing);
            return true;
          }
          Status failure = store_failure(read, "piece override read failed");
          if (is_file_failure(read)) {
            ended = std::move(failure);
            return false;
          }
          report_failure(failure);
          return true;
        });
    return header.ok() ? ended : header;
  }
};

}  // namespace

int run_mkov(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<MkovReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
