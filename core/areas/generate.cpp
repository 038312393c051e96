// Synthetic areas for the demo, the tests and the benchmarks: plausible
// values in every field, the same for the same options. Markers are made
// and written one at a time, so memory stays flat however many there are.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "area_store.h"
#include "area_writer.h"
#include "failures.h"
#include "store_names.h"

namespace quire::areas {

namespace {

// splitmix64: small, fast and the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed ^ 0x9E3779B97F4A7C15ull) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  uint64_t below(uint64_t n) { return n ? next() % n : 0; }
  int32_t range(int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(below(static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1)));
  }
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  // A value in lo..hi rounded to the given decimals.
  double real(double lo, double hi, int decimals = 2) {
    double scale = std::pow(10.0, decimals);
    return std::round((lo + (hi - lo) * unit()) * scale) / scale;
  }
  bool chance(double p) { return unit() < p; }
  template <typename T, size_t N>
  const T& pick(const T (&list)[N]) {
    return list[below(N)];
  }
  template <typename T>
  const T& pick(const std::vector<T>& list) {
    return list[below(list.size())];
  }

 private:
  uint64_t state_;
};

constexpr double kCmPerInch = 2.54;

std::string numbered(const char* prefix, int64_t n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%0*lld", prefix, width, static_cast<long long>(n));
  return buf;
}

int digits_for(int64_t n, int min) {
  int d = 1;
  for (int64_t v = n; v >= 10; v /= 10) ++d;
  return std::max(d, min);
}

const char* const kUsers[] = {"ahmed", "birgit", "carlos", "dana", "elena", "farid", "grace", "hiroshi",
                              "ines", "jonas", "keiko", "lars", "maria.lopez", "nils", "olga", "pieter"};
const char* const kPieceParts[] = {"FRONT", "BACK", "SLEEVE", "COLLAR", "CUFF", "POCKET", "YOKE", "FACING",
                                   "WAISTBAND", "PLACKET", "BELT", "HOOD", "LINING", "FLAP", "GUSSET", "STRAP"};
const char* const kCategories[] = {"SHELL", "LINING", "FUSING", "POCKETING", "TRIM", "CONTRAST"};
const char* const kFabrics[] = {"DENIM", "TWILL", "JERSY", "POPLN", "FLEEC", "CANVS", "SATIN", "LINEN"};
const char* const kOptions[] = {"LONG", "SHORT", "LINED", "POCKET", "ZIP", "BELTED", "HOOD", "VENT"};
const char* const kSizes[] = {"XS", "S", "M", "L", "XL", "XXL", "34", "36", "38", "40", "42", "44", "46"};
const char* const kSizeCodes[] = {"REG", "TALL", "PETITE", "PLUS", "SLIM"};
const char* const kStyles[] = {"shirt", "blouse", "jacket", "trousers", "skirt", "dress", "coat", "vest"};
const char* const kOverrides[] = {"ROT180", "FLIPX", "FLIPY", "NOBUF", "TILT2", "SHRINK1"};
const char* const kMatching[] = {"NONE", "STRIPE", "PLAID", "CHECK"};
const char* const kNotches[] = {"V-NOTCH", "SLIT", "T-NOTCH", "U-NOTCH"};

// Times between 2006-01-01 and 2024-12-31, ordered created < previous < modified.
struct Times {
  int32_t created, prev, modified;
};
Times make_times(Rng& rng) {
  const int32_t lo = 1136073600, hi = 1735603200;
  int32_t modified = rng.range(lo + 86400 * 60, hi);
  int32_t created = rng.range(lo, modified - 86400 * 30);
  int32_t prev = rng.range(created, modified - 1);
  return {created, prev, modified};
}

void fill_common(Rng& rng, ItemCommon* item) {
  Times t = make_times(rng);
  item->modified = t.modified;
  item->created = rng.chance(0.05) ? -1 : t.created;
  item->prev_modified = rng.chance(0.1) ? -1 : t.prev;
  item->user_last_mod = rng.pick(kUsers);
  item->user_created = rng.pick(kUsers);
  item->user_prev_mod = item->prev_modified == -1 ? "" : rng.pick(kUsers);
}

ModelPieceData make_model_piece(Rng& rng, const std::string& name) {
  ModelPieceData p;
  p.name = name;
  p.fabric = std::string(rng.pick(kCategories)) + " " + rng.pick(kFabrics);
  p.type = rng.range(0, 3);
  p.as_in = rng.range(0, 1);
  p.mirror_x = rng.chance(0.3) ? 1 : 0;
  p.mirror_y = rng.chance(0.2) ? 1 : 0;
  p.mirror_xy = rng.chance(0.1) ? 1 : 0;
  p.half = rng.chance(0.15) ? 1 : 0;
  p.dy_sp = rng.chance(0.1) ? 1 : 0;
  p.add_piece = rng.chance(0.1) ? 1 : 0;
  return p;
}

