// MODEL: for every model, one row per piece: the base pieces first, then
// the pieces of each option group, with the texts of each piece's stored
// header.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kinds/columns.h"
#include "kinds/kinds.h"
#include "kinds/kind_support.h"
#include "platform/shared_library.h"
#include "quire/records.h"
#include "report/dump_report.h"
#include "resources/resources.h"
#include "quire/ascii.h"

namespace quire::kinds {
namespace {

namespace mr = records::model_record;
namespace mp = records::model_piece;
namespace ph = records::piece_header;

constexpr int kMessageSize = 200;

// True when the lower-cased path contains "qseek": the sibling search
// program reports missing pieces its own way.
bool is_search_program_path(const char* path) {
  static constexpr char kName[] = "qseek";
  const std::size_t n = sizeof kName - 1;
  for (const char* p = path; *p; ++p) {
    std::size_t i = 0;
    while (i < n && p[i] &&
           ascii::to_lower(p[i]) == kName[i])
      ++i;
    if (i == n) return true;
  }
  return false;
}

// One row: the model, the option of the piece's group ("" for a base
// piece), the piece's record in the model and its stored header.
struct ModelRow {
  const unsigned char* model;
  const char* option;
  const unsigned char* piece;
  const unsigned char* header;
};

template <std::size_t kOffset, std::size_t kSize>
Cell model_text(const ModelRow& r) {
  return Cell::field_text(r.model + kOffset, kSize - 1);
}
template <std::size_t kOffset, std::size_t kSize>
Cell piece_text(const ModelRow& r) {
  return Cell::field_text(r.piece + kOffset, kSize - 1);
}
template <std::size_t kOffset, std::size_t kSize>
Cell header_text(const ModelRow& r) {
  return Cell::field_text(r.header + kOffset, kSize - 1);
}
template <std::size_t kOffset>
Cell piece_attribute(const ModelRow& r) {
  return Cell(static_cast<int32_t>(records::load_i8(r.piece + kOffset)));
}

constexpr Column<ModelRow> kColumns[] = {
    {"Model_Name", 'C', 20, Form::kBoth, model_text<mr::kName, mr::kNameSize>},
    {"Option", 'C', 6, Form::kDetailed, [](const ModelRow& r) { return Cell(r.option); }},
    {"Piece_Id", 'C', 20, Form::kBoth, piece_text<mp::kName, mp::kNameSize>},
    {"Piece_Description", 'C', 20, Form::kDetailed, header_text<ph::kDescription, ph::kDescriptionSize>},
    {"Piece_Category", 'C', 20, Form::kDetailed, header_text<ph::kCategory, ph::kCategorySize>},
    {"Type", 'N', 2, Form::kDetailed, piece_attribute<mp::kType>},
    {"AsIn", 'N', 5, Form::kDetailed, piece_attribute<mp::kAsIn>},
    {"M_X", 'N', 5, Form::kDetailed, piece_attribute<mp::kMirrorX>},
    {"M_Y", 'N', 5, Form::kDetailed, piece_attribute<mp::kMirrorY>},
    {"M_XY", 'N', 5, Form::kDetailed, piece_attribute<mp::kMirrorXY>},
    {"Half", 'N', 2, Form::kDetailed, piece_attribute<mp::kHalf>},
    {"DySp", 'N', 2, Form::kDetailed, piece_attribute<mp::kDySp>},
    {"AddP", 'N', 2, Form::kDetailed, piece_attribute<mp::kAddPiece>},
    {"Comment1", 'C', 20, Form::kDetailed, model_text<mr::kComment1, mr::kComment1Size>},
    {"Comment2", 'C', 20, Form::kDetailed, model_text<mr::kComment2, mr::kComment2Size>},
    {"Fabric", 'C', 5, Form::kDetailed, piece_text<mp::kFabric, mp::kFabricSize>},
};

constexpr KindTable<ModelRow> kTable{"MODEL", "Model_Name", "Time", true, kColumns};

class ModelReport : public TableReport<StoreKind::kModel, kTable> {
 public:
  using TableReport::TableReport;

  Status dump_item(const Item& item) override {
    const Status read = reader().model(item.name, item.area, model_);
    if (!read.ok()) return store_failure(read, "model read failed");
    if (!model_.present) return Status();
    return write_model_rows(model_, area_record, item.closing);
  }

