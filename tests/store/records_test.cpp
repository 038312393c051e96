// Every reader call fills its record at exactly the offsets of its record layout,
// zeroes every other byte, keeps texts within their fields and writes
// nothing past the record. Expected records are built byte by byte.
#include "plotbase_test_support.h"

namespace plotbase_test {
namespace {

namespace mh = rec::marker_header;
namespace ma = rec::marker_analysis;

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    import_ok(sample_area());
    area = lookup_area("Sample");
  }
  void open_marker(const char* name) { ASSERT_EQ(pb_open_marker(area.ptr(), name, item), 1) << pb_error.code; }
  void TearDown() override {}

  quire::testing::TempStore store;
  Area area;
  unsigned char item[PB_ITEM_AREA_SIZE];
};

TEST_F(RecordsTest, AreaRecordLeadsWithTheAreaName) {
  EXPECT_STREQ(reinterpret_cast<const char*>(area.bytes.data()), "Sample");
  Area again = lookup_area("sAMPLE");  // case-insensitive
  EXPECT_STREQ(reinterpret_cast<const char*>(again.bytes.data()), "Sample");
}

TEST_F(RecordsTest, ItemAreaCarriesModificationTimeAndByteSizes) {
  std::memset(item, 0xAA, sizeof item);
  open_marker("M100");
  EXPECT_EQ(rec::load_i32(item + 12), 1151366400);
  EXPECT_EQ(rec::load_i32(item + 44), 1000);
  EXPECT_EQ(rec::load_i32(item + 48), 24);
  EXPECT_EQ(pbc_last_mod_time, 1151366400);
  EXPECT_EQ(pbc_creation_time, 1151280000);
  EXPECT_EQ(pbc_prev_mod_time, 1151323200);
  EXPECT_STREQ(pbc_user_last_mod, "alice");
  EXPECT_STREQ(pbc_user_created, "bob the very long user name of 43 chars xxx");
  EXPECT_STREQ(pbc_user_prev_mod, "carol");
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
}

TEST_F(RecordsTest, ItemWithoutTimesGivesMinusOne) {
  open_marker("beta");
  EXPECT_EQ(pbc_creation_time, -1);
  EXPECT_EQ(pbc_prev_mod_time, -1);
  EXPECT_STREQ(pbc_user_last_mod, "");
  EXPECT_EQ(rec::load_i32(item + 44), 0);
  EXPECT_EQ(pb_close_marker(area.ptr(), "beta", item), 1);
}

void expect_header_fields(Expected& e, bool ex) {
  // Nine texts of 21 bytes from offset 4, then the numbers.
  const char* texts[] = {"M100 header name", "ABCDEFGHIJKLMNOPQRST", "ORDER-7", "PO-123", "LL-1", "ANN", "BB",
                         "PLAID", "V"};
  for (size_t i = 0; i < 9; ++i) e.text(4 + 21 * i, 21, texts[i]);
  for (auto [at, value] : {std::pair{236, 1.1}, {244, 1.4}, {252, 2.1}, {260, 2.4}, {268, 1.2}, {284, 2.2},
                           {300, 1.3}, {316, 2.3}, {332, 60.5}, {340, 500.25}, {364, 1234.5}, {380, 80.0},
                           {388, 81.5}})
    e.real(at, value);
  // 432: models in the marker's list, 436: piece overrides, 464: splices.
  for (auto [at, value] : {std::pair{412, 3}, {416, 40}, {424, 50}, {432, 2}, {436, 2}, {448, 4}, {456, 5},
                           {460, 2}, {464, 2}})
    e.i32(at, value);
  if (ex) {
    e.real(468, 0.99);
    e.real(476, 1.01);
  }
}

TEST_F(RecordsTest, MarkerHeaderExRefusesAShortBuffer) {
  open_marker("M100");
  Buffer b(534);
  EXPECT_NE(pb_get_marker_header_ex("M100", b.data(), 533, item), 1);
  EXPECT_NE(pb_error.code, 0);
  EXPECT_EQ(b.bytes[0], 0xAA);
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
}