ModelData make_model(Rng& rng, const std::string& name) {
  ModelData m;
  m.name = name;
  fill_common(rng, &m);
  const char* style = rng.pick(kStyles);
  m.comment1 = "Basic " + std::string(style) + ", " + rng.pick(kSizeCodes) + " fit";
  m.comment2 = rng.chance(0.6) ? "Graded " + std::string(rng.pick(kSizes)) + " to " + rng.pick(kSizes) : "";
  // Base pieces: distinct parts of the model.
  std::vector<const char*> parts(std::begin(kPieceParts), std::end(kPieceParts));
  for (size_t i = parts.size(); i > 1; --i) std::swap(parts[i - 1], parts[rng.below(i)]);
  size_t next_part = 0;
  int base = rng.range(3, 7);
  for (int i = 0; i < base; ++i) m.pieces.push_back(make_model_piece(rng, name + "-" + parts[next_part++]));
  int groups = rng.range(0, 2);
  std::vector<const char*> options(std::begin(kOptions), std::end(kOptions));
  for (size_t i = options.size(); i > 1; --i) std::swap(options[i - 1], options[rng.below(i)]);
  for (int g = 0; g < groups && next_part < parts.size(); ++g) {
    OptionGroupData og;
    og.option = options[static_cast<size_t>(g)];
    int n = rng.range(1, 3);
    for (int i = 0; i < n && next_part < parts.size(); ++i)
      og.pieces.push_back(make_model_piece(rng, name + "-" + parts[next_part++]));
    m.option_groups.push_back(std::move(og));
  }
  return m;
}

OrderModelData make_order_model(Rng& rng, const ModelData& model) {
  OrderModelData om;
  om.name = model.name;
  om.alteration = rng.chance(0.3) ? numbered("ALT", rng.range(1, 40), 2) : "";
  om.dynamic = rng.chance(0.2) ? numbered("DYN", rng.range(1, 9), 1) : "";
  om.size_code = rng.pick(kSizeCodes);
  om.fabric = rng.pick(kFabrics);
  om.add_piece_bundle = rng.chance(0.25) ? 1 : 0;
  for (const auto& g : model.option_groups)
    if (rng.chance(0.6)) om.options.push_back(g.option);
  int sizes = rng.range(1, 5);
  size_t first = rng.below(std::size(kSizes) - static_cast<size_t>(sizes) + 1);
  for (int i = 0; i < sizes; ++i) {
    SizeEntryData e;
    e.size = kSizes[first + static_cast<size_t>(i)];
    e.quantity = rng.range(1, 60);
    e.cutdown = rng.chance(0.2) ? numbered("CD", rng.range(1, 9), 1) : "";
    e.half_piece = rng.chance(0.15) ? "HALF" : "";
    e.base_size = kSizes[first + static_cast<size_t>(sizes) / 2];
    e.direction = rng.range(0, 2);
    e.placed = rng.range(0, e.quantity);
    om.sizes.push_back(std::move(e));
  }
  return om;
}

