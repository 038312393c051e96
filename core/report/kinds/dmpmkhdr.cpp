// MKHDR: one row per marker with its header values and, in the detailed
// form, the marker analysis (areas, perimeters, internal lines, notches,
// corners, plaid and stripe matching, sizes). Lengths and areas of the
// analysis are given in inches by the store and converted to centimetres
// unless the run is imperial; header values are written as they are.
#include <cmath>
#include <cstdint>
#include <limits>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/kind_support.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {
namespace {

namespace ia = records::item_area;
using records::load_double;
using records::load_i16;
using records::load_i32;

// A 32-bit sum of two 32-bit counts, held at the 32-bit range instead of
// wrapping round to a sign change.
int32_t sum_counts(int32_t a, int32_t b) {
  int64_t s = static_cast<int64_t>(a) + b;
  if (s > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (s < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(s);
}

// One row: the marker's extended header, its analysis and its item area,
// with the run's notation (1 imperial).
struct MkhdrRow {
  const unsigned char* header;
  const unsigned char* analysis;
  const unsigned char* item_area;
  int notation;
};

// A length of the analysis (inches) in the unit of the run: times 2.54
// unless the notation is imperial; 0 stays 0.
double convert_length(const MkhdrRow& r, double value) {
  return (r.notation != 1 && value != 0.0) ? value * 2.54 : value;
}
// An area of the analysis (square inches): the length conversion twice.
double convert_area(const MkhdrRow& r, double value) {
  return convert_length(r, convert_length(r, value));
}

// Net utilisation in percent: the converted net area over the header's
// unconverted length times width. 0.0 for a length below 0.001 and for a
// zero width, so that no infinite or undefined number reaches the table.
double net_utilisation(const MkhdrRow& r) {
  double length = load_double(r.header + mh::kLength);
  if (length < 0.001) return 0.0;
  double base = length * load_double(r.header + mh::kWidth);
  if (base == 0.0) return 0.0;
  double u = convert_area(r, load_double(r.analysis + ma::kNetArea)) * 100.0 / base;
  return std::isfinite(u) ? u : 0.0;
}

int32_t total_pieces(const MkhdrRow& r) {
  return load_i16(r.analysis + ma::kPlacedPieces) + load_i16(r.analysis + ma::kUnplacedPieces);
}

// Values taken from a record at a fixed offset as they are, or converted.
template <std::size_t kOffset>
Cell header_text(const MkhdrRow& r) {
  return Cell::field_text(r.header + kOffset, mh::kTextSize);
}
template <std::size_t kOffset>
Cell header_real(const MkhdrRow& r) {
  return Cell(load_double(r.header + kOffset));
}
template <std::size_t kOffset>
Cell header_integer(const MkhdrRow& r) {
  return Cell(load_i32(r.header + kOffset));
}
template <std::size_t kOffset>
Cell analysis_integer(const MkhdrRow& r) {
  return Cell(load_i32(r.analysis + kOffset));
}
template <std::size_t kOffset>
Cell analysis_length(const MkhdrRow& r) {
  return Cell(convert_length(r, load_double(r.analysis + kOffset)));
}
template <std::size_t kOffset>
Cell analysis_area(const MkhdrRow& r) {
  return Cell(convert_area(r, load_double(r.analysis + kOffset)));
}

// The columns before the six closing ones, in table order; the plain form
// has twelve of them.
constexpr Column<MkhdrRow> kColumns[] = {
    {"Name", 'C', 20, Form::kBoth, header_text<mh::kName>},
    {"Order_name", 'C', 20, Form::kBoth, header_text<mh::kOrderName>},
    {"Order_number", 'C', 20, Form::kDetailed, header_text<mh::kOrderNumber>},
    {"Desc", 'C', 20, Form::kDetailed, header_text<mh::kDescription>},
    {"LayLimits", 'C', 20, Form::kDetailed, header_text<mh::kLayLimits>},
    {"Annotation", 'C', 20, Form::kDetailed, header_text<mh::kAnnotation>},
    {"BlockBuffer", 'C', 20, Form::kDetailed, header_text<mh::kBlockBuffer>},
    {"Match", 'C', 20, Form::kDetailed, header_text<mh::kMatching>},
    {"Notch", 'C', 20, Form::kDetailed, header_text<mh::kNotch>},
    {"ByteSize", 'N', 7, Form::kDetailed,
     [](const MkhdrRow& r) {
       return Cell(sum_counts(load_i32(r.item_area + ia::kByteSize1),
                              load_i32(r.item_area + ia::kByteSize2)));
     }},
    {"T_pieces", 'N', 5, Form::kDetailed, [](const MkhdrRow& r) { return Cell(total_pieces(r)); }},
    {"Placed", 'N', 5, Form::kDetailed,
     [](const MkhdrRow& r) { return Cell(static_cast<int32_t>(load_i16(r.analysis + ma::kPlacedPieces))); }},
    {"Unplaced", 'N', 5, Form::kDetailed,
     [](const MkhdrRow& r) {
       return Cell(total_pieces(r) - load_i16(r.analysis + ma::kPlacedPieces));
     }},
    {"Added", 'N', 5, Form::kDetailed, header_integer<mh::kAdded>},
    {"Width", 'F', 16, Form::kBoth, header_real<mh::kWidth>},
    {"Length", 'F', 16, Form::kBoth, header_real<mh::kLength>},
    {"Util", 'F', 8, Form::kBoth, header_real<mh::kUtil>},
    {"NetUtil", 'F', 8, Form::kDetailed, [](const MkhdrRow& r) { return Cell(net_utilisation(r)); }},
    {"Tgt_Util", 'F', 8, Form::kDetailed, header_real<mh::kTargetUtil>},
    {"T_area", 'F', 16, Form::kDetailed,
     [](const MkhdrRow& r) {
       return Cell(convert_area(r, load_double(r.analysis + ma::kAreaTerm) +
                                       load_double(r.analysis + ma::kPlacedArea)));
     }},
    {"P_area", 'F', 16, Form::kDetailed, analysis_area<ma::kPlacedArea>},
    {"Straight_Perim", 'F', 16, Form::kDetailed, analysis_length<ma::kStraightPerimeter>},
    {"Curved_Perim", 'F', 16, Form::kDetailed, analysis_length<ma::kCurvedPerimeter>},
    {"T_per", 'F', 16, Form::kDetailed, header_real<mh::kTotalPerimeter>},
    {"P_per", 'F', 16, Form::kDetailed, analysis_length<ma::kPlacedPerimeter>},
    {"Straight_Internal", 'F', 16, Form::kDetailed, analysis_length<ma::kStraightInternal>},
    {"Curved_Internal", 'F', 16, Form::kDetailed, analysis_length<ma::kCurvedInternal>},
    {"Total_Internal", 'F', 16, Form::kDetailed, analysis_length<ma::kTotalInternal>},
    {"T_notch", 'N', 8, Form::kDetailed, header_integer<mh::kTotalNotches>},
    {"P_notch", 'N', 8, Form::kDetailed, analysis_integer<ma::kPlacedNotches>},
    {"T_corner", 'N', 8, Form::kDetailed, header_integer<mh::kTotalCorners>},
    {"P_corner", 'N', 8, Form::kDetailed, analysis_integer<ma::kPlacedCorners>},
    {"Plaid_Rpt", 'F', 16, Form::kDetailed, header_real<mh::kPlaidRpt>},
    {"Plaid_O", 'F', 16, Form::kDetailed, header_real<mh::kPlaidO>},
    {"Plaid_O2", 'F', 16, Form::kDetailed, header_real<mh::kPlaidO2>},
    {"Plaid_O3", 'F', 16, Form::kDetailed, header_real<mh::kPlaidO3>},
    {"Stripe_Rpt", 'F', 16, Form::kDetailed, header_real<mh::kStripeRpt>},
    {"Stripe_O", 'F', 16, Form::kDetailed, header_real<mh::kStripeO>},
    {"Stripe_O2", 'F', 16, Form::kDetailed, header_real<mh::kStripeO2>},
    {"Stripe_O3", 'F', 16, Form::kDetailed, header_real<mh::kStripeO3>},
    {"models", 'N', 4, Form::kDetailed, header_integer<mh::kModels>},
    {"5star", 'N', 1, Form::kDetailed, header_integer<mh::kFiveStar>},
    {"Shrink_Stretch_X", 'F', 16, Form::kDetailed, header_real<mh::kShrinkStretchX>},
    {"Shrink_Stretch_Y", 'F', 16, Form::kDetailed, header_real<mh::kShrinkStretchY>},
    {"tot_siz", 'N', 4, Form::kBoth,
     [](const MkhdrRow& r) {
       return Cell(sum_counts(load_i32(r.header + mh::kSizes), load_i32(r.header + mh::kAddedSizes)));
     }},
    {"add_siz", 'N', 4, Form::kDetailed, header_integer<mh::kAddedSizes>},
};

constexpr KindTable<MkhdrRow> kTable{"MKHDR", "Name", "time", true, kColumns};

class MkhdrReport : public MarkerAnalysisReport<kTable> {
 public:
  using MarkerAnalysisReport::MarkerAnalysisReport;

 protected:
  void dump_analysis(const Item& item, const unsigned char* header, const unsigned char* analysis) override {
    // The row's modification time is the one the item area holds.
    ClosingValues row_closing = item.closing;
    row_closing.mod_time = load_i32(item.area + ia::kModifiedTime);
    write_row(MkhdrRow{header, analysis, item.area, notation}, row_closing);
  }
};

}  // namespace

int run_mkhdr(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<MkhdrReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