TEST_F(RecordsTest, MarkerAnalysis) {
  open_marker("M100");
  const unsigned char* a = static_cast<const unsigned char*>(pb_hdr_analyze(item));
  ASSERT_NE(a, nullptr);
  Expected e(5376);
  for (auto [at, value] : {std::pair{8, 11.5}, {16, 12.5}, {24, 13.5}, {32, 14.5}, {40, 15.5}, {5336, 10.0},
                           {5344, 10.0}, {5360, 5.0}, {5368, 2500.0}})
    e.real(at, value);
  // The notch counts from 48, the internal counts from 246 and the point
  // attribute counts from 298, two bytes a slot; then the piece counts.
  for (auto [at, value] : {std::pair{48 + 0, 5}, {48 + 2 * 9, 2}, {246 + 2 * 3, 4}, {298 + 0, 3}, {298 + 2 * 12, 1},
                           {298 + 2 * 51, -32768}, {5324, 7}, {5326, 2}})
    e.i16(at, static_cast<int16_t>(value));
  e.i32(5352, 33);
  e.i32(5356, -4);
  EXPECT_TRUE(same_bytes(a, e));
  // Analysing again gives the same record; a marker without analysis is zero.
  EXPECT_EQ(pb_hdr_analyze(item), a);
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
  open_marker("beta");
  const unsigned char* z = static_cast<const unsigned char*>(pb_hdr_analyze(item));
  ASSERT_NE(z, nullptr);
  EXPECT_TRUE(same_bytes(z, Expected(5376)));
  EXPECT_EQ(pb_close_marker(area.ptr(), "beta", item), 1);
}

TEST_F(RecordsTest, PieceWalksOfTwoOpenMarkersInterleave) {
  import_ok(json::parse(R"({"name": "Two", "markers": [
    {"name": "A", "modified": 1, "pieces": [{"name": "a0"}, {"name": "a1"}, {"name": "a2"}]},
    {"name": "B", "modified": 1, "pieces": [{"name": "b0"}, {"name": "b1"}]}]})"));
  Area two = lookup_area("Two");
  unsigned char ia[PB_ITEM_AREA_SIZE], ib[PB_ITEM_AREA_SIZE];
  ASSERT_EQ(pb_open_marker(two.ptr(), "A", ia), 1);
  ASSERT_EQ(pb_open_marker(two.ptr(), "B", ib), 1);
  unsigned char p[68];
  std::string seen;
  auto name = [&] { return std::string(reinterpret_cast<char*>(p)) + " "; };
  ASSERT_EQ(pb_first_marker_piece(ia, p), 1);
  seen += name();
  ASSERT_EQ(pb_first_marker_piece(ib, p), 1);
  seen += name();
  ASSERT_EQ(pb_next_marker_piece(ia, p), 1);
  seen += name();
  ASSERT_EQ(pb_next_marker_piece(ib, p), 1);
  seen += name();
  ASSERT_EQ(pb_next_marker_piece(ia, p), 1);
  seen += name();
  EXPECT_NE(pb_next_marker_piece(ib, p), 1);
  EXPECT_NE(pb_next_marker_piece(ia, p), 1);
  EXPECT_EQ(seen, "a0 b0 a1 b1 a2 ");
  EXPECT_EQ(pb_close_marker(two.ptr(), "A", ia), 1);
  EXPECT_EQ(pb_close_marker(two.ptr(), "B", ib), 1);
}

// A marker's records of one kind: read in turn (index 0, 1, ...), each
// must equal the record expect builds; for a list, one read more fails, and
// reading index 0 again gives the first record again.
struct MarkerRecordCase {
  const char* what;
  const char* marker;
  size_t size;
  int records;  // a list's length; -1 for the one record of a header
  int (*read)(void* item, unsigned char* out, int index);
  void (*expect)(Expected& e, int index);
};

