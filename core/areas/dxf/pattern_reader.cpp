// Reading a pattern file in two streaming passes (see pattern_reader.h).
#include "pattern_reader.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>

#include "../failures.h"
#include "quoted_text.h"

namespace quire::areas::dxf {

namespace {

// Layers of the pattern exchange format: the piece's outline and its points,
// then what lies inside it.
constexpr int kLayerBoundary = 1, kLayerTurnPoints = 2, kLayerCurvePoints = 3;
constexpr int kLayerInternalLines = 8, kLayerCutOuts = 11, kLayerDrillHoles = 13;

// Points and vertices closer than this (file units) are the same point.
constexpr double kSamePoint = 1e-4;
// Chords used for an arc whose length or extent cannot be had exactly.
constexpr int kArcChords = 64;

bool iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// The layer number of a layer name, or -1 for a name that is not a number.
int layer_number(std::string_view name) {
  name = trim_blanks(name);
  if (name.empty() || name.size() > 4) return -1;
  int n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool split_text(std::string_view text, PatternText* out) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view key = trim_blanks(text.substr(0, colon));
  if (key.empty()) return false;
  out->key.assign(key);
  out->value.assign(trim_blanks(text.substr(colon + 1)));
  return true;
}

// A text of the file as error messages quote it.
std::string in_quotes(std::string_view s) { return quoted_text(s, TextEncoding::kLatin1); }

struct Vertex {
  double x = 0, y = 0, bulge = 0;
};

struct Point {
  double x = 0, y = 0;
};

// A polyline of the block being measured: vertices [first, first + count).
struct Run {
  size_t first = 0, count = 0;
  bool closed = false;
};

// The groups of the entity being read that the pattern needs.
struct Entity {
  std::string type;
  int layer = -1;
  std::string text;  // 1
  std::string name;  // 2
  double x = 0, y = 0, x1 = 0, y1 = 0;  // 10, 20, 11, 21
  double scale_x = 1, scale_y = 1, rotation = 0, bulge = 0;  // 41, 42, 50, 42 (vertices)
  int64_t flags = 0;   // 70
  std::string where;

  void clear(std::string_view t, std::string w) {
    type.assign(t);
    layer = -1;
    text.clear();
    name.clear();
    x = y = x1 = y1 = rotation = bulge = 0;
    scale_x = scale_y = 1;
    flags = 0;
    where = std::move(w);
  }
};

// An affine map from block to drawing coordinates: p' = o + A (p - b).
struct Transform {
  double a = 1, b = 0, c = 0, d = 1;  // A = [a b; c d]
  double ox = 0, oy = 0, bx = 0, by = 0;
  bool similar = true;  // A is a rotation times a uniform scale
  double scale = 1;     // that scale when similar

