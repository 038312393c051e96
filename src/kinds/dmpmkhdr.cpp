// MKHDR: one row per marker with its header values and, in the detailed
// form, the marker analysis (areas, perimeters, internal lines, notches,
// corners, plaid and stripe matching, sizes). Lengths and areas of the
// analysis are given in inches by the library and converted to centimetres
// unless the run is imperial; header values are written as they are.
#include <cmath>
#include <cstdint>
#include <limits>

#include "kinds/kind_support.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {
namespace {

namespace mh = records::marker_header;
namespace ma = records::marker_analysis;
namespace ia = records::item_area;
using records::load_double;
using records::load_i16;
using records::load_i32;

// The columns before the six closing ones, in table order. `always` marks
// the twelve-column plain form's columns; F columns take the area precision.
enum Column : int {
  kName, kOrderName, kOrderNumber, kDesc, kLayLimits, kAnnotation, kBlockBuffer, kMatch, kNotch,
  kByteSize, kTPieces, kPlaced, kUnplaced, kAdded,
  kWidth, kLength, kUtil, kNetUtil, kTgtUtil, kTArea, kPArea,
  kStraightPerim, kCurvedPerim, kTPer, kPPer, kStraightInternal, kCurvedInternal, kTotalInternal,
  kTNotch, kPNotch, kTCorner, kPCorner,
  kPlaidRpt, kPlaidO, kPlaidO2, kPlaidO3, kStripeRpt, kStripeO, kStripeO2, kStripeO3,
  kModels, kFiveStar, kShrinkStretchX, kShrinkStretchY, kTotSiz, kAddSiz,
  kColumnCount
};

struct ColumnSpec {
  const char* name;
  char type;
  int width;
  bool always;
};

constexpr ColumnSpec kColumns[kColumnCount] = {
    {"Name", 'C', 20, true},
    {"Order_name", 'C', 20, true},
    {"Order_number", 'C', 20, false},
    {"Desc", 'C', 20, false},
    {"LayLimits", 'C', 20, false},
    {"Annotation", 'C', 20, false},
    {"BlockBuffer", 'C', 20, false},
    {"Match", 'C', 20, false},
    {"Notch", 'C', 20, false},
    {"ByteSize", 'N', 7, false},
    {"T_pieces", 'N', 5, false},
    {"Placed", 'N', 5, false},
    {"Unplaced", 'N', 5, false},
    {"Added", 'N', 5, false},
    {"Width", 'F', 16, true},
    {"Length", 'F', 16, true},
    {"Util", 'F', 8, true},
    {"NetUtil", 'F', 8, false},
    {"Tgt_Util", 'F', 8, false},
    {"T_area", 'F', 16, false},
    {"P_area", 'F', 16, false},
    {"Straight_Perim", 'F', 16, false},
    {"Curved_Perim", 'F', 16, false},
    {"T_per", 'F', 16, false},
    {"P_per", 'F', 16, false},
    {"Straight_Internal", 'F', 16, false},
    {"Curved_Internal", 'F', 16, false},
    {"Total_Internal", 'F', 16, false},
    {"T_notch", 'N', 8, false},
    {"P_notch", 'N', 8, false},
    {"T_corner", 'N', 8, false},
    {"P_corner", 'N', 8, false},
    {"Plaid_Rpt", 'F', 16, false},
    {"Plaid_O", 'F', 16, false},
    {"Plaid_O2", 'F', 16, false},
    {"Plaid_O3", 'F', 16, false},
    {"Stripe_Rpt", 'F', 16, false},
    {"Stripe_O", 'F', 16, false},
    {"Stripe_O2", 'F', 16, false},
    {"Stripe_O3", 'F', 16, false},
    {"models", 'N', 4, false},
    {"5star", 'N', 1, false},
    {"Shrink_Stretch_X", 'F', 16, false},
    {"Shrink_Stretch_Y", 'F', 16, false},
    {"tot_siz", 'N', 4, true},
    {"add_siz", 'N', 4, false},
};

// Texts of the header, in the column order of kName..kNotch.
constexpr size_t kTextOffsets[] = {mh::kName,       mh::kOrderName,  mh::kOrderNumber,
                                   mh::kDescription, mh::kLayLimits,  mh::kAnnotation,
                                   mh::kBlockBuffer, mh::kMatching,   mh::kNotch};
constexpr int kTextColumns = sizeof kTextOffsets / sizeof kTextOffsets[0];
static_assert(kNotch + 1 == kTextColumns, "header texts lead the column list");

// One value of a row; which member holds it follows the column's type.
union Value {
  const char* text;
  double real;
  int32_t integer;
};

// A 32-bit sum of two 32-bit counts, held at the 32-bit range instead of
// wrapping round to a sign change.
int32_t sum_counts(int32_t a, int32_t b) {
  int64_t s = static_cast<int64_t>(a) + b;
  if (s > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (s < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(s);
}

class MkhdrReport : public MarkerReport {
 public:
  int write_header() override {
    int precision = area_precision();
    if (open_table("Name", "time", "MKHDR") != 1) return 0;
    ReportTable& t = table();
    for (const ColumnSpec& c : kColumns) {
      if (!detailed && !c.always) continue;
      t.define_field(0, c.type, c.width, c.type == 'F' ? precision : 0, c.name);
    }
    define_closing_fields("time");
    return 1;
  }

  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    unsigned char header[mh::kSizeEx];
    const unsigned char* analysis = kinds::read_marker_analysis(name, item_area, header);
    if (analysis == nullptr) return 0;

    Value v[kColumnCount];
    char texts[kTextColumns][mh::kTextSize + 1];
    for (int i = 0; i < kTextColumns; ++i) {
      v[i].text = kinds::copy_field_text(header + kTextOffsets[i], texts[i]);
    }

    int32_t placed = load_i16(analysis + ma::kPlacedPieces);
    int32_t total_pieces = placed + load_i16(analysis + ma::kUnplacedPieces);
    v[kByteSize].integer =
        sum_counts(load_i32(item_area + ia::kByteSize1), load_i32(item_area + ia::kByteSize2));
    v[kTPieces].integer = total_pieces;
    v[kPlaced].integer = placed;
    v[kUnplaced].integer = total_pieces - placed;
    v[kAdded].integer = load_i32(header + mh::kAdded);

    double width = load_double(header + mh::kWidth);
    double length = load_double(header + mh::kLength);
    v[kWidth].real = width;
    v[kLength].real = length;
    v[kUtil].real = load_double(header + mh::kUtil);
    v[kNetUtil].real = net_utilisation(area(analysis, ma::kNetArea), length, width);
    v[kTgtUtil].real = load_double(header + mh::kTargetUtil);
    v[kTArea].real = convert_area(load_double(analysis + ma::kAreaTerm) +
                                  load_double(analysis + ma::kPlacedArea));
    v[kPArea].real = area(analysis, ma::kPlacedArea);
    v[kStraightPerim].real = length_of(analysis, ma::kStraightPerimeter);
    v[kCurvedPerim].real = length_of(analysis, ma::kCurvedPerimeter);
    v[kTPer].real = load_double(header + mh::kTotalPerimeter);
    v[kPPer].real = length_of(analysis, ma::kPlacedPerimeter);
    v[kStraightInternal].real = length_of(analysis, ma::kStraightInternal);
    v[kCurvedInternal].real = length_of(analysis, ma::kCurvedInternal);
    v[kTotalInternal].real = length_of(analysis, ma::kTotalInternal);

    v[kTNotch].integer = load_i32(header + mh::kTotalNotches);
    v[kPNotch].integer = load_i32(analysis + ma::kPlacedNotches);
    v[kTCorner].integer = load_i32(header + mh::kTotalCorners);
    v[kPCorner].integer = load_i32(analysis + ma::kPlacedCorners);

    v[kPlaidRpt].real = load_double(header + mh::kPlaidRpt);
    v[kPlaidO].real = load_double(header + mh::kPlaidO);
    v[kPlaidO2].real = load_double(header + mh::kPlaidO2);
    v[kPlaidO3].real = load_double(header + mh::kPlaidO3);
    v[kStripeRpt].real = load_double(header + mh::kStripeRpt);
    v[kStripeO].real = load_double(header + mh::kStripeO);
    v[kStripeO2].real = load_double(header + mh::kStripeO2);
    v[kStripeO3].real = load_double(header + mh::kStripeO3);

    v[kModels].integer = load_i32(header + mh::kModels);
    v[kFiveStar].integer = load_i32(header + mh::kFiveStar);
    v[kShrinkStretchX].real = load_double(header + mh::kShrinkStretchX);
    v[kShrinkStretchY].real = load_double(header + mh::kShrinkStretchY);
    int32_t added_sizes = load_i32(header + mh::kAddedSizes);
    v[kTotSiz].integer = sum_counts(load_i32(header + mh::kSizes), added_sizes);
    v[kAddSiz].integer = added_sizes;

    ReportTable& t = table();
    int first = 1;
    for (int i = 0; i < kColumnCount; ++i) {
      const ColumnSpec& c = kColumns[i];
      if (!detailed && !c.always) continue;
      switch (c.type) {
        case 'C': t.write_field(first, v[i].text); break;
        case 'F': t.write_field(first, v[i].real); break;
        default: t.write_field(first, v[i].integer); break;
      }
      first = 0;
    }
    write_closing_values(load_i32(item_area + ia::kModifiedTime), user_last_mod, creation_time,
                         user_created, prev_mod_time, user_prev_mod);
    return 1;
  }

 private:
  // A length of the analysis (inches) in the unit of the run: times 2.54
  // unless the notation is imperial; 0 stays 0.
  double convert_length(double value) const {
    return (notation != 1 && value != 0.0) ? value * 2.54 : value;
  }
  // An area of the analysis (square inches): the length conversion twice.
  double convert_area(double value) const { return convert_length(convert_length(value)); }

  double length_of(const unsigned char* analysis, size_t offset) const {
    return convert_length(load_double(analysis + offset));
  }
  double area(const unsigned char* analysis, size_t offset) const {
    return convert_area(load_double(analysis + offset));
  }

  // Net utilisation in percent: the converted net area over the header's
  // unconverted length times width. 0.0 for a length below 0.001 and for a
  // zero width, so that no infinite or undefined number reaches the table.
  static double net_utilisation(double net_area, double length, double width) {
    if (length < 0.001) return 0.0;
    double base = length * width;
    if (base == 0.0) return 0.0;
    double u = net_area * 100.0 / base;
    return std::isfinite(u) ? u : 0.0;
  }
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_mkhdr(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkhdrReport>(argc, argv, hwnd, detailed);
}