const MarkerRecordCase kMarkerRecordCases[] = {
    {"extended header", "m100", 534, -1,
     [](void* item, unsigned char* out, int) { return pb_get_marker_header_ex("M100", out, 534, item); },
     [](Expected& e, int) { expect_header_fields(e, true); }},
    {"plain header: the first 468 bytes", "M100", 468, -1,
     [](void* item, unsigned char* out, int) { return pb_get_marker_header("M100", out, item); },
     [](Expected& e, int) { expect_header_fields(e, false); }},
    {"header name defaults to the item name", "Alpha", 534, -1,
     [](void* item, unsigned char* out, int) { return pb_get_marker_header_ex("Alpha", out, 534, item); },
     [](Expected& e, int) { e.text(4, 21, "Alpha"); }},
    {"pieces", "M100", 68, 3,
     [](void* item, unsigned char* out, int index) {
       return index == 0 ? pb_first_marker_piece(item, out) : pb_next_marker_piece(item, out);
     },
     [](Expected& e, int index) {
       if (index == 0) {
         e.text(0, 21, "FRONT");
         e.text(21, 21, "SHELL");
         e.real(42, 10.0);
         e.real(50, 20.25);
         e.text(58, 10, "M");
       } else if (index == 1) {
         e.text(0, 21, "BACK-PIECE-OF-20-CHR");
         e.text(21, 21, "CATEGORY-OF-20-CHARS");
         e.real(42, 1e-3);
         e.real(50, -1.5);
         e.text(58, 10, "123456789");
       } else {
         e.text(0, 21, "SLEEVE");
       }
     }},
    {"a marker without pieces", "zeta", 68, 0,
     [](void* item, unsigned char* out, int index) {
       return index == 0 ? pb_first_marker_piece(item, out) : pb_next_marker_piece(item, out);
     },
     [](Expected&, int) {}},
    {"piece overrides", "M100", 68, 2,
     [](void* item, unsigned char* out, int index) { return pb_get_piece_override(item, index, nullptr, out); },
     [](Expected& e, int index) {
       if (index == 0) {
         e.text(0, 21, "FRONT");
         e.bytes[21] = 255;
         e.text(22, 11, "ROT180-XYZ");
         e.text(33, 7, "SIZE-6");
         e.text(40, 28, "MODEL-NAME-OF-27-CHARACTERS");
       } else {
         e.text(0, 21, "BACK");
         e.text(22, 11, "FLIP");
         e.text(33, 7, "S");
         e.text(40, 28, "Shirt");
       }
     }},
    {"splices", "M100", 16, 2,
     [](void* item, unsigned char* out, int index) { return pb_get_splice_info(out, index, item); },
     [](Expected& e, int index) {
       e.real(0, index == 0 ? 120.0 : 300.125);
       e.real(8, index == 0 ? 30.0 : 2.5);
     }},
};

TEST_F(RecordsTest, MarkerRecordsAreFilledAtTheirOffsets) {
  for (const MarkerRecordCase& c : kMarkerRecordCases) {
    SCOPED_TRACE(c.what);
    open_marker(c.marker);
    Buffer b(c.size);
    const bool list = c.records >= 0;
    for (int i = 0; i < (list ? c.records : 1); ++i) {
      ASSERT_EQ(c.read(item, b.data(), i), 1) << "record " << i;
      Expected e(c.size);
      c.expect(e, i);
      EXPECT_TRUE(same_bytes(b.data(), e)) << "record " << i;
    }
    EXPECT_TRUE(b.guard_intact());
    if (list) {
      EXPECT_NE(c.read(item, b.data(), c.records), 1);
      EXPECT_NE(c.read(item, b.data(), c.records), 1);  // stays at the end
    }
    if (c.records > 0) {
      ASSERT_EQ(c.read(item, b.data(), 0), 1);
      Expected e(c.size);
      c.expect(e, 0);
      EXPECT_TRUE(same_bytes(b.data(), e)) << "first record again";
    }
    EXPECT_EQ(pb_close_marker(area.ptr(), c.marker, item), 1);
  }
}

TEST_F(RecordsTest, IndexedReadsRefuseIndexesOutsideTheList) {
  open_marker("M100");
  Buffer b(68);
  EXPECT_NE(pb_get_piece_override(item, -1, nullptr, b.data()), 1);
  EXPECT_NE(pb_get_splice_info(b.data(), -1, item), 1);
  EXPECT_TRUE(b.guard_intact());
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
}

