// Host windows without a window system: a registry of message procedures
// in this process, each reached through a handle of slot and generation.
#include "platform/host_window.h"

#include <mutex>
#include <vector>

namespace quire::platform {
namespace {

// One registry slot. A slot is reused after its window is destroyed; its
// generation then moves on, so old handles to it stop matching.
struct Slot {
  QuireWindowProc proc = nullptr;
  void* context = nullptr;
  uint32_t generation = 0;
  bool live = false;
};

struct Registry {
  std::mutex mutex;
  std::vector<Slot> slots;
  std::vector<uint32_t> free_slots;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: handles may outlive static teardown
  return *r;
}

// Handle layout: high 32 bits the generation (never 0), low 32 bits the slot
// index plus one. So 0 is never a handle.
QuireWindow make_handle(uint32_t index, uint32_t generation) {
  return (static_cast<QuireWindow>(generation) << 32) | (static_cast<QuireWindow>(index) + 1);
}

// The live slot of handle, or null. Caller holds the lock.
Slot* find_slot(Registry& r, QuireWindow window) {
  uint32_t low = static_cast<uint32_t>(window & 0xffffffffu);
  uint32_t generation = static_cast<uint32_t>(window >> 32);
  if (low == 0 || generation == 0) return nullptr;
  uint32_t index = low - 1;
  if (index >= r.slots.size()) return nullptr;
  Slot& s = r.slots[index];
  if (!s.live || s.generation != generation) return nullptr;
  return &s;
}

}  // namespace

QuireWindow create_host_window(QuireWindowProc proc, void* context) {
  if (!proc) return 0;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  uint32_t index;
  if (!r.free_slots.empty()) {
    index = r.free_slots.back();
    r.free_slots.pop_back();
  } else {
    index = static_cast<uint32_t>(r.slots.size());
    r.slots.emplace_back();
  }
  Slot& s = r.slots[index];
  s.generation = s.generation == 0xffffffffu ? 1 : s.generation + 1;
  s.proc = proc;
  s.context = context;
  s.live = true;
  return make_handle(index, s.generation);
}

int destroy_host_window(QuireWindow window) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  Slot* s = find_slot(r, window);
  if (!s) return 0;
  s->live = false;
  s->proc = nullptr;
  s->context = nullptr;
  r.free_slots.push_back(static_cast<uint32_t>(s - r.slots.data()));
  return 1;
}

intptr_t send_host_message(QuireWindow window, unsigned int message, uintptr_t wparam,
                           intptr_t lparam) {
  if (window == 0) return 0;
  QuireWindowProc proc;
  void* context;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Slot* s = find_slot(r, window);
    if (!s) return 0;
    proc = s->proc;
    context = s->context;
  }
  return proc(window, message, wparam, lparam, context);
}

}  // namespace quire::platform
