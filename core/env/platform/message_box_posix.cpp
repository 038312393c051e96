// Message boxes without a window system: one line on standard error.
#include "platform/message_box.h"

namespace quire::platform {

void show_system_message_box(const char* text) { write_message_box_line(text); }

}  // namespace quire::platform
