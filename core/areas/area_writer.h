// Writes a whole area into a new SQLite file beside the store's areas and,
// on commit, renames it over the area's file: all or nothing.
#ifndef QUIRE_AREAS_AREA_WRITER_H_
#define QUIRE_AREAS_AREA_WRITER_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "area_store.h"
#include "quire/files/file_replacement.h"
#include "quire/status.h"
#include "store_names.h"

namespace quire::areas {

class AreaWriter {
 public:
  AreaWriter();
  ~AreaWriter();  // abandons an uncommitted area: the store is unchanged
  AreaWriter(const AreaWriter&) = delete;
  AreaWriter& operator=(const AreaWriter&) = delete;

  // Starts a new area file in the current store. The area's name and
  // settings may be given now or later with set_area, before commit.
  quire::Status begin();
  quire::Status begin(const std::string& name, int32_t notation, int32_t precision);
  void set_area(const std::string& name, int32_t notation, int32_t precision);

  // Adds an item with the id given. Ids of a kind are 1, 2, ... in the order
  // items are added; items may come in any order of their names (commit
  // then renumbers them into pb_stricmp order). A name that an item of the
  // same kind already has fails with duplicate() true. A failure of the new
  // file's database is kStore, error() being SQLite's code.
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

  // Completes the file and puts it in place of the area's file. When
  // summary is given, it receives area_name, the numbers of items added and
  // the area file's path.
  // Every failure abandons the new file (the store is unchanged), except
  // one to make the store directory durable once the file is in place.
  quire::Status commit(const std::string& area_name = {}, AreaSummary* summary = nullptr);

 private:
  // Inserts the rows of a list kept under (owner id, position) with s.
  template <typename T>
  quire::Status add_rows(sqlite3_stmt* s, int64_t id, const std::vector<T>& rows, const Table& table);
  quire::Status exec(const char* sql);
  quire::Status step(sqlite3_stmt* s);
  // The statement id, or null with *status set.
  sqlite3_stmt* stmt(int id, quire::Status* status);
  // The failure of the last SQLite call on the new file.
  quire::Status write_failure() const;
  quire::Status add_faults(Kind kind, int64_t id, const FaultSet& f);
  quire::Status add_model_list(Kind owner, int64_t id, const std::vector<OrderModelData>& models);
  quire::Status add_item(Kind kind, int64_t id, const void* row);
  quire::Status renumber(Kind kind);
  void abandon();

  sqlite3* db_ = nullptr;
  StatementCache stmts_;
  std::string name_;
  int32_t notation_ = 0;
  int32_t precision_ = 2;
  // The new area file until it takes the place of the area's file.
  quire::platform::FileReplacement replacement_;
  bool duplicate_ = false;
  int64_t counts_[4] = {0, 0, 0, 0};  // by Kind
  bool sorted_[4] = {true, true, true, true};
  std::string last_name_[4];
};

}  // namespace quire::areas

#endif  // QUIRE_AREAS_AREA_WRITER_H_
