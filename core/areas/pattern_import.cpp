// Pattern files into an area: each style becomes a model and an order, each
// piece a stored piece; with a marker name the placed pieces also become a
// marker. Lengths are stored as the area's notation wants them: centimetres
// in a metric area, inches in an imperial one, and inches in the marker
// analysis, which the marker header report converts itself.
#include "pattern_import.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <unordered_map>

#include "area_writer.h"
#include "failures.h"
#include "import_messages.h"
#include "store_names.h"
#include "pattern_reader.h"
#include "area_store.h"
#include "quire/files/file_system.h"
#include "quoted_text.h"

namespace quire::areas {

namespace msg = import_messages;
namespace rec = quire::records;

namespace {

using dxf::find_text;
using dxf::PatternBlock;
using dxf::PatternFile;
using dxf::PatternText;

// The longest text of a field, from the store's description of its table.
size_t longest(const Table& table, const char* key, const char* group = nullptr) {
  return static_cast<size_t>(table.find(key, group)->hi);
}

const size_t kNameChars = longest(kPiecesTable, "name");
const size_t kCategoryChars = longest(kPiecesTable, "category");
const size_t kDescriptionChars = longest(kPiecesTable, "description");
const size_t kComment1Chars = longest(kModelsTable, "comment1");
const size_t kComment2Chars = longest(kModelsTable, "comment2");
const size_t kFabricChars = longest(kModelPiecesTable, "fabric");
const size_t kUserChars = longest(kModelsTable, "user_created");
const size_t kOrderSizeChars = longest(kSizesTable, "size");
const size_t kMarkerPieceSizeChars = longest(kMarkerPiecesTable, "size");
constexpr int32_t kInt16Max = std::numeric_limits<int16_t>::max();

constexpr double kMmPerInch = 25.4;

enum class Unit { kNone, kMm, kCm, kIn };

double mm_per(Unit u) { return u == Unit::kCm ? 10 : u == Unit::kIn ? kMmPerInch : 1; }
const char* unit_name(Unit u) { return u == Unit::kCm ? "cm" : u == Unit::kIn ? "in" : "mm"; }

Unit unit_of_option(const std::string& s) {
  if (s == "mm") return Unit::kMm;
  if (s == "cm") return Unit::kCm;
  if (s == "in") return Unit::kIn;
  return Unit::kNone;
}

std::string folded(std::string_view name) {
  std::string f(name);
  for (char& c : f) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
  return f;
}

// A text of a pattern file, or as the store keeps it (Latin-1), as error
// messages quote it.
std::string in_quotes(std::string_view s) { return quoted_text(s, TextEncoding::kLatin1); }

// Beyond these a pattern file was most likely read in the wrong units.
constexpr double kLargestPieceMetres = 10;
constexpr double kLongestMarkerMetres = 100;

// "12.5 m"
std::string metres_text(double metres) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f m", metres);
  return text;
}

// A file's text as the store keeps it: its bytes, with the \U+XXXX escapes
// of the format resolved. False with *why set for a character outside
// Latin-1 or a NUL.
bool store_text(std::string_view text, std::string* out, std::string* why) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 6 < text.size() && (text[i + 1] == 'U' || text[i + 1] == 'u') &&
        text[i + 2] == '+') {
      unsigned long cp = 0;
      size_t j = i + 3;
      for (; j < text.size() && j < i + 7 && std::isxdigit(static_cast<unsigned char>(text[j])); ++j)
        cp = cp * 16 + static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(text[j]))
                                                      ? text[j] - '0'
                                                      : (text[j] | 0x20) - 'a' + 10);
      if (j == i + 7) {
        if (cp > 0xFF) {
          return *why = msg::not_latin1(cp), false;
        }
        if (cp == 0) return *why = msg::kContainsNul, false;
        out->push_back(static_cast<char>(cp));
        i = j - 1;
        continue;
      }
    }
    if (text[i] == '\0') return *why = msg::kContainsNul, false;
    out->push_back(text[i]);
  }
  return true;
}

// The item label of error messages, as the JSON import writes it.
std::string item_label(const char* kind, size_t index, std::string_view name) {
  return std::string(kind) + "[" + std::to_string(index) + "] " + in_quotes(name);
}

