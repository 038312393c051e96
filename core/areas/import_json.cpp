// Importing an area file (JSON): parsed as a stream of events, checked key
// by key against the description of the record kinds, and written item by
// item into a new area file that replaces the old one only when all is well.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "area_writer.h"
#include "failures.h"
#include "import_messages.h"
#include "store_names.h"
#include "pattern_import.h"
#include "quoted_text.h"

namespace quire::areas {

namespace msg = import_messages;

namespace {

using nlohmann::json;

// The parts of an area file that are not fields of a table: the item
// lists, the sub-objects and the lists inside items.
enum class Part : uint8_t {
  kNone,
  kMarkers, kModels, kPieces, kOrders,  // the area's item lists (in Kind order below)
  kByteSize,                            // a marker's two byte counts
  kHeader, kAnalysis, kFaults,          // sub-objects
  kMarkerPieces, kOverrides, kSplices, kOrderModels, kModelPieces, kOptionGroups, kSizes,  // record lists
  kOptions,                             // an order model's option texts
  kCount
};

struct PartKey {
  const Table* owner;  // the object the key belongs to (null: the area)
  const char* key;
  Part part;
};

constexpr PartKey kPartKeys[] = {
    {nullptr, "markers", Part::kMarkers},
    {nullptr, "models", Part::kModels},
    {nullptr, "pieces", Part::kPieces},
    {nullptr, "orders", Part::kOrders},
    {&kMarkersTable, "byte_size", Part::kByteSize},
    {&kMarkersTable, "header", Part::kHeader},
    {&kMarkersTable, "analysis", Part::kAnalysis},
    {&kMarkersTable, "faults", Part::kFaults},
    {&kMarkersTable, "pieces", Part::kMarkerPieces},
    {&kMarkersTable, "overrides", Part::kOverrides},
    {&kMarkersTable, "splices", Part::kSplices},
    {&kMarkersTable, "models", Part::kOrderModels},
    {&kModelsTable, "faults", Part::kFaults},
    {&kModelsTable, "pieces", Part::kModelPieces},
    {&kModelsTable, "option_groups", Part::kOptionGroups},
    {&kOrdersTable, "faults", Part::kFaults},
    {&kOrdersTable, "models", Part::kOrderModels},
    {&kPiecesTable, "faults", Part::kFaults},
    {&kOrderModelsTable, "options", Part::kOptions},
    {&kOrderModelsTable, "sizes", Part::kSizes},
    {&kOptionGroupsTable, "pieces", Part::kModelPieces},
};

const char* const kListNames[] = {"markers", "models", "pieces", "orders"};
const Kind kListKinds[] = {kMarker, kModel, kPiece, kOrder};

bool is_item_list(Part p) { return p >= Part::kMarkers && p <= Part::kOrders; }
bool is_group(Part p) { return p == Part::kHeader || p == Part::kAnalysis || p == Part::kFaults; }

// True for the fields that hold a name: an item's own (the area's is checked
// on its own), a marker header's, and those naming the pieces and models an
// item refers to. The reports log and print these as item names.
bool is_name(const Field& field) {
  if (&field == &kAreaFields[0]) return false;
  static_assert(kOverrideFields[0].key[0] == 'p' && kOverrideFields[4].key[0] == 'm', "override piece and model");
  return (field.key && std::strcmp(field.key, "name") == 0) || &field == &kOverrideFields[0] ||
         &field == &kOverrideFields[4];
}

// "the string \"...\"" as error messages quote it.
std::string describe_string(const std::string& s) { return "the string " + quoted_text(s); }

// The JSON parser's message with the token it quotes ("last read: '...'",
// the file's own text) shown as every quoted input text is.
std::string parser_message(const std::string& message) {
  static const char kLastRead[] = "last read: '";
  size_t start = message.find(kLastRead);
  if (start == std::string::npos) return message;
  start += sizeof kLastRead - 1;
  size_t end = message.rfind("'; expected ");
  if (end == std::string::npos || end < start) end = message.size() - 1;
  if (end < start || message[end] != '\'') return message;
  return message.substr(0, start) + shown_text(std::string_view(message).substr(start, end - start)) + message.substr(end);
}

// What a JSON value was, as the messages name it.
struct Seen {
  enum Type { kNull, kBool, kInt, kUnsigned, kFloat, kString, kObject, kArray } type;
  bool b = false;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  std::string* s = nullptr;
  std::string text() const {
    switch (type) {
      case kNull: return "null";
      case kBool: return b ? "true" : "false";
      case kInt: return std::to_string(i);
      case kUnsigned: return std::to_string(u);
      case kFloat: return json(d).dump();
      case kString: return describe_string(*s);
      case kObject: return "an object";
      case kArray: return "an array";
    }
    return "";
  }
  bool integer() const { return type == kInt || type == kUnsigned; }
  bool number() const { return integer() || type == kFloat; }
};

// One open JSON object or array.
struct Frame {
  enum Kind { kArea, kItemList, kItem, kGroup, kRecordList, kRecord, kValues } kind;
  const Table* table = nullptr;  // the fields of an object (kArea: kAreaFields)
  const char* group = nullptr;   // kGroup: the sub-object's name
  void* row = nullptr;           // the struct the fields go into
  Part part = Part::kNone;       // lists: what they hold
  const Field* element = nullptr;  // kValues: the field each element is
  uint64_t fields_seen = 0;      // objects: bit i for table field i
  uint32_t parts_seen = 0;       // objects: bit for each part (group or list) read
  const Field* field = nullptr;  // objects: the key just read, when a field
  Part pending = Part::kNone;    // objects: the key just read, when a part
  size_t count = 0;              // arrays: elements so far
  size_t next = 0;               // objects: the field after the last key's
  size_t path_size = 0;          // the length of the path at this frame
};

constexpr size_t kMaxDepth = 16;

class AreaParser final : public nlohmann::json_sax<json> {
 public:
  explicit AreaParser(AreaWriter* writer) : writer_(writer) { frames_.reserve(kMaxDepth + 1); }

