// Helpers shared by the report kinds. The six closing values of a row are
// written by DumpReport::write_closing_values.
#ifndef QUIRE_KINDS_KIND_SUPPORT_H_
#define QUIRE_KINDS_KIND_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kinds/columns.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {

// The record layouts more than one report kind reads.
namespace mh = records::marker_header;
namespace ma = records::marker_analysis;
namespace om = records::order_model;
namespace se = records::size_entry;

// Copies the text of a record field into out: the bytes up to the first NUL
// but at most N - 1 of them, always terminated, so a field the library left
// unterminated cannot run into the next one. The size of out sets the bound:
// N - 1 must not exceed the field's size. Returns out.
template <std::size_t N>
char* copy_field_text(const unsigned char* field, char (&out)[N]) {
  std::size_t n = records::text_length(field, N - 1);
  std::memcpy(out, field, n);
  out[n] = 0;
  return out;
}

// Reads the header of the open item into header with the library's
// read(name, header, item_area). False after printing the library's error
// ("header read failed") when the read fails.
template <class Read, std::size_t N>
bool read_item_header(Read read, const Item& item, unsigned char (&header)[N]) {
  if (read(item.name, header, item.area) == 1) return true;
  print_library_error("header read failed");
  return false;
}

// A marker report whose rows come from the marker's extended header and the
// library's analysis of it: dump_item reads both and hands them to
// dump_analysis, or returns 0 after printing the library's error when
// either step fails.
template <const auto& kKind>
class MarkerAnalysisReport : public TableReport<StoreKind::kMarker, kKind> {
 protected:
  int dump_item(const Item& item) override {
    std::memset(header_, 0, sizeof header_);
    auto read_ex = [](const char* name, unsigned char* header, unsigned char* item_area) {
      return pb_get_marker_header_ex(name, header, static_cast<int>(sizeof header_), item_area);
    };
    if (!read_item_header(read_ex, item, header_)) return 0;
    const auto* analysis = static_cast<const unsigned char*>(pb_hdr_analyze(item.area));
    if (analysis == nullptr) {
      print_library_error("analysis failed");
      return 0;
    }
    return dump_analysis(item, header_, analysis);
  }

  // Writes the rows of the open item from its extended header and its
  // analysis record. Returns what dump_item returns.
  virtual int dump_analysis(const Item& item, const unsigned char* header, const unsigned char* analysis) = 0;

 private:
  unsigned char header_[records::marker_header::kSizeEx];
};

// Reads the header of the open marker `name` and calls visit(index, header)
// for each index below the count at count_offset of the header (overrides,
// splices), in order, until visit returns false. Returns 0 when the header
// cannot be read: with the library's error printed when the area file
// failed the read (pb_is_read_failure), else without a message; 1
// otherwise.
template <class Visit>
int for_each_marker_index(const char* name, unsigned char* item_area, std::size_t count_offset,
                          Visit visit) {
  unsigned char header[records::marker_header::kSize] = {};
  int read = pb_get_marker_header(name, header, item_area);
  if (read != 1) {
    if (pb_is_read_failure(read)) print_library_error("header read failed");
    return 0;
  }
  int32_t count = records::load_i32(header + count_offset);
  for (int32_t i = 0; i < count; ++i) {
    if (!visit(i, header)) break;
  }
  return 1;
}

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_KIND_SUPPORT_H_