// The seconds since 1970 (UTC) of a creation date and time as exporters
// write them ("23-04-2018", "2018-04-23", "23/04/2018"; "07:52"), or -1.
int32_t creation_time(const std::string* date, const std::string* time) {
  if (!date) return -1;
  int a = 0, b = 0, c = 0, y, m, d;
  char s1 = 0, s2 = 0;
  if (std::sscanf(date->c_str(), "%d%c%d%c%d", &a, &s1, &b, &s2, &c) != 5 || s1 != s2) return -1;
  if (a > 31) y = a, m = b, d = c;
  else d = a, m = b, y = c;
  if (y < 1970 || y > 2037 || m < 1 || m > 12 || d < 1 || d > 31) return -1;
  int hh = 0, mm = 0;
  if (time && (std::sscanf(time->c_str(), "%d:%d", &hh, &mm) != 2 || hh < 0 || hh > 23 || mm < 0 || mm > 59))
    hh = mm = 0;
  // Days from 1970-01-01 of a proleptic Gregorian date.
  y -= m <= 2;
  int era = y / 400;
  int yoe = y - era * 400;
  int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  int64_t t = days * 86400 + hh * 3600 + mm * 60;
  return t > std::numeric_limits<int32_t>::max() ? -1 : static_cast<int32_t>(t);
}

