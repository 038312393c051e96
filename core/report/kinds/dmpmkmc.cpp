// MKMC: the counts of point attributes, notches and internal marks that the
// marker analysis tallies, as three lists of label and quantity side by side,
// one row per entry of the longest list. No time or user columns; the
// detailed form is the same table.
#include <charconv>
#include <cstdint>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/kind_support.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {
namespace {

using records::load_i16;

// Letters of the point-attribute slots 0 to 12; later slots are labelled by
// their number (slot i gives i + 1).
constexpr char kPointAttributeLetters[] = "KLZFXPABENSUQ";
constexpr int kPointAttributeLetterCount = sizeof kPointAttributeLetters - 1;

constexpr int kListCount = 3;
constexpr int kMaxSlots = static_cast<int>(ma::kNotchSlots);  // the longest list
static_assert(ma::kPointAttributeSlots <= ma::kNotchSlots && ma::kInternalSlots <= ma::kNotchSlots);

enum class LabelKind { kPointAttribute, kNumber, kLetter };

struct CountList {
  size_t offset;
  int slots;
  LabelKind labels;
};

// In column order: point attributes, notches, internal marks.
constexpr CountList kLists[kListCount] = {
    {ma::kPointAttributeCounts, static_cast<int>(ma::kPointAttributeSlots), LabelKind::kPointAttribute},
    {ma::kNotchCounts, static_cast<int>(ma::kNotchSlots), LabelKind::kNumber},
    {ma::kInternalCounts, static_cast<int>(ma::kInternalSlots), LabelKind::kLetter},
};

// One kept slot: its label and its count as texts.
struct Entry {
  char label[4];   // one letter, or a slot number up to 99
  char count[8];   // -32768 .. 32767
};

// Writes the decimal text of value into out (large enough) and terminates it.
void decimal_text(int value, char* out, size_t size) {
  auto r = std::to_chars(out, out + size - 1, value);
  *r.ptr = 0;
}

void label_text(LabelKind kind, int slot, char* out, size_t size) {
  switch (kind) {
    case LabelKind::kPointAttribute:
      if (slot < kPointAttributeLetterCount) {
        out[0] = kPointAttributeLetters[slot];
        out[1] = 0;
        return;
      }
      decimal_text(slot + 1, out, size);
      return;
    case LabelKind::kNumber:
      decimal_text(slot + 1, out, size);
      return;
    case LabelKind::kLetter:
      out[0] = static_cast<char>('A' + slot);
      out[1] = 0;
      return;
  }
}

// One row: the marker's name and the entry of each list at this row, null
// where that list is shorter.
struct MkmcRow {
  const char* marker_name;
  const Entry* entries[kListCount];
};

template <int kList>
Cell entry_label(const MkmcRow& r) {
  return Cell(r.entries[kList] ? r.entries[kList]->label : "");
}
template <int kList>
Cell entry_count(const MkmcRow& r) {
  return Cell(r.entries[kList] ? r.entries[kList]->count : "");
}

constexpr Column<MkmcRow> kColumns[] = {
    {"Marker_Name", 'C', 25, Form::kBoth, [](const MkmcRow& r) { return Cell(r.marker_name); }},
    {"Point_Attrib_Label", 'C', 7, Form::kBoth, entry_label<0>},
    {"Point_Attrib_Qty", 'C', 7, Form::kBoth, entry_count<0>},
    {"Notch_Label", 'C', 7, Form::kBoth, entry_label<1>},
    {"Notch_Qty", 'C', 7, Form::kBoth, entry_count<1>},
    {"Internal_Label", 'C', 7, Form::kBoth, entry_label<2>},
    {"Internal_Qty", 'C', 7, Form::kBoth, entry_count<2>},
};

constexpr KindTable<MkmcRow> kTable{"MKMC", "Name", "time", false, kColumns};

class MkmcReport : public MarkerAnalysisReport<kTable> {
 public:
  using MarkerAnalysisReport::MarkerAnalysisReport;

 protected:
  void dump_analysis(const Item& item, const unsigned char* header, const unsigned char* analysis) override {
    char marker_name[mh::kTextSize + 1];
    copy_field_text(header + mh::kName, marker_name);

    Entry entries[kListCount][kMaxSlots];
    int sizes[kListCount] = {};
    int rows = 0;
    for (int l = 0; l < kListCount; ++l) {
      const CountList& list = kLists[l];
      for (int slot = 0; slot < list.slots; ++slot) {
        int16_t count = load_i16(analysis + list.offset + 2 * static_cast<size_t>(slot));
        if (count == 0) continue;
        Entry& e = entries[l][sizes[l]++];
        label_text(list.labels, slot, e.label, sizeof e.label);
        decimal_text(count, e.count, sizeof e.count);
      }
      if (sizes[l] > rows) rows = sizes[l];
    }

    for (int k = 0; k < rows; ++k) {
      MkmcRow row{marker_name, {}};
      for (int l = 0; l < kListCount; ++l) row.entries[l] = k < sizes[l] ? &entries[l][k] : nullptr;
      write_row(row, item.closing);
    }
  }
};

}  // namespace

int run_mkmc(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<MkmcReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
