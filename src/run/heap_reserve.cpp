#include "run/heap_reserve.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace tessaro {

void reserve_heap(std::size_t bytes) {
  // Large blocks would otherwise be mapped one by one and returned on release, each new one
  // touched afresh; the heap's top is never given back.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  if (bytes == 0) return;
  // One block the size of the reserve extends the heap's top; marked and freed, it leaves the
  // top in place for the tables that follow. Only the whole 2 MB pages inside it are marked.
  void* block = std::malloc(bytes);
  if (block == nullptr) return;
  constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
  const auto first = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t start = (first + huge_page - 1) & ~(huge_page - 1);
  const std::uintptr_t end = (first + bytes) & ~(huge_page - 1);
  // Advice only: where the system has no such pages, the heap keeps its small ones.
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  std::free(block);
}

}  // namespace tessaro
