// MODEL: for every model, one row per piece: the base pieces first, then
// the pieces of each option group, with the texts of each piece's stored
// header.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kinds/kind_support.h"
#include "platform/shared_library.h"
#include "quire/plotbase.h"
#include "quire/records.h"
#include "report/dump_report.h"
#include "resources/resources.h"

namespace quire {
namespace {

namespace mr = records::model_record;
namespace mp = records::model_piece;
namespace ph = records::piece_header;
using kinds::copy_field_text;

constexpr int kMessageSize = 200;

// True when the lower-cased path contains "qseek": the sibling search
// program reports missing pieces its own way.
bool is_search_program_path(const char* path) {
  static constexpr char kName[] = "qseek";
  const std::size_t n = sizeof kName - 1;
  for (const char* p = path; *p; ++p) {
    std::size_t i = 0;
    while (i < n && p[i] &&
           std::tolower(static_cast<unsigned char>(p[i])) == static_cast<unsigned char>(kName[i]))
      ++i;
    if (i == n) return true;
  }
  return false;
}

class ModelReport : public DumpReport {
 public:
  int write_header() override {
    if (open_table("Model_Name", "Time", "MODEL") != 1) return 0;
    ReportTable& t = table();
    t.define_field(0, 'C', 20, 0, "Model_Name");
    if (detailed) t.define_field(0, 'C', 6, 0, "Option");
    t.define_field(0, 'C', 20, 0, "Piece_Id");
    if (detailed) {
      t.define_field(0, 'C', 20, 0, "Piece_Description");
      t.define_field(0, 'C', 20, 0, "Piece_Category");
      t.define_field(0, 'N', 2, 0, "Type");
      t.define_field(0, 'N', 5, 0, "AsIn");
      t.define_field(0, 'N', 5, 0, "M_X");
      t.define_field(0, 'N', 5, 0, "M_Y");
      t.define_field(0, 'N', 5, 0, "M_XY");
      t.define_field(0, 'N', 2, 0, "Half");
      t.define_field(0, 'N', 2, 0, "DySp");
      t.define_field(0, 'N', 2, 0, "AddP");
      t.define_field(0, 'C', 20, 0, "Comment1");
      t.define_field(0, 'C', 20, 0, "Comment2");
      t.define_field(0, 'C', 5, 0, "Fabric");
    }
    define_closing_fields("Time");
    return 1;
  }

  int dump_item(unsigned char* item_area, const char* name, const char* user_last_mod,
                int32_t creation_time, const char* user_created, int32_t prev_mod_time,
                const char* user_prev_mod) override {
    pb_model* model = nullptr;
    if (pb_get_model_ex(name, &model, item_area) != 1) {
      print_library_error("model read failed");
      pb_free_model_ex(&model);  // a no-op unless the library left a model behind
      return 0;
    }
    if (model) {
      write_model_rows(*model, area_record, pbc_last_mod_time, user_last_mod, creation_time,
                       user_created, prev_mod_time, user_prev_mod);
    }
    pb_free_model_ex(&model);
    return 1;
  }

  int open_item(void* area, const char* name, unsigned char* item_area) override {
    return pb_open_model(area, name, item_area);
  }
  int close_item(void* area, const char* name, unsigned char* item_area) override {
    return pb_close_model(area, name, item_area);
  }
  const char* item_word() const override { return "model"; }
  int lookup_item(void* area, char* name, const char* pattern, int mode) override {
    return pb_lookup_models(area, name, pattern, mode);
  }