  // The first failure: the writer's, else the one line naming the item and
  // key at fault.
  quire::Status status() const {
    if (!writer_failure_.ok()) return writer_failure_;
    return failed() ? quire::Status::failure(quire::StatusCode::kInvalid, error_) : quire::Status();
  }
  bool failed() const { return !error_.empty(); }
  const AreaData& area() const { return area_; }

  bool null() override { return value(Seen{Seen::kNull}); }
  bool boolean(bool v) override {
    Seen s{Seen::kBool};
    s.b = v;
    return value(s);
  }
  bool number_integer(number_integer_t v) override {
    Seen s{Seen::kInt};
    s.i = v;
    return value(s);
  }
  bool number_unsigned(number_unsigned_t v) override {
    Seen s{Seen::kUnsigned};
    s.u = v;
    return value(s);
  }
  bool number_float(number_float_t v, const string_t&) override {
    Seen s{Seen::kFloat};
    s.d = v;
    return value(s);
  }
  bool string(string_t& v) override {
    Seen s{Seen::kString};
    s.s = &v;
    return value(s);
  }
  bool binary(binary_t&) override { return value(Seen{Seen::kNull}); }

  bool start_object(std::size_t) override {
    if (skipping_) return skip_open();
    opening_ = true;
    if (frames_.empty()) return push_area();
    if (frames_.size() >= kMaxDepth) return fail(path_, "nested too deeply");
    Frame& f = frames_.back();
    switch (f.kind) {
      case Frame::kItemList:
        return start_item(f);
      case Frame::kRecordList:
        return start_record(f);
      case Frame::kValues:
        return element_error(f, Seen{Seen::kObject});
      default:
        break;
    }
    if (f.field) return mismatch(*f.field, Seen{Seen::kObject});
    Part p = f.pending;
    f.pending = Part::kNone;
    if (!is_group(p)) return fail(path_, "expected an array, got an object");
    Frame g{Frame::kGroup};
    g.path_size = path_.size();
    if (p == Part::kHeader) {
      g.table = &kMarkersTable, g.group = "header", g.row = f.row;
    } else if (p == Part::kAnalysis) {
      g.table = &kAnalysisTable, g.row = &static_cast<MarkerData*>(f.row)->analysis;
    } else {
      g.table = &kFaultsTable;
      g.row = f.table == &kPiecesTable ? &static_cast<PieceData*>(f.row)->faults
                                       : &static_cast<ItemCommon*>(item_common(f))->faults;
    }
    frames_.push_back(g);
    return true;
  }

