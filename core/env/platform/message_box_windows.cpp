// Message boxes on Windows: the system's, without owner or caption of our
// own, with an OK button only.
#include <windows.h>

#include "platform/message_box.h"

namespace quire::platform {

void show_system_message_box(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }

}  // namespace quire::platform
