// Building the order model list in memory: links, node reuse and the
// allocation-failure record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kinds/model_list.h"
#include "kinds_model/model_test_util.h"
#include "quire/plotbase.h"
#include "quire/records.h"

namespace quire::testing {
namespace {

namespace om = quire::records::order_model;

// Opens an order of the imported area AREA and reads its header, so the
// model-list sequence stands at its first model.
class OpenOrder {
 public:
  explicit OpenOrder(const char* order) {
    pb_connect_to_network();
    EXPECT_EQ(pb_lookup_storage_areas(area_, "AREA", 0), 1);
    std::strncpy(name_, order, sizeof name_ - 1);
    EXPECT_EQ(pb_lookup_orders(area_, name_, name_, 0), 1);
    EXPECT_EQ(pb_open_order(area_, name_, item_area_), 1);
    EXPECT_EQ(pb_get_order_header(name_, header_, item_area_), 1);
  }
  ~OpenOrder() { pb_close_order(area_, name_, item_area_); }
  int32_t models() const { return records::load_i32(header_ + records::order_header::kModels); }
  unsigned char* item_area() { return item_area_; }

 private:
  unsigned char area_[256] = {};
  char name_[24] = {};
  unsigned char item_area_[168] = {};
  unsigned char header_[372] = {};
};

std::string text(const unsigned char* field) { return reinterpret_cast<const char*>(field); }

class ModelListTest : public ModelReportsTest {
 protected:
  void SetUp() override {
    ModelReportsTest::SetUp();
    // BIG: model M0 with options O1, O2 and sizes S1, S2; model M1 with size
    // S3. SMALL: one model without options and with one size entry.
    json big = item("BIG");
    big["models"] = json::array(
        {order_model("M0", json::array({size_entry("S1", 1), size_entry("S2", 2)}),
                     json::array({"O1", "O2"})),
         order_model("M1", json::array({size_entry("S3", 3)}))});
    json small = item("SMALL");
    small["models"] = json::array({order_model("M9", json::array({size_entry("S9", 9)}))});
    import_or_fail(json{{"name", "AREA"}, {"orders", json::array({big, small})}});
  }
  ModelListNodes nodes_;
};

TEST_F(ModelListTest, BuildsModelsWithOptionsAndSizeEntriesInReadOrder) {
  OpenOrder order("BIG");
  OrderModelNode* head = nullptr;
  ASSERT_EQ(load_model_list(&head, order.models(), order.item_area(), kOrdmlListSource, nodes_), 1);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(text(head->record + om::kName), "M0");
  ASSERT_NE(head->first_option, nullptr);
  EXPECT_EQ(text(head->first_option->record), "O1");
  ASSERT_NE(head->first_option->next, nullptr);
  EXPECT_EQ(text(head->first_option->next->record), "O2");
  EXPECT_EQ(head->first_option->next->next, nullptr);
  ASSERT_NE(head->first_size, nullptr);
  EXPECT_EQ(text(head->first_size->record), "S1");
  EXPECT_EQ(text(head->first_size->next->record), "S2");
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(text(head->next->record + om::kName), "M1");
  EXPECT_EQ(head->next->first_option, nullptr);
  EXPECT_EQ(text(head->next->first_size->record), "S3");
  EXPECT_EQ(head->next->next, nullptr);
  free_model_list(&head, nodes_);
  EXPECT_EQ(head, nullptr);

  // Reused nodes come back zero-filled: the smaller list carries nothing of
  // the bigger one.
  OpenOrder small("SMALL");
  ASSERT_EQ(load_model_list(&head, small.models(), small.item_area(), kOrdmlListSource, nodes_), 1);
  EXPECT_EQ(text(head->record + om::kName), "M9");
  EXPECT_EQ(head->first_option, nullptr);
  EXPECT_EQ(head->next, nullptr);
  EXPECT_EQ(head->first_size->next, nullptr);
  EXPECT_EQ(records::load_i32(head->record + om::kOptionCount), 0);
  free_model_list(&head, nodes_);
}

// Nodes are handed out in read order: M0, O1, O2, S1, S2, M1, S3. A limit
// of n makes node n + 1 fail; every build is released completely (the
// sanitizer build checks that nothing leaks).
TEST_F(ModelListTest, AllocationFailureNamesTheSourceAndTheNodeKind) {
  struct Case {
    long limit;
    int ordml_line;
    int mkmod_line;
  };
  const Case cases[] = {{0, 185, 226}, {1, 209, 250}, {3, 145, 186}, {5, 185, 226}, {6, 145, 186}};
  for (const Case& c : cases) {
    for (const ModelListSource* source : {&kOrdmlListSource, &kMkmodListSource}) {
      SCOPED_TRACE(std::to_string(c.limit) + " " + source->source_name);
      OpenOrder order("BIG");
      ModelListNodes nodes;
      nodes.set_allocation_limit(c.limit);
      OrderModelNode* head = nullptr;
      EXPECT_EQ(load_model_list(&head, order.models(), order.item_area(), *source, nodes),
                kAllocationFailed);
      EXPECT_EQ(pb_error.code, -1001);
      EXPECT_EQ(pb_error.line, source == &kOrdmlListSource ? c.ordml_line : c.mkmod_line);
      EXPECT_STREQ(pb_error.source, source->source_name);
      EXPECT_EQ(head == nullptr, c.limit == 0);
      free_model_list(&head, nodes);
    }
  }
}

TEST_F(ModelListTest, LibraryFailureIsReturnedAndThePartialListReleased) {
  json bad = item("BIG");
  bad["models"] = json::array(
      {order_model("M0", json::array({size_entry("S1", 1), size_entry("S2", 2)}), json::array({"O1"}))});
  bad["faults"] = json{{"model_list_at", 3}};  // the second size entry
  import_or_fail(json{{"name", "AREA"}, {"orders", json::array({bad})}});
  OpenOrder order("BIG");
  OrderModelNode* head = nullptr;
  int r = load_model_list(&head, order.models(), order.item_area(), kOrdmlListSource, nodes_);
  EXPECT_NE(r, 1);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(text(head->first_size->record), "S1");
  free_model_list(&head, nodes_);
}

}  // namespace
}  // namespace quire::testing
