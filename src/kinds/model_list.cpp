#include "kinds/model_list.h"

#include <cstring>
#include <new>

#include "quire/plotbase.h"

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

int allocation_failed(const ModelListSource& source, int line) {
  pb_error.code = kAllocationFailed;
  pb_error.line = line;
  std::strncpy(pb_error.source, source.source_name, sizeof pb_error.source - 1);
  pb_error.source[sizeof pb_error.source - 1] = 0;
  return kAllocationFailed;
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

int load_size_entries(SizeEntryNode** head, int32_t entry_count, unsigned char* item_area,
                      const ModelListSource& source, ModelListNodes& nodes) {
  SizeEntryNode* last = *head;
  while (last && last->next) last = last->next;
  for (int32_t i = 0; i < entry_count; ++i) {
    SizeEntryNode* entry = nodes.new_size();
    if (!entry) return allocation_failed(source, source.size_line);
    if (last) last->next = entry;
    else *head = entry;
    last = entry;
    int r = pb_get_order_model_entry(entry->record, item_area);
    if (r != 1) return r;
  }
  return 1;
}

int load_model_list(OrderModelNode** head, int32_t model_count, unsigned char* item_area,
                    const ModelListSource& source, ModelListNodes& nodes) {
  namespace om = records::order_model;
  OrderModelNode* last = *head;
  while (last && last->next) last = last->next;
  for (int32_t m = 0; m < model_count; ++m) {
    OrderModelNode* model = nodes.new_model();
    if (!model) return allocation_failed(source, source.model_line);
    if (last) last->next = model;
    else *head = model;
    last = model;
    int r = pb_get_order_model(model->record, item_area);
    if (r != 1) return r;

    int32_t option_count = records::load_i32(model->record + om::kOptionCount);
    OptionEntryNode* last_option = nullptr;
    for (int32_t j = 0; j < option_count; ++j) {
      OptionEntryNode* option = nodes.new_option();
      if (!option) return allocation_failed(source, source.option_line);
      if (last_option) last_option->next = option;
      else model->first_option = option;
      last_option = option;
      r = pb_get_option_list_entry(option->record, item_area);
      if (r != 1) return r;
    }

    r = load_size_entries(&model->first_size, records::load_i32(model->record + om::kSizeCount),
                          item_area, source, nodes);
    if (r != 1) return r;
  }
  return 1;
}

void free_model_list(OrderModelNode** head, ModelListNodes& nodes) {
  nodes.recycle(*head);
  *head = nullptr;
}

}  // namespace quire