  bool key(string_t& k) override {
    if (skipping_) {
      // Only the item's own name matters now: it completes the message.
      skip_name_ = skip_depth_ == 1 && k == "name";
      return true;
    }
    opening_ = false;
    Frame& f = frames_.back();
    path_.resize(f.path_size);
    if (!path_.empty()) path_ += '.';
    path_ += k;
    f.field = nullptr;
    f.pending = Part::kNone;
    bool item_level = f.kind == Frame::kItem || f.kind == Frame::kArea;
    // Keys mostly come in the order of the description: try the field
    // after the last one first.
    const Field* field = nullptr;
    if (f.next < f.table->field_count) {
      const Field& guess = f.table->fields[f.next];
      bool same_group = guess.group == f.group || (guess.group && f.group && !std::strcmp(guess.group, f.group));
      if (guess.key && same_group && k == guess.key) field = &guess;
    }
    if (!field) field = f.table->find(k, f.group);
    if (field) {
      f.next = static_cast<size_t>(field - f.table->begin()) + 1;
      uint64_t bit = uint64_t{1} << (field - f.table->begin());
      if (f.fields_seen & bit) return fail(path_, "duplicate key");
      f.fields_seen |= bit;
      f.field = field;
      if (item_level && k == "name") name_pending_ = true;
      return true;
    }
    if (!f.group) {
      const Table* owner = f.kind == Frame::kArea ? nullptr : f.table;
      for (const PartKey& p : kPartKeys) {
        if (p.owner != owner || k != p.key) continue;
        uint32_t bit = uint32_t{1} << static_cast<int>(p.part);
        if (f.parts_seen & bit) return fail(path_, "duplicate key");
        f.parts_seen |= bit;
        f.pending = p.part;
        return true;
      }
    }
    // The key is the file's own text: shown as any, cut when long.
    path_.resize(f.path_size);
    if (!path_.empty()) path_ += '.';
    path_ += shown_text(k);
    return fail(path_, "unknown key");
  }

  bool end_object() override {
    if (skipping_) return skip_close();
    closing_ = true;
    Frame& f = frames_.back();
    switch (f.kind) {
      case Frame::kArea:
        if (!(f.fields_seen & 1)) return fail("name", "missing (required)");
        break;
      case Frame::kItem:
        if (!end_item(f)) return false;
        break;
      default:
        break;
    }
    pop();
    closing_ = false;
    return true;
  }

  bool start_array(std::size_t) override {
    if (skipping_) return skip_open();
    opening_ = true;
    if (frames_.empty()) return fail_area(Seen{Seen::kArray});
    if (frames_.size() >= kMaxDepth) return fail(path_, "nested too deeply");
    Frame& f = frames_.back();
    switch (f.kind) {
      case Frame::kItemList:
      case Frame::kRecordList:
        return not_an_object(f, Seen{Seen::kArray});
      case Frame::kValues:
        return element_error(f, Seen{Seen::kArray});
      default:
        break;
    }
    Frame a{Frame::kRecordList};
    a.path_size = path_.size();
    a.row = f.row;
    if (f.field) {
      if (f.field->type != FieldType::kCounts) return mismatch(*f.field, Seen{Seen::kArray});
      a.kind = Frame::kValues;
      a.element = f.field;
      a.row = f.field->at(f.row);
      static_cast<std::vector<int32_t>*>(a.row)->clear();
      f.field = nullptr;
      frames_.push_back(a);
      return true;
    }
    Part p = f.pending;
    f.pending = Part::kNone;
    if (is_group(p)) return fail(path_, "expected an object, got an array");
    a.part = p;
    if (is_item_list(p)) a.kind = Frame::kItemList;
    else if (p == Part::kByteSize || p == Part::kOptions) a.kind = Frame::kValues;
    if (p == Part::kOptions) a.element = &kOptionFields[0];
    frames_.push_back(a);
    return true;
  }

