// Host windows: the message channel between a report command and the program
// that called it.
//
// A host registers a message procedure and receives a handle. The report
// library sends its progress message and stop query to that handle; the
// procedure runs inside send_host_message, on the caller's thread, and its
// result is the message's answer. Handles carry a slot index and a
// generation, so a null, destroyed or never-issued handle answers 0 without
// touching any freed state.
#ifndef QUIRE_PLATFORM_HOST_WINDOW_H_
#define QUIRE_PLATFORM_HOST_WINDOW_H_

#include <cstdint>

#include "quire/quire.h"

namespace quire::platform {

// Registers proc with its context. Returns the new window's handle, or 0
// when proc is null.
QuireWindow create_host_window(QuireWindowProc proc, void* context);

// Unregisters window. Returns 1 when it was a live window, else 0. A window
// may destroy itself (or any other) from inside its own procedure.
int destroy_host_window(QuireWindow window);

// Calls the procedure of window with the message and returns its answer; 0
// for a null or dead handle. The registry lock is not held during the call,
// so the procedure may create, destroy or message windows itself.
intptr_t send_host_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                           intptr_t lparam);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_HOST_WINDOW_H_
