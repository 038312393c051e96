// Models (pb_get_model_ex, pb_free_model_ex) and the stored piece headers
// (pb_open_piece, pb_get_piece_header, pb_close_piece).
#include <cstring>
#include <new>
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

void fill_model_piece(pb_model_piece* piece, sqlite3_stmt* s) {
  std::memset(piece->record, 0, rec::model_piece::kSize);
  fill_record(s, kModelPieceGroupColumn + 1, kModelPiecesTable, piece->record, rec::model_piece::kSize);
}

}  // namespace

int read_model(ItemSlot* slot, pb_model** out) {
  Conn* conn = slot->conn.get();
  sqlite3_stmt* row = conn->stmt(kStmtModelRow);
  sqlite3_stmt* groups = conn->stmt(kStmtModelGroups);
  sqlite3_stmt* pieces = conn->stmt(kStmtModelPieces);
  if (!row || !groups || !pieces) return pb_error.code;
  StmtReset reset_row(row), reset_groups(groups), reset_pieces(pieces);

  sqlite3_bind_int64(row, 1, slot->id);
  int rc = sqlite3_step(row);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? PB_FAIL_MSG(kErrDamagedArea, "model row missing")
                                                 : PB_FAIL_DB(conn->db);
  pb_model* m = new (std::nothrow) pb_model{};
  if (!m) return PB_FAIL(kErrNoMemory);
  namespace mr = rec::model_record;
  fill_record(row, 0, kModelsTable, m->record, mr::kSize);

  // Option groups in order; the pieces attach to them below.
  std::vector<pb_option_group*> group_list;
  int32_t group_count = 0;
  sqlite3_bind_int64(groups, 1, slot->id);
  pb_option_group** group_tail = &m->first_group;
  while ((rc = sqlite3_step(groups)) == SQLITE_ROW) {
    pb_option_group* g = new (std::nothrow) pb_option_group{};
    if (!g) return free_model(m), PB_FAIL(kErrNoMemory);
    fill_record(groups, 0, kOptionGroupsTable, g->record, rec::option_group::kSize);
    *group_tail = g;
    group_tail = &g->next;
    group_list.push_back(g);
    ++group_count;
  }
  if (rc != SQLITE_DONE) return free_model(m), PB_FAIL_DB(conn->db);

  // Pieces ordered by option group (0 = base pieces) and position.
  int32_t base_count = 0;
  std::vector<int32_t> group_pieces(group_list.size(), 0);
  std::vector<pb_model_piece**> tails;
  tails.push_back(&m->first_piece);
  for (pb_option_group* g : group_list) tails.push_back(&g->first_piece);
  sqlite3_bind_int64(pieces, 1, slot->id);
  while ((rc = sqlite3_step(pieces)) == SQLITE_ROW) {
    int64_t group = sqlite3_column_int64(pieces, kModelPieceGroupColumn);
    if (group < 0 || group > static_cast<int64_t>(group_list.size()))
      return free_model(m), PB_FAIL_MSG(kErrDamagedArea, "piece of an unknown option group");
    pb_model_piece* p = new (std::nothrow) pb_model_piece{};
    if (!p) return free_model(m), PB_FAIL(kErrNoMemory);
    fill_model_piece(p, pieces);
    *tails[static_cast<size_t>(group)] = p;
    tails[static_cast<size_t>(group)] = &p->next;
    if (group == 0) ++base_count;
    else ++group_pieces[static_cast<size_t>(group - 1)];
  }
  if (rc != SQLITE_DONE) return free_model(m), PB_FAIL_DB(conn->db);

  // The counts are the lengths of the lists built.
  rec::store_i32(m->record + mr::kBasePieceCount, base_count);
  rec::store_i32(m->record + mr::kGroupCount, group_count);
  for (size_t i = 0; i < group_list.size(); ++i)
    rec::store_i32(group_list[i]->record + rec::option_group::kPieceCount, group_pieces[i]);
  g_live_models.insert(m);
  *out = m;
  return 1;
}

int release_model(pb_model** model) {
  if (!model) return PB_FAIL_MSG(kErrBadArgument, "null model pointer");
  if (!*model) return 1;
  auto it = g_live_models.find(*model);
  if (it == g_live_models.end())
    return PB_FAIL_MSG(kErrBadArgument, "not a model from pb_get_model_ex (or released already)");
  g_live_models.erase(it);
  free_model(*model);
  *model = nullptr;
  return 1;
}

int find_piece(void* area, const char* name, FoundItem* out) {
  std::shared_ptr<Conn> conn = resolve_area_shared(area, kSource, __LINE__);
  if (!conn) return pb_error.code;
  sqlite3_stmt* s = conn->stmt(kStmtPieceOpen);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return PB_FAIL_MSG(kErrNotFound, "no such piece");
  if (rc != SQLITE_ROW) return PB_FAIL_DB(conn->db);
  out->id = sqlite3_column_int64(s, 0);
  out->row = nullptr;
  out->conn = std::move(conn);
  return 1;
}

ItemSlot* open_found_piece(const FoundItem& found, void* piece_area) {
  uint32_t old_index = 0;
  if (slot_of_any(piece_area, &old_index)) release_slot(old_index, piece_area);
  int index = take_slot(kPiece, found.conn, found.id, piece_area, kSource, __LINE__);
  if (index < 0) return nullptr;
  return slot_at(static_cast<uint32_t>(index));
}

int read_piece_header(ItemSlot* slot, unsigned char* header) {
  Conn* conn = slot->conn.get();
  sqlite3_stmt* s = conn->stmt(kStmtPieceHeader);
  if (!s) return pb_error.code;
  StmtReset reset(s);
  sqlite3_bind_int64(s, 1, slot->id);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? PB_FAIL_MSG(kErrDamagedArea, "piece row missing")
                                                 : PB_FAIL_DB(conn->db);
  fill_record(s, 0, kPiecesTable, header, rec::piece_header::kSize);
  return 1;
}

}  // namespace plotbase