  bool end_array() override {
    if (skipping_) return skip_close();
    closing_ = true;
    Frame& f = frames_.back();
    if (f.kind == Frame::kValues) {
      path_.resize(f.path_size);
      if (f.part == Part::kByteSize && f.count != 2)
        return fail(path_, "expected 2 integers, got " + std::to_string(f.count));
      if (f.element && f.element->type == FieldType::kCounts && f.count > static_cast<size_t>(f.element->hi))
        return fail(path_, std::to_string(f.count) + " slots, at most " + std::to_string(f.element->hi));
    }
    pop();
    closing_ = false;
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    if (!failed()) {
      // "[json.exception.parse_error.101] parse error at line 1, column 5: ..."
      // -> "malformed JSON at line 1, column 5: ..."
      std::string what = e.what();
      size_t at = what.find("parse error");
      what = at != std::string::npos ? what.substr(at + std::strlen("parse error")) : ": " + what;
      error_ = "malformed JSON" + parser_message(what);
    }
    return false;
  }

  // Completes the area once the whole text is read. False with error().
  bool finish() {
    if (failed()) return false;
    writer_->set_area(area_.name, area_.notation, area_.precision);
    return true;
  }

 private:
  bool value(const Seen& v) {
    if (skipping_) {
      if (skip_name_ && v.type == Seen::kString) item_name_ = *v.s, has_item_name_ = true;
      skip_name_ = false;
      return true;
    }
    opening_ = false;
    if (frames_.empty()) return fail_area(v);
    Frame& f = frames_.back();
    switch (f.kind) {
      case Frame::kItemList:
      case Frame::kRecordList:
        return not_an_object(f, v);
      case Frame::kValues:
        return element(f, v);
      default:
        break;
    }
    if (f.kind == Frame::kItem && name_pending_ && v.type == Seen::kString) item_name_ = *v.s, has_item_name_ = true;
    name_pending_ = false;
    if (!f.field) {
      Part p = f.pending;
      f.pending = Part::kNone;
      return fail(path_, std::string("expected ") + (is_group(p) ? "an object" : "an array") + ", got " + v.text());
    }
    const Field& field = *f.field;
    f.field = nullptr;
    // A list of counts takes an array; its elements are stored into the
    // list, never a single value into the record that holds it.
    if (field.type == FieldType::kCounts) return fail(path_, "expected an array, got " + v.text());
    if (!store(field, f.row, v, path_)) return false;
    if (f.kind == Frame::kArea && &field == &kAreaFields[0]) {
      for (unsigned char c : area_.name) {
        if (c == '/' || c == '\\') return fail("name", std::string("contains \"") + static_cast<char>(c) + "\"");
        if (c < 0x20 || c == 0x7f) return fail("name", "contains a control character");
      }
      // A server's new area is begun once named (a folder's is begun already).
      writer_->name_area(area_.name);
    }
    return true;
  }

