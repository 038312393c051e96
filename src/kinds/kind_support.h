// Helpers shared by the report kinds. The six closing values of a row are
// written by DumpReport::write_closing_values.
#ifndef QUIRE_KINDS_KIND_SUPPORT_H_
#define QUIRE_KINDS_KIND_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {

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

// Reads the extended header of the open marker `name` into header (zero
// filled first) and runs the library's marker analysis. Returns the analysis
// record, or null after printing the library's error when either step fails.
inline const unsigned char* read_marker_analysis(
    const char* name, unsigned char* item_area,
    unsigned char (&header)[records::marker_header::kSizeEx]) {
  std::memset(header, 0, sizeof header);
  if (pb_get_marker_header_ex(name, header, static_cast<int>(sizeof header), item_area) != 1) {
    print_library_error("header read failed");
    return nullptr;
  }
  const auto* analysis = static_cast<const unsigned char*>(pb_hdr_analyze(item_area));
  if (analysis == nullptr) print_library_error("analysis failed");
  return analysis;
}

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
