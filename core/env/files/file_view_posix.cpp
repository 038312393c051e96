#include "quire/files/file_view.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "quire/files/file_env.h"

namespace quire::platform {

namespace {

// The views mapped now, for the bus error handler: the address range of
// each, and whether a read in it found the file shortened. A slot is free
// while its start is 0. Few views are open at once (one per report run).
struct ViewSlot {
  std::atomic<uintptr_t> start{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> shortened{false};
};
constexpr int kViewSlots = 16;
ViewSlot g_slots[kViewSlots];

struct sigaction g_previous_handler;
size_t g_page_size = 4096;
std::once_flag g_handler_installed;

void on_bus_error(int signal, siginfo_t* info, void* context) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (ViewSlot& slot : g_slots) {
    const uintptr_t start = slot.start.load(std::memory_order_acquire);
    const uintptr_t end = slot.end.load(std::memory_order_acquire);
    if (start == 0 || address < start || address >= end) continue;
    // The file ends before this page now: from here on the view shows
    // zeros, and the read that faulted is retried on them.
    const uintptr_t page = address & ~(uintptr_t{g_page_size} - 1);
    void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      slot.shortened.store(true, std::memory_order_release);
      return;
    }
  }
  // Not a view of ours: what would have happened without this handler.
  if (g_previous_handler.sa_flags & SA_SIGINFO) {
    g_previous_handler.sa_sigaction(signal, info, context);
  } else if (g_previous_handler.sa_handler != SIG_DFL && g_previous_handler.sa_handler != SIG_IGN) {
    g_previous_handler.sa_handler(signal);
  } else {
    // The default action ends the process when the fault recurs on return.
    ::signal(signal, SIG_DFL);
  }
}

void install_handler() {
  g_page_size = FileView::page_size();
  struct sigaction action = {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &g_previous_handler);
}

}  // namespace

size_t FileView::page_size() {
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

const char* FileView::map(const ReadableFile& file, uint64_t offset, size_t size) {
  unmap();
  if (!file.is_open() || size == 0 || offset > file.size() || file.size() - offset < size) return nullptr;
  std::call_once(g_handler_installed, install_handler);
  int slot = -1;
  for (int i = 0; i < kViewSlots && slot < 0; ++i) {
    uintptr_t expected = 0;
    // A placeholder start claims the slot until the real range is known.
    if (g_slots[i].start.compare_exchange_strong(expected, 1)) slot = i;
  }
  if (slot < 0) return nullptr;  // too many views at once: read instead
  const uint64_t start = offset & ~(uint64_t{page_size()} - 1);
  const size_t length = static_cast<size_t>(offset - start) + size;
  void* address = file.env().map(file.descriptor(), length, static_cast<off_t>(start));
  if (address == MAP_FAILED) {
    g_slots[slot].start.store(0, std::memory_order_release);
    return nullptr;
  }
  ViewSlot& entry = g_slots[slot];
  entry.shortened.store(false, std::memory_order_relaxed);
  entry.end.store(reinterpret_cast<uintptr_t>(address) + length, std::memory_order_release);
  entry.start.store(reinterpret_cast<uintptr_t>(address), std::memory_order_release);
  env_ = &file.env();
  address_ = address;
  length_ = length;
  slot_ = slot;
  return static_cast<const char*>(address) + (offset - start);
}

void FileView::unmap() {
  if (address_ == nullptr) return;
  ViewSlot& entry = g_slots[slot_];
  if (entry.shortened.load(std::memory_order_acquire)) shortened_ = true;
  env_->unmap(address_, length_);
  entry.end.store(0, std::memory_order_release);
  entry.start.store(0, std::memory_order_release);
  address_ = nullptr;
  length_ = 0;
  slot_ = -1;
}

bool FileView::shortened() {
  if (slot_ >= 0 && g_slots[slot_].shortened.load(std::memory_order_acquire)) shortened_ = true;
  return shortened_;
}

}  // namespace quire::platform
