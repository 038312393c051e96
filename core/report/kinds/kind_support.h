// Helpers shared by the report kinds. The six closing values of a row are
// written by DumpReport::write_closing_values.
#ifndef QUIRE_KINDS_KIND_SUPPORT_H_
#define QUIRE_KINDS_KIND_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kinds/columns.h"
#include "quire/records.h"
#include "quire/status.h"
#include "report/dump_report.h"
#include "report/store_reader.h"

namespace quire::kinds {

// The record layouts more than one report kind reads.
namespace mh = records::marker_header;
namespace ma = records::marker_analysis;
namespace om = records::order_model;
namespace se = records::size_entry;

// Copies the text of a record field into out: the bytes up to the first NUL
// but at most N - 1 of them, always terminated, so a field the store left
// unterminated cannot run into the next one. The size of out sets the bound:
// N - 1 must not exceed the field's size. Returns out.
template <std::size_t N>
char* copy_field_text(const unsigned char* field, char (&out)[N]) {
  std::size_t n = records::text_length(field, N - 1);
  std::memcpy(out, field, n);
  out[n] = 0;
  return out;
}

// A marker report whose rows come from the marker's extended header and the
// store's analysis of it: dump_item reads both and hands them to
// dump_analysis, or returns the failure ("header read failed", "analysis
// failed") when either read fails.
template <const auto& kKind>
class MarkerAnalysisReport : public TableReport<StoreKind::kMarker, kKind> {
 public:
  using TableReport<StoreKind::kMarker, kKind>::TableReport;

 protected:
  Status dump_item(const Item& item) override {
    std::memset(header_, 0, sizeof header_);
    StoreReader& reader = this->reader();
    Status read = reader.marker_header_ex(item.name, item.area, header_);
    if (!read.ok()) return store_failure(read, "header read failed");
    const unsigned char* analysis = nullptr;
    read = reader.marker_analysis(item.area, &analysis);
    if (!read.ok()) return store_failure(read, "analysis failed");
    dump_analysis(item, header_, analysis);
    return Status();
  }

  // Writes the rows of the open item from its extended header and its
  // analysis record.
  virtual void dump_analysis(const Item& item, const unsigned char* header, const unsigned char* analysis) = 0;

 private:
  unsigned char header_[records::marker_header::kSizeEx];
};

// Reads the header of the open marker `name` through reader and calls
// visit(index, header) for each index below the count at count_offset of the
// header (overrides, splices), in order, until visit returns false. A header
// that cannot be read ends it: its failure is returned ("header read
// failed") when the area file failed the read, else ok without a visit.
template <class Visit>
Status for_each_marker_index(StoreReader& reader, const char* name, unsigned char* item_area,
                             std::size_t count_offset, Visit visit) {
  unsigned char header[records::marker_header::kSize] = {};
  const Status read = reader.marker_header(name, item_area, header);
  if (!read.ok()) return is_file_failure(read) ? store_failure(read, "header read failed") : Status();
  int32_t count = records::load_i32(header + count_offset);
  for (int32_t i = 0; i < count; ++i) {
    if (!visit(i, header)) break;
  }
  return Status();
}

}  // namespace quire::kinds

#endif  // QUIRE_KINDS_KIND_SUPPORT_H_
