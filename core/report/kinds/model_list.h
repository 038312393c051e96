// The order model list of an order or of a marker, built in memory.
//
// The store hands the list out as a sequence of records (StoreReader's
// list_model, list_option, list_size): a model record, then its option
// entries, then its size entries, then the next model record. load_model_list reads that sequence into nodes that
// hold each record's bytes (at the offsets of quire/records.h) with the
// links kept beside them; the ORDML and MKMOD reports walk the result and
// release it with free_model_list within one dump_item. model_field and
// size_field give the record values their columns write.
#ifndef QUIRE_KINDS_MODEL_LIST_H_
#define QUIRE_KINDS_MODEL_LIST_H_

#include <cstdint>

#include "kinds/columns.h"
#include "kinds/kind_support.h"
#include "quire/records.h"
#include "quire/status.h"
#include "report/store_reader.h"

namespace quire {

// One size entry of a model: the 72-byte SizeEntry and its successor.
struct SizeEntryNode {
  unsigned char record[records::size_entry::kSize];
  SizeEntryNode* next;
};

// One option of a model: the 12-byte OptionListEntry and its successor.
struct OptionEntryNode {
  unsigned char record[records::option_entry::kSize];
  OptionEntryNode* next;
};

// One model of the list: the 118-byte OrderModel, its option and size lists
// and the next model.
struct OrderModelNode {
  unsigned char record[records::order_model::kSize];
  OptionEntryNode* first_option;
  SizeEntryNode* first_size;
  OrderModelNode* next;
};

// Who builds the list: the source name and the three line numbers that the
// error line of an allocation failure names.
struct ModelListSource {
  const char* source_name;
  int model_line;   // an OrderModel could not be allocated
  int option_line;  // an OptionListEntry could not be allocated
  int size_line;    // a SizeEntry could not be allocated
};

inline constexpr ModelListSource kOrdmlListSource{"dmpordml", 185, 209, 145};
inline constexpr ModelListSource kMkmodListSource{"dmpmkmod", 226, 250, 186};

// The error code of the error line of a failed node allocation.
inline constexpr int kAllocationFailed = -1001;

// Hands out zero-filled nodes and takes released ones back, so that a run
// allocates only as many nodes as its largest item needs instead of a fresh
// set for every item. Owned by one report object; its destruction frees
// every node it holds. Nodes still in a list at destruction are not freed:
// release lists with free_model_list first.
class ModelListNodes {
 public:
  ModelListNodes() = default;
  ~ModelListNodes();
  ModelListNodes(const ModelListNodes&) = delete;
  ModelListNodes& operator=(const ModelListNodes&) = delete;

  // A zero-filled node with null links, or null when memory is exhausted
  // (or the allocation limit below is reached).
  OrderModelNode* new_model();
  OptionEntryNode* new_option();
  SizeEntryNode* new_size();

  // Takes back a whole model list with its option and size lists.
  void recycle(OrderModelNode* head);

  // For tests: after limit more nodes have been handed out, every further
  // request fails as an exhausted heap would. A negative limit (the
  // default) means no limit.
  void set_allocation_limit(long limit) { limit_ = limit; }

 private:
  bool may_allocate();

  OrderModelNode* spare_models_ = nullptr;
  OptionEntryNode* spare_options_ = nullptr;
  SizeEntryNode* spare_sizes_ = nullptr;
  long limit_ = -1;
};

// Reads model_count models with their option entries and size entries from
// the open item's model-list sequence through reader and appends them to
// *head, which must be null on the first call. A failed read gives the
// reader's failure; a node that cannot be had gives kNoMemory with error()
// kAllocationFailed and at() the source's name and its line for the node
// kind. After a failure every node read so far is still linked from *head,
// so free_model_list releases it. A negative count reads nothing.
Status load_model_list(StoreReader& reader, OrderModelNode** head, int32_t model_count, unsigned char* item_area,
                       const ModelListSource& source, ModelListNodes& nodes);

// Reads entry_count size entries of one model and appends them to *head.
// Results and failures as load_model_list.
Status load_size_entries(StoreReader& reader, SizeEntryNode** head, int32_t entry_count, unsigned char* item_area,
                         const ModelListSource& source, ModelListNodes& nodes);

// Releases every node of the list at *head, however far its build got, and
// sets *head to null.
void free_model_list(OrderModelNode** head, ModelListNodes& nodes);

// Releases the list on every way out of a dump_item.
class ModelListGuard {
 public:
  explicit ModelListGuard(ModelListNodes& nodes) : nodes_(nodes) {}
  ~ModelListGuard() { free_model_list(&head, nodes_); }
  ModelListGuard(const ModelListGuard&) = delete;
  ModelListGuard& operator=(const ModelListGuard&) = delete;

  OrderModelNode* head = nullptr;
  ModelListNodes& nodes() { return nodes_; }

 private:
  ModelListNodes& nodes_;
};

// Builds the list of the open item's model_count models into list.head with
// load_model_list. Its failure is returned as "model list read failed".
Status read_model_list(StoreReader& reader, ModelListGuard& list, int32_t model_count, unsigned char* item_area,
                       const ModelListSource& source);

// Column values of the model-list records, for the rows of the reports that
// walk a model list: Row has the members `model` (an OrderModel record) and
// `size` (a SizeEntry record). A text field ends at its last byte at the
// latest; kSize is the field's size.
template <std::size_t kOffset, std::size_t kSize, class Row>
kinds::Cell model_field(const Row& r) {
  return kinds::Cell::field_text(r.model + kOffset, kSize - 1);
}
template <std::size_t kOffset, std::size_t kSize, class Row>
kinds::Cell size_field(const Row& r) {
  return kinds::Cell::field_text(r.size + kOffset, kSize - 1);
}
template <std::size_t kOffset, class Row>
kinds::Cell model_integer(const Row& r) {
  return kinds::Cell(records::load_i32(r.model + kOffset));
}
template <std::size_t kOffset, class Row>
kinds::Cell size_integer(const Row& r) {
  return kinds::Cell(records::load_i32(r.size + kOffset));
}

}  // namespace quire

#endif  // QUIRE_KINDS_MODEL_LIST_H_
