// Calls on the area: connecting, notation, looking up a storage area, its
// notation, precision and path.
#include <cstring>
#include <string>

#include "internal.h"

namespace plotbase {

namespace {
constexpr const char* kSource = "plotbase/area.cpp";
int g_notation = 0;
}  // namespace

int set_notation_state(int notation) {
  if (notation == 0 || notation == 1) g_notation = notation;
  return g_notation;
}

quire::Status lookup_storage_area(void* area, const char* name, End* end) {
  std::string wanted(name);
  if (!valid_area_name(wanted)) {
    PB_END(end, kErrNotFound, "not a valid area name");
    return {};
  }
  quire::Status status = bind_area(area, wanted, end);
  if (!status.ok() || end->code != 0) return status;
  Conn* conn = resolve_area(area, false, &status, kSource, __LINE__);
  if (!conn) return status;
  if (compare_names(conn->name.c_str(), wanted.c_str()) != 0)
    return store_error(kErrDamagedArea, kSource, __LINE__, "the area file holds another area", conn->path);
  return status;
}

quire::Status area_notation(void* area, int* notation, int* precision) {
  quire::Status status;
  Conn* conn = resolve_area(area, false, &status, kSource, __LINE__);
  if (notation) *notation = conn ? conn->notation : 0;
  if (precision) *precision = conn ? conn->precision : 2;
  return status;
}

quire::Status convert_path(char* out, void* area) {
  quire::Status status;
  Conn* conn = resolve_area(area, false, &status, kSource, __LINE__);
  if (!conn) {
    out[0] = 0;
    return status;
  }
  quire::records::store_text(reinterpret_cast<unsigned char*>(out), PB_PATH_BUFFER_SIZE, conn->path.c_str());
  return status;
}

}  // namespace plotbase
