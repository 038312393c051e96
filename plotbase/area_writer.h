// Writes a whole area into a new SQLite file beside the store's areas and,
// on commit, renames it over the area's file: all or nothing.
#ifndef PLOTBASE_AREA_WRITER_H_
#define PLOTBASE_AREA_WRITER_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "area_data.h"

namespace plotbase {

// The database schema (docs/area-store.md). Version in area.format.
extern const char* const kAreaSchema;
constexpr int kAreaFormat = 1;

class AreaWriter {
 public:
  AreaWriter() = default;
  ~AreaWriter();  // abandons an uncommitted area: the store is unchanged
  AreaWriter(const AreaWriter&) = delete;
  AreaWriter& operator=(const AreaWriter&) = delete;

  // Starts a new area file for the area called name in the current store.
  bool begin(const std::string& name, int32_t notation, int32_t precision, std::string* error);

  // Items must be added with ids 1, 2, ... in pb_stricmp order of their
  // names, each kind on its own.
  bool add_marker(int64_t id, const MarkerData& m, std::string* error);
  bool add_model(int64_t id, const ModelData& m, std::string* error);
  bool add_piece(int64_t id, const PieceData& p, std::string* error);
  bool add_order(int64_t id, const OrderData& o, std::string* error);

  // Completes the file and puts it in place of the area's file.
  bool commit(std::string* error, std::string* final_path = nullptr);

 private:
  bool exec(const char* sql, std::string* error);
  bool prepare(sqlite3_stmt** s, const std::string& sql, std::string* error);
  bool step(sqlite3_stmt* s, std::string* error);
  bool add_faults(const char* kind, int64_t id, const FaultSpec& f, std::string* error);
  bool add_model_list(const char* owner, int64_t id, const std::vector<OrderModelData>& models,
                      std::string* error);
  bool add_common(sqlite3_stmt* s, int64_t id, const ItemCommon& item);
  void abandon();

  sqlite3* db_ = nullptr;
  std::string name_;
  int32_t notation_ = 0;
  int32_t precision_ = 2;
  std::string temp_path_;
  std::string final_path_;
  int64_t counts_[4] = {0, 0, 0, 0};  // markers, models, pieces, orders
  enum {
    kInsMarker, kInsAnalysis, kInsMarkerPiece, kInsOverride, kInsSplice, kInsListModel, kInsListOption,
    kInsListSize, kInsModel, kInsGroup, kInsModelPiece, kInsPiece, kInsOrder, kInsFaults, kInsCount
  };
  sqlite3_stmt* ins_[kInsCount] = {};
};

}  // namespace plotbase

#endif  // PLOTBASE_AREA_WRITER_H_
