// Marker pieces read in a walk of the markers in order (which the library
// reads ahead in a thread of its own) are those read one marker at a time
// out of order, also when the walk turns back, interleaves two markers or
// meets a damaged page of the area file in the middle.
#include <sqlite3.h>

#include <fstream>

#include "plotbase_test_support.h"

namespace plotbase_test {
namespace {

constexpr int kEndOfList = -101;  // pb_error.code at the end of a list

// What reading all pieces of one marker gives: the records, then the code
// and detail of the read that ended the walk.
struct MarkerPieces {
  std::vector<std::string> records;
  int end_code = 0;
  std::string end_detail;
  bool operator==(const MarkerPieces& o) const {
    return records == o.records && end_code == o.end_code && end_detail == o.end_detail;
  }
};

class PieceWalkTest : public ::testing::Test {
 protected:
  static constexpr int kMarkers = 300;

  void SetUp() override {
    json markers = json::array();
    for (int m = 0; m < kMarkers; ++m) {
      json pieces = json::array();
      for (int p = 0; p < m % 13; ++p)  // every 13th marker has none
        pieces.push_back({{"name", "P" + std::to_string(m) + "-" + std::to_string(p)},
                          {"category", "CATEGORY-" + std::to_string(p * 7919 % 1000)},
                          {"area", m + p / 8.0},
                          {"size", std::to_string(p)}});
      char name[16];
      std::snprintf(name, sizeof name, "M%03d", m);
      markers.push_back({{"name", name}, {"modified", 1}, {"pieces", pieces}});
    }
    import_ok(json{{"name", "Walk"}, {"markers", markers}});
    import_ok(json{{"name", "Walk2"}, {"markers", markers}});
    area = lookup_area("Walk");
    names = walk(pb_lookup_markers, area, "*");
    ASSERT_EQ(names.size(), static_cast<size_t>(kMarkers));
  }

  // Opens the marker called name of a into item.
  void open(Area& a, const std::string& name, unsigned char* item) {
    ASSERT_EQ(pb_open_marker(a.ptr(), name.c_str(), item), 1) << name;
  }
  // Reads the open marker's pieces from the first until a read fails.
  static MarkerPieces read_all(unsigned char* item) {
    MarkerPieces out;
    unsigned char p[rec::marker_piece::kSize];
    for (int r = pb_first_marker_piece(item, p); r == 1; r = pb_next_marker_piece(item, p))
      out.records.emplace_back(reinterpret_cast<char*>(p), sizeof p);
    out.end_code = pb_error.code;
    out.end_detail = plotbase::last_error_detail();
    return out;
  }
  // Every marker's pieces, the markers opened from the last to the first:
  // each marker's pieces are searched for anew.
  std::vector<MarkerPieces> read_backwards(Area& a) {
    std::vector<MarkerPieces> all(names.size());
    unsigned char item[PB_ITEM_AREA_SIZE];
    for (size_t i = names.size(); i-- > 0;) {
      open(a, names[i], item);
      all[i] = read_all(item);
      EXPECT_EQ(pb_close_marker(a.ptr(), names[i].c_str(), item), 1);
    }
    return all;
  }

