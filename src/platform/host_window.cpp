// The exported host-window calls, over the platform's host windows.
#include "platform/host_window.h"

extern "C" {

QUIRE_API QuireWindow quire_create_window(QuireWindowProc proc, void* context) {
  return quire::platform::create_host_window(proc, context);
}

QUIRE_API int quire_destroy_window(QuireWindow window) {
  return quire::platform::destroy_host_window(window);
}

QUIRE_API intptr_t quire_send_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                                      intptr_t lparam) {
  return quire::platform::send_host_message(window, message, wparam, lparam);
}

}  // extern "C"