  // Checks v against field and stores it into row. Message paths name p.
  bool store(const Field& field, void* row, const Seen& v, const std::string& p) {
    switch (field.type) {
      case FieldType::kText: {
        if (v.type != Seen::kString) return fail(p, "expected a string, got " + v.text());
        long bad = 0;
        std::string* out = static_cast<std::string*>(field.at(row));
        if (!utf8_to_latin1(*v.s, out, &bad)) {
          if (bad < 0) return fail(p, "not valid UTF-8");
          return fail(p, msg::not_latin1(static_cast<unsigned long>(bad)));
        }
        if (out->find('\0') != std::string::npos) return fail(p, msg::kContainsNul);
        if (is_name(field)) {
          if (unsigned char c = msg::first_control_character(*out)) return fail(p, msg::control_character(c));
        }
        if (out->size() > static_cast<size_t>(field.hi))
          return fail(p, msg::too_long(out->size(), field.hi));
        if (out->size() < static_cast<size_t>(field.lo)) return fail(p, msg::too_short(field.lo));
        return true;
      }
      case FieldType::kInt:
      case FieldType::kIndex:
      case FieldType::kCounts: {
        int64_t n = 0;
        int64_t lo = field.type == FieldType::kCounts ? INT16_MIN : field.lo;
        int64_t hi = field.type == FieldType::kCounts ? INT16_MAX : field.hi;
        if (!integer(v, lo, hi, p, &n)) return false;
        if (field.type == FieldType::kInt) *static_cast<int32_t*>(field.at(row)) = static_cast<int32_t>(n);
        else if (field.type == FieldType::kIndex) *static_cast<int64_t*>(field.at(row)) = n;
        else static_cast<std::vector<int32_t>*>(row)->push_back(static_cast<int32_t>(n));
        return true;
      }
      case FieldType::kReal:
        if (!v.number()) return fail(p, "expected a number, got " + v.text());
        *static_cast<double*>(field.at(row)) =
            v.type == Seen::kFloat ? v.d : v.type == Seen::kInt ? static_cast<double>(v.i) : static_cast<double>(v.u);
        return true;
      case FieldType::kFlag:
        if (v.type != Seen::kBool) return fail(p, "expected true or false, got " + v.text());
        *static_cast<bool*>(field.at(row)) = v.b;
        return true;
      case FieldType::kLength:
        break;
    }
    return fail(p, "unknown key");
  }

  bool integer(const Seen& v, int64_t lo, int64_t hi, const std::string& p, int64_t* out) {
    if (v.type == Seen::kUnsigned) {
      if (v.u > static_cast<uint64_t>(hi)) return range(p, std::to_string(v.u), lo, hi);
      *out = static_cast<int64_t>(v.u);
      return true;
    }
    if (v.type == Seen::kInt) {
      if (v.i < lo || v.i > hi) return range(p, std::to_string(v.i), lo, hi);
      *out = v.i;
      return true;
    }
    return fail(p, "expected an integer, got " + v.text());
  }

