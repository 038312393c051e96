// PlotbaseReader: the StoreReader of the report commands, on the storage
// library's C interface (quire/plotbase.h). The one place the report library
// names that interface: its calls, its current-item variables, its error
// record and its message function.
#ifndef QUIRE_ABI_QUIRE_PLOTBASE_READER_H_
#define QUIRE_ABI_QUIRE_PLOTBASE_READER_H_

#include "report/store_reader.h"

namespace quire {

class PlotbaseReader final : public StoreReader {
 public:
  PlotbaseReader() = default;

  PrintFunction printer() const override;
  void connect() override;
  int set_notation(int notation) override;

  Status lookup_area(const char* name, unsigned char* area) override;
  int area_notation(unsigned char* area) override;
  int area_precision(unsigned char* area) override;
  void area_path(unsigned char* area, char* out) override;

  Status lookup_item(StoreKind kind, unsigned char* area, const char* pattern, int mode, char* name,
                     ItemPlace& place) override;
  Status open_item(StoreKind kind, unsigned char* area, const char* name, unsigned char* item_area,
                   ItemHistory& history) override;
  Status close_item(StoreKind kind, unsigned char* area, const char* name, unsigned char* item_area) override;

  Status marker_header(const char* name, unsigned char* item_area, unsigned char* header) override;
  Status marker_header_ex(const char* name, unsigned char* item_area, unsigned char* header) override;
  Status marker_analysis(unsigned char* item_area, const unsigned char** analysis) override;
  Status first_marker_piece(unsigned char* item_area, unsigned char* piece, bool& found) override;
  Status next_marker_piece(unsigned char* item_area, unsigned char* piece, bool& found) override;
  Status piece_override(unsigned char* item_area, int index, unsigned char* header, unsigned char* record) override;
  Status splice(unsigned char* item_area, int index, unsigned char* record) override;
  Status locate_marker_model_list(unsigned char* item_area) override;

  Status order_header(const char* name, unsigned char* item_area, unsigned char* header) override;
  Status list_model(unsigned char* item_area, unsigned char* record) override;
  Status list_option(unsigned char* item_area, unsigned char* record) override;
  Status list_size(unsigned char* item_area, unsigned char* record) override;

  Status model(const char* name, unsigned char* item_area, ModelValue& model) override;
  Status piece_header(unsigned char* area, const char* piece_name, unsigned char* header, bool& found) override;
};

// The storage library's failure of a call whose result was result, from
// its error record: kNotFound or kStore as the library tells them apart
// (a lookup's 0 is kNotFound, any other lookup result kStore; otherwise
// kStore when the area file failed the read), its code as error() and its
// source and line at(). Exposed for tests.
Status library_failure(int result, bool is_lookup);

}  // namespace quire

#endif  // QUIRE_ABI_QUIRE_PLOTBASE_READER_H_
