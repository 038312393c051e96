// MKMOD: for every marker, the order model list it was made from, one row
// per size entry of each model and per option of that model.
#include <cstdint>

#include "kinds/model_list.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"
#include "resources/resources.h"

namespace quire {
namespace {

namespace om = records::order_model;
namespace oe = records::option_entry;
namespace se = records::size_entry;

constexpr int kWordSize = 20;

// The five words of detailed rows, in the language of the resource library.
struct MkmodWords {
  char yes[kWordSize] = {};
  char no[kWordSize] = {};
  char none[kWordSize] = {};
  char left[kWordSize] = {};
  char right[kWordSize] = {};

  const char* add_piece(int32_t value) const { return value != 0 ? yes : no; }
  const char* direction(int32_t code) const {
    if (code == 1) return left;
    if (code == 2) return right;
    return none;
  }
};

class MkmodReport : public MarkerReport {
 public:
  int write_header() override {
    if (open_table("Marker_name", "Time", "MKMOD") != 1) return 0;
    ReportTable& t = table();
    t.define_field(0, 'C', 20, 0, "Marker_name");
    t.define_field(0, 'C', 20, 0, "Model_Name");
    t.define_field(0, 'C', 6, 0, "Option_Name");
    if (detailed) {
      t.define_field(0, 'C', 20, 0, "Size_Code");
      t.define_field(0, 'C', 20, 0, "Alteration");
      t.define_field(0, 'C', 20, 0, "Dynamic");
      t.define_field(0, 'N', 5, 0, "Model_Number");
      t.define_field(0, 'N', 5, 0, "NumSizeEnt");
      t.define_field(0, 'C', 2, 0, "Add_piece/bundle");
    }
    t.define_field(0, 'C', 6, 0, "Size");
    t.define_field(0, 'N', 5, 0, "Quant");
    if (detailed) {
      t.define_field(0, 'C', 6, 0, "Cutdown");
      t.define_field(0, 'C', 6, 0, "HalfPiece");
      t.define_field(0, 'C', 6, 0, "BaseSize");
      t.define_field(0, 'C', 2, 0, "Direction");
    }
    t.define_field(0, 'C', 4, 0, "Fabric");
    if (detailed) t.define_field(0, 'N', 5, 0, "Placed");
    define_closing_fields("Time");

    // The words cannot change during a run, so they are loaded once.
    if (detailed) {
      load_resource_string(kStringYes, words_.yes, kWordSize);
      load_resource_string(kStringNo, words_.no, kWordSize);
      load_resource_string(kStringNone, words_.none, kWordSize);
      load_resource_string(kStringLeft, words_.left, kWordSize);
      load_resource_string(kStringRight, words_.right, kWordSize);
    }
    return 1;
  }

  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    unsigned char header[records::marker_header::kSize] = {};
    if (pb_get_marker_header(name, header, item_area) != 1) {
      print_library_error("header read failed");
      return 0;
    }
    ModelListGuard list(nodes_);
    if (pb_locate_ordmod_marker(item_area) != 1) {
      print_library_error("model list not found");
      return 0;
    }
    int32_t models = records::load_i32(header + records::marker_header::kModels);
    if (load_model_list(&list.head, models, item_area, kMkmodListSource, nodes_) != 1) {
      print_library_error("model list read failed");
      return 0;
    }
    return write_marker_model_rows(name, list.head, pbc_last_mod_time, user_last_mod,
                                   creation_time, user_created, prev_mod_time, user_prev_mod);
  }

 private:
  // Writes, for each model of the list, one row per size entry and option
  // (one row per size entry when the model has no options), each closed by
  // the item's six closing values. Returns 1.
  int write_marker_model_rows(const char* marker_name, const OrderModelNode* head,
                              int32_t mod_time, const char* user_last_mod, int32_t creation_time,
                              const char* user_created, int32_t prev_mod_time,
                              const char* user_prev_mod) {
    ReportTable& t = table();
    int32_t model_number = 1;
    for (const OrderModelNode* model = head; model; model = model->next, ++model_number) {
      const unsigned char* rec = model->record;
      OrderModelTexts texts(rec);
      int32_t size_count = records::load_i32(rec + om::kSizeCount);
      int32_t option_count = records::load_i32(rec + om::kOptionCount);
      const SizeEntryNode* entry = model->first_size;
      for (int32_t i = 0; i < size_count && entry; ++i, entry = entry->next) {
        const unsigned char* size = entry->record;
        SizeEntryTexts size_texts(size);
        const OptionEntryNode* option = model->first_option;
        for (int32_t j = 0; j < option_count || j == 0; ++j) {
          char option_name[oe::kNameSize] = "";
          if (option) kinds::copy_field_text(option->record + oe::kName, option_name);
          t.write_field(1, marker_name);
          t.write_field(0, texts.name);
          t.write_field(0, option_name);
          if (detailed) {
            t.write_field(0, texts.size_code);
            t.write_field(0, texts.alteration);
            t.write_field(0, texts.dynamic);
            t.write_field(0, model_number);
            t.write_field(0, size_count);
            t.write_field(0, words_.add_piece(records::load_i32(rec + om::kAddPieceBundle)));
          }
          t.write_field(0, size_texts.size_name);
          t.write_field(0, records::load_i32(size + se::kQuantity));
          if (detailed) {
            t.write_field(0, size_texts.cutdown);
            t.write_field(0, size_texts.half_piece);
            t.write_field(0, size_texts.base_size);
            t.write_field(0, words_.direction(records::load_i32(size + se::kDirection)));
          }
          t.write_field(0, texts.fabric);
          if (detailed) t.write_field(0, records::load_i32(size + se::kPlaced));
          write_closing_values(mod_time, user_last_mod, creation_time, user_created,
                               prev_mod_time, user_prev_mod);
          if (option) option = option->next;
        }
      }
    }
    return 1;
  }

  ModelListNodes nodes_;
  MkmodWords words_;
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_mkmod(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::MkmodReport>(argc, argv, hwnd, detailed);
}
