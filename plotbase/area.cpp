// Calls on the area: connecting, notation, looking up a storage area, its
// notation, precision and path.
#include <cerrno>
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

int lookup_storage_area(void* area, const char* name) {
  std::string wanted(name);
  if (!valid_area_name(wanted)) {
    PB_FAIL_MSG(kErrNotFound, "not a valid area name");
    return 0;
  }
  std::string path = path_in(store_directory(), area_file_name(wanted));
  FileStatus st = file_status(path);
  if (st.error != 0) {
    if (st.error == ENOENT || st.error == ENOTDIR) {
      PB_FAIL_MSG(kErrNotFound, "no such area");
      return 0;
    }
    return PB_FAIL_MSG(kErrStore, std::strerror(st.error));
  }
  if (!st.regular) {
    // Named as a damaged area file is: a FIFO or a directory is never opened.
    pb_printf("area %s: %s: not a regular file (an area file is one)\n", name, path.c_str());
    return PB_FAIL_MSG(kErrDamagedArea, "area file is not a regular file");
  }
  int r = bind_area(area, wanted, path, st.identity);
  if (r != 1) return r;
  Conn* conn = resolve_area(area, false, kSource, __LINE__);
  if (!conn) return pb_error.code;
  if (pb_stricmp(conn->name.c_str(), wanted.c_str()) != 0)
    return PB_FAIL_MSG(kErrDamagedArea, "the area file holds another area");
  return 1;
}

int use_area_notation(void* area) {
  Conn* conn = resolve_area(area, false, kSource, __LINE__);
  return conn ? conn->notation : 0;
}

int get_notation_precision(void* area, int* notation, int* precision) {
  Conn* conn = resolve_area(area, false, kSource, __LINE__);
  if (!conn) {
    if (notation) *notation = 0;
    if (precision) *precision = 2;
    return pb_error.code;
  }
  if (notation) *notation = conn->notation;
  if (precision) *precision = conn->precision;
  return 1;
}

int convert_path(char* out, void* area) {
  Conn* conn = resolve_area(area, false, kSource, __LINE__);
  if (!conn) {
    out[0] = 0;
    return pb_error.code;
  }
  quire::records::store_text(reinterpret_cast<unsigned char*>(out), PB_PATH_BUFFER_SIZE,
                             conn->path.c_str());
  return 1;
}

}  // namespace plotbase