MarkerData make_marker(Rng& rng, const std::string& name, const std::vector<ModelData>& models,
                       const std::vector<std::string>& order_names, int64_t pieces_per_marker) {
  MarkerData m;
  m.name = name;
  fill_common(rng, &m);
  m.byte_size[0] = rng.range(4000, 64000);
  m.byte_size[1] = rng.range(0, 4096);

  // The model list the marker was made from.
  int list = models.empty() ? 0 : rng.range(1, 3);
  std::vector<const ModelData*> list_models;
  for (int i = 0; i < list; ++i) {
    const ModelData& model = rng.pick(models);
    list_models.push_back(&model);
    m.models.push_back(make_order_model(rng, model));
  }

  MarkerHeaderData& h = m.header;
  h.name = name;
  h.order_name = order_names.empty() ? "" : rng.pick(order_names);
  h.description = rng.chance(0.8) ? "Lay for " + (h.order_name.empty() ? std::string("stock") : h.order_name) : "";
  h.order_number = numbered("PO-", rng.range(1, 999999), 6);
  h.lay_limits = numbered("LL-", rng.range(1, 12), 2);
  h.annotation = rng.chance(0.5) ? "ANN-STD" : "ANN-FULL";
  h.block_buffer = numbered("BB-", rng.range(0, 9), 1);
  h.matching = rng.pick(kMatching);
  h.notch = rng.pick(kNotches);
  // Generated areas are metric: the header's lengths are in centimetres,
  // while the marker analysis keeps its lengths in inches, as stores do.
  h.width = rng.real(137, 183);
  h.length = rng.real(300, 2500);
  h.util = rng.real(60, 90);
  h.target_util = rng.real(70, 88);
  bool stripes = h.matching == "STRIPE" || h.matching == "CHECK";
  bool plaids = h.matching == "PLAID" || h.matching == "CHECK";
  if (stripes) {
    h.stripe_rpt = rng.real(0.5, 4);
    h.stripe_o = rng.real(0, h.stripe_rpt);
    h.stripe_o2 = rng.real(0, h.stripe_rpt);
    h.stripe_o3 = rng.chance(0.5) ? rng.real(0, h.stripe_rpt) : 0;
  }
  if (plaids) {
    h.plaid_rpt = rng.real(1, 6);
    h.plaid_o = rng.real(0, h.plaid_rpt);
    h.plaid_o2 = rng.real(0, h.plaid_rpt);
    h.plaid_o3 = rng.chance(0.5) ? rng.real(0, h.plaid_rpt) : 0;
  }
  h.shrink_stretch_x = rng.real(0.97, 1.03, 3);
  h.shrink_stretch_y = rng.real(0.97, 1.03, 3);
  h.added = rng.chance(0.2) ? rng.range(1, 3) : 0;
  int sizes = 0;
  for (const auto& om : m.models) sizes += static_cast<int>(om.sizes.size());
  h.sizes = sizes;
  h.added_sizes = rng.chance(0.15) ? rng.range(1, 2) : 0;
  h.five_star = rng.range(0, 5);

  // Pieces: drawn from the models of the list, with their sizes.
  double total_perimeter = 0;
  int notches = 0, corners = 0;
  for (int64_t i = 0; i < pieces_per_marker; ++i) {
    MarkerPieceData p;
    if (!m.models.empty()) {
      size_t which = static_cast<size_t>(i) % m.models.size();
      const OrderModelData& om = m.models[which];
      const ModelData* model = list_models[which];
      if (model && !model->pieces.empty()) {
        const ModelPieceData& mp = model->pieces[(static_cast<size_t>(i) / m.models.size()) % model->pieces.size()];
        p.name = mp.name;
        p.category = mp.fabric.substr(0, mp.fabric.find(' '));
      }
      if (!om.sizes.empty()) p.size = rng.pick(om.sizes).size;
    }
    if (p.name.empty()) p.name = numbered("PC", i + 1, 3);
    if (p.category.empty()) p.category = rng.pick(kCategories);
    if (p.size.empty()) p.size = rng.pick(kSizes);
    p.area = rng.real(40, 1400);
    p.perimeter = rng.real(30, 180);
    total_perimeter += p.perimeter;
    notches += rng.range(2, 12);
    corners += rng.range(3, 10);
    m.pieces.push_back(std::move(p));
  }
  h.total_perimeter = std::round(total_perimeter * 100) / 100;
  h.total_notches = notches;
  h.total_corners = corners;

  int overrides = rng.chance(0.4) ? rng.range(1, 3) : 0;
  for (int i = 0; i < overrides && !m.pieces.empty(); ++i) {
    OverrideData o;
    const MarkerPieceData& p = m.pieces[rng.below(m.pieces.size())];
    o.piece = p.name;
    o.right = rng.chance(0.5) ? 1 : 0;
    o.override_text = rng.pick(kOverrides);
    o.size = p.size.substr(0, 6);
    o.model = m.models.empty() ? "" : m.models[0].name;
    m.overrides.push_back(std::move(o));
  }
  int splices = rng.chance(0.5) ? rng.range(1, 3) : 0;
  double at = 0;
  for (int i = 0; i < splices; ++i) {
    SpliceData s;
    at += rng.real(20, h.length / (splices + 1));
    s.start = std::round(at * 100) / 100;
    s.length = rng.real(1, 6);
    m.splices.push_back(s);
  }

  MarkerAnalysisData& a = m.analysis;
  a.unplaced_pieces = rng.chance(0.15) ? rng.range(1, 2) : 0;
  a.placed_pieces = static_cast<int32_t>(pieces_per_marker) - a.unplaced_pieces;
  if (a.placed_pieces < 0) a.placed_pieces = 0;
  if (a.placed_pieces > 32767) a.placed_pieces = 32767;
  a.straight_perimeter = std::round(total_perimeter * rng.real(0.4, 0.7) * 100) / 100;
  a.curved_perimeter = std::round((total_perimeter - a.straight_perimeter) * 100) / 100;
  a.straight_internal = rng.real(5, 80);
  a.curved_internal = rng.real(0, 40);
  a.total_internal = std::round((a.straight_internal + a.curved_internal) * 100) / 100;
  a.placed_area = std::round(h.width / kCmPerInch * h.length / kCmPerInch * h.util) / 100;
  a.placed_perimeter = std::round(total_perimeter * 0.95 * 100) / 100;
  a.area_term = rng.real(0, 50);
  a.net_area = std::round(a.placed_area * rng.real(0.92, 0.99) * 100) / 100;
  a.placed_notches = notches - rng.range(0, 3);
  a.placed_corners = corners - rng.range(0, 3);
  a.notch_counts.assign(99, 0);
  for (int i = 0; i < 4; ++i) a.notch_counts[rng.below(12)] += rng.range(1, 9);
  a.internal_counts.assign(26, 0);
  for (int i = 0; i < 3; ++i) a.internal_counts[rng.below(26)] += rng.range(1, 5);
  a.point_attribute_counts.assign(52, 0);
  for (int i = 0; i < 5; ++i) a.point_attribute_counts[rng.below(13)] += rng.range(1, 6);
  return m;
}

