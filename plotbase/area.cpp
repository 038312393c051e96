// Calls on the area: connecting, notation, looking up a storage area, its
// notation, precision and path.
#include <cerrno>
#include <cstring>
#include <string>

#include "internal.h"

namespace {
constexpr const char* kSource = "plotbase/area.cpp";
int g_notation = 0;
}  // namespace

using namespace plotbase;

extern "C" PB_API int pb_connect_to_network(void) { return 1; }

extern "C" PB_API int pb_set_notation_state(int notation) {
  if (notation == 0 || notation == 1) g_notation = notation;
  return g_notation;
}

extern "C" PB_API int pb_lookup_storage_areas(void* area, const char* name, int mode) {
  (void)mode;
  if (!area || !name) return PB_FAIL_MSG(kErrBadArgument, "null area record or name");
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

extern "C" PB_API int pb_use_area_notation(void* area) {
  Conn* conn = resolve_area(area, false, kSource, __LINE__);
  return conn ? conn->notation : 0;
}

extern "C" PB_API int pb_get_notationprecision(void* area, int* notation, int* precision) {
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

extern "C" PB_API int pb_convert_path(char* out, void* area, int mode) {
  (void)mode;
  if (!out) return PB_FAIL_MSG(kErrBadArgument, "null output buffer");
  Conn* conn = resolve_area(area, false, kSource, __LINE__);
  if (!conn) {
    out[0] = 0;
    return pb_error.code;
  }
  quire::records::store_text(reinterpret_cast<unsigned char*>(out), PB_PATH_BUFFER_SIZE,
                             conn->path.c_str());
  return 1;
}