  quire::testing::TempStore store;
  Area area;
  std::vector<std::string> names;
};

TEST_F(PieceWalkTest, InOrderWalkReadsWhatSingleMarkersRead) {
  const std::vector<MarkerPieces> want = read_backwards(area);
  EXPECT_EQ(want[14].records.size(), 1u);
  EXPECT_EQ(want[14].end_code, kEndOfList);
  unsigned char item[PB_ITEM_AREA_SIZE], other[PB_ITEM_AREA_SIZE];
  for (int lap = 0; lap < 2; ++lap) {  // the second lap starts over
    for (size_t i = 0; i < names.size(); ++i) {
      open(area, names[i], item);
      if (i % 50 == 37) {
        // Another marker read between the first piece and the rest, and
        // the marker read once more from its first piece.
        unsigned char p[rec::marker_piece::kSize];
        ASSERT_EQ(pb_first_marker_piece(item, p), 1);
        open(area, names[i - 20], other);
        EXPECT_EQ(read_all(other), want[i - 20]) << names[i - 20];
        EXPECT_EQ(pb_close_marker(area.ptr(), names[i - 20].c_str(), other), 1);
        MarkerPieces rest;
        rest.records.emplace_back(reinterpret_cast<char*>(p), sizeof p);
        int r = 1;
        while ((r = pb_next_marker_piece(item, p)) == 1) rest.records.emplace_back(reinterpret_cast<char*>(p), sizeof p);
        rest.end_code = pb_error.code;
        rest.end_detail = plotbase::last_error_detail();
        EXPECT_EQ(rest, want[i]) << names[i];
      }
      EXPECT_EQ(read_all(item), want[i]) << names[i];
      EXPECT_EQ(pb_close_marker(area.ptr(), names[i].c_str(), item), 1);
    }
  }
  // Two open markers walked in step, one piece of each at a time.
  open(area, names[100], item);
  open(area, names[101], other);
  unsigned char p[rec::marker_piece::kSize];
  std::vector<std::string> a, b;
  bool more_a = pb_first_marker_piece(item, p) == 1;
  if (more_a) a.emplace_back(reinterpret_cast<char*>(p), sizeof p);
  bool more_b = pb_first_marker_piece(other, p) == 1;
  if (more_b) b.emplace_back(reinterpret_cast<char*>(p), sizeof p);
  while (more_a || more_b) {
    if (more_a && (more_a = pb_next_marker_piece(item, p) == 1)) a.emplace_back(reinterpret_cast<char*>(p), sizeof p);
    if (more_b && (more_b = pb_next_marker_piece(other, p) == 1)) b.emplace_back(reinterpret_cast<char*>(p), sizeof p);
  }
  EXPECT_EQ(a, want[100].records);
  EXPECT_EQ(b, want[101].records);
  EXPECT_EQ(pb_close_marker(area.ptr(), names[100].c_str(), item), 1);
  EXPECT_EQ(pb_close_marker(area.ptr(), names[101].c_str(), other), 1);
}

// A leaf page of marker_pieces in the middle of the table, damaged: the
// walk in order gives every piece before it and fails at the read that
// reaches it, with the error a marker read alone gives, never an early
// end of the pieces.
TEST_F(PieceWalkTest, DamagedPageFailsTheReadThatReachesIt) {
  for (const char* name : {"Walk", "Walk2"}) {
    const std::string file = quire::areas::area_path(name);
    int64_t page = 0, page_size = 0;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT pageno, (SELECT page_size FROM pragma_page_size) FROM dbstat "
                                 "WHERE name = 'marker_pieces' AND pagetype = 'leaf'",
                                 -1, &s, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    std::vector<int64_t> leaves;
    while (sqlite3_step(s) == SQLITE_ROW) {
      leaves.push_back(sqlite3_column_int64(s, 0));
      page_size = sqlite3_column_int64(s, 1);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    ASSERT_GE(leaves.size(), 8u);
    page = leaves[leaves.size() / 2];  // in key order
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((page - 1) * page_size);
    f.put('\x01');  // no page type
    ASSERT_TRUE(f.good());
  }

  PrintCapture capture;
  Area alone = lookup_area("Walk");
  const std::vector<MarkerPieces> want = read_backwards(alone);
  size_t failed = 0;
  for (const MarkerPieces& m : want)
    if (m.end_code != kEndOfList) ++failed;
  ASSERT_GT(failed, 0u);
  ASSERT_LT(failed, names.size() / 4);

  Area in_order = lookup_area("Walk2");
  unsigned char item[PB_ITEM_AREA_SIZE];
  for (size_t i = 0; i < names.size(); ++i) {
    open(in_order, names[i], item);
    EXPECT_EQ(read_all(item), want[i]) << names[i];
    EXPECT_EQ(pb_close_marker(in_order.ptr(), names[i].c_str(), item), 1);
  }
}

// A marker whose pieces disagree with its declared count fails the read
// after its last piece (-108, a read failure, the marker named on the print
// routine), whether its pieces were read ahead or searched for directly.
TEST_F(PieceWalkTest, PiecesThatDisagreeWithTheirCountFailTheReadAtTheEnd) {
  for (const char* name : {"Walk", "Walk2"}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(quire::areas::area_path(name).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE markers SET piece_count = piece_count + 1 WHERE name = 'M150';"
                           "DELETE FROM marker_pieces WHERE marker_id = (SELECT id FROM markers WHERE name = 'M201') "
                           "AND position = 3;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  PrintCapture capture;
  Area alone = lookup_area("Walk");
  const std::vector<MarkerPieces> want = read_backwards(alone);
  for (size_t i = 0; i < names.size(); ++i) {
    const bool damaged = names[i] == "M150" || names[i] == "M201";
    EXPECT_EQ(want[i].end_code, damaged ? -108 : kEndOfList) << names[i];
    if (damaged) {
      EXPECT_EQ(pb_is_read_failure(want[i].end_code), 1);
    }
  }
  EXPECT_EQ(want[150].records.size(), 150u % 13);
  EXPECT_EQ(want[201].records.size(), 201u % 13 - 1);
  EXPECT_NE(capture.text().find("marker M150: 7 pieces stored, 8 declared (the area file is damaged)\n"),
            std::string::npos)
      << capture.text();
  EXPECT_NE(capture.text().find("marker M201: 5 pieces stored, 6 declared"), std::string::npos) << capture.text();

  Area in_order = lookup_area("Walk2");
  unsigned char item[PB_ITEM_AREA_SIZE];
  for (size_t i = 0; i < names.size(); ++i) {
    open(in_order, names[i], item);
    EXPECT_EQ(read_all(item), want[i]) << names[i];
    EXPECT_EQ(pb_close_marker(in_order.ptr(), names[i].c_str(), item), 1);
  }
}

}  // namespace
}  // namespace plotbase_test
