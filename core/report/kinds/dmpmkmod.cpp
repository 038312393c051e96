// MKMOD: for every marker, the order model list it was made from, one row
// per size entry of each model and per option of that model.
#include <cstdint>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/model_list.h"
#include "quire/records.h"
#include "report/dump_report.h"
#include "resources/resources.h"

namespace quire::kinds {
namespace {

namespace oe = records::option_entry;

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

// One row: the marker's name, a model of its list with the model's number
// (from 1) and size-entry count, one size entry of the model, one option of
// it (null for a model without options) and the words of detailed rows.
struct MkmodRow {
  const char* marker_name;
  const unsigned char* model;
  const unsigned char* size;
  const unsigned char* option;
  int32_t model_number;
  int32_t size_count;
  const MkmodWords* words;
};

constexpr Column<MkmodRow> kColumns[] = {
    {"Marker_name", 'C', 20, Form::kBoth, [](const MkmodRow& r) { return Cell(r.marker_name); }},
    {"Model_Name", 'C', 20, Form::kBoth, model_field<om::kName, om::kTextSize, MkmodRow>},
    {"Option_Name", 'C', 6, Form::kBoth,
     [](const MkmodRow& r) {
       return r.option ? Cell::field_text(r.option + oe::kName, oe::kNameSize - 1) : Cell("");
     }},
    {"Size_Code", 'C', 20, Form::kDetailed, model_field<om::kSizeCode, om::kTextSize, MkmodRow>},
    {"Alteration", 'C', 20, Form::kDetailed, model_field<om::kAlteration, om::kTextSize, MkmodRow>},
    {"Dynamic", 'C', 20, Form::kDetailed, model_field<om::kDynamic, om::kTextSize, MkmodRow>},
    {"Model_Number", 'N', 5, Form::kDetailed, [](const MkmodRow& r) { return Cell(r.model_number); }},
    {"NumSizeEnt", 'N', 5, Form::kDetailed, [](const MkmodRow& r) { return Cell(r.size_count); }},
    {"Add_piece/bundle", 'C', 2, Form::kDetailed,
     [](const MkmodRow& r) {
       return Cell(r.words->add_piece(records::load_i32(r.model + om::kAddPieceBundle)));
     }},
    {"Size", 'C', 6, Form::kBoth, size_field<se::kSizeName, se::kSizeNameSize, MkmodRow>},
    {"Quant", 'N', 5, Form::kBoth, size_integer<se::kQuantity, MkmodRow>},
    {"Cutdown", 'C', 6, Form::kDetailed, size_field<se::kCutdown, se::kCutdownSize, MkmodRow>},
    {"HalfPiece", 'C', 6, Form::kDetailed, size_field<se::kHalfPiece, se::kHalfPieceSize, MkmodRow>},
    {"BaseSize", 'C', 6, Form::kDetailed, size_field<se::kBaseSize, se::kBaseSizeSize, MkmodRow>},
    {"Direction", 'C', 2, Form::kDetailed,
     [](const MkmodRow& r) {
       return Cell(r.words->direction(records::load_i32(r.size + se::kDirection)));
     }},
    {"Fabric", 'C', 4, Form::kBoth, model_field<om::kFabric, om::kFabricSize, MkmodRow>},
    {"Placed", 'N', 5, Form::kDetailed, size_integer<se::kPlaced, MkmodRow>},
};

constexpr KindTable<MkmodRow> kTable{"MKMOD", "Marker_name", "Time", true, kColumns};

class MkmodReport : public TableReport<StoreKind::kMarker, kTable> {
 public:
  using TableReport::TableReport;

  int write_header() override {
    if (TableReport::write_header() != 1) return 0;
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

 protected:
  Status dump_item(const Item& item) override {
    StoreReader& store = reader();
    unsigned char header[records::marker_header::kSize] = {};
    Status read = store.marker_header(item.name, item.area, header);
    if (!read.ok()) return store_failure(read, "header read failed");
    ModelListGuard list(nodes_);
    read = store.locate_marker_model_list(item.area);
    if (!read.ok()) return store_failure(read, "model list not found");
    int32_t models = records::load_i32(header + records::marker_header::kModels);
    read = read_model_list(store, list, models, item.area, kMkmodListSource);
    if (!read.ok()) return read;
    write_marker_model_rows(item.name, list.head, item.closing);
    return Status();
  }

 private:
  // Writes, for each model of the list, one row per size entry and option
  // (one row per size entry when the model has no options), each closed by
  // the item's closing values.
  void write_marker_model_rows(const char* marker_name, const OrderModelNode* head,
                              const ClosingValues& closing) {
    int32_t model_number = 1;
    for (const OrderModelNode* model = head; model; model = model->next, ++model_number) {
      const unsigned char* rec = model->record;
      int32_t size_count = records::load_i32(rec + om::kSizeCount);
      int32_t option_count = records::load_i32(rec + om::kOptionCount);
      const SizeEntryNode* entry = model->first_size;
      for (int32_t i = 0; i < size_count && entry; ++i, entry = entry->next) {
        const OptionEntryNode* option = model->first_option;
        for (int32_t j = 0; j < option_count || j == 0; ++j) {
          MkmodRow row{marker_name, rec, entry->record, option ? option->record : nullptr,
                       model_number, size_count, &words_};
          write_row(row, closing);
          if (option) option = option->next;
        }
      }
    }
  }

  ModelListNodes nodes_;
  MkmodWords words_;
};

}  // namespace

int run_mkmod(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<MkmodReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