  bool range(const std::string& p, const std::string& value, int64_t lo, int64_t hi) {
    return fail(p, value + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  }

  // One element of a list of values: byte sizes, option texts, count slots.
  bool element(Frame& f, const Seen& v) {
    size_t index = f.count++;
    std::string p = path_.substr(0, f.path_size) + "[" + std::to_string(index) + "]";
    if (f.part == Part::kByteSize) {
      if (index >= 2) return true;  // the count is checked at the end
      int64_t n = 0;
      if (!integer(v, INT32_MIN, INT32_MAX, p, &n)) return false;
      static_cast<MarkerData*>(f.row)->byte_size[index] = static_cast<int32_t>(n);
      return true;
    }
    if (f.part == Part::kOptions) {
      auto* options = &static_cast<OrderModelData*>(f.row)->options;
      options->emplace_back();
      return store(*f.element, &options->back(), v, p);
    }
    if (index >= static_cast<size_t>(f.element->hi)) return true;  // the count is checked at the end
    return store(*f.element, f.row, v, p);
  }

  bool element_error(Frame& f, const Seen& v) {
    size_t index = f.count++;
    std::string p = path_.substr(0, f.path_size) + "[" + std::to_string(index) + "]";
    if (f.part == Part::kByteSize || (f.element && f.element->type == FieldType::kCounts))
      return fail(p, "expected an integer, got " + v.text());
    return fail(p, "expected a string, got " + v.text());
  }

  bool mismatch(const Field& field, const Seen& v) {
    const char* expected = field.type == FieldType::kText    ? "a string"
                           : field.type == FieldType::kReal  ? "a number"
                           : field.type == FieldType::kFlag  ? "true or false"
                           : field.type == FieldType::kCounts ? "an array"
                                                              : "an integer";
    return fail(path_, std::string("expected ") + expected + ", got " + v.text());
  }

  // An element of a list of items or records that is no object. An item
  // that is not an object has no name: the message names the list element.
  bool not_an_object(const Frame& list, const Seen& v) {
    std::string at = element_path(list);
    if (list.kind == Frame::kItemList) item_.clear();
    return fail(at, "expected an object, got " + v.text());
  }

  std::string element_path(const Frame& f) {
    if (f.kind == Frame::kItemList)
      return std::string(kListNames[static_cast<int>(f.part) - static_cast<int>(Part::kMarkers)]) + "[" +
             std::to_string(f.count) + "]";
    return path_.substr(0, f.path_size) + "[" + std::to_string(f.count) + "]";
  }

  bool push_area() {
    Frame a{Frame::kArea};
    static const Table kArea = table("area", "", "", false, kAreaFields);
    a.table = &kArea;
    a.row = &area_;
    frames_.push_back(a);
    return true;
  }

  bool fail_area(const Seen& v) {
    error_ = "expected a JSON object (the area), got " + v.text();
    return false;
  }

  void* item_common(const Frame& f) {
    if (f.table == &kMarkersTable) return static_cast<ItemCommon*>(&marker_);
    if (f.table == &kModelsTable) return static_cast<ItemCommon*>(&model_);
    return static_cast<ItemCommon*>(&order_);
  }

  bool start_item(Frame& list) {
    size_t index = list.count++;
    int k = static_cast<int>(list.part) - static_cast<int>(Part::kMarkers);
    item_ = std::string(kListNames[k]) + "[" + std::to_string(index) + "]";
    item_name_.clear();
    has_item_name_ = false;
    name_pending_ = false;
    path_.clear();
    static const Table* const kTables[] = {&kMarkersTable, &kModelsTable, &kOrdersTable, &kPiecesTable};
    Frame it{Frame::kItem};
    it.part = list.part;
    it.table = kTables[kListKinds[k]];
    it.row = fresh_item(kListKinds[k]);
    frames_.push_back(it);
    return true;
  }

  // The struct of an item of kind, reset to the defaults of every key.
  void* fresh_item(Kind kind) {
    switch (kind) {
      case kMarker: return &(marker_ = MarkerData{});
      case kModel: return &(model_ = ModelData{});
      case kPiece: return &(piece_ = PieceData{});
      case kOrder: return &(order_ = OrderData{});
    }
    return nullptr;
  }

  bool start_record(Frame& list) {
    std::string p = element_path(list);
    ++list.count;
    Frame r{Frame::kRecord};
    r.path_size = p.size();
    path_ = p;
    switch (list.part) {
      case Part::kMarkerPieces: {
        auto& v = static_cast<MarkerData*>(list.row)->pieces;
        r.table = &kMarkerPiecesTable, r.row = &v.emplace_back();
        break;
      }
      case Part::kOverrides: {
        auto& v = static_cast<MarkerData*>(list.row)->overrides;
        r.table = &kOverridesTable, r.row = &v.emplace_back();
        break;
      }
      case Part::kSplices: {
        auto& v = static_cast<MarkerData*>(list.row)->splices;
        r.table = &kSplicesTable, r.row = &v.emplace_back();
        break;
      }
      case Part::kOrderModels: {
        auto& v = list.row == &marker_ ? marker_.models : order_.models;
        r.table = &kOrderModelsTable, r.row = &v.emplace_back();
        break;
      }
      case Part::kModelPieces: {
        auto& v = list.row == &model_ ? model_.pieces : static_cast<OptionGroupData*>(list.row)->pieces;
        r.table = &kModelPiecesTable, r.row = &v.emplace_back();
        break;
      }
      case Part::kOptionGroups: {
        r.table = &kOptionGroupsTable, r.row = &model_.option_groups.emplace_back();
        break;
      }
      case Part::kSizes: {
        auto& v = static_cast<OrderModelData*>(list.row)->sizes;
        r.table = &kSizesTable, r.row = &v.emplace_back();
        break;
      }
      default:
        return fail(p, "expected an array");
    }
    frames_.push_back(r);
    return true;
  }

  // The item is complete: checks what only the whole item shows and hands
  // it to the writer.
  bool end_item(Frame& f) {
    path_.clear();
    for (const Field& field : *f.table) {
      uint64_t bit = uint64_t{1} << (&field - f.table->begin());
      if (field.required && !(f.fields_seen & bit)) return fail(field.key, "missing (required)");
    }
    int k = static_cast<int>(f.part) - static_cast<int>(Part::kMarkers);
    Kind kind = kListKinds[k];
    int64_t id = writer_->count(kind) + 1;
    quire::Status added;
    switch (kind) {
      case kMarker:
        if (!(f.fields_seen & (uint64_t{1} << (kMarkerNameField - kMarkersTable.begin()))))
          marker_.header.name = marker_.name;
        added = writer_->add_marker(id, marker_);
        break;
      case kModel:
        added = writer_->add_model(id, model_);
        break;
      case kPiece:
        added = writer_->add_piece(id, piece_);
        break;
      case kOrder:
        added = writer_->add_order(id, order_);
        break;
    }
    if (added.ok()) {
      item_.clear();
      return true;
    }
    const std::string& name = *static_cast<std::string*>(f.table->fields[0].at(f.row));
    int64_t first = 0;
    std::string stored;
    if (!writer_->duplicate() || !writer_->find_item(kind, name, &first, &stored)) {
      item_.clear();
      writer_failure_ = added;
      error_ = added.message();
      return false;
    }
    return fail("name", msg::duplicate_name(std::string(kListNames[k]) + "[" + std::to_string(first - 1) + "] " +
                                            quoted_text(stored, TextEncoding::kLatin1)));
  }

  void pop() {
    Frame done = frames_.back();
    frames_.pop_back();
    if (frames_.empty()) return;
    Frame& parent = frames_.back();
    // The header's keys are fields of the marker's own table.
    if (done.kind == Frame::kGroup && done.table == parent.table) parent.fields_seen |= done.fields_seen;
    if (parent.kind == Frame::kItemList) path_.clear();  // item paths start inside the item
    else path_.resize(parent.path_size);
  }

  // Records the first error, `<item>: <path>: <message>`. Inside an item
  // whose name is not read yet, the rest of the item is read for its name.
  bool fail(const std::string& p, const std::string& message) {
    if (failed()) return false;
    pending_path_ = p;
    pending_message_ = message;
    error_ = compose();
    if (!item_.empty() && !has_item_name_) {
      // Depth within the item: its own keys are at depth 1; a container
      // whose start failed is open too, one whose end failed is not.
      size_t depth = 0;
      for (size_t i = frames_.size(); i-- > 0 && frames_[i].kind != Frame::kItemList;) ++depth;
      if (depth > 0 && opening_) ++depth;
      if (depth > 0 && closing_) --depth;
      if (depth > 0) {
        skipping_ = true;
        skip_depth_ = depth;
        skip_name_ = false;
        return true;
      }
    }
    return false;
  }

  std::string compose() const {
    std::string label = item_;
    if (!label.empty() && has_item_name_) label += " " + quoted_text(item_name_);
    return (label.empty() ? "" : label + ": ") + pending_path_ + ": " + pending_message_;
  }

  bool skip_open() {
    ++skip_depth_;
    skip_name_ = false;
    return true;
  }
  bool skip_close() {
    skip_name_ = false;
    if (--skip_depth_ > 0) return true;
    error_ = compose();
    return false;  // the item is over: stop with its message
  }

 public:
  // Called when parsing stopped for a reason of its own while skipping.
  void settle() {
    if (skipping_) error_ = compose();
  }

 private:
  static inline const Field* const kMarkerNameField = kMarkersTable.find("name", "header");

  AreaWriter* writer_;
  quire::Status writer_failure_;  // the writer's failure to add an item
  AreaData area_;  // the area's own keys (its lists stay empty)
  MarkerData marker_;
  ModelData model_;
  PieceData piece_;
  OrderData order_;
  std::vector<Frame> frames_;
  std::string path_;       // the key path inside the item (or the area)
  std::string item_;       // "markers[3]" while inside an item
  std::string item_name_;  // the item's "name" as written (UTF-8)
  bool has_item_name_ = false;
  bool name_pending_ = false;
  std::string error_;
  std::string pending_path_, pending_message_;
  bool skipping_ = false;
  bool opening_ = false;  // in start_object / start_array
  bool closing_ = false;  // in end_object / end_array
  size_t skip_depth_ = 0;
  bool skip_name_ = false;
};

// A buffered reader of an input file with the input iterator nlohmann's
// parser reads from; read errors are kept for the message.
class BufferedInput {
 public:
  explicit BufferedInput(InputFile* file) : file_(file) {}
  int peek() {
    if (pos_ == len_ && !fill()) return EOF;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  void advance() { ++pos_; }
  int error() const { return file_->error(); }

  // The first bytes of the input, at least want of them unless it is
  // shorter; call before anything is read.
  std::string_view head(size_t want) {
    while (len_ < want && len_ < sizeof buf_ && !eof_) {
      long n = file_->read(buf_ + len_, sizeof buf_ - len_);
      if (n <= 0) {
        eof_ = true;
        break;
      }
      len_ += static_cast<size_t>(n);
    }
    return std::string_view(buf_ + pos_, len_ - pos_);
  }

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;
    explicit Iterator(BufferedInput* in = nullptr) : in_(in) {}
    char operator*() const { return static_cast<char>(in_->peek()); }
    Iterator& operator++() {
      in_->advance();
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      in_->advance();
      return old;
    }
    bool operator==(const Iterator& o) const { return at_end() == o.at_end(); }
    bool operator!=(const Iterator& o) const { return !(*this == o); }

   private:
    bool at_end() const { return !in_ || in_->peek() == EOF; }
    BufferedInput* in_;
  };