  Point apply(double x, double y) const {
    double u = x - bx, v = y - by;
    return {ox + a * u + b * v, oy + c * u + d * v};
  }
  double det() const { return a * d - b * c; }
};

Transform transform_of(const Placement& p, double base_x, double base_y) {
  double r = p.rotation * std::numbers::pi / 180.0;
  double cs = std::cos(r), sn = std::sin(r);
  Transform t;
  t.a = cs * p.scale_x;
  t.b = -sn * p.scale_y;
  t.c = sn * p.scale_x;
  t.d = cs * p.scale_y;
  t.ox = p.x;
  t.oy = p.y;
  t.bx = base_x;
  t.by = base_y;
  t.similar = std::fabs(std::fabs(p.scale_x) - std::fabs(p.scale_y)) <= 1e-12 * std::fabs(p.scale_x);
  t.scale = std::fabs(p.scale_x);
  return t;
}

// The arc from p to q with bulge b (tan of a quarter of its angle, positive
// counter-clockwise).
struct Arc {
  double cx = 0, cy = 0, r = 0, start = 0, sweep = 0, length = 0, segment_area = 0;
};

Arc arc_of(const Vertex& p, const Vertex& q) {
  Arc arc;
  double dx = q.x - p.x, dy = q.y - p.y;
  double chord = std::hypot(dx, dy);
  if (chord == 0) return arc;
  double theta = 4 * std::atan(p.bulge);
  double half = theta / 2;
  arc.r = chord / (2 * std::fabs(std::sin(half)));
  double h = chord / (2 * std::tan(half));  // signed distance of the centre left of p->q
  double mx = (p.x + q.x) / 2, my = (p.y + q.y) / 2;
  arc.cx = mx - dy / chord * h;
  arc.cy = my + dx / chord * h;
  arc.start = std::atan2(p.y - arc.cy, p.x - arc.cx);
  arc.sweep = theta;
  arc.length = arc.r * std::fabs(theta);
  double t = std::fabs(theta);
  arc.segment_area = (theta > 0 ? 1 : -1) * arc.r * arc.r / 2 * (t - std::sin(t));
  return arc;
}

// Length of the edge p->q (with p's bulge) under t; widens the extent with
// the placed edge when box is given.
double edge_length(const Vertex& p, const Vertex& q, const Transform& t, Placement* box) {
  auto widen = [&](Point w) {
    if (!box) return;
    box->min_x = std::min(box->min_x, w.x);
    box->max_x = std::max(box->max_x, w.x);
    box->min_y = std::min(box->min_y, w.y);
    box->max_y = std::max(box->max_y, w.y);
  };
  Point a = t.apply(p.x, p.y), b = t.apply(q.x, q.y);
  widen(a);
  widen(b);
  if (p.bulge == 0 || (p.x == q.x && p.y == q.y)) return std::hypot(b.x - a.x, b.y - a.y);
  Arc arc = arc_of(p, q);
  // The chords of n and of n / 2 segments, extrapolated (Richardson), give
  // the length of an elliptic arc to far better than 0.01 %.
  double fine = 0, coarse = 0;
  Point prev = a, prev2 = a;
  if (box || !t.similar) {
    for (int i = 1; i <= kArcChords; ++i) {
      double ang = arc.start + arc.sweep * i / kArcChords;
      Point s = i == kArcChords ? b : t.apply(arc.cx + arc.r * std::cos(ang), arc.cy + arc.r * std::sin(ang));
      widen(s);
      fine += std::hypot(s.x - prev.x, s.y - prev.y);
      prev = s;
      if (i % 2 == 0) {
        coarse += std::hypot(s.x - prev2.x, s.y - prev2.y);
        prev2 = s;
      }
    }
  }
  return t.similar ? arc.length * t.scale : (4 * fine - coarse) / 3;
}

class PointSet {
 public:
  void clear() { points_.clear(); }
  bool add(double x, double y) {
    if (points_.size() >= kMaxBlockPoints) return false;
    points_.push_back({x, y});
    return true;
  }
  void seal() {
    std::sort(points_.begin(), points_.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
  }
  bool contains(double x, double y) const {
    auto it = std::lower_bound(points_.begin(), points_.end(), x - kSamePoint,
                               [](const Point& p, double v) { return p.x < v; });
    for (; it != points_.end() && it->x <= x + kSamePoint; ++it)
      if (std::fabs(it->y - y) <= kSamePoint) return true;
    return false;
  }
  const std::vector<Point>& points() const { return points_; }
  // The number of distinct positions of the points (sealed) that lie within
  // kSamePoint of one of the count vertices from first on: a point given
  // twice at one place counts once. Each vertex looks only at the points in
  // a window around its x, wide enough that no point the test takes lies
  // outside it.
  int32_t count_near(const Vertex* first, size_t count) const {
    std::vector<char> hit(points_.size(), 0);
    for (size_t i = 0; i < count; ++i) {
      const Vertex& v = first[i];
      auto it = std::lower_bound(points_.begin(), points_.end(), v.x - 2 * kSamePoint,
                                 [](const Point& p, double x) { return p.x < x; });
      for (; it != points_.end() && it->x <= v.x + 2 * kSamePoint; ++it)
        if (std::fabs(v.x - it->x) <= kSamePoint && std::fabs(v.y - it->y) <= kSamePoint)
          hit[static_cast<size_t>(it - points_.begin())] = 1;
    }
    std::vector<Point> taken;
    for (size_t i = 0; i < points_.size(); ++i)
      if (hit[i]) taken.push_back(points_[i]);
    // In (x, y) order, a point at the place of the one before is the same.
    std::sort(taken.begin(), taken.end(),
              [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    int32_t distinct = 0;
    for (size_t i = 0; i < taken.size(); ++i)
      if (i == 0 || std::fabs(taken[i].x - taken[i - 1].x) > kSamePoint ||
          std::fabs(taken[i].y - taken[i - 1].y) > kSamePoint)
        ++distinct;
    return distinct;
  }

 private:
  std::vector<Point> points_;
};

enum class Section { kNone, kHeader, kBlocks, kEntities, kOther };

class PatternParser {
 public:
  PatternParser(PatternFile* out, std::vector<std::string>* warnings) : out_(out), warnings_(warnings) {}

  bool first_pass(Reader& r);
  bool second_pass(Reader& r);
  const quire::Status& status() const { return status_; }

 private:
  bool fail(const std::string& where, const std::string& message) {
    status_.update(quire::Status::failure(quire::StatusCode::kInvalid, where + ": " + message, where));
    return false;
  }
  bool walk(Reader& r, bool first);
  bool entity_group(const Group& g, bool first);
  bool end_entity_first();
  bool end_entity_second();
  bool add_vertex(double x, double y, double bulge);
  void end_polyline();
  bool measure_block();
  void warn(const std::string& message) {
    if (warnings_) warnings_->push_back(message);
  }
  std::string block_label() const { return "block " + in_quotes(block_name_); }

  PatternFile* out_;
  std::vector<std::string>* warnings_;
  quire::Status status_;

  Section section_ = Section::kNone;
  bool expect_section_name_ = false;
  bool seen_eof_ = false;
  uint64_t entities_ = 0;
  size_t texts_ = 0;  // "Key: value" texts kept, both passes
  Entity e_;
  bool in_entity_ = false;
  std::string header_var_;

  // First pass.
  std::unordered_map<std::string, std::string> defined_;  // block name -> where
  std::vector<std::pair<std::string, std::string>> insert_names_;  // block, where

  // Second pass: the block being measured.
  std::unordered_map<std::string, size_t> inserted_;  // block name -> index in blocks
  bool active_ = false;  // the block is an inserted one
  size_t block_ = 0;
  std::string block_name_;
  double base_x_ = 0, base_y_ = 0;
  std::vector<Vertex> vertices_;
  std::vector<Run> internal_;
  Run boundary_;
  bool has_boundary_ = false;
  PointSet turn_points_, curve_points_;
  // The polyline being read: POLYLINE up to SEQEND, or LWPOLYLINE.
  enum class Target { kNone, kBoundary, kInternal, kSkip } target_ = Target::kNone;
  bool in_polyline_ = false;  // POLYLINE header seen, VERTEXes may follow
  Run run_;
  bool lw_ = false;
  std::vector<std::vector<size_t>> placements_of_;  // block index -> placements
};

bool PatternParser::walk(Reader& r, bool first) {
  Group g;
  while (r.next(&g)) {
    if (g.code == 0) {
      if (in_entity_ && !(first ? end_entity_first() : end_entity_second())) return false;
      in_entity_ = false;
      if (++entities_ > kMaxEntities) return fail(r.where(), "more than " + std::to_string(kMaxEntities) + " entities");
      std::string_view type = trim_blanks(g.text);
      if (type == "SECTION") {
        expect_section_name_ = true;
        section_ = Section::kOther;
        continue;
      }
      expect_section_name_ = false;
      if (type == "ENDSEC") {
        if (!first && section_ == Section::kBlocks) return true;  // nothing else is needed
        section_ = Section::kNone;
        continue;
      }
      if (type == "EOF") {
        seen_eof_ = true;
        return true;
      }
      if (section_ == Section::kBlocks || section_ == Section::kEntities) {
        e_.clear(type, r.where());
        in_entity_ = true;
      }
      continue;
    }
    if (expect_section_name_ && g.code == 2) {
      std::string_view name = trim_blanks(g.text);
      section_ = name == "HEADER" ? Section::kHeader
                 : name == "BLOCKS" ? Section::kBlocks
                 : name == "ENTITIES" ? Section::kEntities
                                      : Section::kOther;
      expect_section_name_ = false;
      continue;
    }
    if (section_ == Section::kHeader && first) {
      if (g.code == 9) header_var_.assign(trim_blanks(g.text));
      else if (header_var_ == "$INSUNITS" && g.code == 70) out_->insunits = static_cast<int>(g.integer);
      else if (header_var_ == "$TDCREATE" && g.code == 40) out_->created_julian = g.real;
      else if (header_var_ == "$TDUPDATE" && g.code == 40) out_->updated_julian = g.real;
      continue;
    }
    if (in_entity_ && !entity_group(g, first)) return false;
  }
  if (!r.status().ok()) {
    status_.update(r.status());
    return false;
  }
  if (!seen_eof_) return fail(r.where(), "the file ends without its EOF group (it is cut short)");
  return true;
}

bool PatternParser::entity_group(const Group& g, bool first) {
  Entity& e = e_;
  switch (g.code) {
    case 1: e.text.assign(g.text); break;
    case 2: e.name.assign(trim_blanks(g.text)); break;
    case 8: e.layer = layer_number(g.text); break;
    case 10:
      e.x = g.real;
      break;
    case 20:
      e.y = g.real;
      if (!first && active_ && e.type == "LWPOLYLINE" && target_ != Target::kSkip && target_ != Target::kNone)
        return add_vertex(e.x, e.y, 0);
      break;
    case 11: e.x1 = g.real; break;
    case 21: e.y1 = g.real; break;
    case 41: e.scale_x = g.real; break;
    case 42:
      e.scale_y = g.real;
      e.bulge = g.real;
      if (!first && active_ && e.type == "LWPOLYLINE" && (target_ == Target::kBoundary || target_ == Target::kInternal) &&
          run_.count > 0)
        vertices_.back().bulge = g.real;
      break;
    case 50: e.rotation = g.real; break;
    case 70:
      e.flags = g.integer;
      break;
    case 90:
      if (!first && e.type == "LWPOLYLINE" && g.integer > static_cast<int64_t>(kMaxBlockVertices))
        return fail(e.where, "LWPOLYLINE of " + std::to_string(g.integer) + " vertices, at most " +
                                 std::to_string(kMaxBlockVertices));
      break;
    default: break;
  }
  // An LWPOLYLINE's vertices follow its layer: choose where they go at the
  // first vertex.
  if (!first && active_ && e.type == "LWPOLYLINE" && g.code == 10 && target_ == Target::kNone) {
    target_ = e.layer == kLayerBoundary ? Target::kBoundary
              : e.layer == kLayerInternalLines ? Target::kInternal
                                               : Target::kSkip;
    if (target_ == Target::kBoundary && has_boundary_)
      return fail(e.where, block_label() + ": a second boundary on layer 1");
    run_ = Run{vertices_.size(), 0, false};
    lw_ = true;
  }
  return true;
}

bool PatternParser::add_vertex(double x, double y, double bulge) {
  if (vertices_.size() >= kMaxBlockVertices)
    return fail(e_.where, block_label() + ": more than " + std::to_string(kMaxBlockVertices) + " vertices");
  vertices_.push_back({x, y, bulge});
  ++run_.count;
  return true;
}

void PatternParser::end_polyline() {
  if (target_ == Target::kBoundary || target_ == Target::kInternal) {
    if (run_.count >= 2) {
      const Vertex& f = vertices_[run_.first];
      const Vertex& l = vertices_[run_.first + run_.count - 1];
      if (run_.count >= 3 && f.x == l.x && f.y == l.y) {  // closed by repeating the first vertex
        run_.closed = true;
        --run_.count;
        vertices_.pop_back();
      }
    }
    if (target_ == Target::kBoundary) {
      if (run_.count >= 3) {
        if (!run_.closed)
          warn(block_label() + ": the boundary is not closed; it is closed with a straight edge");
        run_.closed = true;
        boundary_ = run_;
        has_boundary_ = true;
      } else {
        vertices_.resize(run_.first);
      }
    } else if (run_.count >= 2) {
      internal_.push_back(run_);
    } else {
      vertices_.resize(run_.first);
    }
  }
  target_ = Target::kNone;
  in_polyline_ = false;
  lw_ = false;
}

bool PatternParser::end_entity_first() {
  const Entity& e = e_;
  if (section_ == Section::kBlocks && e.type == "BLOCK") {
    if (e.name.empty()) return fail(e.where, "BLOCK without a name");
    if (defined_.size() >= kMaxBlocks) return fail(e.where, "more than " + std::to_string(kMaxBlocks) + " blocks");
    auto [it, inserted] = defined_.emplace(e.name, e.where);
    if (!inserted)
      return fail(e.where, "block " + in_quotes(e.name) + " is defined a second time (first at " + it->second +
                               "); block names must be unique");
    return true;
  }
  if (section_ != Section::kEntities) return true;
  if (e.type == "TEXT") {
    PatternText t;
    if (split_text(e.text, &t)) {
      if (++texts_ > kMaxTexts) return fail(e.where, "more than " + std::to_string(kMaxTexts) + " texts");
      out_->style_texts.push_back(std::move(t));
    }
  } else if (e.type == "INSERT") {
    if (out_->placements.size() >= kMaxInserts)
      return fail(e.where, "more than " + std::to_string(kMaxInserts) + " INSERTs");
    Placement p;
    p.x = e.x;
    p.y = e.y;
    p.scale_x = e.scale_x;
    p.scale_y = e.scale_y;
    p.rotation = e.rotation;
    if (p.scale_x == 0 || p.scale_y == 0) return fail(e.where, "INSERT of block " + in_quotes(e.name) + " with scale 0");
    out_->placements.push_back(p);
    insert_names_.emplace_back(e.name, e.where);
  }
  return true;
}

bool PatternParser::end_entity_second() {
  const Entity& e = e_;
  if (section_ != Section::kBlocks) return true;
  const std::string& type = e.type;
  if (type == "BLOCK") {
    block_name_ = e.name;
    auto it = inserted_.find(e.name);
    active_ = it != inserted_.end();
    if (active_) {
      block_ = it->second;
      base_x_ = e.x;
      base_y_ = e.y;
      vertices_.clear();
      internal_.clear();
      has_boundary_ = false;
      turn_points_.clear();
      curve_points_.clear();
      target_ = Target::kNone;
      in_polyline_ = false;
    }
    return true;
  }
  if (!active_) return true;
  PatternBlock& block = out_->blocks[block_];
  if (type == "ENDBLK") {
    if (in_polyline_ || lw_) end_polyline();
    active_ = false;
    return measure_block();
  }
  if (type == "VERTEX") {
    if (in_polyline_ && (target_ == Target::kBoundary || target_ == Target::kInternal) && !(e.flags & 16))
      return add_vertex(e.x, e.y, e.bulge);
    return true;
  }
  const int layer = e.layer;
  if (type == "LWPOLYLINE") {
    // Its vertices were taken as they came; it ends here.
    if (layer == kLayerCutOuts) ++block.cut_outs;
    if (lw_) {
      run_.closed = (e.flags & 1) != 0;
      end_polyline();
    }
    return true;
  }
  if (in_polyline_) end_polyline();  // SEQEND, or a POLYLINE without one
  if (type == "SEQEND") return true;
  if (type == "TEXT") {
    if (layer != kLayerBoundary) return true;
    PatternText t;
    if (split_text(e.text, &t)) {
      if (++texts_ > kMaxTexts) return fail(e.where, "more than " + std::to_string(kMaxTexts) + " texts");
      block.texts.push_back(std::move(t));
    }
  } else if (type == "POINT") {
    bool ok = true;
    if (layer == kLayerTurnPoints) ok = turn_points_.add(e.x, e.y);
    else if (layer == kLayerCurvePoints) ok = curve_points_.add(e.x, e.y);
    else if (layer == kLayerDrillHoles) ++block.drill_holes;
    else
      for (size_t i = 0; i < kNotchLayers.size(); ++i)
        if (layer == kNotchLayers[i]) ++block.notches[i];
    if (!ok) return fail(e.where, block_label() + ": more than " + std::to_string(kMaxBlockPoints) + " points");
  } else if (type == "LINE") {
    if (layer == kLayerInternalLines) {
      run_ = Run{vertices_.size(), 0, false};
      target_ = Target::kInternal;
      if (!add_vertex(e.x, e.y, 0) || !add_vertex(e.x1, e.y1, 0)) return false;
      end_polyline();
    }
  } else if (type == "POLYLINE") {
    if (layer == kLayerCutOuts) ++block.cut_outs;
    target_ = layer == kLayerBoundary ? Target::kBoundary
              : layer == kLayerInternalLines ? Target::kInternal
                                             : Target::kSkip;
    if (target_ == Target::kBoundary && has_boundary_)
      return fail(e.where, block_label() + ": a second boundary on layer 1");
    run_ = Run{vertices_.size(), 0, (e.flags & 1) != 0};
    in_polyline_ = true;
  } else if (type == "CIRCLE" && layer == kLayerCutOuts) {
    ++block.cut_outs;
  }
  if (layer == kLayerBoundary && (type == "ARC" || type == "CIRCLE" || type == "SPLINE" || type == "ELLIPSE"))
    warn(block_label() + ": " + type + " on the boundary layer 1 (" + e.where +
         ") is not read; only POLYLINE and LWPOLYLINE make a boundary");
  return true;
}

bool PatternParser::measure_block() {
  PatternBlock& block = out_->blocks[block_];
  block.has_boundary = has_boundary_;
  turn_points_.seal();
  curve_points_.seal();
  auto is_curve = [&](const Vertex& v) { return curve_points_.contains(v.x, v.y); };
  double signed_area = 0;
  if (has_boundary_) {
    for (size_t i = 0; i < boundary_.count; ++i) {
      const Vertex& p = vertices_[boundary_.first + i];
      const Vertex& q = vertices_[boundary_.first + (i + 1) % boundary_.count];
      signed_area += (p.x * q.y - q.x * p.y) / 2;
      if (p.bulge != 0) signed_area += arc_of(p, q).segment_area;
    }
    // A corner is a turn point on the boundary.
    block.corners = turn_points_.count_near(&vertices_[boundary_.first], boundary_.count);
  }
  for (size_t index : placements_of_[block_]) {
    Placement& pl = out_->placements[index];
    Transform t = transform_of(pl, base_x_, base_y_);
    pl.area = std::fabs(signed_area * t.det());
    if (has_boundary_) {
      Point first = t.apply(vertices_[boundary_.first].x, vertices_[boundary_.first].y);
      pl.min_x = pl.max_x = first.x;
      pl.min_y = pl.max_y = first.y;
      for (size_t i = 0; i < boundary_.count; ++i) {
        const Vertex& p = vertices_[boundary_.first + i];
        const Vertex& q = vertices_[boundary_.first + (i + 1) % boundary_.count];
        double len = edge_length(p, q, t, &pl);
        pl.perimeter += len;
        (p.bulge != 0 || is_curve(p) || is_curve(q) ? pl.curved_perimeter : pl.straight_perimeter) += len;
      }
    }
    for (const Run& run : internal_) {
      size_t edges = run.closed ? run.count : run.count - 1;
      for (size_t i = 0; i < edges; ++i) {
        const Vertex& p = vertices_[run.first + i];
        const Vertex& q = vertices_[run.first + (i + 1) % run.count];
        double len = edge_length(p, q, t, nullptr);
        (p.bulge != 0 || is_curve(p) || is_curve(q) ? pl.internal_curved : pl.internal_straight) += len;
      }
    }
    for (double v : {pl.area, pl.perimeter, pl.internal_curved, pl.internal_straight, pl.min_x, pl.max_x, pl.min_y,
                     pl.max_y})
      if (!std::isfinite(v))
        return fail(out_->blocks[block_].where, block_label() + ": coordinates too large to measure");
  }
  return true;
}

bool PatternParser::first_pass(Reader& r) {
  if (!walk(r, true)) return false;
  if (out_->placements.empty()) return fail(r.where(), "no pattern pieces: ENTITIES holds no INSERT of a block");
  // The inserted blocks, in the order the INSERTs name them.
  for (size_t i = 0; i < insert_names_.size(); ++i) {
    const auto& [name, where] = insert_names_[i];
    if (!defined_.count(name)) return fail(where, "INSERT of block " + in_quotes(name) + ", which BLOCKS does not define");
    auto [it, inserted] = inserted_.emplace(name, out_->blocks.size());
    if (inserted) {
      PatternBlock b;
      b.name = name;
      b.where = defined_[name];
      out_->blocks.push_back(std::move(b));
      placements_of_.emplace_back();
    }
    out_->placements[i].block = it->second;
    placements_of_[it->second].push_back(i);
  }
  return true;
}

bool PatternParser::second_pass(Reader& r) {
  section_ = Section::kNone;
  expect_section_name_ = false;
  seen_eof_ = false;
  entities_ = 0;
  in_entity_ = false;
  if (!walk(r, false)) return false;
  for (const PatternBlock& b : out_->blocks)
    if (!b.has_boundary)
      return fail(b.where, "block " + in_quotes(b.name) + " has no boundary (a POLYLINE or LWPOLYLINE on layer 1)");
  return true;
}

}  // namespace

bool key_is(const PatternText& text, std::string_view key) { return iequal(text.key, key); }

const std::string* find_text(const std::vector<PatternText>& texts, std::string_view key) {
  for (const PatternText& t : texts)
    if (iequal(t.key, key)) return &t.value;
  return nullptr;
}

quire::Status read_pattern(const ReaderFactory& open, PatternFile* out, std::vector<std::string>* warnings) {
  return fenced([&] {
    *out = PatternFile();
    PatternParser parser(out, warnings);
    for (int pass = 0; pass < 2; ++pass) {
      quire::Status opened;
      std::unique_ptr<Reader> reader = open(&opened);
      if (!reader) return opened;
      bool ok = pass == 0 ? parser.first_pass(*reader) : parser.second_pass(*reader);
      if (!ok) return parser.status();
    }
    return quire::Status();
  });
}

}  // namespace quire::areas::dxf
