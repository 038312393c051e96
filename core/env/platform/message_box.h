// Message boxes. A host may install a handler of its own
// (quire_set_message_box_handler in quire/quire.h, or set_message_box_handler
// below), which then receives the text unchanged. Otherwise the system shows
// it: on Windows a message box that waits for the user's OK
// (message_box_windows.cpp); without a window system one line on standard
// error (message_box_posix.cpp).
#ifndef QUIRE_PLATFORM_MESSAGE_BOX_H_
#define QUIRE_PLATFORM_MESSAGE_BOX_H_

namespace quire::platform {

// Receives the text of a message box (NUL-terminated, may hold newlines) and
// the context given when it was installed. Returns when the user has seen it.
using MessageBoxHandler = void (*)(const char* text, void* context);

// Shows text with an OK button only and returns when it has been shown.
void show_message_box(const char* text);

// Sends later message boxes to handler; a null handler restores the
// system's message box.
void set_message_box_handler(MessageBoxHandler handler, void* context);

// Shows text the system's way, whatever handler is installed.
void show_system_message_box(const char* text);

// The standard-error line for text: the text with each line end replaced by
// a space, and one newline at the end.
void write_message_box_line(const char* text);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_MESSAGE_BOX_H_