 private:
  // Writes the rows of one model: its base pieces, then each option group's
  // pieces, each closed by the item's closing values, whose modification
  // time is the model's, taken before the pieces are opened. The lists are
  // walked by the counts in the records; a list shorter than its count
  // ends its loop. When the area file fails a read of a piece the rows end
  // there and that failure is returned.
  Status write_model_rows(const ModelValue& model, unsigned char* area, const ClosingValues& closing) {
    // One header area serves every piece of the model.
    unsigned char header[ph::kSize] = {};
    auto piece_row = [&](const char* option, const ModelValue::Piece& piece) {
      // The header is read for every row, detailed or not, so a missing
      // piece is reported in both forms.
      char piece_name[mp::kNameSize];
      copy_field_text(piece.record + mp::kName, piece_name);
      Status read = read_piece_header(area, piece_name, header);
      if (is_file_failure(read)) return read;
      if (!read.ok()) {
        header[ph::kCategory] = 0;
        header[ph::kDescription] = 0;
      }
      write_row(ModelRow{model.record, option, piece.record, header}, closing);
      return Status();
    };
    const unsigned char* rec = model.record;
    const int32_t base_pieces = records::load_i32(rec + mr::kBasePieceCount);
    for (int32_t i = 0; i < base_pieces && static_cast<std::size_t>(i) < model.base_pieces; ++i) {
      Status row = piece_row("", model.pieces[static_cast<std::size_t>(i)]);
      if (!row.ok()) return row;
    }

    const int32_t groups = records::load_i32(rec + mr::kGroupCount);
    for (int32_t g = 0; g < groups && static_cast<std::size_t>(g) < model.groups.size(); ++g) {
      const ModelValue::Group& group = model.groups[static_cast<std::size_t>(g)];
      char option[records::option_group::kOptionSize];
      copy_field_text(group.record + records::option_group::kOption, option);
      const int32_t pieces = records::load_i32(group.record + records::option_group::kPieceCount);
      for (int32_t j = 0; j < pieces && static_cast<std::size_t>(j) < group.piece_count; ++j) {
        Status row = piece_row(option, model.pieces[group.first_piece + static_cast<std::size_t>(j)]);
        if (!row.ok()) return row;
      }
    }
    return Status();
  }

  // Reads the stored header of the named piece into header (156 bytes).
  // A read the area file fails is returned as its failure ("piece lookup
  // failed" when the piece could not be opened, "piece header read failed"
  // when its header could not be read). Else a piece that cannot be opened
  // is reported unless the host is the search program, and a piece whose
  // header cannot be read is passed over without a message; either way the
  // failure, one of kNotFound, is returned.
  Status read_piece_header(unsigned char* area, const char* piece_name, unsigned char* header) {
    bool found = false;
    const Status read = reader().piece_header(area, piece_name, header, found);
    if (read.ok()) return read;
    if (is_file_failure(read)) return store_failure(read, found ? "piece header read failed" : "piece lookup failed");
    if (!found && !is_search_program()) {
      char area_name[records::area::kNameSize];
      copy_field_text(area + records::area::kName, area_name);
      char message[kMessageSize + 2 * 32];
      // The format has been checked to take exactly two texts.
      std::snprintf(message, sizeof message, missing_piece_format(), piece_name, area_name);
      std::size_t n = std::strlen(message);
      if (n > 0 && message[n - 1] == '\n') print()("%s", message);
      else print()("%s\n", message);
    }
    return read;
  }

  // Whether the host program's lower-cased path contains "qseek"; looked up
  // once per run.
  bool is_search_program() {
    if (host_checked_ < 0) {
      std::string path = platform::library_path(nullptr);
      host_checked_ = is_search_program_path(path.c_str()) ? 1 : 0;
    }
    return host_checked_ == 1;
  }

  // The missing-piece message of the resource library when it takes the
  // piece name and the area name as its two "%s", else the library's own;
  // loaded once per run.
  const char* missing_piece_format() {
    if (!format_) format_ = quire::missing_piece_format(resource_module, buffer_, kMessageSize);
    return format_;
  }

  ModelValue model_;  // every model of the run is read into this one
  int host_checked_ = -1;
  const char* format_ = nullptr;
  char buffer_[kMessageSize] = {};
};

}  // namespace

int run_model(StoreReader& reader, int argc, char** argv, QuireWindow hwnd, int detailed) {
  return run_command<ModelReport>(reader, argc, argv, hwnd, detailed);
}

}  // namespace quire::kinds
