#include "quire/files/file_replacement.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "file_replacement_internal.h"

namespace quire::platform {

namespace {

// The temporary files under way, for the interrupt handler: fixed storage,
// each slot claimed (2) while its path is written and published (1) once it
// is complete. The flags are lock-free atomics, safe in a signal handler and
// from another thread.
constexpr int kSlots = 8;
constexpr size_t kSlotPath = 4096;
struct Slot {
  std::atomic<int> used{0};
  char path[kSlotPath] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);
Slot g_slots[kSlots];

int take_slot(const std::string& path) {
  if (path.size() >= kSlotPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].used.compare_exchange_strong(expected, 2)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].used.store(1, std::memory_order_release);
    return i;
  }
  return -1;
}

}  // namespace

void remove_replacements_under_way() {
  for (Slot& slot : g_slots)
    if (slot.used.load(std::memory_order_acquire) == 1) internal::remove_path_now(slot.path);
}

FileReplacement::~FileReplacement() { abandon(); }

bool FileReplacement::begin(const std::string& target, const char* prefix, Status* status) {
  abandon();
  target_ = target;
  attributes_from_.clear();
  const std::string directory = directory_of(target);
  remove_stale_files(directory, prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = unpredictable_name(directory, prefix);
    if (file_.create_exclusive(name)) {
      temporary_ = name;
      slot_ = take_slot(name);
      // Held until the file is in place or removed: a living writer's file.
      if (!file_.lock(false)) break;
      return true;
    }
    if (file_.status().error() != EEXIST) break;
  }
  status->fail(file_.status().error(), "create a file in", directory);
  abandon();
  return false;
}

bool FileReplacement::finish(Status* status) {
  // The new file keeps the mode (and owners) of the one it replaces.
  if (!file_.take_attributes_of(attributes_from_.empty() ? target_ : attributes_from_) || !file_.sync()) {
    const Status& s = file_.status();
    status->update(s);
    return false;
  }
  return true;
}

bool FileReplacement::put_in_place(Status* status) {
  if (!rename_file(file_.env(), temporary_, target_, status)) return false;
  // The content was synced before the rename; closing releases the lock.
  file_.close();
  release();
  return true;
}

bool FileReplacement::sync_directory(Status* status) {
  return platform::sync_directory(file_.env(), directory_of(target_), status);
}

void FileReplacement::abandon() {
  if (!temporary_.empty()) {
    Status ignored;
    remove_file(file_.env(), temporary_, &ignored);
  }
  file_.close();
  release();
}

void FileReplacement::release() {
  if (slot_ >= 0) g_slots[slot_].used.store(0, std::memory_order_release);
  slot_ = -1;
  temporary_.clear();
}

}  // namespace quire::platform
