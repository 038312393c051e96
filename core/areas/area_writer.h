// Writes a whole area into a new area of the store (a new file beside the
// store's area files, or new tables on a server) through the store's engine;
// on commit the new area takes the place of the area of its name: all or
// nothing.
#ifndef QUIRE_AREAS_AREA_WRITER_H_
#define QUIRE_AREAS_AREA_WRITER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "area_store.h"
#include "engine.h"
#include "quire/status.h"
#include "store_access.h"
#include "store_names.h"

namespace quire::areas {

class AreaWriter {
 public:
  AreaWriter();
  ~AreaWriter();  // abandons an uncommitted area: the store is unchanged
  AreaWriter(const AreaWriter&) = delete;
  AreaWriter& operator=(const AreaWriter&) = delete;

  // Starts a new area in the current store. The area's name and settings
  // may be given now or later with set_area, before commit. Where the name
  // is not known yet, a folder store is written to at once all the same (so
  // that a store that cannot be written to is said before any input is
  // read); a server's area is begun once it is named or its first item
  // comes.
  quire::Status begin();
  quire::Status begin(const std::string& name, int32_t notation, int32_t precision);
  void set_area(const std::string& name, int32_t notation, int32_t precision);
  // Names the area as soon as its name is known, before its items come.
  void name_area(const std::string& name);

  // Adds an item with the id given. Ids of a kind are 1, 2, ... in the order
  // items are added; items may come in any order of their names (commit
  // then renumbers them into pb_stricmp order). A name that an item of the
  // same kind already has fails with duplicate() true. A failure of the new
  // area's tables is kStore.
  quire::Status add_marker(int64_t id, const MarkerData& m);
  quire::Status add_model(int64_t id, const ModelData& m);
  quire::Status add_piece(int64_t id, const PieceData& p);
  quire::Status add_order(int64_t id, const OrderData& o);

  // True when the last add failed because the name is taken.
  bool duplicate() const { return duplicate_; }
  // The id and stored name of the item of kind called name (any case);
  // false when there is none.
  bool find_item(Kind kind, const std::string& name, int64_t* id, std::string* stored);

  // The numbers of items added: markers, models, pieces, orders.
  int64_t count(Kind kind) const;

  // Completes the area and puts it in place of the area of its name. When
  // summary is given, it receives area_name, the numbers of items added and
  // where the area is (the area file's path).
  // Every failure abandons the new area (the store is unchanged), except
  // one to make the store directory durable once the file is in place.
  quire::Status commit(const std::string& area_name = {}, AreaSummary* summary = nullptr);

 private:
  // Begins the area in the store under the name known so far.
  quire::Status start();
  // Inserts the rows of a list kept under (owner id, position) with s.
  template <typename T>
  quire::Status add_rows(store::Statement& s, int64_t id, const std::vector<T>& rows, const Table& table);
  quire::Status exec(const std::string& sql);
  // Runs the insert s and resets it.
  quire::Status step(store::Statement& s);
  // The statement id, or null with *status set.
  store::Statement* stmt(int id, quire::Status* status);
  // A failure of the new area's tables, as the user reads it.
  quire::Status write_failure(const quire::Status& why) const;
  quire::Status add_faults(Kind kind, int64_t id, const FaultSet& f);
  quire::Status add_model_list(Kind owner, int64_t id, const std::vector<OrderModelData>& models);
  quire::Status add_item(Kind kind, int64_t id, const void* row);
  quire::Status renumber(Kind kind);
  void abandon();

  Store store_;
  std::unique_ptr<store::AreaTransaction> area_;
  store::Connection* connection_ = nullptr;
  std::vector<std::unique_ptr<store::Statement>> stmts_;
  std::string name_;
  bool named_ = false;         // name_ is the area's own name, not a stand-in
  bool started_ = false;       // begin() was called
  std::string begun_name_;     // the name area_ was begun under
  int32_t notation_ = 0;
  int32_t precision_ = 2;
  bool duplicate_ = false;
  // On a server, where inserts go in batches and a failed one ends the
  // import's transaction, the names added so far as hashes of their
  // ASCII-folded bytes, one open-addressed table per kind (0: empty slot).
  // A name whose hash is there is looked up before its insert.
  struct NameHashes {
    std::vector<uint64_t> slots;
    size_t used = 0;
    // Adds h; false when it was there already.
    bool insert(uint64_t h);
  };
  NameHashes names_[4];
  int64_t counts_[4] = {0, 0, 0, 0};  // by Kind
  bool sorted_[4] = {true, true, true, true};
  std::string last_name_[4];
};

}  // namespace quire::areas

#endif  // QUIRE_AREAS_AREA_WRITER_H_
