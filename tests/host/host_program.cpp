// A Windows host program of the report library, as a host application uses
// it: it loads quire.dll at run time, makes a window, and calls one report
// command with its window handle. Its window procedure counts the progress
// messages and asks the run to stop after a given number of items.
//
//   quire_host COMMAND AREA OUTPUT [STOP_AFTER [DETAILED]]
//
// COMMAND is an export such as dmp_mkpc; STOP_AFTER 0 (the default) never
// stops; DETAILED 1 asks for the detailed columns. Prints, one per line:
//   box: TEXT               each message box, newlines written as "\n"
//   progress: COUNT TOTAL   the progress messages received, the last total
//   result: R               what the command returned
// and exits with 0 when the command returned 1, 1 when it returned 0, 2 on
// wrong usage and 3 when the library or its command cannot be found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr UINT kProgress = 1125;   // wparam: total items, lparam: item number
constexpr UINT kStopQuery = 1126;  // answer non-zero to stop

using Command = int (*)(int argc, char** argv, HWND window, int detailed);
using MessageBoxProc = void (*)(const char* text, void* context);
using SetMessageBoxHandler = void (*)(MessageBoxProc proc, void* context);

struct Progress {
  long count = 0;        // progress messages received
  WPARAM total = 0;      // total items of the last one
  LPARAM last_item = 0;  // item number of the last one
  bool in_order = true;  // item numbers went 1, 2, 3, ...
  long stop_after = 0;   // 0: never stop
};

Progress g_progress;

LRESULT CALLBACK host_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kProgress:
      ++g_progress.count;
      if (lparam != g_progress.last_item + 1) g_progress.in_order = false;
      g_progress.total = wparam;
      g_progress.last_item = lparam;
      return 0;
    case kStopQuery:
      return g_progress.stop_after > 0 && g_progress.count >= g_progress.stop_after ? 1 : 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

// The library's message boxes, shown here as lines (a real box would wait
// for a click).
void print_box(const char* text, void*) {
  std::string line = "box: ";
  for (const char* p = text; *p; ++p) line += *p == '\n' ? std::string("\\n") : std::string(1, *p);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The address of export name of library, or null.
void* find_export(HMODULE library, const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr, "usage: quire_host COMMAND AREA OUTPUT [STOP_AFTER [DETAILED]]\n");
    return 2;
  }
  g_progress.stop_after = argc > 4 ? std::atol(argv[4]) : 0;
  int detailed = argc > 5 ? std::atoi(argv[5]) : 0;

  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA klass{};
  klass.lpfnWndProc = host_procedure;
  klass.hInstance = instance;
  klass.lpszClassName = "QuireHostProgram";
  if (!RegisterClassA(&klass)) {
    std::fprintf(stderr, "quire_host: cannot register the window class (%lu)\n", GetLastError());
    return 3;
  }
  HWND window = CreateWindowExA(0, klass.lpszClassName, "quire host", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr);
  if (!window) {
    std::fprintf(stderr, "quire_host: cannot create the window (%lu)\n", GetLastError());
    return 3;
  }

  HMODULE library = LoadLibraryA("quire.dll");
  if (!library) {
    std::fprintf(stderr, "quire_host: cannot load quire.dll (%lu)\n", GetLastError());
    return 3;
  }
  auto set_handler = reinterpret_cast<SetMessageBoxHandler>(find_export(library, "quire_set_message_box_handler"));
  auto command = reinterpret_cast<Command>(find_export(library, argv[1]));
  if (!set_handler || !command) {
    std::fprintf(stderr, "quire_host: quire.dll has no %s\n", command ? "quire_set_message_box_handler" : argv[1]);
    return 3;
  }
  set_handler(print_box, nullptr);

  char* command_argv[] = {argv[1], argv[2], argv[3], nullptr};
  int result = command(3, command_argv, window, detailed);
  std::printf("progress: %ld %llu%s\n", g_progress.count, static_cast<unsigned long long>(g_progress.total),
              g_progress.in_order ? "" : " (out of order)");
  std::printf("result: %d\n", result);
  DestroyWindow(window);
  return result == 1 ? 0 : 1;
}
