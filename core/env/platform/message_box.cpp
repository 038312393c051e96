// Message boxes: the host's handler when there is one, else the system's.
#include "platform/message_box.h"

#include <cstdio>
#include <string>

#include "quire/quire.h"

namespace quire::platform {
namespace {
MessageBoxHandler g_handler = nullptr;
void* g_context = nullptr;
}  // namespace

void write_message_box_line(const char* text) {
  std::string line = text ? text : "";
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  // Standard error is the last place a message can go: when it cannot be
  // written there is nobody left to tell.
  if (std::fwrite(line.data(), 1, line.size(), stderr) == line.size()) std::fflush(stderr);
}

void show_message_box(const char* text) {
  if (!text) text = "";
  if (g_handler) g_handler(text, g_context);
  else show_system_message_box(text);
}

void set_message_box_handler(MessageBoxHandler handler, void* context) {
  g_handler = handler;
  g_context = handler ? context : nullptr;
}

}  // namespace quire::platform
