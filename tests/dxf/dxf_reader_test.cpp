// The DXF reader and the pattern measures, in process, on synthetic files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

#include "pattern_reader.h"
#include "dxf_test_util.h"
#include "quoted_text.h"

namespace quire::testing {
namespace {

namespace dxf = quire::areas::dxf;
constexpr double kPi = std::numbers::pi;

// Every group r reads as "code=value" lines (numbers as read), or the error.
std::string dump(dxf::Reader& r) {
  std::string out;
  dxf::Group g;
  while (r.next(&g)) {
    out += std::to_string(g.code) + "=";
    switch (g.type) {
      case dxf::ValueType::kReal: out += std::to_string(g.real); break;
      case dxf::ValueType::kText: case dxf::ValueType::kChunk: out += std::string(g.text); break;
      default: out += std::to_string(g.integer);
    }
    out += "\n";
  }
  return r.status().ok() ? out : out + "ERROR " + r.status().message();
}

// Every group of bytes, read from memory.
std::string dump(const std::string& bytes) {
  dxf::Reader r(bytes.data(), bytes.size());
  return dump(r);
}

// Every group of bytes, written to a file and read from it.
std::string dump_file(const std::string& bytes) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quire-dxf-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".dxf");
  {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  auto file = std::make_unique<quire::platform::ReadableFile>(quire::platform::system_file_env());
  if (!file->open(path.string())) return "ERROR cannot open " + path.string();
  dxf::Reader r(std::move(file));
  std::string groups = dump(r);
  std::filesystem::remove(path);
  return groups;
}

bool read(const std::string& bytes, dxf::PatternFile* file, std::string* error,
          std::vector<std::string>* warnings = nullptr) {
  quire::Status status = dxf::read_pattern(
      [&](quire::Status*) { return std::make_unique<dxf::Reader>(bytes.data(), bytes.size()); }, file, warnings);
  *error = status.message();
  return status.ok();
}

// A file is read through a buffer far smaller than these files: groups
// that straddle its refills, and lines of every length up to the longest
// accepted, read as they do from memory.
TEST(DxfReaderTest, AFileReadsAsItsBytesDoInMemory) {
  Groups g = {{0, "SECTION"}, {2, "ENTITIES"}};
  for (int i = 0; i < 40000; ++i)
    g.push_back({i % 3 == 0 ? 1000 : i % 3 == 1 ? 10 : 70,
                 i % 3 == 0 ? std::string(static_cast<size_t>(i * 7919 % 8000), 'a' + i % 26)
                 : i % 3 == 1 ? std::to_string(i) + ".5"
                              : std::to_string(i % 1000)});
  g.push_back({0, "ENDSEC"});
  g.push_back({0, "EOF"});
  for (const std::string& bytes : {dxf_ascii(g), dxf_ascii(g, "\r\n"), dxf_binary(g, true)}) {
    ASSERT_GT(bytes.size(), 1000000u);
    const std::string from_memory = dump(bytes);
    EXPECT_EQ(from_memory.find("ERROR"), std::string::npos) << from_memory.substr(0, 200);
    EXPECT_TRUE(dump_file(bytes) == from_memory);
  }
}

TEST(DxfReaderTest, AsciiAndBothBinaryFormsGiveTheSameGroups) {
  Groups g = {{0, "SECTION"}, {2, "HEADER"}, {9, "$INSUNITS"}, {70, "4"},   {10, "-1.25e3"}, {90, "-70000"},
              {290, "1"},     {310, "ab"},   {1000, "x y"},    {1071, "7"}, {0, "EOF"}};
  std::string ascii = dump(dxf_ascii(g));
  EXPECT_EQ(ascii.find("ERROR"), std::string::npos) << ascii;
  EXPECT_NE(ascii.find("10=-1250.000000\n90=-70000\n290=1\n310=ab\n1000=x y\n1071=7\n"), std::string::npos) << ascii;
  EXPECT_EQ(dump(dxf_ascii(g, "\r\n")), ascii);
  EXPECT_EQ(dump(dxf_binary(g, false)), ascii);
  EXPECT_EQ(dump(dxf_binary(g, true)), ascii);
}

TEST(DxfReaderTest, MalformedInputIsOneLineNamingItsPlace) {
  struct Case {
    std::string bytes, error;
  } cases[] = {
      {dxf_ascii({{0, "SECTION"}, {10, "1,5"}}), "line 3: group 10: expected a number, got \"1,5\""},
      {dxf_ascii({{0, "SECTION"}, {70, "nan"}}), "line 3: group 70: expected an integer in -32768..32767"},
      {dxf_ascii({{0, "SECTION"}}) + "  10\n", "line 3: group code 10 has no value"},
      {"0\nSECTION\nX1\n", "line 3: expected a group code, got \"X1\""},
      {"0\n" + std::string(9000, 'a') + "\n", "line 2: longer than 8192 bytes"},
      {dxf_binary({{0, "SECTION"}}, true) + "\x2c", "byte 32: group code cut short"},
      {dxf_binary({{0, "SECTION"}}, true) + std::string("\xd0\x07", 2), "byte 32: group code 2000 is not a DXF"},
      {dxf_binary({{0, "SECTION"}, {10, "1"}}, false).substr(0, 35), "byte 31: value of group 10 cut short"},
      {dxf_binary({{0, "SECTION"}, {1, "abc"}}, false).substr(0, 33), "byte 31: text without its end"},
  };
  for (const Case& c : cases) {
    std::string got = dump(c.bytes);
    size_t at = got.find("ERROR ");
    ASSERT_NE(at, std::string::npos) << c.error;
    EXPECT_EQ(got.substr(at + 6, c.error.size()), c.error);
    EXPECT_EQ(got.find('\n', at), std::string::npos) << got;
  }
  // A vertex count past the limit is refused before anything is kept.
  dxf::PatternFile file;
  std::string error;
  Groups huge = {{0, "LWPOLYLINE"}, {8, "1"}, {90, "2000000000"}, {70, "1"}};
  EXPECT_FALSE(read(dxf_ascii(pattern_doc("B", {}, huge, {})), &file, &error));
  EXPECT_NE(error.find("LWPOLYLINE of 2000000000 vertices, at most 1000000"), std::string::npos) << error;
  // A file cut short before EOF, a block defined twice, an INSERT of nothing.
  std::string doc = dxf_ascii(pattern_doc("B", {}, lwpolyline("1", {{0, 0}, {1, 0}, {1, 1}}), {}));
  EXPECT_FALSE(read(doc.substr(0, doc.size() - 8), &file, &error));
  EXPECT_NE(error.find("ends without its EOF group"), std::string::npos) << error;
  Groups twice = pattern_doc("B", {}, {{0, "ENDBLK"}, {0, "BLOCK"}, {2, "B"}}, {});
  EXPECT_FALSE(read(dxf_ascii(twice), &file, &error));
  EXPECT_NE(error.find("block \"B\" is defined a second time (first at line 15)"), std::string::npos) << error;
  EXPECT_FALSE(read(dxf_ascii(pattern_doc("B", {}, {}, {})), &file, &error));
  EXPECT_NE(error.find("block \"B\" has no boundary"), std::string::npos) << error;
  // A block name with a NUL and a long tail: the reason still ends the line.
  Groups odd = pattern_doc(std::string("A\0B", 3) + std::string(100, 'x'), {},
                           {{0, "ENDBLK"}, {0, "BLOCK"}, {2, std::string("A\0B", 3) + std::string(100, 'x')}}, {});
  EXPECT_FALSE(read(dxf_ascii(odd), &file, &error));
  EXPECT_NE(error.find("block \"A\\0B" + std::string(57, 'x') + "\xE2\x80\xA6\" is defined a second time"),
            std::string::npos)
      << error;
}

// Input texts in error lines: at most 60 characters, every byte visible,
// UTF-8 whatever the input's encoding.
TEST(QuotedTextTest, ShortVisibleAndUtf8) {
  using quire::areas::TextEncoding;
  const std::string ellipsis = "\xE2\x80\xA6";
  struct Case {
    std::string text;
    TextEncoding encoding;
    std::string quoted;
  } cases[] = {
      {"plain", TextEncoding::kUtf8, "\"plain\""},
      {std::string("a\0b\x01\n\t\r\x7f\"c\\U+20AC", 17), TextEncoding::kUtf8,
       "\"a\\0b\\x01\\n\\t\\r\\x7f\\\"c\\U+20AC\""},
      {std::string(60, 'k'), TextEncoding::kUtf8, "\"" + std::string(60, 'k') + "\""},
      {std::string(10000000, 'k'), TextEncoding::kUtf8, "\"" + std::string(60, 'k') + ellipsis + "\""},
      // Characters, not bytes, are counted; a cut never splits one.
      {std::string(30, 'k') + "\xC3\xA9" + std::string(40, 'k'), TextEncoding::kUtf8,
       "\"" + std::string(30, 'k') + "\xC3\xA9" + std::string(29, 'k') + ellipsis + "\""},
      // Bytes that are not UTF-8 (a stray byte, a cut sequence, a surrogate).
      {"\xff\xC3 \xED\xA0\x80", TextEncoding::kUtf8, "\"\\xff\\xc3 \\xed\\xa0\\x80\""},
      // Latin-1: each byte a character, C1 controls escaped.
      {"\xC4rmel\x85", TextEncoding::kLatin1, "\"\xC3\x84rmel\\x85\""},
  };
  for (const Case& c : cases) EXPECT_EQ(quire::areas::quoted_text(c.text, c.encoding), c.quoted) << c.quoted;
  EXPECT_EQ(quire::areas::shown_text("a\"b\n"), "a\"b\\n");
}

// A 10 x 10 square whose right edge is a half circle bulging outwards.
Groups rounded_square() { return lwpolyline("1", {{0, 0}, {10, 0, 1}, {10, 10}, {0, 10}}); }

TEST(PatternReaderTest, BulgesAndTheInsertTransformReachAreaPerimeterAndExtent) {
  const double area = 100 + kPi * 25 / 2, perimeter = 30 + 5 * kPi;
  dxf::PatternFile file;
  std::string error;
  // Scale 2, rotated 90 degrees, placed at (100, 50): x from 80 to 100, y from 50 to 80.
  Groups insert = {{10, "100"}, {20, "50"}, {41, "2"}, {42, "2"}, {50, "90"}};
  for (const std::string& bytes : {dxf_ascii(pattern_doc("SQ", {}, rounded_square(), {}, insert)),
                                   dxf_binary(pattern_doc("SQ", {}, rounded_square(), {}, insert), false)}) {
    ASSERT_TRUE(read(bytes, &file, &error)) << error;
    ASSERT_EQ(file.placements.size(), 1u);
    const dxf::Placement& p = file.placements[0];
    EXPECT_NEAR(p.area, 4 * area, 1e-9);
    EXPECT_NEAR(p.perimeter, 2 * perimeter, 1e-9);
    EXPECT_NEAR(p.curved_perimeter, 2 * 5 * kPi, 1e-9);
    EXPECT_NEAR(p.min_x, 80, 1e-9);
    EXPECT_NEAR(p.max_x, 100, 1e-9);
    EXPECT_NEAR(p.min_y, 50, 1e-9);
    EXPECT_NEAR(p.max_y, 80, 1e-9);
  }
  // Stretched along x only: the half circle becomes a half ellipse (10 by 5).
  ASSERT_TRUE(read(dxf_ascii(pattern_doc("SQ", {}, rounded_square(), {}, {{41, "2"}})), &file, &error)) << error;
  const double half_ellipse = kPi * (45 - std::sqrt(35.0 * 25.0)) / 2;
  EXPECT_NEAR(file.placements[0].area, 2 * area, 1e-9);
  EXPECT_NEAR(file.placements[0].perimeter, 50 + half_ellipse, 1e-4);
  // Clockwise, with the first vertex repeated instead of the closed flag,
  // as a POLYLINE with VERTEXes: the same area.
  Groups cw = {{0, "POLYLINE"}, {8, "1"}, {66, "1"}, {70, "0"}};
  for (auto [x, y] : {std::pair{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}})
    cw.insert(cw.end(), {{0, "VERTEX"}, {8, "1"}, {10, std::to_string(x)}, {20, std::to_string(y)}});
  cw.push_back({0, "SEQEND"});
  ASSERT_TRUE(read(dxf_ascii(pattern_doc("SQ", {}, cw, {})), &file, &error)) << error;
  EXPECT_NEAR(file.placements[0].area, 100, 1e-9);
  EXPECT_NEAR(file.placements[0].perimeter, 40, 1e-9);
}

TEST(PatternReaderTest, MarksAreCountedByLayerAndLinesSplitAtCurvePoints) {
  auto point = [](const char* layer, double x, double y) {
    return Groups{{0, "POINT"}, {8, layer}, {10, std::to_string(x)}, {20, std::to_string(y)}};
  };
  Groups g = lwpolyline("1", {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  for (const Groups& p : {point("2", 0, 0), point("2", 10, 0), point("2", 5, 5), point("4", 0, 5),
                          point("80", 1, 0), point("83", 2, 0), point("83", 3, 0), point("13", 5, 5),
                          point("3", 3, 2), point("84", 1, 1)})
    g.insert(g.end(), p.begin(), p.end());
  // Internal line (2,2)-(3,2)-(4,2)-(4,4): the two edges at the curve point are curved.
  Groups line = {{0, "POLYLINE"}, {8, "8"}, {70, "0"}};
  for (auto [x, y] : {std::pair{2, 2}, {3, 2}, {4, 2}, {4, 4}})
    line.insert(line.end(), {{0, "VERTEX"}, {8, "8"}, {10, std::to_string(x)}, {20, std::to_string(y)}});
  line.push_back({0, "SEQEND"});
  g.insert(g.end(), line.begin(), line.end());
  g.insert(g.end(), {{0, "LINE"}, {8, "8"}, {10, "0"}, {20, "0"}, {11, "3"}, {21, "4"}});
  Groups cut = lwpolyline("11", {{1, 1}, {2, 1}, {2, 2}});
  g.insert(g.end(), cut.begin(), cut.end());
  g.insert(g.end(), {{0, "ARC"}, {8, "1"}, {10, "0"}, {20, "0"}, {40, "1"}});
  dxf::PatternFile file;
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(read(dxf_ascii(pattern_doc("P", {}, g, {})), &file, &error, &warnings)) << error;
  const dxf::PatternBlock& b = file.blocks.at(0);
  EXPECT_EQ(b.corners, 2);
  EXPECT_EQ(b.notches[0], 1);  // layer 4
  EXPECT_EQ(b.notches[1], 1);  // layer 80
  EXPECT_EQ(b.notches[4], 2);  // layer 83
  EXPECT_EQ(b.drill_holes, 1);
  EXPECT_EQ(b.cut_outs, 1);
  EXPECT_NEAR(file.placements[0].internal_curved, 2, 1e-9);
  EXPECT_NEAR(file.placements[0].internal_straight, 2 + 5, 1e-9);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("block \"P\": ARC on the boundary layer 1 (line"), std::string::npos) << warnings[0];
}

}  // namespace
}  // namespace quire::testing
