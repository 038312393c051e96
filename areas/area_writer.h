// Writes a whole area into a new SQLite file beside the store's areas and,
// on commit, renames it over the area's file: all or nothing.
#ifndef QUIRE_AREAS_AREA_WRITER_H_
#define QUIRE_AREAS_AREA_WRITER_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "area_data.h"
#include "area_store.h"
#include "quire/files/file_replacement.h"
#include "store_layout.h"

namespace plotbase {

class AreaWriter {
 public:
  AreaWriter();
  ~AreaWriter();  // abandons an uncommitted area: the store is unchanged
  AreaWriter(const AreaWriter&) = delete;
  AreaWriter& operator=(const AreaWriter&) = delete;

  // Starts a new area file in the current store. The area's name and
  // settings may be given now or later with set_area, before commit.
  bool begin(std::string* error);
  bool begin(const std::string& name, int32_t notation, int32_t precision, std::string* error);
  void set_area(const std::string& name, int32_t notation, int32_t precision);

  // Adds an item with the id given. Ids of a kind are 1, 2, ... in the order
  // items are added; items may come in any order of their names (commit
  // then renumbers them into pb_stricmp order). A name that an item of the
  // same kind already has fails with duplicate() true.
  bool add_marker(int64_t id, const MarkerData& m, std::string* error);
  bool add_model(int64_t id, const ModelData& m, std::string* error);
  bool add_piece(int64_t id, const PieceData& p, std::string* error);
  bool add_order(int64_t id, const OrderData& o, std::string* error);

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
  bool commit(std::string* error, const std::string& area_name = {}, AreaSummary* summary = nullptr);

 private:
  bool exec(const char* sql, std::string* error);
  bool step(sqlite3_stmt* s, std::string* error);
  sqlite3_stmt* stmt(int id, std::string* error);
  bool add_faults(Kind kind, int64_t id, const FaultSet& f, std::string* error);
  bool add_model_list(Kind owner, int64_t id, const std::vector<OrderModelData>& models, std::string* error);
  bool add_item(Kind kind, int64_t id, const void* row, std::string* error);
  bool renumber(Kind kind, std::string* error);
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

}  // namespace plotbase

#endif  // QUIRE_AREAS_AREA_WRITER_H_
