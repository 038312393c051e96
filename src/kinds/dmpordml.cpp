// ORDML: for every order, one row per size entry of each model of its
// model list.
#include <cstdint>

#include "kinds/model_list.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"

namespace quire {
namespace {

namespace om = records::order_model;
namespace se = records::size_entry;

class OrdmlReport : public DumpReport {
 public:
  int write_header() override {
    if (open_table("Order_Name", "Time", "ORDML") != 1) return 0;
    ReportTable& t = table();
    t.define_field(0, 'C', 20, 0, "Order_Name");
    t.define_field(0, 'C', 20, 0, "Model_Name");
    if (detailed) {
      t.define_field(0, 'C', 20, 0, "Size_Code");
      t.define_field(0, 'C', 20, 0, "Alteration");
      t.define_field(0, 'C', 20, 0, "Dynamic");
      t.define_field(0, 'N', 5, 0, "Model_Num");
      t.define_field(0, 'N', 6, 0, "Num_Size_Entries");
      t.define_field(0, 'N', 2, 0, "Add_piece/bundle");
      t.define_field(0, 'C', 6, 0, "Size");
      t.define_field(0, 'N', 6, 0, "Quant");
      t.define_field(0, 'C', 6, 0, "Cutdown");
      t.define_field(0, 'C', 6, 0, "HalfPiece");
      t.define_field(0, 'C', 6, 0, "BaseSize");
      // The trailing blank is part of the column's name.
      t.define_field(0, 'N', 2, 0, "Direction ");
      t.define_field(0, 'C', 5, 0, "Fabric");
    }
    define_closing_fields("Time");
    return 1;
  }

  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    unsigned char header[records::order_header::kSize] = {};
    if (pb_get_order_header(name, header, item_area) != 1) {
      print_library_error("header read failed");
      return 0;
    }
    // The list head is kept here, not in the header's 32-bit link slot.
    ModelListGuard list(nodes_);
    int32_t models = records::load_i32(header + records::order_header::kModels);
    if (load_model_list(&list.head, models, item_area, kOrdmlListSource, nodes_) != 1) {
      print_library_error("model list read failed");
      return 0;
    }
    return write_order_rows(name, list.head, models, pbc_last_mod_time, user_last_mod,
                            creation_time, user_created, prev_mod_time, user_prev_mod);
  }

  int open_item(void* area, const char* name, unsigned char* item_area) override {
    return pb_open_order(area, name, item_area);
  }
  int close_item(void* area, const char* name, unsigned char* item_area) override {
    return pb_close_order(area, name, item_area);
  }
  const char* item_word() const override { return "order"; }
  int lookup_item(void* area, char* name, const char* pattern, int mode) override {
    return pb_lookup_orders(area, name, pattern, mode);
  }

 private:
  // Writes one row per size entry of each of the first `models` models of
  // the list, each closed by the item's six closing values. Returns 1.
  int write_order_rows(const char* order_name, const OrderModelNode* head, int32_t models,
                       int32_t mod_time, const char* user_last_mod, int32_t creation_time,
                       const char* user_created, int32_t prev_mod_time,
                       const char* user_prev_mod) {
    ReportTable& t = table();
    const OrderModelNode* model = head;
    for (int32_t m = 0; m < models && model; ++m, model = model->next) {
      const unsigned char* rec = model->record;
      OrderModelTexts texts(rec);
      int32_t size_count = records::load_i32(rec + om::kSizeCount);
      const SizeEntryNode* entry = model->first_size;
      for (int32_t i = 0; i < size_count && entry; ++i, entry = entry->next) {
        t.write_field(1, order_name);
        t.write_field(0, texts.name);
        if (detailed) {
          const unsigned char* size = entry->record;
          SizeEntryTexts size_texts(size);
          t.write_field(0, texts.size_code);
          t.write_field(0, texts.alteration);
          t.write_field(0, texts.dynamic);
          t.write_field(0, static_cast<int32_t>(m + 1));
          t.write_field(0, size_count);
          t.write_field(0, records::load_i32(rec + om::kAddPieceBundle));
          t.write_field(0, size_texts.size_name);
          t.write_field(0, records::load_i32(size + se::kQuantity));
          t.write_field(0, size_texts.cutdown);
          t.write_field(0, size_texts.half_piece);
          t.write_field(0, size_texts.base_size);
          t.write_field(0, records::load_i32(size + se::kDirection));
          t.write_field(0, texts.fabric);
        }
        write_closing_values(mod_time, user_last_mod, creation_time, user_created, prev_mod_time,
                             user_prev_mod);
      }
    }
    return 1;
  }

  ModelListNodes nodes_;
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_ordml(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::OrdmlReport>(argc, argv, hwnd, detailed);
}
