// The item operations shared by the marker report kinds.
#include "quire/plotbase.h"
#include "report/dump_report.h"

namespace quire {

int MarkerReport::open_item(void* area, const char* name, unsigned char* item_area) {
  return pb_open_marker(area, name, item_area);
}

int MarkerReport::close_item(void* area, const char* name, unsigned char* item_area) {
  return pb_close_marker(area, name, item_area);
}

int MarkerReport::lookup_item(void* area, char* name, const char* pattern, int mode) {
  return pb_lookup_markers(area, name, pattern, mode);
}

}  // namespace quire
