// Host windows: the message channel between a report command and the program
// that called it.
//
// A host registers a message procedure and receives a handle. The report
// library sends its progress message and stop query to that handle; the
// procedure runs inside send_host_message and its result is the message's
// answer. A null, destroyed or never-issued handle answers 0 without
// touching any freed state.
//
// On Windows (host_window_windows.cpp) a handle is a real window: the
// message goes through SendMessageA, so a host may pass its own window, and
// create_host_window makes a message-only window of the calling thread that
// hands every message from WM_USER on to the procedure (sent from that
// thread, such a message calls the procedure directly). Elsewhere
// (host_window_posix.cpp) handles carry a slot index and a generation in a
// registry of this process, and the procedure runs on the sender's thread.
#ifndef QUIRE_PLATFORM_HOST_WINDOW_H_
#define QUIRE_PLATFORM_HOST_WINDOW_H_

#include <cstdint>

#include "quire/quire.h"

namespace quire::platform {

// Registers proc with its context. Returns the new window's handle, or 0
// when proc is null (or the system refuses a window).
QuireWindow create_host_window(QuireWindowProc proc, void* context);

// Unregisters window. Returns 1 when it was a live window, else 0. A window
// may destroy itself (or any other) from inside its own procedure. On
// Windows only the thread that created a window can destroy it.
int destroy_host_window(QuireWindow window);

// Calls the procedure of window with the message and returns its answer; 0
// for a null or dead handle. The procedure may create, destroy or message
// windows itself.
intptr_t send_host_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                           intptr_t lparam);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_HOST_WINDOW_H_
