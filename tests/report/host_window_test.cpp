// Host windows: answers, null and destroyed handles, reuse of slots; on
// Windows also the host's own window reached through SendMessageA.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <vector>

#include "quire/quire.h"

namespace {

constexpr QuireWindow kNoWindow{};

// A handle that was never issued.
QuireWindow forged(QuireWindow w) {
#ifdef _WIN32
  (void)w;
  return reinterpret_cast<QuireWindow>(uintptr_t{0x7ffe1234});
#else
  return w + 1000;
#endif
}

struct Calls {
  int count = 0;
  unsigned int message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  intptr_t answer = 0;
  QuireWindow destroy_on_call = 0;
};

intptr_t record(QuireWindow, unsigned int message, uintptr_t wparam, intptr_t lparam,
                void* context) {
  Calls* c = static_cast<Calls*>(context);
  ++c->count;
  c->message = message;
  c->wparam = wparam;
  c->lparam = lparam;
  if (c->destroy_on_call) quire_destroy_window(c->destroy_on_call);
  return c->answer;
}

TEST(HostWindow, MessageReachesProcedureAndAnswerComesBack) {
  Calls calls;
  calls.answer = 7;
  QuireWindow w = quire_create_window(record, &calls);
  ASSERT_NE(w, kNoWindow);
  EXPECT_EQ(quire_send_message(w, QUIRE_MSG_PROGRESS, 600000, 42), 7);
  EXPECT_EQ(calls.count, 1);
  EXPECT_EQ(calls.message, static_cast<unsigned>(QUIRE_MSG_PROGRESS));
  EXPECT_EQ(calls.wparam, 600000u);
  EXPECT_EQ(calls.lparam, 42);
  EXPECT_EQ(quire_destroy_window(w), 1);
}

TEST(HostWindow, NullDestroyedAndForgedHandlesAnswerZero) {
  Calls calls;
  calls.answer = 1;
  EXPECT_EQ(quire_create_window(nullptr, &calls), kNoWindow);
  EXPECT_EQ(quire_send_message(kNoWindow, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(quire_destroy_window(kNoWindow), 0);

  QuireWindow w = quire_create_window(record, &calls);
  EXPECT_EQ(quire_destroy_window(w), 1);
  EXPECT_EQ(quire_destroy_window(w), 0);  // twice
  EXPECT_EQ(quire_send_message(w, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(quire_send_message(forged(w), QUIRE_MSG_STOP_QUERY, 0, 0), 0);
#ifndef _WIN32
  EXPECT_EQ(quire_send_message(~static_cast<QuireWindow>(0), QUIRE_MSG_STOP_QUERY, 0, 0), 0);
#endif
  EXPECT_EQ(calls.count, 0);
}

TEST(HostWindow, StaleHandleDoesNotReachTheSlotsNextWindow) {
  Calls first, second;
  second.answer = 5;
  QuireWindow old = quire_create_window(record, &first);
  quire_destroy_window(old);
  QuireWindow fresh = quire_create_window(record, &second);  // may reuse the slot
  EXPECT_NE(fresh, old);
  EXPECT_EQ(quire_send_message(old, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(quire_send_message(fresh, QUIRE_MSG_STOP_QUERY, 0, 0), 5);
  EXPECT_EQ(first.count + second.count, 1);
  quire_destroy_window(fresh);
}

TEST(HostWindow, ProcedureMayDestroyItsOwnWindow) {
  Calls calls;
  calls.answer = 3;
  QuireWindow w = quire_create_window(record, &calls);
  calls.destroy_on_call = w;
  EXPECT_EQ(quire_send_message(w, QUIRE_MSG_STOP_QUERY, 0, 0), 3);
  EXPECT_EQ(quire_send_message(w, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(calls.count, 1);
}

TEST(HostWindow, ManyWindowsKeepTheirOwnProcedures) {
  std::vector<Calls> calls(100);
  std::vector<QuireWindow> windows;
  for (size_t i = 0; i < calls.size(); ++i) {
    calls[i].answer = static_cast<intptr_t>(i + 1);
    windows.push_back(quire_create_window(record, &calls[i]));
  }
  for (size_t i = 0; i < windows.size(); i += 2) quire_destroy_window(windows[i]);
  for (size_t i = 0; i < windows.size(); ++i)
    EXPECT_EQ(quire_send_message(windows[i], QUIRE_MSG_STOP_QUERY, 0, 0), i % 2 ? static_cast<intptr_t>(i + 1) : 0);
  for (size_t i = 1; i < windows.size(); i += 2) quire_destroy_window(windows[i]);
}

#ifdef _WIN32
// The host's own window, as a host program makes it.
Calls* g_host_calls = nullptr;

LRESULT CALLBACK host_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == QUIRE_MSG_PROGRESS || message == QUIRE_MSG_STOP_QUERY) {
    ++g_host_calls->count;
    g_host_calls->message = message;
    g_host_calls->wparam = wparam;
    g_host_calls->lparam = lparam;
    return message == QUIRE_MSG_STOP_QUERY ? g_host_calls->answer : 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST(HostWindow, HostsOwnWindowGetsTheMessages) {
  Calls calls;
  calls.answer = 1;
  g_host_calls = &calls;
  WNDCLASSA klass{};
  klass.lpfnWndProc = host_procedure;
  klass.hInstance = GetModuleHandleA(nullptr);
  klass.lpszClassName = "QuireTestHost";
  ASSERT_NE(RegisterClassA(&klass), 0);
  HWND window = CreateWindowExA(0, "QuireTestHost", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, klass.hInstance,
                                nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(quire_send_message(window, QUIRE_MSG_PROGRESS, 3, 2), 0);
  EXPECT_EQ(calls.message, static_cast<unsigned>(QUIRE_MSG_PROGRESS));
  EXPECT_EQ(calls.wparam, 3u);
  EXPECT_EQ(calls.lparam, 2);
  EXPECT_EQ(quire_send_message(window, QUIRE_MSG_STOP_QUERY, 0, 0), 1);
  EXPECT_EQ(calls.count, 2);
  DestroyWindow(window);
  EXPECT_EQ(quire_send_message(window, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(calls.count, 2);

  // A window of quire_create_window is a window like any other.
  Calls own;
  own.answer = 9;
  QuireWindow made = quire_create_window(record, &own);
  EXPECT_EQ(SendMessageA(made, QUIRE_MSG_STOP_QUERY, 0, 0), 9);
  EXPECT_EQ(SendMessageA(made, WM_NULL, 0, 0), 0);  // the system's messages keep their own handling
  EXPECT_EQ(own.count, 1);
  EXPECT_EQ(quire_destroy_window(made), 1);
}
#endif

}  // namespace