// Seconds since 1970 of a Julian date of the file's header; -1 when there
// is none or it lies outside 1970 to 2038.
int32_t julian_seconds(double julian) {
  constexpr double kJulian1970 = 2440587.5;
  if (!(julian > 0)) return -1;
  double seconds = std::round((julian - kJulian1970) * 86400);
  if (!(seconds >= 0) || seconds > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(seconds);
}

// The last modification of the file at path in seconds since 1970; -1 when
// it cannot be had. (The file layer gives no times: std::filesystem's,
// which converts the system's clock to seconds since 1970 everywhere.)
int32_t file_modified(const std::string& path) {
  std::error_code ec;
  auto written = std::filesystem::last_write_time(quire::platform::filesystem_path(path), ec);
  if (ec) return -1;
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::file_clock::to_sys(written).time_since_epoch())
                     .count();
  if (seconds < 0 || seconds > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(seconds);
}

std::string cut(std::string s, size_t max) {
  if (s.size() > max) s.resize(max);
  return s;
}

// The stem of a path: its file name without the last extension.
std::string file_stem(const std::string& name) { return path_stem(name); }

struct PieceGroup {
  std::string name;                // as stored (Latin-1)
  std::vector<size_t> blocks;      // indices of its blocks, one per size
  std::vector<std::string> sizes;  // the size of each block
};

// Builds the area from the files one at a time.
class PatternImporter {
 public:
  PatternImporter(const PatternImportOptions& options, std::vector<std::string>* warnings)
      : options_(options), warnings_(warnings) {}

  // Checks the options. False with status() set when they are not right.
  bool begin();
  // Adds the pattern file of source: its model, pieces and, when a marker
  // is read, its placements. False with status() set when it cannot.
  bool add_file(const PatternSource& source);
  // Completes the area: its name checked, the marker summed up. False with
  // status() set when it cannot be stored.
  bool finish();
  AreaData& area() { return area_; }
  const quire::Status& status() const { return status_; }

 private:
  bool text(const std::string& raw, size_t max, std::string* out, const std::string& where, bool required = false);
  bool fail(const std::string& message) {
    status_.update(quire::Status::failure(quire::StatusCode::kInvalid, message, file_));
    return false;
  }
  bool choose_units(const PatternFile& file, Unit* unit);
  bool add_piece_name(const std::string& name, const std::string& where, size_t index);

  const PatternImportOptions& options_;
  std::vector<std::string>* warnings_;
  quire::Status status_;
  std::string file_;  // the file being read, for messages
  AreaData area_;
  // Folded name -> the piece's index in area_.pieces and its name as given.
  // A piece of the file being read has its index before it is added there.
  struct PieceName {
    size_t index;
    std::string name;
  };
  std::unordered_map<std::string, PieceName> piece_names_;
  std::unordered_map<std::string, size_t> model_names_;  // folded name -> index in area_.models
  int32_t now_ = 0;
  int32_t marker_modified_ = -1;  // the newest stamp of the files read
  // The marker, when one is read.
  MarkerData marker_;
  double min_x_ = 0, min_y_ = 0, max_x_ = 0, max_y_ = 0;  // area units
  bool have_extent_ = false;
  std::vector<int64_t> notch_counts_ = std::vector<int64_t>(rec::marker_analysis::kNotchSlots, 0);
  int64_t drill_holes_ = 0, cut_outs_ = 0, corners_ = 0;
};

bool PatternImporter::text(const std::string& raw, size_t max, std::string* out, const std::string& where,
                           bool required) {
  std::string why;
  if (!store_text(raw, out, &why)) return fail(where + ": " + why);
  if (out->size() > max)
    return fail(where + ": " + msg::too_long(out->size(), static_cast<int64_t>(max)));
  if (required && out->empty()) return fail(where + ": " + msg::too_short(1));
  return true;
}

bool PatternImporter::begin() {
  now_ = static_cast<int32_t>(std::time(nullptr));
  if (!options_.units.empty() && unit_of_option(options_.units) == Unit::kNone)
    return fail("--units " + options_.units + ": expected mm, cm or in");
  if (!options_.area.empty() && !utf8_to_latin1(options_.area, &area_.name))
    return fail("--area: \"" + options_.area + "\" is not an area name (Latin-1 characters only)");
  if (!options_.marker.empty()) {
    if (!utf8_to_latin1(options_.marker, &marker_.name))
      return fail("--marker: \"" + options_.marker + "\" has a character outside Latin-1");
    if (marker_.name.size() > kNameChars)
      return fail("--marker: \"" + options_.marker + "\": " +
                  msg::too_long(marker_.name.size(), static_cast<int64_t>(kNameChars)));
    if (unsigned char c = msg::first_control_character(marker_.name))
      return fail("--marker: " + in_quotes(marker_.name) + ": " + msg::control_character(c));
  }
  area_.precision = 2;
  return true;
}

bool PatternImporter::choose_units(const PatternFile& file, Unit* unit) {
  Unit text_unit = Unit::kNone, header_unit = Unit::kNone;
  const std::string* units = find_text(file.style_texts, "Units");
  if (units) {
    std::string u = folded(*units);
    if (u == "metric") text_unit = Unit::kMm;
    else if (u == "english") text_unit = Unit::kIn;
    else if (options_.units.empty())
      return fail(file_ + ": style text Units: " + in_quotes(*units) + " is neither METRIC nor ENGLISH (give --units)");
  }
  switch (file.insunits) {
    case -1: case 0: break;
    case 1: header_unit = Unit::kIn; break;
    case 4: header_unit = Unit::kMm; break;
    case 5: header_unit = Unit::kCm; break;
    default:
      if (options_.units.empty())
        return fail(file_ + ": $INSUNITS " + std::to_string(file.insunits) +
                    " is not millimetres (4), centimetres (5) or inches (1) (give --units)");
  }
  if (!options_.units.empty()) {
    *unit = unit_of_option(options_.units);
    return true;
  }
  if (text_unit != Unit::kNone && header_unit != Unit::kNone &&
      (text_unit == Unit::kIn) != (header_unit == Unit::kIn))
    return fail(file_ + ": style text Units: " + *units + " disagrees with $INSUNITS " +
                std::to_string(file.insunits) + " (" + unit_name(header_unit) + "); give --units");
  *unit = header_unit != Unit::kNone ? header_unit : text_unit;
  if (*unit == Unit::kNone) {
    *unit = Unit::kMm;
    if (warnings_)
      warnings_->push_back(file_ + ": neither a Units text nor $INSUNITS; millimetres assumed (--units to choose)");
  }
  return true;
}

bool PatternImporter::add_piece_name(const std::string& name, const std::string& where, size_t index) {
  auto [it, inserted] = piece_names_.emplace(folded(name), PieceName{index, name});
  if (!inserted)
    return fail(where + ": " + item_label("pieces", index, name) + ": name: " +
                msg::duplicate_name(item_label("pieces", it->second.index, it->second.name)));
  return true;
}

bool PatternImporter::add_file(const PatternSource& source) {
  file_ = source.name;
  PatternFile file;
  std::vector<std::string> file_warnings;
  dxf::ReaderFactory open = [&source](quire::Status* status) -> std::unique_ptr<dxf::Reader> {
    if (source.in_memory) return std::make_unique<dxf::Reader>(source.bytes.data(), source.bytes.size());
    auto file = std::make_unique<quire::platform::ReadableFile>(quire::platform::file_env());
    if (file->open(source.path)) return std::make_unique<dxf::Reader>(std::move(file));
    // Nothing there, or no regular file (a pipe or device is never waited
    // on), leaves the file's status clear; a file that is there but cannot
    // be opened gives its reason.
    if (const int error = file->status().error(); error != 0) {
      *status = file_failure(error, msg::cannot_open(std::strerror(error)), source.path);
      return nullptr;
    }
    const FileStatus there = file_status(source.path);
    *status = there.error != 0 ? quire::Status::failure(quire::StatusCode::kNotFound,
                                                        msg::cannot_open(std::strerror(there.error)), source.path)
                               : quire::Status::failure(quire::StatusCode::kInvalid, "not a regular file", source.path);
    return nullptr;
  };
  if (quire::Status read = dxf::read_pattern(open, &file, &file_warnings); !read.ok()) {
    status_.update(quire::Status::failure(read.code(), file_ + ": " + read.message(), file_, read.error()));
    return false;
  }
  if (warnings_)
    for (const std::string& w : file_warnings) warnings_->push_back(file_ + ": " + w);

  Unit unit;
  if (!choose_units(file, &unit)) return false;
  // The first file's units are the area's.
  if (area_.models.empty()) area_.notation = unit == Unit::kIn ? 1 : 0;
  // Lengths as the area keeps them (cm or in) and as the analysis keeps them (in).
  const double to_area = mm_per(unit) / (area_.notation == 1 ? kMmPerInch : 10);
  const double to_inch = mm_per(unit) / kMmPerInch;

  const auto& st = file.style_texts;
  const std::string* style_name = find_text(st, "Style Name");
  const std::string* sample_size = find_text(st, "Sample Size");
  const std::string* grade_rules = find_text(st, "Grade Rule Table");

  // The model: one per file.
  ModelData model;
  size_t model_index = area_.models.size();
  if (style_name && !style_name->empty()) {
    if (!text(*style_name, kNameChars, &model.name, file_ + ": style text Style Name", true))
      return false;
    if (unsigned char c = msg::first_control_character(model.name))
      return fail(file_ + ": style text Style Name: " + item_label("models", model_index, model.name) +
                  ": name: " + msg::control_character(c));
  } else if (!area_.name.empty() && area_.models.empty()) {
    model.name = cut(area_.name, kNameChars);
  } else {
    // Named after the file: its name, cut to the field, as the store keeps it.
    std::string stem = file_stem(source.name), why;
    if (!store_text(stem, &model.name, &why) || model.name.empty())
      return fail(file_ + ": no Style Name text, and the file name cannot name the style: " + why);
    model.name = cut(model.name, kNameChars);
    if (unsigned char c = msg::first_control_character(model.name))
      return fail(file_ + ": no Style Name text, and the file name cannot name the style: " +
                  msg::control_character(c));
  }
  std::string model_label = file_ + ": " + item_label("models", model_index, model.name);
  {
    auto [it, inserted] = model_names_.emplace(folded(model.name), model_index);
    if (!inserted)
      return fail(model_label + ": name: " +
                      msg::duplicate_name(item_label("models", it->second, area_.models[it->second].name)));
  }
  if (area_.name.empty()) area_.name = model.name;
  // The stamps come from the file, so that importing it again unchanged
  // changes no stamp: last saved ($TDUPDATE), else the file's modification
  // time (the time of the import for standard input); made ($TDCREATE), else
  // the style's Creation Date text.
  int32_t modified = julian_seconds(file.updated_julian);
  if (modified < 0 && !source.in_memory) modified = file_modified(source.path);
  if (modified < 0) modified = now_;
  model.modified = modified;
  model.created = julian_seconds(file.created_julian);
  if (model.created < 0)
    model.created = creation_time(find_text(st, "Creation Date"), find_text(st, "Creation Time"));
  if (marker_modified_ < modified) marker_modified_ = modified;
  if (const std::string* author = find_text(st, "Author"))
    if (!text(cut(*author, kUserChars), kUserChars, &model.user_created, model_label + ": user_created"))
      return false;
  std::string sample;
  if (sample_size && !text(*sample_size, kOrderSizeChars, &sample, model_label + ": Sample Size"))
    return false;
  {
    std::string c1;
    if (sample_size) c1 = "Sample Size " + *sample_size;
    if (grade_rules) c1 += (c1.empty() ? "" : "; ") + std::string("Grade Rule Table ") + *grade_rules;
    if (!text(c1, std::string::npos, &model.comment1, model_label + ": comment1")) return false;
    model.comment1 = cut(model.comment1, kComment1Chars);
    std::string base = path_file_name(source.name);
    std::string c2;
    if (!text(base, std::string::npos, &c2, model_label + ": comment2")) {
      c2 = base;  // a file name that is not Latin-1 stays as its bytes
      status_ = quire::Status();
    }
    model.comment2 = cut(c2, kComment2Chars);
  }

  // The pieces: blocks grouped by piece name, one block per size.
  std::vector<PieceGroup> groups;
  std::unordered_map<std::string, size_t> group_of;  // exact name -> index in groups
  std::vector<std::string> block_piece(file.blocks.size()), block_category(file.blocks.size()),
      block_size(file.blocks.size());
  std::vector<std::string> sizes;  // in order of first appearance
  for (size_t b = 0; b < file.blocks.size(); ++b) {
    const PatternBlock& block = file.blocks[b];
    std::string where = file_ + ": block " + in_quotes(block.name);
    const std::string* piece_name = find_text(block.texts, "Piece Name");
    std::string name;
    if (!text(piece_name && !piece_name->empty() ? *piece_name : block.name, kNameChars, &name,
              where + ": " + item_label("pieces", area_.pieces.size() + groups.size(),
                                        piece_name ? *piece_name : block.name) +
                  ": name",
              true))
      return false;
    if (unsigned char c = msg::first_control_character(name))
      return fail(where + " (" + block.where + "): " +
                  item_label("pieces", area_.pieces.size() + groups.size(), name) + ": name: " +
                  msg::control_character(c));
    const std::string* size_text = find_text(block.texts, "Size");
    std::string size;
    if (size_text && !text(*size_text, kOrderSizeChars, &size,
                           file_ + ": " + item_label("orders", area_.orders.size(), model.name) + ": models[0].sizes[" +
                               std::to_string(sizes.size()) + "].size (block " + in_quotes(block.name) + ")"))
      return false;
    if (!size_text) size = sample;
    auto [it, inserted] = group_of.emplace(name, groups.size());
    if (inserted) {
      size_t index = area_.pieces.size() + groups.size();
      if (!add_piece_name(name, where, index)) return false;
      groups.push_back({name, {}, {}});
    }
    PieceGroup& g = groups[it->second];
    for (size_t k = 0; k < g.sizes.size(); ++k)
      if (g.sizes[k] == size)
        return fail(where + ": piece " + in_quotes(name) + " in size " + in_quotes(size) + " is also block " +
                        in_quotes(file.blocks[g.blocks[k]].name));
    g.blocks.push_back(b);
    g.sizes.push_back(size);
    if (!size.empty() && std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
    block_piece[b] = name;
    block_size[b] = size;
  }
  // Stored pieces and model pieces, from the block of the sample size (else
  // the first block) of each piece.
  for (const PieceGroup& g : groups) {
    size_t b = g.blocks.front();
    for (size_t k = 0; k < g.sizes.size(); ++k)
      if (g.sizes[k] == sample) b = g.blocks[k];
    const PatternBlock& block = file.blocks[b];
    std::string where = file_ + ": block " + in_quotes(block.name) + ": " +
                        item_label("pieces", area_.pieces.size(), g.name);
    PieceData piece;
    piece.name = g.name;
    const std::string* category = find_text(block.texts, "Category");
    const std::string* material = find_text(block.texts, "Material");
    if (category && category->empty()) category = nullptr;
    if (const std::string* c = category ? category : material)
      if (!text(*c, kCategoryChars, &piece.category, where + ": category")) return false;
    std::string description;
    for (const PatternText& t : block.texts) {
      if (t.value.empty() || dxf::key_is(t, "Piece Name") || dxf::key_is(t, "Category") || dxf::key_is(t, "Size"))
        continue;
      std::string key = t.key;
      for (const char* known : {"Annotation", "Material", "Quantity"})
        if (dxf::key_is(t, known)) key = known;
      description += (description.empty() ? "" : "; ") + key + " " + t.value;
    }
    if (!text(description, std::string::npos, &piece.description, where + ": description"))
      return false;
    piece.description = cut(piece.description, kDescriptionChars);
    ModelPieceData mp;
    mp.name = g.name;
    if (material && !text(*material, kFabricChars, &mp.fabric, model_label + ": pieces[" +
                                                                   std::to_string(model.pieces.size()) + "].fabric"))
      return false;
    model.pieces.push_back(std::move(mp));
    for (size_t b2 : g.blocks) block_category[b2] = piece.category;
    area_.pieces.push_back(std::move(piece));
  }

  // The order: named after the style, one model with the sizes found.
  OrderData order;
  order.name = model.name;
  order.modified = modified;
  order.created = model.created;
  order.user_created = model.user_created;
  OrderModelData om;
  om.name = model.name;
  for (const std::string& size : sizes) {
    SizeEntryData z;
    z.size = size;
    z.base_size = sample;
    om.sizes.push_back(std::move(z));
  }
  order.models.push_back(om);
  area_.orders.push_back(std::move(order));
  if (sizes.empty())
    warnings_->push_back(file_ + ": style " + in_quotes(model.name) +
                         " has no size (no Size text in its blocks, no Sample Size): its order lists no size, so "
                         "the ORDML and MKMOD tables have no row for it");
  // A piece of more than 10 m is a file read in the wrong units, most
  // likely; one line per piece.
  {
    std::vector<char> warned(file.blocks.size(), 0);
    for (const dxf::Placement& p : file.placements) {
      const double metres = std::max(p.max_x - p.min_x, p.max_y - p.min_y) * mm_per(unit) / 1000;
      if (metres <= kLargestPieceMetres || warned[p.block]) continue;
      warned[p.block] = 1;
      warnings_->push_back(file_ + ": block " + in_quotes(file.blocks[p.block].name) + ": piece " +
                           in_quotes(block_piece[p.block]) + " measures " + metres_text(metres) +
                           ", more than 10 m: are the units right? (--units mm, cm or in)");
    }
  }

  if (!marker_.name.empty()) {
    marker_.models.push_back(om);
    if (marker_.header.order_name.empty()) marker_.header.order_name = model.name;
    for (const dxf::Placement& p : file.placements) {
      const PatternBlock& block = file.blocks[p.block];
      std::string where = file_ + ": block " + in_quotes(block.name);
      MarkerPieceData mp;
      mp.name = block_piece[p.block];
      mp.category = block_category[p.block];
      mp.area = p.area * to_area * to_area;
      mp.perimeter = p.perimeter * to_area;
      if (block_size[p.block].size() > kMarkerPieceSizeChars)
        return fail(where + ": size " + in_quotes(block_size[p.block]) + " is longer than " +
                        std::to_string(kMarkerPieceSizeChars) + " characters");
      mp.size = block_size[p.block];
      marker_.pieces.push_back(std::move(mp));
      MarkerAnalysisData& a = marker_.analysis;
      a.placed_area += p.area * to_inch * to_inch;
      a.placed_perimeter += p.perimeter * to_inch;
      a.straight_perimeter += p.straight_perimeter * to_inch;
      a.curved_perimeter += p.curved_perimeter * to_inch;
      a.straight_internal += p.internal_straight * to_inch;
      a.curved_internal += p.internal_curved * to_inch;
      a.total_internal += (p.internal_straight + p.internal_curved) * to_inch;
      marker_.header.total_perimeter += p.perimeter * to_area;
      for (size_t i = 0; i < dxf::kNotchLayers.size(); ++i)
        notch_counts_[static_cast<size_t>(dxf::kNotchLayers[i] - 1)] += block.notches[i];
      drill_holes_ += block.drill_holes;
      cut_outs_ += block.cut_outs;
      corners_ += block.corners;
      double x0 = p.min_x * to_area, x1 = p.max_x * to_area, y0 = p.min_y * to_area, y1 = p.max_y * to_area;
      if (!have_extent_) {
        min_x_ = x0, max_x_ = x1, min_y_ = y0, max_y_ = y1;
        have_extent_ = true;
      } else {
        min_x_ = std::min(min_x_, x0), max_x_ = std::max(max_x_, x1);
        min_y_ = std::min(min_y_, y0), max_y_ = std::max(max_y_, y1);
      }
    }
    marker_.header.sizes += static_cast<int32_t>(sizes.size());
  }
  area_.models.push_back(std::move(model));
  return true;
}

bool PatternImporter::finish() {
  file_.clear();
  if (!valid_area_name(area_.name))
    return fail("area name " + in_quotes(area_.name) + " is not an area name (1 to 20 characters, no \"/\" or \"\\\")");
  if (marker_.name.empty()) return true;
  std::string label = item_label("markers", 0, marker_.name);
  // The marker is as new as the newest of its files.
  marker_.modified = marker_modified_ >= 0 ? marker_modified_ : now_;
  MarkerHeaderData& h = marker_.header;
  MarkerAnalysisData& a = marker_.analysis;
  h.name = marker_.name;
  h.length = max_x_ - min_x_;
  h.width = max_y_ - min_y_;
  // Placed area over width x length, both in the area's unit.
  double placed = a.placed_area * (area_.notation == 1 ? 1 : 2.54 * 2.54);
  h.util = h.width > 0 && h.length > 0 ? placed / (h.width * h.length) * 100 : 0;
  const double length_metres = h.length * (area_.notation == 1 ? kMmPerInch : 10) / 1000;
  if (length_metres > kLongestMarkerMetres)
    warnings_->push_back(label + ": the marker is " + metres_text(length_metres) +
                         " long, more than 100 m: are the units right? (--units mm, cm or in)");
  // A pattern file knows nothing beyond the placed pieces: their area is the
  // marker's net area too.
  a.net_area = a.placed_area;
  int64_t notches = 0;
  for (int64_t n : notch_counts_) notches += n;
  auto int16 = [&](int64_t v, const char* key, int32_t* out) {
    if (v > kInt16Max) return fail(label + ": " + key + ": " + std::to_string(v) + " is out of range -32768..32767");
    *out = static_cast<int32_t>(v);
    return true;
  };
  if (!int16(static_cast<int64_t>(marker_.pieces.size()), "analysis.placed_pieces", &a.placed_pieces)) return false;
  a.notch_counts.assign(notch_counts_.size(), 0);
  for (size_t i = 0; i < notch_counts_.size(); ++i)
    if (!int16(notch_counts_[i], "analysis.notch_counts", &a.notch_counts[i])) return false;
  while (!a.notch_counts.empty() && a.notch_counts.back() == 0) a.notch_counts.pop_back();
  a.internal_counts.assign(2, 0);
  if (!int16(drill_holes_, "analysis.internal_counts[0]", &a.internal_counts[0]) ||
      !int16(cut_outs_, "analysis.internal_counts[1]", &a.internal_counts[1]))
    return false;
  if (notches > std::numeric_limits<int32_t>::max() || corners_ > std::numeric_limits<int32_t>::max())
    return fail(label + ": more notches or corners than the marker can count");
  a.placed_notches = h.total_notches = static_cast<int32_t>(notches);
  a.placed_corners = h.total_corners = static_cast<int32_t>(corners_);
  area_.markers.push_back(std::move(marker_));
  return true;
}

}  // namespace

bool looks_like_dxf(std::string_view head) {
  if (head.substr(0, dxf::kBinarySentinel.size()) == dxf::kBinarySentinel) return true;
  // ASCII: the first line is a group code (blanks and digits only).
  size_t i = 0;
  while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
  size_t digits = 0;
  while (i < head.size() && head[i] >= '0' && head[i] <= '9') ++i, ++digits;
  while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r')) ++i;
  return digits > 0 && i < head.size() && head[i] == '\n';
}

quire::Status import_pattern_files(const std::vector<PatternSource>& files, const PatternImportOptions& options,
                                   std::vector<std::string>* warnings, AreaSummary* summary) {
  return fenced([&]() -> quire::Status {
    if (files.empty()) return quire::Status::failure(quire::StatusCode::kInvalid, "no pattern file");
    PatternImporter importer(options, warnings);
    if (!importer.begin()) return importer.status();
    for (const PatternSource& source : files)
      if (!importer.add_file(source)) return importer.status();
    if (!importer.finish()) return importer.status();
    const AreaData& area = importer.area();
    AreaWriter writer;
    quire::Status status = writer.begin(area.name, area.notation, area.precision);
    for (size_t i = 0; i < area.markers.size() && status.ok(); ++i)
      status = writer.add_marker(static_cast<int64_t>(i) + 1, area.markers[i]);
    for (size_t i = 0; i < area.models.size() && status.ok(); ++i)
      status = writer.add_model(static_cast<int64_t>(i) + 1, area.models[i]);
    for (size_t i = 0; i < area.pieces.size() && status.ok(); ++i)
      status = writer.add_piece(static_cast<int64_t>(i) + 1, area.pieces[i]);
    for (size_t i = 0; i < area.orders.size() && status.ok(); ++i)
      status = writer.add_order(static_cast<int64_t>(i) + 1, area.orders[i]);
    return status.ok() ? writer.commit(area.name, summary) : status;
  });
}

}  // namespace quire::areas
