// Reading an area file (JSON) into an AreaData, checking every key, type,
// range and text length, and importing it.
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>

#include "area_data.h"
#include "area_store.h"
#include "area_writer.h"
#include "internal.h"

namespace plotbase {

namespace {

using nlohmann::json;

std::string describe(const json& v) {
  switch (v.type()) {
    case json::value_t::object: return "an object";
    case json::value_t::array: return "an array";
    case json::value_t::string: {
      std::string s = v.get<std::string>();
      if (s.size() > 24) s = s.substr(0, 21) + "...";
      return "the string " + json(s).dump();
    }
    case json::value_t::boolean: return v.get<bool>() ? "true" : "false";
    case json::value_t::null: return "null";
    default: return v.dump();
  }
}

std::string join(const std::string& path, const char* key) { return path.empty() ? key : path + "." + key; }
std::string index_path(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

// Reads values out of the parsed JSON, recording the first error as
// `<item>: <path>: <message>`.
class Reader {
 public:
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  void set_item(std::string label) { item_ = std::move(label); }

  bool fail(const std::string& path, const std::string& message) {
    if (error_.empty()) error_ = (item_.empty() ? "" : item_ + ": ") + path + ": " + message;
    return false;
  }

  bool object(const json& v, const std::string& path) {
    if (v.is_object()) return true;
    return fail(path, "expected an object, got " + describe(v));
  }

  bool keys(const json& obj, const std::string& path, std::initializer_list<const char*> allowed) {
    for (auto it = obj.begin(); it != obj.end(); ++it) {
      bool known = false;
      for (const char* k : allowed)
        if (it.key() == k) known = true;
      if (!known) return fail(join(path, it.key().c_str()), "unknown key");
    }
    return true;
  }

  // A text of min..max characters (Latin-1), converted to single bytes.
  bool text(const json& obj, const char* key, const std::string& path, size_t max, std::string* out,
            bool required = false, size_t min = 0) {
    auto it = obj.find(key);
    std::string p = join(path, key);
    if (it == obj.end()) {
      if (required) return fail(p, "missing (required)");
      return true;
    }
    return text_value(*it, p, max, out, min);
  }

  bool text_value(const json& v, const std::string& p, size_t max, std::string* out, size_t min = 0) {
    if (!v.is_string()) return fail(p, "expected a string, got " + describe(v));
    const std::string& utf8 = v.get_ref<const std::string&>();
    long bad = 0;
    std::string latin1;
    if (!utf8_to_latin1(utf8, &latin1, &bad)) {
      char buf[64];
      if (bad < 0) return fail(p, "not valid UTF-8");
      std::snprintf(buf, sizeof buf, "character U+%04lX is not in Latin-1", static_cast<unsigned long>(bad));
      return fail(p, buf);
    }
    if (latin1.find('\0') != std::string::npos) return fail(p, "contains a NUL character");
    if (latin1.size() > max)
      return fail(p, std::to_string(latin1.size()) + " characters, at most " + std::to_string(max));
    if (latin1.size() < min) return fail(p, "empty, at least " + std::to_string(min) + " character");
    *out = std::move(latin1);
    return true;
  }

  bool integer(const json& obj, const char* key, const std::string& path, int64_t lo, int64_t hi,
               int32_t* out, bool required = false) {
    auto it = obj.find(key);
    std::string p = join(path, key);
    if (it == obj.end()) {
      if (required) return fail(p, "missing (required)");
      return true;
    }
    int64_t v = 0;
    if (!integer_value(*it, p, lo, hi, &v)) return false;
    *out = static_cast<int32_t>(v);
    return true;
  }

  bool integer_value(const json& v, const std::string& p, int64_t lo, int64_t hi, int64_t* out) {
    if (v.is_number_unsigned()) {
      uint64_t u = v.get<uint64_t>();
      if (u > static_cast<uint64_t>(hi)) return range(p, v.dump(), lo, hi);
      *out = static_cast<int64_t>(u);
      return true;
    }
    if (v.is_number_integer()) {
      int64_t i = v.get<int64_t>();
      if (i < lo || i > hi) return range(p, v.dump(), lo, hi);
      *out = i;
      return true;
    }
    return fail(p, "expected an integer, got " + describe(v));
  }

  bool range(const std::string& p, const std::string& value, int64_t lo, int64_t hi) {
    return fail(p, value + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  }

  bool real(const json& obj, const char* key, const std::string& path, double* out) {
    auto it = obj.find(key);
    if (it == obj.end()) return true;
    if (!it->is_number()) return fail(join(path, key), "expected a number, got " + describe(*it));
    *out = it->get<double>();
    return true;
  }

  bool boolean(const json& obj, const char* key, const std::string& path, bool* out) {
    auto it = obj.find(key);
    if (it == obj.end()) return true;
    if (!it->is_boolean()) return fail(join(path, key), "expected true or false, got " + describe(*it));
    *out = it->get<bool>();
    return true;
  }

  // The array under key (null when absent); fails when it is no array.
  const json* array(const json& obj, const char* key, const std::string& path) {
    auto it = obj.find(key);
    if (it == obj.end()) return nullptr;
    if (!it->is_array()) return fail(join(path, key), "expected an array, got " + describe(*it)), nullptr;
    return &*it;
  }

 private:
  std::string item_;
  std::string error_;
};

constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();

bool read_faults(Reader& r, const json& obj, const std::string& path, FaultSpec* f) {
  auto it = obj.find("faults");
  if (it == obj.end()) return true;
  std::string p = join(path, "faults");
  if (!r.object(*it, p)) return false;
  const json& o = *it;
  if (!r.keys(o, p, {"open", "close", "header", "header_ex", "analysis", "ordmod", "model", "piece_at",
                     "override_at", "splice_at", "model_list_at"}))
    return false;
  struct B {
    const char* key;
    bool FaultSpec::*m;
  };
  for (B b : {B{"open", &FaultSpec::open}, B{"close", &FaultSpec::close}, B{"header", &FaultSpec::header},
              B{"header_ex", &FaultSpec::header_ex}, B{"analysis", &FaultSpec::analysis},
              B{"ordmod", &FaultSpec::ordmod}, B{"model", &FaultSpec::model}})
    if (!r.boolean(o, b.key, p, &(f->*b.m))) return false;
  struct I {
    const char* key;
    int64_t FaultSpec::*m;
  };
  for (I i : {I{"piece_at", &FaultSpec::piece_at}, I{"override_at", &FaultSpec::override_at},
              I{"splice_at", &FaultSpec::splice_at}, I{"model_list_at", &FaultSpec::model_list_at}}) {
    auto v = o.find(i.key);
    if (v == o.end()) continue;
    int64_t n = 0;
    if (!r.integer_value(*v, join(p, i.key), 0, kI32Max, &n)) return false;
    f->*i.m = n;
  }
  return true;
}

bool read_common(Reader& r, const json& o, ItemCommon* item) {
  if (!r.text(o, "name", "", 20, &item->name, true, 1)) return false;
  if (!r.integer(o, "modified", "", kI32Min, kI32Max, &item->modified, true)) return false;
  if (!r.integer(o, "created", "", kI32Min, kI32Max, &item->created)) return false;
  if (!r.integer(o, "prev_modified", "", kI32Min, kI32Max, &item->prev_modified)) return false;
  if (!r.text(o, "user_last_mod", "", 43, &item->user_last_mod)) return false;
  if (!r.text(o, "user_created", "", 43, &item->user_created)) return false;
  if (!r.text(o, "user_prev_mod", "", 43, &item->user_prev_mod)) return false;
  return read_faults(r, o, "", &item->faults);
}

bool read_order_models(Reader& r, const json& o, const std::string& path, std::vector<OrderModelData>* out) {
  const json* list = r.array(o, "models", path);
  if (r.failed()) return false;
  if (!list) return true;
  std::string lp = join(path, "models");
  for (size_t i = 0; i < list->size(); ++i) {
    const json& e = (*list)[i];
    std::string p = index_path(lp, i);
    if (!r.object(e, p)) return false;
    if (!r.keys(e, p, {"name", "alteration", "dynamic", "size_code", "fabric", "add_piece_bundle", "options",
                       "sizes"}))
      return false;
    OrderModelData m;
    if (!r.text(e, "name", p, 20, &m.name) || !r.text(e, "alteration", p, 20, &m.alteration) ||
        !r.text(e, "dynamic", p, 20, &m.dynamic) || !r.text(e, "size_code", p, 20, &m.size_code) ||
        !r.text(e, "fabric", p, 5, &m.fabric) ||
        !r.integer(e, "add_piece_bundle", p, kI32Min, kI32Max, &m.add_piece_bundle))
      return false;
    const json* options = r.array(e, "options", p);
    if (r.failed()) return false;
    if (options) {
      for (size_t k = 0; k < options->size(); ++k) {
        std::string t;
        if (!r.text_value((*options)[k], index_path(join(p, "options"), k), 7, &t)) return false;
        m.options.push_back(std::move(t));
      }
    }
    const json* sizes = r.array(e, "sizes", p);
    if (r.failed()) return false;
    if (sizes) {
      for (size_t k = 0; k < sizes->size(); ++k) {
        const json& s = (*sizes)[k];
        std::string sp = index_path(join(p, "sizes"), k);
        if (!r.object(s, sp)) return false;
        if (!r.keys(s, sp, {"size", "quantity", "cutdown", "half_piece", "base_size", "direction", "placed"}))
          return false;
        SizeEntryData z;
        if (!r.text(s, "size", sp, 7, &z.size) || !r.integer(s, "quantity", sp, kI32Min, kI32Max, &z.quantity) ||
            !r.text(s, "cutdown", sp, 6, &z.cutdown) || !r.text(s, "half_piece", sp, 6, &z.half_piece) ||
            !r.text(s, "base_size", sp, 7, &z.base_size) ||
            !r.integer(s, "direction", sp, kI32Min, kI32Max, &z.direction) ||
            !r.integer(s, "placed", sp, kI32Min, kI32Max, &z.placed))
          return false;
        m.sizes.push_back(std::move(z));
      }
    }
    out->push_back(std::move(m));
  }
  return true;
}

bool read_marker(Reader& r, const json& o, MarkerData* m) {
  if (!r.keys(o, "", {"name", "modified", "created", "prev_modified", "user_last_mod", "user_created",
                      "user_prev_mod", "faults", "byte_size", "header", "analysis", "pieces", "overrides",
                      "splices", "models"}))
    return false;
  if (!read_common(r, o, m)) return false;
  m->header.name = m->name;
  if (const json* bs = r.array(o, "byte_size", "")) {
    if (bs->size() != 2) return r.fail("byte_size", "expected 2 integers, got " + std::to_string(bs->size()));
    for (size_t i = 0; i < 2; ++i) {
      int64_t v = 0;
      if (!r.integer_value((*bs)[i], index_path("byte_size", i), kI32Min, kI32Max, &v)) return false;
      m->byte_size[i] = static_cast<int32_t>(v);
    }
  }
  if (r.failed()) return false;
  auto h = o.find("header");
  if (h != o.end()) {
    if (!r.object(*h, "header")) return false;
    std::vector<const char*> allowed;
    for (const auto& f : kHeaderTexts) allowed.push_back(f.key);
    for (const auto& f : kHeaderReals) allowed.push_back(f.key);
    for (const auto& f : kHeaderInts) allowed.push_back(f.key);
    for (auto it = h->begin(); it != h->end(); ++it) {
      if (std::none_of(allowed.begin(), allowed.end(), [&](const char* k) { return it.key() == k; }))
        return r.fail(join("header", it.key().c_str()), "unknown key");
    }
    for (const auto& f : kHeaderTexts)
      if (!r.text(*h, f.key, "header", 20, &(m->header.*f.member))) return false;
    for (const auto& f : kHeaderReals)
      if (!r.real(*h, f.key, "header", &(m->header.*f.member))) return false;
    for (const auto& f : kHeaderInts)
      if (!r.integer(*h, f.key, "header", kI32Min, kI32Max, &(m->header.*f.member))) return false;
  }
  auto a = o.find("analysis");
  if (a != o.end()) {
    if (!r.object(*a, "analysis")) return false;
    for (auto it = a->begin(); it != a->end(); ++it) {
      bool known = false;
      for (const auto& f : kAnalysisReals) known |= it.key() == f.key;
      for (const auto& f : kAnalysisInts) known |= it.key() == f.key;
      for (const auto& f : kAnalysisLists) known |= it.key() == f.key;
      if (!known) return r.fail(join("analysis", it.key().c_str()), "unknown key");
    }
    for (const auto& f : kAnalysisReals)
      if (!r.real(*a, f.key, "analysis", &(m->analysis.*f.member))) return false;
    for (const auto& f : kAnalysisInts) {
      int64_t lo = f.int16 ? -32768 : kI32Min, hi = f.int16 ? 32767 : kI32Max;
      if (!r.integer(*a, f.key, "analysis", lo, hi, &(m->analysis.*f.member))) return false;
    }
    for (const auto& f : kAnalysisLists) {
      const json* list = r.array(*a, f.key, "analysis");
      if (r.failed()) return false;
      if (!list) continue;
      std::string p = join("analysis", f.key);
      if (list->size() > f.slots)
        return r.fail(p, std::to_string(list->size()) + " slots, at most " + std::to_string(f.slots));
      std::vector<int32_t>& out = m->analysis.*f.member;
      for (size_t i = 0; i < list->size(); ++i) {
        int64_t v = 0;
        if (!r.integer_value((*list)[i], index_path(p, i), -32768, 32767, &v)) return false;
        out.push_back(static_cast<int32_t>(v));
      }
    }
  }
  if (const json* pieces = r.array(o, "pieces", "")) {
    for (size_t i = 0; i < pieces->size(); ++i) {
      const json& e = (*pieces)[i];
      std::string p = index_path("pieces", i);
      if (!r.object(e, p) || !r.keys(e, p, {"name", "category", "area", "perimeter", "size"})) return false;
      MarkerPieceData mp;
      if (!r.text(e, "name", p, 20, &mp.name) || !r.text(e, "category", p, 20, &mp.category) ||
          !r.real(e, "area", p, &mp.area) || !r.real(e, "perimeter", p, &mp.perimeter) ||
          !r.text(e, "size", p, 9, &mp.size))
        return false;
      m->pieces.push_back(std::move(mp));
    }
  }
  if (r.failed()) return false;
  if (const json* overrides = r.array(o, "overrides", "")) {
    for (size_t i = 0; i < overrides->size(); ++i) {
      const json& e = (*overrides)[i];
      std::string p = index_path("overrides", i);
      if (!r.object(e, p) || !r.keys(e, p, {"piece", "right", "override", "size", "model"})) return false;
      OverrideData ov;
      if (!r.text(e, "piece", p, 20, &ov.piece) || !r.integer(e, "right", p, 0, 255, &ov.right) ||
          !r.text(e, "override", p, 10, &ov.override_text) || !r.text(e, "size", p, 6, &ov.size) ||
          !r.text(e, "model", p, 27, &ov.model))
        return false;
      m->overrides.push_back(std::move(ov));
    }
  }
  if (r.failed()) return false;
  if (const json* splices = r.array(o, "splices", "")) {
    for (size_t i = 0; i < splices->size(); ++i) {
      const json& e = (*splices)[i];
      std::string p = index_path("splices", i);
      if (!r.object(e, p) || !r.keys(e, p, {"start", "length"})) return false;
      SpliceData sp;
      if (!r.real(e, "start", p, &sp.start) || !r.real(e, "length", p, &sp.length)) return false;
      m->splices.push_back(sp);
    }
  }
  if (r.failed()) return false;
  return read_order_models(r, o, "", &m->models);
}

bool read_model_pieces(Reader& r, const json& o, const std::string& path, std::vector<ModelPieceData>* out) {
  const json* list = r.array(o, "pieces", path);
  if (r.failed()) return false;
  if (!list) return true;
  std::string lp = join(path, "pieces");
  for (size_t i = 0; i < list->size(); ++i) {
    const json& e = (*list)[i];
    std::string p = index_path(lp, i);
    if (!r.object(e, p) || !r.keys(e, p, {"name", "fabric", "type", "as_in", "mirror_x", "mirror_y", "mirror_xy",
                                          "half", "dy_sp", "add_piece"}))
      return false;
    ModelPieceData mp;
    if (!r.text(e, "name", p, 20, &mp.name) || !r.text(e, "fabric", p, 29, &mp.fabric)) return false;
    struct F {
      const char* key;
      int32_t ModelPieceData::*m;
    };
    for (F f : {F{"type", &ModelPieceData::type}, F{"as_in", &ModelPieceData::as_in},
                F{"mirror_x", &ModelPieceData::mirror_x}, F{"mirror_y", &ModelPieceData::mirror_y},
                F{"mirror_xy", &ModelPieceData::mirror_xy}, F{"half", &ModelPieceData::half},
                F{"dy_sp", &ModelPieceData::dy_sp}, F{"add_piece", &ModelPieceData::add_piece}})
      if (!r.integer(e, f.key, p, -128, 127, &(mp.*f.m))) return false;
    out->push_back(std::move(mp));
  }
  return true;
}

bool read_model(Reader& r, const json& o, ModelData* m) {
  if (!r.keys(o, "", {"name", "modified", "created", "prev_modified", "user_last_mod", "user_created",
                      "user_prev_mod", "faults", "comment1", "comment2", "pieces", "option_groups"}))
    return false;
  if (!read_common(r, o, m)) return false;
  if (!r.text(o, "comment1", "", 40, &m->comment1) || !r.text(o, "comment2", "", 41, &m->comment2)) return false;
  if (!read_model_pieces(r, o, "", &m->pieces)) return false;
  const json* groups = r.array(o, "option_groups", "");
  if (r.failed()) return false;
  if (groups) {
    for (size_t i = 0; i < groups->size(); ++i) {
      const json& e = (*groups)[i];
      std::string p = index_path("option_groups", i);
      if (!r.object(e, p) || !r.keys(e, p, {"option", "pieces"})) return false;
      OptionGroupData g;
      if (!r.text(e, "option", p, 7, &g.option) || !read_model_pieces(r, e, p, &g.pieces)) return false;
      m->option_groups.push_back(std::move(g));
    }
  }
  return true;
}

bool read_order(Reader& r, const json& o, OrderData* m) {
  if (!r.keys(o, "", {"name", "modified", "created", "prev_modified", "user_last_mod", "user_created",
                      "user_prev_mod", "faults", "models"}))
    return false;
  if (!read_common(r, o, m)) return false;
  return read_order_models(r, o, "", &m->models);
}

bool read_piece(Reader& r, const json& o, PieceData* p) {
  if (!r.keys(o, "", {"name", "category", "description", "faults"})) return false;
  if (!r.text(o, "name", "", 20, &p->name, true, 1) || !r.text(o, "category", "", 20, &p->category) ||
      !r.text(o, "description", "", 113, &p->description))
    return false;
  return read_faults(r, o, "", &p->faults);
}

std::string folded(const std::string& name) {
  std::string f = name;
  for (char& c : f) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
  return f;
}

// Reads the list of one kind: each element an object, names unique.
template <typename T, typename ReadFn>
bool read_items(Reader& r, const json& root, const char* kind, std::vector<T>* out, ReadFn read) {
  const json* list = r.array(root, kind, "");
  if (r.failed()) return false;
  if (!list) return true;
  std::unordered_map<std::string, size_t> seen;
  out->reserve(list->size());
  for (size_t i = 0; i < list->size(); ++i) {
    const json& e = (*list)[i];
    std::string label = index_path(kind, i);
    if (e.is_object()) {
      auto n = e.find("name");
      if (n != e.end() && n->is_string()) label += " " + json(n->get<std::string>()).dump();
    }
    r.set_item(label);
    if (!e.is_object()) {
      r.set_item("");
      return r.fail(label, "expected an object, got " + describe(e));
    }
    T item;
    if (!read(r, e, &item)) return false;
    auto [it, inserted] = seen.emplace(folded(item.name), i);
    if (!inserted) {
      const json& first = (*list)[it->second];
      return r.fail("name", "duplicates " + index_path(kind, it->second) + " " +
                                json(first["name"].get<std::string>()).dump() +
                                " (names are compared without regard to case)");
    }
    out->push_back(std::move(item));
  }
  r.set_item("");
  return true;
}

template <typename T>
void sort_by_name(std::vector<T>* items) {
  std::stable_sort(items->begin(), items->end(),
                   [](const T& a, const T& b) { return pb_stricmp(a.name.c_str(), b.name.c_str()) < 0; });
}

// "[json.exception.parse_error.101] parse error at line 1, column 5: ..." ->
// "malformed JSON at line 1, column 5: ..."
std::string parse_error_text(const json::parse_error& e) {
  std::string what = e.what();
  size_t at = what.find("parse error");
  if (at != std::string::npos) what = what.substr(at + std::strlen("parse error"));
  else what = ": " + what;
  return "malformed JSON" + what;
}

}  // namespace

bool parse_area_json(std::string_view text, AreaData* area, std::string* error) {
  json root;
  try {
    root = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& e) {
    *error = parse_error_text(e);
    return false;
  } catch (const std::exception& e) {
    *error = std::string("malformed JSON: ") + e.what();
    return false;
  }
  Reader r;
  if (!root.is_object()) {
    *error = "expected a JSON object (the area), got " + describe(root);
    return false;
  }
  bool ok = r.keys(root, "", {"name", "notation", "precision", "markers", "models", "pieces", "orders"}) &&
            r.text(root, "name", "", 20, &area->name, true, 1) &&
            r.integer(root, "notation", "", 0, 1, &area->notation) &&
            r.integer(root, "precision", "", 0, 9, &area->precision);
  if (ok) {
    for (unsigned char c : area->name) {
      if (c == '/' || c == '\\') {
        ok = r.fail("name", std::string("contains \"") + static_cast<char>(c) + "\"");
        break;
      }
      if (c < 0x20 || c == 0x7f) {
        ok = r.fail("name", "contains a control character");
        break;
      }
    }
  }
  ok = ok && read_items(r, root, "markers", &area->markers, read_marker) &&
       read_items(r, root, "models", &area->models, read_model) &&
       read_items(r, root, "pieces", &area->pieces, read_piece) &&
       read_items(r, root, "orders", &area->orders, read_order);
  if (!ok) {
    *error = r.error();
    return false;
  }
  return true;
}

bool write_area(AreaData& area, std::string* error, AreaSummary* summary) {
  sort_by_name(&area.markers);
  sort_by_name(&area.models);
  sort_by_name(&area.pieces);
  sort_by_name(&area.orders);
  AreaWriter w;
  if (!w.begin(area.name, area.notation, area.precision, error)) return false;
  int64_t id = 0;
  for (const auto& m : area.markers)
    if (!w.add_marker(++id, m, error)) return false;
  id = 0;
  for (const auto& m : area.models)
    if (!w.add_model(++id, m, error)) return false;
  id = 0;
  for (const auto& p : area.pieces)
    if (!w.add_piece(++id, p, error)) return false;
  id = 0;
  for (const auto& o : area.orders)
    if (!w.add_order(++id, o, error)) return false;
  std::string path;
  if (!w.commit(error, &path)) return false;
  if (summary) {
    summary->name = area.name;
    summary->markers = static_cast<int64_t>(area.markers.size());
    summary->models = static_cast<int64_t>(area.models.size());
    summary->pieces = static_cast<int64_t>(area.pieces.size());
    summary->orders = static_cast<int64_t>(area.orders.size());
    summary->path = path;
    summary->error.clear();
  }
  return true;
}

bool import_area_json(std::string_view json_text, std::string* error, AreaSummary* summary) {
  std::string scratch;
  if (!error) error = &scratch;
  AreaData area;
  if (!parse_area_json(json_text, &area, error)) return false;
  return write_area(area, error, summary);
}

}  // namespace plotbase