 private:
  bool fill() {
    if (eof_) return false;
    long n = file_->read(buf_, sizeof buf_);
    if (n > 0) {
      pos_ = 0;
      len_ = static_cast<size_t>(n);
      return true;
    }
    eof_ = true;
    return false;
  }

  InputFile* file_;
  char buf_[1 << 16];
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

// Reads the area from [first, last) into a new area file and puts it in
// place; read_failure tells a failure to read the input, which ends it
// early as if it were complete.
template <typename Iterator>
quire::Status import_from(Iterator first, Iterator last, AreaSummary* summary,
                          const std::function<quire::Status()>& read_failure) {
  AreaWriter writer;
  quire::Status status = writer.begin();
  if (!status.ok()) return status;
  AreaParser parser(&writer);
  bool parsed = false;
  try {
    parsed = json::sax_parse(first, last, &parser);
  } catch (const json::exception& e) {
    return quire::Status::failure(quire::StatusCode::kInvalid, "malformed JSON: " + parser_message(e.what()));
  }
  if (status = read_failure(); !status.ok()) return status;
  if (!parsed) {
    parser.settle();
    return parser.status();
  }
  if (!parser.finish()) return parser.status();
  return writer.commit(parser.area().name, summary);
}

}  // namespace

quire::Status import_area_json(std::string_view json_text, AreaSummary* summary) {
  return fenced([&] { return import_from(json_text.begin(), json_text.end(), summary, [] { return quire::Status(); }); });
}

quire::Status import_area_file(const std::string& path, AreaSummary* summary) {
  return fenced([&] {
    InputFile file;
    if (!file.open(path)) {
      const char* reason = std::strerror(file.error());
      return file_failure(file.error(), file.opened() ? msg::cannot_read(reason) : msg::cannot_open(reason), path);
    }
    auto input = std::make_unique<BufferedInput>(&file);
    // A pattern file given where an area file is read (standard input, a
    // pipe): its bytes are not JSON, and pattern files are read twice, so by
    // name only.
    if (looks_like_dxf(input->head(64)) && !input->error())
      return quire::Status::failure(quire::StatusCode::kInvalid,
                                    "a pattern file (DXF), not an area file (JSON); pattern files are read by name",
                                    path);
    return import_from(BufferedInput::Iterator(input.get()), BufferedInput::Iterator(), summary, [&] {
      if (!input->error()) return quire::Status();
      return file_failure(input->error(), msg::cannot_read(std::strerror(input->error())), path);
    });
  });
}

}  // namespace quire::areas
