#include "run/heap_reserve.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace tessaro {

namespace {

constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
// A smaller reserve would fill too little of its 2 MB page to pay for clearing all of it.
constexpr std::size_t smallest_reserve = std::size_t{256} << 10;
// The block that fills the heap up to the reserve's first 2 MB boundary, kept for the run.
void* gap_before_reserve = nullptr;

}  // namespace

void reserve_heap(std::size_t bytes) {
  // Large blocks would otherwise be mapped one by one and returned on release, each new one
  // touched afresh; the heap's top is never given back.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  if (bytes < smallest_reserve || gap_before_reserve != nullptr) return;
  // The reserve is whole 2 MB pages from a 2 MB boundary on, so that the tables that follow fill
  // them from their first byte. A block of the reserve and one page more extends the heap's top
  // and shows where the boundary lies; marked and freed, it leaves the top in place. A block that
  // fills the gap up to the boundary then stays allocated (the allocator gives a block of n bytes
  // n + 8 rounded up to 16, and the next begins 16 bytes further on), so that the next block
  // begins at the boundary. Nothing is touched but the blocks' headers.
  const std::size_t size = (bytes + huge_page - 1) & ~(huge_page - 1);
  void* block = std::malloc(size + huge_page);
  if (block == nullptr) return;
  const auto first = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t start = (first + huge_page - 1) & ~(huge_page - 1);
  // Advice only: where the system has no such pages, the heap keeps its small ones.
  ::madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
  std::free(block);
  if (start - first >= 32) gap_before_reserve = std::malloc(start - first - 8);
}

}  // namespace tessaro
