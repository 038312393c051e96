// Synthetic DXF files for the reader and import tests: a list of groups
// written as ASCII (padded codes, LF or CR LF) or as binary DXF.
#ifndef QUIRE_TESTS_DXF_DXF_TEST_UTIL_H_
#define QUIRE_TESTS_DXF_DXF_TEST_UTIL_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dxf_reader.h"

namespace quire::testing {

using Groups = std::vector<std::pair<int, std::string>>;

inline std::string dxf_ascii(const Groups& groups, const char* eol = "\n") {
  std::string out;
  for (const auto& [code, value] : groups) {
    std::string c = std::to_string(code);
    out += std::string(c.size() < 3 ? 3 - c.size() : 0, ' ') + c + eol + value + eol;
  }
  return out;
}

// wide: two-byte group codes (R13 on); else one byte, 255 escaping larger.
inline std::string dxf_binary(const Groups& groups, bool wide) {
  namespace dxf = quire::areas::dxf;
  std::string out(dxf::kBinarySentinel);
  auto le = [&](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  for (const auto& [code, value] : groups) {
    if (wide) le(static_cast<uint64_t>(code), 2);
    else if (code < 255) le(static_cast<uint64_t>(code), 1);
    else le(255, 1), le(static_cast<uint64_t>(code), 2);
    dxf::ValueType type = dxf::ValueType::kText;
    dxf::value_type(code, &type);
    switch (type) {
      case dxf::ValueType::kReal: le(std::bit_cast<uint64_t>(std::stod(value)), 8); break;
      case dxf::ValueType::kInt16: le(static_cast<uint64_t>(std::stoll(value)), 2); break;
      case dxf::ValueType::kInt32: le(static_cast<uint64_t>(std::stoll(value)), 4); break;
      case dxf::ValueType::kInt64: le(static_cast<uint64_t>(std::stoll(value)), 8); break;
      case dxf::ValueType::kBool: le(static_cast<uint64_t>(std::stoll(value)), 1); break;
      case dxf::ValueType::kChunk: le(value.size(), 1), out += value; break;
      case dxf::ValueType::kText: out += value, out += '\0'; break;
    }
  }
  return out;
}

// A one-piece style: block `block` holds the piece texts and `geometry`;
// ENTITIES the style texts and the INSERT groups `insert`.
inline Groups pattern_doc(const std::string& block, const Groups& piece_texts, const Groups& geometry,
                          const Groups& style_texts, const Groups& insert = {}, const Groups& header = {}) {
  Groups g = {{0, "SECTION"}, {2, "HEADER"}, {9, "$ACADVER"}, {1, "AC1009"}};
  g.insert(g.end(), header.begin(), header.end());
  g.insert(g.end(), {{0, "ENDSEC"}, {0, "SECTION"}, {2, "BLOCKS"}, {0, "BLOCK"}, {8, "1"}, {2, block},
                     {70, "0"}, {10, "0.0"}, {20, "0.0"}});
  for (const auto& t : piece_texts) g.insert(g.end(), {{0, "TEXT"}, {8, "1"}, {10, "0"}, {20, "0"}, t});
  g.insert(g.end(), geometry.begin(), geometry.end());
  g.insert(g.end(), {{0, "ENDBLK"}, {0, "ENDSEC"}, {0, "SECTION"}, {2, "ENTITIES"}});
  for (const auto& t : style_texts) g.insert(g.end(), {{0, "TEXT"}, {8, "1"}, {10, "0"}, {20, "0"}, t});
  g.insert(g.end(), {{0, "INSERT"}, {8, "1"}, {2, block}});
  g.insert(g.end(), insert.begin(), insert.end());
  g.insert(g.end(), {{0, "ENDSEC"}, {0, "EOF"}});
  return g;
}

// A closed LWPOLYLINE on layer `layer` through (x, y, bulge) vertices.
inline Groups lwpolyline(const std::string& layer, const std::vector<std::vector<double>>& vertices) {
  Groups g = {{0, "LWPOLYLINE"}, {8, layer}, {90, std::to_string(vertices.size())}, {70, "1"}};
  for (const auto& v : vertices) {
    g.push_back({10, std::to_string(v[0])});
    g.push_back({20, std::to_string(v[1])});
    if (v.size() > 2 && v[2] != 0) g.push_back({42, std::to_string(v[2])});
  }
  return g;
}

}  // namespace quire::testing

#endif  // QUIRE_TESTS_DXF_DXF_TEST_UTIL_H_
