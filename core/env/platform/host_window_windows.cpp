// Host windows on Windows: real windows, reached with SendMessageA. A host
// passes its own window; quire_create_window makes a message-only window
// whose procedure hands the host's messages to a QuireWindowProc.
//
// A message to the window that create_host_window made last on the sending
// thread, while it lives, calls its procedure directly: SendMessageA would
// call it on this thread all the same, and a run sends two messages per
// item, which through the system's message machinery cost more than the
// item itself under some Windows implementations.
#include <windows.h>



#include "platform/host_window.h"
#include "platform/shared_library.h"

namespace quire::platform {
namespace {

constexpr const char kClassName[] = "QuireHostWindow";

// What a window made by create_host_window calls; owned by the window and
// freed when it is gone (WM_NCDESTROY).
struct Binding {
  QuireWindowProc proc;
  void* context;
};

// The binding of the window being created on this thread until its
// WM_NCCREATE takes it: what is left here afterwards nobody owns.
thread_local Binding* t_unclaimed = nullptr;

// The window create_host_window made last on this thread and its binding,
// until the window is gone.
thread_local HWND t_own_window = nullptr;
thread_local Binding* t_own_binding = nullptr;

LRESULT CALLBACK binding_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* binding = static_cast<Binding*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    t_unclaimed = nullptr;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(binding));
  } else if (message == WM_NCDESTROY) {
    if (window == t_own_window) {
      t_own_window = nullptr;
      t_own_binding = nullptr;
    }
    delete reinterpret_cast<Binding*>(SetWindowLongPtrA(window, GWLP_USERDATA, 0));
  } else if (message >= WM_USER) {
    // The system's own messages keep their default handling; the host's
    // procedure sees the messages of applications, ours among them. The
    // procedure may destroy the window: nothing of the binding is used
    // after the call.
    auto* binding = reinterpret_cast<Binding*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (binding) {
      QuireWindowProc proc = binding->proc;
      void* context = binding->context;
      return proc(window, message, wparam, lparam, context);
    }
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// Registers the window class once per process; false when the system
// refused it.
bool register_class() {
  static const bool registered = [] {
    WNDCLASSEXA klass{};
    klass.cbSize = sizeof klass;
    klass.lpfnWndProc = binding_procedure;
    klass.hInstance = static_cast<HINSTANCE>(own_library_handle());
    klass.lpszClassName = kClassName;
    return RegisterClassExA(&klass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

QuireWindow create_host_window(QuireWindowProc proc, void* context) {
  if (!proc || !register_class()) return nullptr;
  auto* binding = new Binding{proc, context};
  t_unclaimed = binding;
  HWND window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                static_cast<HINSTANCE>(own_library_handle()), binding);
  // A window that failed after WM_NCCREATE freed the binding itself
  // (WM_NCDESTROY); one that never got that far did not.
  delete t_unclaimed;
  t_unclaimed = nullptr;
  if (window) {
    t_own_window = window;
    t_own_binding = reinterpret_cast<Binding*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  }
  return window;
}

int destroy_host_window(QuireWindow window) {
  if (!window) return 0;
  return DestroyWindow(window) ? 1 : 0;
}

intptr_t send_host_message(QuireWindow window, unsigned int message, uintptr_t wparam, intptr_t lparam) {
  if (!window) return 0;
  if (window == t_own_window && t_own_binding && message >= WM_USER)
    return t_own_binding->proc(window, message, wparam, lparam, t_own_binding->context);
  return static_cast<intptr_t>(SendMessageA(window, message, static_cast<WPARAM>(wparam),
                                            static_cast<LPARAM>(lparam)));
}

}  // namespace quire::platform
