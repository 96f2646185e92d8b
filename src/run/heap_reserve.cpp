#include "run/heap_reserve.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <utility>

// Linux 5.14 and later; older systems refuse the advice and the heap is touched where it is used.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace tessaro {

namespace {

constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
// A smaller reserve would fill too little of its 2 MB page to pay for clearing all of it.
constexpr std::size_t smallest_reserve = std::size_t{256} << 10;
// The block that fills the heap up to the reserve's first 2 MB boundary, kept for the run.
void* gap_before_reserve = nullptr;

// The warming thread backs a few 2 MB pages at a time, and when it is far enough ahead of the
// heap's top waits for the top to move, a little longer each time it has not.
constexpr std::uintptr_t warming_step = std::uintptr_t{8} << 20;
constexpr auto shortest_pause = std::chrono::microseconds(250);
constexpr auto longest_pause = std::chrono::milliseconds(8);

}  // namespace

HeapRange reserve_heap(std::size_t bytes) {
  // Large blocks would otherwise be mapped one by one and returned on release, each new one
  // touched afresh; the heap's top is never given back; and the solver's and the writer's helper
  // threads take their blocks from this heap too, not from heaps of their own in small pages.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  mallopt(M_ARENA_MAX, 1);
  if (bytes < smallest_reserve || gap_before_reserve != nullptr) return {};
  // The reserve is whole 2 MB pages from a 2 MB boundary on, so that the tables that follow fill
  // them from their first byte. A block of the reserve and one page more extends the heap's top
  // and shows where the boundary lies; marked and freed, it leaves the top in place. A block that
  // fills the gap up to the boundary then stays allocated (the allocator gives a block of n bytes
  // n + 8 rounded up to 16, and the next begins 16 bytes further on), so that the next block
  // begins at the boundary. Nothing is touched but the blocks' headers.
  const std::size_t size = (bytes + huge_page - 1) & ~(huge_page - 1);
  void* block = std::malloc(size + huge_page);
  if (block == nullptr) return {};
  const auto first = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t start = (first + huge_page - 1) & ~(huge_page - 1);
  // Advice only: where the system has no such pages, the heap keeps its small ones.
  ::madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
  std::free(block);
  if (start - first >= 32) gap_before_reserve = std::malloc(start - first - 8);
  return {start, size};
}

namespace {

// The heap lies from its base up to the program break; the allocator tells its size and the size
// of the free block at its top, so the top of what is in use lies that much below the break.
HeapWarming::InUseTop heap_top() {
  const auto base = reinterpret_cast<std::uintptr_t>(::sbrk(0)) - mallinfo2().arena;
  return [base] {
    const struct mallinfo2 heap = mallinfo2();
    return base + heap.arena - heap.keepcost;
  };
}

}  // namespace

HeapWarming::HeapWarming(HeapRange reserve) {
  if (reserve.size >= smallest_warmed) {
    start(reserve, heap_top(), std::min(longest_lead, reserve.size / 8));
  }
}

HeapWarming::HeapWarming(HeapRange reserve, InUseTop top, std::size_t lead) {
  start(reserve, std::move(top), lead);
}

void HeapWarming::start(HeapRange reserve, InUseTop top, std::size_t lead) {
  if (reserve.size == 0) return;
  try {
    thread_ =
        std::thread([this, reserve, top = std::move(top), lead] { warm(reserve, top, lead); });
  } catch (const std::system_error&) {
    // Without a thread the run touches its memory itself.
  }
}

HeapWarming::~HeapWarming() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void HeapWarming::warm(HeapRange reserve, const InUseTop& top, std::size_t lead) {
  const std::uintptr_t end = reserve.start + reserve.size;
  std::uintptr_t warmed = reserve.start;
  std::chrono::microseconds pause = shortest_pause;
  std::unique_lock lock(mutex_);
  while (!stop_ && warmed < end) {
    lock.unlock();
    const std::uintptr_t ahead = std::min(end, (top() + lead) & ~(huge_page - 1));
    const bool behind = warmed < ahead;
    if (behind) {
      const std::uintptr_t next = std::min(ahead, warmed + warming_step);
      // Advice only: where it is refused, the run touches its memory itself.
      if (::madvise(reinterpret_cast<void*>(warmed), next - warmed, MADV_POPULATE_WRITE) != 0) {
        return;
      }
      warmed = next;
    }
    lock.lock();
    if (behind) {
      pause = shortest_pause;
    } else {
      wake_.wait_for(lock, pause, [this] { return stop_; });
      pause = std::min<std::chrono::microseconds>(2 * pause, longest_pause);
    }
  }
}

}  // namespace tessaro
