// Host windows: answers, null and destroyed handles, reuse of slots.
#include <gtest/gtest.h>

#include <vector>

#include "quire/quire.h"

namespace {

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
  ASSERT_NE(w, 0u);
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
  EXPECT_EQ(quire_create_window(nullptr, &calls), 0u);
  EXPECT_EQ(quire_send_message(0, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(quire_destroy_window(0), 0);

  QuireWindow w = quire_create_window(record, &calls);
  EXPECT_EQ(quire_destroy_window(w), 1);
  EXPECT_EQ(quire_destroy_window(w), 0);  // twice
  EXPECT_EQ(quire_send_message(w, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(quire_send_message(w + 1000, QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(quire_send_message(~static_cast<QuireWindow>(0), QUIRE_MSG_STOP_QUERY, 0, 0), 0);
  EXPECT_EQ(calls.count, 0);
}

TEST(HostWindow, StaleHandleDoesNotReachTheSlotsNextWindow) {
  Calls first, second;
  second.answer = 5;
  QuireWindow old = quire_create_window(record, &first);
  quire_destroy_window(old);
  QuireWindow fresh = quire_create_window(record, &second);  // may reuse the slot
  EXPECT_NE(fresh, old);
  EXPECT_EQ(quire_send_message(old, 1, 0, 0), 0);
  EXPECT_EQ(quire_send_message(fresh, 1, 0, 0), 5);
  EXPECT_EQ(first.count + second.count, 1);
  quire_destroy_window(fresh);
}

TEST(HostWindow, ProcedureMayDestroyItsOwnWindow) {
  Calls calls;
  calls.answer = 3;
  QuireWindow w = quire_create_window(record, &calls);
  calls.destroy_on_call = w;
  EXPECT_EQ(quire_send_message(w, 1, 0, 0), 3);
  EXPECT_EQ(quire_send_message(w, 1, 0, 0), 0);
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
    EXPECT_EQ(quire_send_message(windows[i], 1, 0, 0), i % 2 ? static_cast<intptr_t>(i + 1) : 0);
  for (size_t i = 1; i < windows.size(); i += 2) quire_destroy_window(windows[i]);
}

}  // namespace
