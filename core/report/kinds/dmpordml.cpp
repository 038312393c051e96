// ORDML: for every order, one row per size entry of each model of its
// model list.
#include <cstdint>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/model_list.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire::kinds {
namespace {

// One row: the order's name, a model of its list with the model's number
// (from 1) and size-entry count, and one size entry of the model.
struct OrdmlRow {
  const char* order_name;
  const unsigned char* model;
  const unsigned char* size;
  int32_t model_number;
  int32_t size_count;
};

constexpr Column<OrdmlRow> kColumns[] = {
    {"Order_Name", 'C', 20, Form::kBoth, [](const OrdmlRow& r) { return Cell(r.order_name); }},
    {"Model_Name", 'C', 20, Form::kBoth, model_field<om::kName, om::kTextSize, OrdmlRow>},
    {"Size_Code", 'C', 20, Form::kDetailed, model_field<om::kSizeCode, om::kTextSize, OrdmlRow>},
    {"Alteration", 'C', 20, Form::kDetailed, model_field<om::kAlteration, om::kTextSize, OrdmlRow>},
    {"Dynamic", 'C', 20, Form::kDetailed, model_field<om::kDynamic, om::kTextSize, OrdmlRow>},
    {"Model_Num", 'N', 5, Form::kDetailed, [](const OrdmlRow& r) { return Cell(r.model_number); }},
    {"Num_Size_Entries", 'N', 6, Form::kDetailed, [](const OrdmlRow& r) { return Cell(r.size_count); }},
    {"Add_piece/bundle", 'N', 2, Form::kDetailed, model_integer<om::kAddPieceBundle, OrdmlRow>},
    {"Size", 'C', 6, Form::kDetailed, size_field<se::kSizeName, se::kSizeNameSize, OrdmlRow>},
    {"Quant", 'N', 6, Form::kDetailed, size_integer<se::kQuantity, OrdmlRow>},
    {"Cutdown", 'C', 6, Form::kDetailed, size_field<se::kCutdown, se::kCutdownSize, OrdmlRow>},
    {"HalfPiece", 'C', 6, Form::kDetailed, size_field<se::kHalfPiece, se::kHalfPieceSize, OrdmlRow>},
    {"BaseSize", 'C', 6, Form::kDetailed, size_field<se::kBaseSize, se::kBaseSizeSize, OrdmlRow>},
    // The trailing blank is part of the column's name.
    {"Direction ", 'N', 2, Form::kDetailed, size_integer<se::kDirection, OrdmlRow>},
    {"Fabric", 'C', 5, Form::kDetailed, model_field<om::kFabric, om::kFabricSize, OrdmlRow>},
};

constexpr KindTable<OrdmlRow> kTable{"ORDML", "Order_Name", "Time", true, kColumns};

class OrdmlReport : public TableReport<StoreKind::kOrder, kTable> {
 public:
  using TableReport::TableReport;

  Status dump_item(const Item& item) override {
    StoreReader& store = reader();
    unsigned char header[records::order_header::kSize] = {};
    Status read = store.order_header(item.name, item.area, header);
    if (!read.ok()) return store_failure(read, "header read failed");
    // The list head is kept here, not in the header's 32-bit link slot.
    ModelListGuard list(nodes_);
    int32_t models = records::load_i32(header + records::order_header::kModels);
    read = read_model_list(store, list, models, item.area, kOrdmlListSource);
    if (!read.ok()) return read;
    write_order_rows(item.name, list.head, models, item.closing);
    return Status();
  }

 private:
  // Writes one row per size entry of each of the first `models` models of
  // the list, each closed by the item's closing values.
  void write_order_rows(const char* order_name, const OrderModelNode* head, int32_t models,
                       const ClosingValues& closing) {
    const OrderModelNode* model = head;
    for (int32_t m = 0; m < models && model; ++m, model = model->next) {
      int32_t size_count = records::load_i32(model->record + om::kSizeCount);
      const SizeEntryNode* entry = model->first_size;
      for (int32_t i = 0; i < size_count && entry; ++i, entry = entry->next) {
        write_row(OrdmlRow{order_name, model->record, entry->record, m + 1, size_count}, closing);
      }
    }
  }

  ModelListNodes nodes_;
};

}  // namespace

int run_ordml(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<OrdmlReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
