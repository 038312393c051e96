// Building the order model list: node reuse and the allocation-failure
// record.
#include <gtest/gtest.h>

#include <cstring>

#include "kinds/model_list.h"
#include "kinds_model/model_test_util.h"
#include "quire/plotbase.h"

namespace quire::testing {
namespace {

// BIG: model M0 with options O1, O2 and sizes S1, S2, then model M1 with
// size S3. SMALL: one model without options.
class ModelListTest : public ModelReportsTest {
 protected:
  void SetUp() override {
    ModelReportsTest::SetUp();
    json big = item("BIG");
    big["models"] = {order_model("M0", {size_entry("S1", 1), size_entry("S2", 2)}, {"O1", "O2"}),
                     order_model("M1", json::array({size_entry("S3", 3)}))};
    json small = item("SMALL");
    small["models"] = json::array({order_model("M9", json::array({size_entry("S9", 9)}))});
    import_or_fail(json{{"name", "AREA"}, {"orders", {big, small}}});
    pb_connect_to_network();
    ASSERT_EQ(pb_lookup_storage_areas(area_, "AREA", 0), 1);
  }
  // Opens the order and builds its list into head with nodes.
  Status build(const char* order, OrderModelNode** head, const ModelListSource& source) {
    std::strcpy(name_, order);
    if (pb_open_order(area_, name_, item_area_) != 1) return Status::failure(StatusCode::kStore, "open failed");
    unsigned char header[372] = {};
    Status status;
    if (pb_get_order_header(name_, header, item_area_) == 1)
      status = load_model_list(head, records::load_i32(header + 352), item_area_, source, nodes_);
    else
      status = Status::failure(StatusCode::kStore, "header read failed");
    pb_close_order(area_, name_, item_area_);
    return status;
  }
  unsigned char area_[256] = {};
  unsigned char item_area_[168] = {};
  char name_[24] = {};
  ModelListNodes nodes_;
};

TEST_F(ModelListTest, ReusedNodesComeBackEmpty) {
  OrderModelNode* head = nullptr;
  ASSERT_TRUE(build("BIG", &head, kOrdmlListSource).ok());
  EXPECT_STREQ(reinterpret_cast<const char*>(head->first_option->next->record), "O2");
  EXPECT_STREQ(reinterpret_cast<const char*>(head->next->first_size->record), "S3");
  free_model_list(&head, nodes_);
  ASSERT_TRUE(build("SMALL", &head, kOrdmlListSource).ok());
  EXPECT_STREQ(reinterpret_cast<const char*>(head->record), "M9");
  EXPECT_EQ(head->first_option, nullptr);
  EXPECT_EQ(head->first_size->next, nullptr);
  EXPECT_EQ(head->next, nullptr);
  free_model_list(&head, nodes_);
}

// Nodes are taken in read order M0 O1 O2 S1 S2 M1 S3; a limit of n fails
// node n + 1. Each partial list is released (checked by the sanitizer build).
TEST_F(ModelListTest, AllocationFailureNamesSourceAndNodeKind) {
  const int lines[][3] = {{0, 185, 226}, {1, 209, 250}, {3, 145, 186}, {5, 185, 226}, {6, 145, 186}};
  for (const auto& c : lines) {
    for (const ModelListSource* source : {&kOrdmlListSource, &kMkmodListSource}) {
      SCOPED_TRACE(std::to_string(c[0]) + source->source_name);
      nodes_.set_allocation_limit(c[0]);
      OrderModelNode* head = nullptr;
      const int line = c[source == &kOrdmlListSource ? 1 : 2];
      Status status = build("BIG", &head, *source);
      EXPECT_EQ(status.code(), StatusCode::kNoMemory);
      EXPECT_EQ(status.error(), kAllocationFailed);
      EXPECT_EQ(status.line(), line);
      EXPECT_STREQ(status.source(), source->source_name);
      EXPECT_EQ(pb_error.code, -1001);
      EXPECT_EQ(pb_error.line, line);
      EXPECT_STREQ(pb_error.source, source->source_name);
      free_model_list(&head, nodes_);
    }
  }
}

}  // namespace
}  // namespace quire::testing
