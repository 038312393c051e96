// Consulting the faults an area file asks for.
#include "faults.h"

namespace plotbase {

namespace {
constexpr const char* kSource = "plotbase/faults.cpp";
}  // namespace

quire::Status load_item_faults(Conn* conn, Kind kind, int64_t id, FaultSet* out) {
  *out = FaultSet{};
  quire::Status status;
  if (!conn->has_faults) return status;
  store::Statement* s = conn->stmt(kStmtFaults, &status);
  if (!s) return status;
  StatementReset reset(s);
  s->bind_text(1, kind_name(kind));
  s->bind_int64(2, id);
  Step rc = step(s, &status);
  if (rc == Step::kRow) read_fields(*s, 0, kFaultsTable, out);
  else if (rc == Step::kFailed) return PB_DB_ERROR(conn, status);
  return {};
}

quire::Status check_fault(const FaultSet& faults, FaultCall call, int64_t index, const char* source, int line) {
  struct Rule {
    bool fails;
    const char* detail;
  };
  Rule rule = {false, ""};
  switch (call) {
    case FaultCall::kOpen: rule = {faults.open, "fault: open"}; break;
    case FaultCall::kClose: rule = {faults.close, "fault: close"}; break;
    case FaultCall::kHeader: rule = {faults.header, "fault: header"}; break;
    case FaultCall::kHeaderEx: rule = {faults.header || faults.header_ex, "fault: header_ex"}; break;
    case FaultCall::kAnalysis: rule = {faults.analysis, "fault: analysis"}; break;
    case FaultCall::kOrdmod: rule = {faults.ordmod, "fault: ordmod"}; break;
    case FaultCall::kModel: rule = {faults.model, "fault: model"}; break;
    case FaultCall::kPiece: rule = {faults.piece_at == index, "fault: piece_at"}; break;
    case FaultCall::kOverride: rule = {faults.override_at == index, "fault: override_at"}; break;
    case FaultCall::kSplice: rule = {faults.splice_at == index, "fault: splice_at"}; break;
    case FaultCall::kModelList: rule = {faults.model_list_at == index, "fault: model_list_at"}; break;
  }
  if (!rule.fails) return {};
  return store_error(kErrFault, source, line, rule.detail);
}

int64_t count_piece_read(ItemSlot* slot, bool first) {
  int64_t read = first ? 0 : slot->fault_reads.pieces;
  slot->fault_reads.pieces = read + 1;
  return read;
}

int64_t count_model_list_read(ItemSlot* slot) { return slot->fault_reads.model_list++; }

}  // namespace plotbase
