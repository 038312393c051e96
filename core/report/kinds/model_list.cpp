#include "kinds/model_list.h"

#include <new>

namespace quire {
namespace {

// Frees a chain of spare nodes linked through next.
template <class Node>
void delete_chain(Node* node) {
  while (node) {
    Node* next = node->next;
    delete node;
    node = next;
  }
}

// Takes a node from the spare chain, zero-filled, or allocates a new one.
template <class Node>
Node* take_node(Node*& spare) {
  if (spare) {
    Node* node = spare;
    spare = node->next;
    *node = Node{};
    return node;
  }
  return new (std::nothrow) Node{};
}

// Moves a whole chain linked through next onto the front of spare.
template <class Node>
void give_back(Node* chain, Node*& spare) {
  while (chain) {
    Node* next = chain->next;
    chain->next = spare;
    spare = chain;
    chain = next;
  }
}

Status allocation_failed(const ModelListSource& source, int line) {
  return Status::failure(StatusCode::kNoMemory, "out of memory", {}, kAllocationFailed)
      .at(source.source_name, line);
}

// Appends one node to the list whose last node is last (*head when last is
// null) and makes it the last: taken from take() and its record filled by
// read(item_area, record), the store's read of the next record of the
// sequence. A node that cannot be had fails at line of source.
template <class Node, class Take, class Read>
Status append_node(Node** head, Node*& last, Take take, Read read, unsigned char* item_area,
                   const ModelListSource& source, int line) {
  Node* node = take();
  if (!node) return allocation_failed(source, line);
  if (last) last->next = node;
  else *head = node;
  last = node;
  return read(item_area, node->record);
}

// The last node of the list at head, or null when it is empty.
template <class Node>
Node* last_node(Node* head) {
  while (head && head->next) head = head->next;
  return head;
}

}  // namespace

ModelListNodes::~ModelListNodes() {
  delete_chain(spare_models_);
  delete_chain(spare_options_);
  delete_chain(spare_sizes_);
}

bool ModelListNodes::may_allocate() {
  if (limit_ < 0) return true;
  if (limit_ == 0) return false;
  --limit_;
  return true;
}

OrderModelNode* ModelListNodes::new_model() {
  return may_allocate() ? take_node(spare_models_) : nullptr;
}

OptionEntryNode* ModelListNodes::new_option() {
  return may_allocate() ? take_node(spare_options_) : nullptr;
}

SizeEntryNode* ModelListNodes::new_size() {
  return may_allocate() ? take_node(spare_sizes_) : nullptr;
}

void ModelListNodes::recycle(OrderModelNode* head) {
  // Each node is released by following the links, not the counts in the
  // records: a list whose build failed is shorter than its counts say.
  for (OrderModelNode* model = head; model;) {
    OrderModelNode* next = model->next;
    give_back(model->first_option, spare_options_);
    give_back(model->first_size, spare_sizes_);
    model->next = spare_models_;
    spare_models_ = model;
    model = next;
  }
}

Status load_size_entries(StoreReader& reader, SizeEntryNode** head, int32_t entry_count, unsigned char* item_area,
                         const ModelListSource& source, ModelListNodes& nodes) {
  SizeEntryNode* last = last_node(*head);
  auto read = [&reader](unsigned char* area, unsigned char* record) { return reader.list_size(area, record); };
  for (int32_t i = 0; i < entry_count; ++i) {
    Status status = append_node(head, last, [&nodes] { return nodes.new_size(); }, read, item_area, source,
                                source.size_line);
    if (!status.ok()) return status;
  }
  return Status();
}

Status load_model_list(StoreReader& reader, OrderModelNode** head, int32_t model_count, unsigned char* item_area,
                       const ModelListSource& source, ModelListNodes& nodes) {
  namespace om = records::order_model;
  OrderModelNode* model = last_node(*head);
  auto read_model = [&reader](unsigned char* area, unsigned char* record) { return reader.list_model(area, record); };
  auto read_option = [&reader](unsigned char* area, unsigned char* record) {
    return reader.list_option(area, record);
  };
  for (int32_t m = 0; m < model_count; ++m) {
    // One model at a time: its options and sizes follow it in the sequence.
    Status status = append_node(head, model, [&nodes] { return nodes.new_model(); }, read_model, item_area,
                                source, source.model_line);
    if (!status.ok()) return status;
    OptionEntryNode* option = nullptr;
    const int32_t option_count = records::load_i32(model->record + om::kOptionCount);
    for (int32_t j = 0; j < option_count; ++j) {
      status = append_node(&model->first_option, option, [&nodes] { return nodes.new_option(); },
                           read_option, item_area, source, source.option_line);
      if (!status.ok()) return status;
    }
    status = load_size_entries(reader, &model->first_size, records::load_i32(model->record + om::kSizeCount), item_area,
                               source, nodes);
    if (!status.ok()) return status;
  }
  return Status();
}

Status read_model_list(StoreReader& reader, ModelListGuard& list, int32_t model_count, unsigned char* item_area,
                       const ModelListSource& source) {
  return store_failure(load_model_list(reader, &list.head, model_count, item_area, source, list.nodes()),
                       "model list read failed");
}

void free_model_list(OrderModelNode** head, ModelListNodes& nodes) {
  nodes.recycle(*head);
  *head = nullptr;
}

}  // namespace quire
