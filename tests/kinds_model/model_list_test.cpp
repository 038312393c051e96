// Building the order model list: node reuse, the allocation-failure record
// and failed reads, on a reader over items held in memory.
#include <gtest/gtest.h>

#include <string>

#include "kinds/model_list.h"
#include "support/fake_store_reader.h"

namespace quire::testing {
namespace {

namespace om = records::order_model;

// The records of the model-list sequence.
Bytes list_model(const std::string& name, int32_t options, int32_t sizes) {
  Bytes b = record_with_text(om::kSize, om::kName, name);
  records::store_i32(b.data() + om::kOptionCount, options);
  records::store_i32(b.data() + om::kSizeCount, sizes);
  return b;
}
Bytes list_option(const std::string& name) { return record_with_text(records::option_entry::kSize, 0, name); }
Bytes list_size(const std::string& name) { return record_with_text(records::size_entry::kSize, 0, name); }

// BIG: model M0 with options O1, O2 and sizes S1, S2, then model M1 with
// size S3. SMALL: one model without options.
class ModelListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeItem big;
    big.name = "BIG";
    big.list = {list_model("M0", 2, 2), list_option("O1"), list_option("O2"), list_size("S1"),
                list_size("S2"),        list_model("M1", 0, 1), list_size("S3")};
    FakeItem small;
    small.name = "SMALL";
    small.list = {list_model("M9", 0, 1), list_size("S9")};
    reader_.items = {big, small};
  }
  // Builds the list of the order's models into head with nodes.
  Status build(const char* order, OrderModelNode** head, const ModelListSource& source) {
    reader_.open_for_test(order);
    const int32_t models = std::string(order) == "BIG" ? 2 : 1;
    return load_model_list(reader_, head, models, item_area_, source, nodes_);
  }
  FakeStoreReader reader_;
  unsigned char item_area_[168] = {};
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
      EXPECT_EQ(status.error(), -1001);
      EXPECT_EQ(status.line(), line);
      EXPECT_STREQ(status.source(), source->source_name);
      free_model_list(&head, nodes_);
    }
  }
}

// A read that fails, at any record of the sequence, ends the build with the
// store's failure unchanged (its code, source and line make the error line)
// and what was read so far still linked, to be released; the report's
// wording replaces only the message.
TEST_F(ModelListTest, FailedReadEndsTheBuildWithTheStoresFailure) {
  for (int at : {0, 1, 3, 5, 6}) {
    SCOPED_TRACE(at);
    reader_.items[0].failures = {{{"list", at}, fake_failure(-106, true, "plotbase/api.cpp", 241)}};
    reader_.open_for_test("BIG");
    ModelListGuard list(nodes_);
    const Status status = read_model_list(reader_, list, 2, item_area_, kOrdmlListSource);
    EXPECT_EQ(status.code(), StatusCode::kStore);
    EXPECT_EQ(status.error(), -106);
    EXPECT_STREQ(status.source(), "plotbase/api.cpp");
    EXPECT_EQ(status.line(), 241);
    EXPECT_EQ(status.message(), "model list read failed");
    ASSERT_NE(list.head, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(list.head->record), at == 0 ? "" : "M0");
  }
}

}  // namespace
}  // namespace quire::testing