// Reads the whole model-list sequence in the order the list reports read it.
struct ListRead {
  std::vector<std::vector<unsigned char>> models, options, sizes;
};
void read_list(void* item, int models, ListRead* out) {
  for (int m = 0; m < models; ++m) {
    Buffer om(118);
    ASSERT_EQ(pb_get_order_model(om.data(), item), 1) << "model " << m;
    EXPECT_TRUE(om.guard_intact());
    out->models.emplace_back(om.bytes.begin(), om.bytes.begin() + 118);
    int options = rec::load_i32(om.data() + 94);
    int sizes = rec::load_i32(om.data() + 102);
    for (int o = 0; o < options; ++o) {
      Buffer e(12);
      ASSERT_EQ(pb_get_option_list_entry(e.data(), item), 1);
      EXPECT_TRUE(e.guard_intact());
      out->options.emplace_back(e.bytes.begin(), e.bytes.begin() + 12);
    }
    for (int z = 0; z < sizes; ++z) {
      Buffer e(72);
      ASSERT_EQ(pb_get_order_model_entry(e.data(), item), 1);
      EXPECT_TRUE(e.guard_intact());
      out->sizes.emplace_back(e.bytes.begin(), e.bytes.begin() + 72);
    }
  }
}

// An order-model record (118 bytes): four texts of 21 bytes, the fabric
// (6 bytes), then the add-piece flag and the option and size counts.
Expected order_model_record(const char* name, const char* alteration, const char* dynamic, const char* size_code,
                            const char* fabric, int32_t add_piece_bundle, int32_t options, int32_t sizes) {
  Expected e(118);
  const char* texts[] = {name, alteration, dynamic, size_code};
  for (size_t i = 0; i < 4; ++i) e.text(21 * i, 21, texts[i]);
  e.text(84, 6, fabric);
  e.i32(90, add_piece_bundle);
  e.i32(94, options);
  e.i32(102, sizes);
  return e;
}

// A size-entry record (72 bytes).
Expected size_entry_record(const char* size, int32_t quantity, const char* cutdown, const char* half_piece,
                           const char* base_size, int32_t direction, int32_t placed) {
  Expected e(72);
  e.text(0, 8, size);
  e.i32(8, quantity);
  e.text(12, 7, cutdown);
  e.text(19, 7, half_piece);
  e.text(26, 8, base_size);
  e.i32(34, direction);
  e.i32(38, placed);
  return e;
}

// An option-list entry (12 bytes).
Expected option_record(const char* name) {
  Expected e(12);
  e.text(0, 8, name);
  return e;
}

// Each record read equals the one expected, in order.
void expect_records(const std::vector<std::vector<unsigned char>>& got, const std::vector<Expected>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(same_bytes(got[i].data(), want[i])) << "record " << i;
}

TEST_F(RecordsTest, MarkerModelList) {
  open_marker("M100");
  Buffer h(468);
  ASSERT_EQ(pb_get_marker_header("M100", h.data(), item), 1);
  ASSERT_EQ(pb_locate_ordmod_marker(item), 1);
  ListRead list;
  read_list(item, rec::load_i32(h.data() + 432), &list);
  expect_records(list.models, {order_model_record("Shirt", "ALT", "DYN", "REG", "DENIM", 1, 2, 2),
                                order_model_record("plain", "", "", "", "", 0, 0, 1)});
  expect_records(list.options, {option_record("LONG"), option_record("POCKET7")});
  expect_records(list.sizes, {size_entry_record("SIZE-M7", 12, "CD-123", "HP", "BASE-SZ", 2, 10),
                              size_entry_record("L", 3, "", "", "M", -1, 0), size_entry_record("XS", 1, "", "", "", 0, 0)});
  // The list is exhausted; locating it again restarts it.
  unsigned char extra[118];
  EXPECT_NE(pb_get_order_model(extra, item), 1);
  ASSERT_EQ(pb_locate_ordmod_marker(item), 1);
  ASSERT_EQ(pb_get_order_model(extra, item), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(extra), "Shirt");
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
}

