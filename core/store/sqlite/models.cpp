// Models (pb_get_model_ex, pb_free_model_ex) and the stored piece headers
// (pb_get_piece_header).
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "internal.h"

namespace plotbase {
namespace {

constexpr const char* kSource = "plotbase/models.cpp";
namespace rec = quire::records;

// Models handed out by pb_get_model_ex and not yet released.
std::unordered_set<pb_model*> g_live_models;

void free_model(pb_model* m) {
  pb_model_piece* p = m->first_piece;
  while (p) {
    pb_model_piece* next = p->next;
    delete p;
    p = next;
  }
  pb_option_group* g = m->first_group;
  while (g) {
    pb_option_group* next_group = g->next;
    p = g->first_piece;
    while (p) {
      pb_model_piece* next = p->next;
      delete p;
      p = next;
    }
    delete g;
    g = next_group;
  }
  delete m;
}

void fill_model_piece(pb_model_piece* piece, store::Statement& s) {
  std::memset(piece->record, 0, rec::model_piece::kSize);
  fill_record(s, kModelPieceGroupColumn + 1, kModelPiecesTable, piece->record, rec::model_piece::kSize);
}

}  // namespace

quire::Status read_model(ItemSlot* slot, pb_model** out) {
  Conn* conn = slot->conn.get();
  quire::Status status;
  store::Statement* row = conn->stmt(kStmtModelRow, &status);
  store::Statement* groups = row ? conn->stmt(kStmtModelGroups, &status) : nullptr;
  store::Statement* pieces = groups ? conn->stmt(kStmtModelPieces, &status) : nullptr;
  if (!pieces) return status;
  StatementReset reset_row(row), reset_groups(groups), reset_pieces(pieces);

  row->bind_int64(1, slot->id);
  quire::Status failure;
  Step rc = step(row, &failure);
  if (rc != Step::kRow) return rc == Step::kDone ? PB_ERROR(kErrDamagedArea, "model row missing")
                                                 : PB_DB_ERROR(conn, failure);
  pb_model* m = new (std::nothrow) pb_model{};
  if (!m) return PB_ERROR(kErrNoMemory, "");
  namespace mr = rec::model_record;
  fill_record(*row, 0, kModelsTable, m->record, mr::kSize);

  // Option groups in order; the pieces attach to them below.
  std::vector<pb_option_group*> group_list;
  int32_t group_count = 0;
  groups->bind_int64(1, slot->id);
  pb_option_group** group_tail = &m->first_group;
  while ((rc = step(groups, &failure)) == Step::kRow) {
    pb_option_group* g = new (std::nothrow) pb_option_group{};
    if (!g) return free_model(m), PB_ERROR(kErrNoMemory, "");
    fill_record(*groups, 0, kOptionGroupsTable, g->record, rec::option_group::kSize);
    *group_tail = g;
    group_tail = &g->next;
    group_list.push_back(g);
    ++group_count;
  }
  if (rc != Step::kDone) return free_model(m), PB_DB_ERROR(conn, failure);

  // Pieces ordered by option group (0 = base pieces) and position.
  int32_t base_count = 0;
  std::vector<int32_t> group_pieces(group_list.size(), 0);
  std::vector<pb_model_piece**> tails;
  tails.push_back(&m->first_piece);
  for (pb_option_group* g : group_list) tails.push_back(&g->first_piece);
  pieces->bind_int64(1, slot->id);
  while ((rc = step(pieces, &failure)) == Step::kRow) {
    int64_t group = pieces->column_int64(kModelPieceGroupColumn);
    if (group < 0 || group > static_cast<int64_t>(group_list.size())) {
      free_model(m);
      return item_damaged(conn, kModel, slot->id,
                          "a piece of an option group it does not have (the area file is damaged)", kSource,
                          __LINE__);
    }
    pb_model_piece* p = new (std::nothrow) pb_model_piece{};
    if (!p) return free_model(m), PB_ERROR(kErrNoMemory, "");
    fill_model_piece(p, *pieces);
    *tails[static_cast<size_t>(group)] = p;
    tails[static_cast<size_t>(group)] = &p->next;
    if (group == 0) ++base_count;
    else ++group_pieces[static_cast<size_t>(group - 1)];
  }
  if (rc != Step::kDone) return free_model(m), PB_DB_ERROR(conn, failure);

  // The lists walked must be as long as the model and its groups declare:
  // otherwise rows are missing or extra, and the model cannot be read whole.
  const char* short_list = nullptr;
  std::string group_name;
  int64_t walked = 0, declared = 0;
  if (base_count != rec::load_i32(m->record + mr::kBasePieceCount)) {
    short_list = "base pieces";
    walked = base_count;
    declared = rec::load_i32(m->record + mr::kBasePieceCount);
  } else if (group_count != rec::load_i32(m->record + mr::kGroupCount)) {
    short_list = "option groups";
    walked = group_count;
    declared = rec::load_i32(m->record + mr::kGroupCount);
  } else {
    for (size_t i = 0; i < group_list.size() && !short_list; ++i) {
      declared = rec::load_i32(group_list[i]->record + rec::option_group::kPieceCount);
      if (group_pieces[i] != declared) {
        group_name.assign("pieces in option group ").append(std::to_string(i + 1));
        short_list = group_name.c_str();
        walked = group_pieces[i];
      }
    }
  }
  if (short_list) {
    free_model(m);
    return item_damaged(conn, kModel, slot->id, disagreement(walked, declared, short_list), kSource, __LINE__);
  }
  g_live_models.insert(m);
  *out = m;
  return status;
}

quire::Status release_model(pb_model** model) {
  if (!model) return PB_ERROR(kErrBadArgument, "null model pointer");
  if (!*model) return {};
  auto it = g_live_models.find(*model);
  if (it == g_live_models.end())
    return PB_ERROR(kErrBadArgument, "not a model from pb_get_model_ex (or released already)");
  g_live_models.erase(it);
  free_model(*model);
  *model = nullptr;
  return {};
}

quire::Status read_piece_header(ItemSlot* slot, unsigned char* header) {
  return read_row(slot->conn.get(), kStmtPieceHeader, slot->id, -1, kPiecesTable, header, rec::piece_header::kSize,
                  kErrDamagedArea, "piece row missing", kSource, __LINE__);
}

}  // namespace plotbase