 private:
  // Writes the rows of one model: its base pieces, then each option group's
  // pieces, each closed by the item's six closing values; mod_time is the
  // model's, taken before the pieces are opened. The lists are walked by the
  // counts in the records; a list that ends early (a null link) ends its
  // loop. Returns 1.
  int write_model_rows(const pb_model& model, unsigned char* area, int32_t mod_time,
                       const char* user_last_mod, int32_t creation_time,
                       const char* user_created, int32_t prev_mod_time,
                       const char* user_prev_mod) {
    // One header area serves every piece of the model.
    unsigned char header[ph::kSize] = {};
    auto write_row = [&](const char* option, const pb_model_piece& piece) {
      write_piece_columns(model, option, piece, area, header);
      write_closing_values(mod_time, user_last_mod, creation_time, user_created, prev_mod_time,
                           user_prev_mod);
    };
    const unsigned char* rec = model.record;
    int32_t base_pieces = records::load_i32(rec + mr::kBasePieceCount);
    const pb_model_piece* piece = model.first_piece;
    for (int32_t i = 0; i < base_pieces && piece; ++i, piece = piece->next) write_row("", *piece);

    int32_t groups = records::load_i32(rec + mr::kGroupCount);
    const pb_option_group* group = model.first_group;
    for (int32_t g = 0; g < groups && group; ++g, group = group->next) {
      char option[records::option_group::kOptionSize];
      copy_field_text(group->record + records::option_group::kOption, option);
      int32_t pieces = records::load_i32(group->record + records::option_group::kPieceCount);
      piece = group->first_piece;
      for (int32_t j = 0; j < pieces && piece; ++j, piece = piece->next) write_row(option, *piece);
    }
    return 1;
  }

  // Writes the columns of one piece's row before the six closing ones.
  void write_piece_columns(const pb_model& model, const char* option, const pb_model_piece& piece,
                           unsigned char* area, unsigned char* header) {
    const unsigned char* p = piece.record;
    char piece_name[mp::kNameSize];
    copy_field_text(p + mp::kName, piece_name);
    // The header is read for every row, detailed or not, so a missing piece
    // is reported in both forms.
    if (read_piece_header(area, piece_name, header) != 1) {
      header[ph::kCategory] = 0;
      header[ph::kDescription] = 0;
    }
    ReportTable& t = table();
    char model_name[mr::kNameSize];
    t.write_field(1, copy_field_text(model.record + mr::kName, model_name));
    if (detailed) t.write_field(0, option);
    t.write_field(0, piece_name);
    if (!detailed) return;
    char description[ph::kDescriptionSize];
    char category[ph::kCategorySize];
    t.write_field(0, copy_field_text(header + ph::kDescription, description));
    t.write_field(0, copy_field_text(header + ph::kCategory, category));
    static constexpr std::size_t kAttributes[] = {mp::kType,     mp::kAsIn, mp::kMirrorX,
                                                  mp::kMirrorY,  mp::kMirrorXY, mp::kHalf,
                                                  mp::kDySp,     mp::kAddPiece};
    for (std::size_t offset : kAttributes)
      t.write_field(0, static_cast<int32_t>(records::load_i8(p + offset)));
    char comment1[mr::kComment1Size];
    char comment2[mr::kComment2Size];
    char fabric[mp::kFabricSize];
    t.write_field(0, copy_field_text(model.record + mr::kComment1, comment1));
    t.write_field(0, copy_field_text(model.record + mr::kComment2, comment2));
    t.write_field(0, copy_field_text(p + mp::kFabric, fabric));
  }

  // Reads the stored header of the named piece into header (156 bytes).
  // Returns 1, or the failing library result. A piece that cannot be opened
  // is reported unless the host is the search program; a piece that opens
  // but whose header cannot be read is closed again without a message.
  int read_piece_header(unsigned char* area, const char* piece_name, unsigned char* header) {
    unsigned char piece_area[records::item_area::kSize] = {};
    int r = pb_open_piece(area, piece_name, piece_area);
    if (r == 1) {
      int read = pb_get_piece_header(piece_name, header, piece_area);
      pb_close_piece(area, piece_name, piece_area);
      return read;
    }
    if (!is_search_program()) {
      char area_name[records::area::kNameSize];
      copy_field_text(area + records::area::kName, area_name);
      char message[kMessageSize + 2 * 32];
      // The format has been checked to take exactly two texts.
      std::snprintf(message, sizeof message, missing_piece_format(), piece_name, area_name);
      std::size_t n = std::strlen(message);
      if (n > 0 && message[n - 1] == '\n') pb_printf("%s", message);
      else pb_printf("%s\n", message);
    }
    return r;
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

  int host_checked_ = -1;
  const char* format_ = nullptr;
  char buffer_[kMessageSize] = {};
};

}  // namespace
}  // namespace quire

extern "C" QUIRE_API int dmp_model(int argc, char** argv, QuireWindow hwnd, int detailed) {
  return quire::run_command<quire::ModelReport>(argc, argv, hwnd, detailed);
}
