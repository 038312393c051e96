// Message boxes. There is no window system here: a message box is written
// to standard error as one line, unless the host has installed a handler of
// its own (quire_set_message_box_handler in quire/quire.h, or
// set_message_box_handler below), which then receives the text unchanged.
#ifndef QUIRE_PLATFORM_MESSAGE_BOX_H_
#define QUIRE_PLATFORM_MESSAGE_BOX_H_

namespace quire::platform {

// Receives the text of a message box (NUL-terminated, may hold newlines) and
// the context given when it was installed. Returns when the user has seen it.
using MessageBoxHandler = void (*)(const char* text, void* context);

// Shows text with an OK button only and returns when it has been shown.
void show_message_box(const char* text);

// Sends later message boxes to handler; a null handler restores the
// standard-error line.
void set_message_box_handler(MessageBoxHandler handler, void* context);

// The standard-error line for text: the text with each line end replaced by
// a space, and one newline at the end.
void write_message_box_line(const char* text);

}  // namespace quire::platform

#endif  // QUIRE_PLATFORM_MESSAGE_BOX_H_