quire::Status generate(const GenerateOptions& options, AreaSummary* summary) {
  if (!valid_area_name(options.name))
    return quire::Status::failure(
        quire::StatusCode::kInvalid,
        "name: \"" + options.name + "\" is not an area name (1 to 20 characters, no \"/\" or \"\\\")");
  if (options.markers < 0 || options.models < 0 || options.orders < 0 || options.pieces_per_marker < 0 ||
      options.markers > 99999999 || options.models > 9999999 || options.orders > 9999999 ||
      options.pieces_per_marker > 10000)
    return quire::Status::failure(quire::StatusCode::kInvalid,
                                  "counts must be 0 or more (at most 99999999 markers, 9999999 models and orders, "
                                  "10000 pieces per marker)");
  Rng rng(options.seed);
  int model_width = digits_for(options.models, 4);
  int order_width = digits_for(options.orders, 5);
  int marker_width = digits_for(options.markers, 6);

  // Models (kept: markers and orders refer to them).
  std::vector<ModelData> models;
  models.reserve(static_cast<size_t>(options.models));
  for (int64_t i = 1; i <= options.models; ++i) models.push_back(make_model(rng, numbered("MOD", i, model_width)));
  std::vector<std::string> order_names;
  for (int64_t i = 1; i <= options.orders; ++i) order_names.push_back(numbered("ORD", i, order_width));

  // Stored piece headers for the model pieces, a few left out so that the
  // missing-piece message shows.
  std::vector<PieceData> pieces;
  for (const auto& m : models) {
    auto add = [&](const ModelPieceData& mp, const std::string& where) {
      if (rng.chance(0.06)) return;
      PieceData p;
      p.name = mp.name;
      p.category = mp.fabric.substr(0, mp.fabric.find(' '));
      std::string part = mp.name.substr(mp.name.find('-') + 1);
      for (char& c : part) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
      p.description = part + " of " + m.name + where + " (" + m.comment1 + ")";
      if (p.description.size() > 113) p.description.resize(113);
      pieces.push_back(std::move(p));
    };
    for (const auto& mp : m.pieces) add(mp, "");
    for (const auto& g : m.option_groups)
      for (const auto& mp : g.pieces) add(mp, ", option " + g.option);
  }
  std::stable_sort(pieces.begin(), pieces.end(),
                   [](const PieceData& a, const PieceData& b) { return pb_stricmp(a.name.c_str(), b.name.c_str()) < 0; });

  AreaWriter w;
  quire::Status status = w.begin(options.name, 0, 2);
  for (int64_t i = 1; i <= options.markers && status.ok(); ++i) {
    MarkerData m = make_marker(rng, numbered("M", i, marker_width), models, order_names, options.pieces_per_marker);
    status = w.add_marker(i, m);
  }
  for (size_t i = 0; i < models.size() && status.ok(); ++i) status = w.add_model(static_cast<int64_t>(i) + 1, models[i]);
  for (size_t i = 0; i < pieces.size() && status.ok(); ++i) status = w.add_piece(static_cast<int64_t>(i) + 1, pieces[i]);
  for (int64_t i = 1; i <= options.orders && status.ok(); ++i) {
    OrderData o;
    o.name = order_names[static_cast<size_t>(i - 1)];
    fill_common(rng, &o);
    int n = models.empty() ? 0 : rng.range(1, 4);
    for (int k = 0; k < n; ++k) o.models.push_back(make_order_model(rng, rng.pick(models)));
    status = w.add_order(i, o);
  }
  return status.ok() ? w.commit(options.name, summary) : status;
}

}  // namespace

quire::Status generate_area(const GenerateOptions& options, AreaSummary* summary) {
  return fenced([&] { return generate(options, summary); });
}

}  // namespace quire::areas