TEST_F(RecordsTest, ModelListNeedsLocating) {
  open_marker("M100");
  unsigned char om[118];
  EXPECT_NE(pb_get_order_model(om, item), 1);
  EXPECT_NE(pb_error.code, 0);
  EXPECT_EQ(pb_close_marker(area.ptr(), "M100", item), 1);
}

TEST_F(RecordsTest, OrderHeaderAndModelList) {
  ASSERT_EQ(pb_open_order(area.ptr(), "o1", item), 1);
  EXPECT_EQ(rec::load_i32(item + 12), 3000);
  EXPECT_EQ(pbc_creation_time, 2900);
  EXPECT_EQ(pbc_prev_mod_time, -1);
  EXPECT_STREQ(pbc_user_last_mod, "ord-user");
  Buffer h(372);
  ASSERT_EQ(pb_get_order_header("O1", h.data(), item), 1);
  Expected eh(372);
  eh.text(0, 21, "O1");
  eh.i32(352, 2);
  EXPECT_TRUE(same_bytes(h.data(), eh));
  EXPECT_TRUE(h.guard_intact());
  ListRead list;
  read_list(item, 2, &list);
  expect_records(list.models, {order_model_record("Shirt", "A", "D", "S", "F", 7, 1, 2),
                                order_model_record("plain", "", "", "", "", 0, 0, 0)});
  expect_records(list.options, {option_record("O1")});
  expect_records(list.sizes, {size_entry_record("S1", 1, "", "", "", 0, 0), size_entry_record("S2", 2, "", "", "", 3, 0)});
  // The header read restarts the sequence.
  ASSERT_EQ(pb_get_order_header("O1", h.data(), item), 1);
  unsigned char om[118];
  ASSERT_EQ(pb_get_order_model(om, item), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(om), "Shirt");
  EXPECT_EQ(pb_close_order(area.ptr(), "O1", item), 1);
}

TEST_F(RecordsTest, ModelEx) {
  ASSERT_EQ(pb_open_model(area.ptr(), "SHIRT", item), 1);
  EXPECT_EQ(rec::load_i32(item + 12), 1000);
  EXPECT_STREQ(pbc_user_prev_mod, "u3");
  pb_model* m = nullptr;
  ASSERT_EQ(pb_get_model_ex("Shirt", &m, item), 1);
  ASSERT_NE(m, nullptr);
  Expected er(120);
  er.text(0, 21, "Shirt");
  er.text(21, 41, "COMMENT-ONE-OF-FORTY-CHARACTERS-XXXXXXXX");
  er.text(62, 42, "COMMENT-TWO-OF-FORTY-ONE-CHARACTERS-XXXXX");
  er.i32(104, 2);
  er.i32(112, 2);
  EXPECT_TRUE(same_bytes(m->record, er));

  ASSERT_NE(m->first_piece, nullptr);
  Expected p0(72);
  p0.text(9, 21, "Shirt-FRONT");
  p0.bytes[30] = 0xFF;  // -1
  p0.bytes[31] = 1;
  p0.bytes[32] = 2;
  p0.bytes[33] = 3;
  p0.bytes[34] = 4;
  p0.bytes[35] = 5;
  p0.bytes[36] = 6;
  p0.bytes[37] = 127;
  p0.text(38, 30, "FABRIC-OF-TWENTY-NINE-CHARS-X");
  EXPECT_TRUE(same_bytes(m->first_piece->record, p0));
  ASSERT_NE(m->first_piece->next, nullptr);
  Expected p1(72);
  p1.text(9, 21, "Shirt-BACK");
  p1.bytes[30] = 0x80;  // -128
  p1.text(38, 30, "SHELL");
  EXPECT_TRUE(same_bytes(m->first_piece->next->record, p1));
  EXPECT_EQ(m->first_piece->next->next, nullptr);

  // Each option group: its record (the option, the piece count at 8), then
  // its pieces, named at 9.
  struct Group {
    const char* option;
    std::vector<const char*> pieces;
  };
  const Group groups[] = {{"LONG", {"Shirt-SLEEVE-L"}}, {"OPTION7", {"Shirt-POCKET", "Missing-PIECE"}}};
  pb_option_group* g = m->first_group;
  for (const Group& want : groups) {
    SCOPED_TRACE(want.option);
    ASSERT_NE(g, nullptr);
    Expected e(20);
    e.text(0, 8, want.option);
    e.i32(8, static_cast<int32_t>(want.pieces.size()));
    EXPECT_TRUE(same_bytes(g->record, e));
    const pb_model_piece* piece = g->first_piece;
    for (const char* name : want.pieces) {
      ASSERT_NE(piece, nullptr);
      EXPECT_STREQ(reinterpret_cast<const char*>(piece->record + 9), name);
      piece = piece->next;
    }
    EXPECT_EQ(piece, nullptr);
    g = g->next;
  }
  EXPECT_EQ(g, nullptr);

  EXPECT_EQ(pb_free_model_ex(&m), 1);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(pb_free_model_ex(&m), 1);  // null is a no-op
  EXPECT_EQ(pb_close_model(area.ptr(), "Shirt", item), 1);
}

TEST_F(RecordsTest, ModelWithNothing) {
  ASSERT_EQ(pb_open_model(area.ptr(), "plain", item), 1);
  pb_model* m = nullptr;
  ASSERT_EQ(pb_get_model_ex("plain", &m, item), 1);
  Expected er(120);
  er.text(0, 21, "plain");
  EXPECT_TRUE(same_bytes(m->record, er));
  EXPECT_EQ(m->first_piece, nullptr);
  EXPECT_EQ(m->first_group, nullptr);
  EXPECT_EQ(pb_free_model_ex(&m), 1);
  EXPECT_EQ(pb_close_model(area.ptr(), "plain", item), 1);
}

TEST_F(RecordsTest, PieceHeaders) {
  unsigned char piece_area[PB_ITEM_AREA_SIZE];
  ASSERT_EQ(pb_open_piece(area.ptr(), "SHIRT-BACK", piece_area), 1);
  Buffer h(156);
  ASSERT_EQ(pb_get_piece_header("SHIRT-BACK", h.data(), piece_area), 1);
  Expected e(156);
  e.text(0, 21, "shirt-back");
  e.text(21, 21, "CATEGORY-OF-20-CHARS");
  e.text(42, 114,
         "DESCRIPTION-OF-113-CHARACTERS-XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX");
  EXPECT_TRUE(same_bytes(h.data(), e));
  EXPECT_TRUE(h.guard_intact());
  EXPECT_EQ(pb_close_piece(area.ptr(), "SHIRT-BACK", piece_area), 1);
  EXPECT_NE(pb_close_piece(area.ptr(), "SHIRT-BACK", piece_area), 1);

  // A piece no header is stored for cannot be opened.
  EXPECT_NE(pb_open_piece(area.ptr(), "Missing-PIECE", piece_area), 1);
  EXPECT_NE(pb_error.code, 0);
}

TEST_F(RecordsTest, NotationPrecisionAndPath) {
  EXPECT_EQ(pb_use_area_notation(area.ptr()), 1);
  int notation = -1, precision = -1;
  EXPECT_EQ(pb_get_notationprecision(area.ptr(), &notation, &precision), 1);
  EXPECT_EQ(notation, 1);
  EXPECT_EQ(precision, 3);
  char path[PB_PATH_BUFFER_SIZE];
  std::memset(path, 'x', sizeof path);
  EXPECT_EQ(pb_convert_path(path, area.ptr(), 1), 1);
  EXPECT_EQ(std::string(path), quire::areas::area_path("Sample"));
  EXPECT_EQ(std::string(path), (store.store() / "sample.sqlite").string());
}

TEST(NotationState, ReturnsTheNotationInForce) {
  EXPECT_EQ(pb_set_notation_state(1), 1);
  EXPECT_EQ(pb_set_notation_state(0), 0);
  EXPECT_EQ(pb_set_notation_state(7), 0);  // not a notation: unchanged
  EXPECT_EQ(pb_set_notation_state(1), 1);
  EXPECT_EQ(pb_set_notation_state(-1), 1);
  EXPECT_EQ(pb_set_notation_state(0), 0);
}

TEST(ConnectToNetwork, Succeeds) { EXPECT_EQ(pb_connect_to_network(), 1); }

}  // namespace
}  // namespace plotbase_test
