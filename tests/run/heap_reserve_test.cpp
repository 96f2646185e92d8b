// The heap reserve of the global road: large tables made after it come from the heap, in memory
// marked for 2 MB pages, as /proc/self/smaps shows them.
#include "run/heap_reserve.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#define TESSARO_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARO_OWN_ALLOCATOR 1
#endif
#endif

namespace {

struct Mapping {
  std::string name;
  std::string flags;  // the VmFlags line
};

// The mapping of this process that holds `address`.
Mapping mapping_of(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  Mapping found;
  while (std::getline(smaps, line)) {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    char dash = 0;
    std::istringstream fields(line);
    if (fields >> std::hex >> start >> dash >> end && dash == '-') {
      if (inside) break;
      inside = start <= at && at < end;
      if (inside) {
        const auto name = line.find_last_of(' ');
        found.name = line.substr(name + 1);
      }
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      found.flags = line + " ";
    }
  }
  return found;
}

TEST(HeapReserve, LargeTablesComeFromTheHeapMarkedForLargePages) {
#ifdef TESSARO_OWN_ALLOCATOR
  GTEST_SKIP() << "the sanitizer's allocator keeps its own heap";
#endif
  if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage")) {
    GTEST_SKIP() << "no transparent huge pages on this system";
  }
  constexpr std::size_t megabyte = std::size_t{1} << 20;
  tessaro::reserve_heap(64 * megabyte);
  // 16 MB would otherwise be mapped by itself, apart from the heap and unmarked; the reserve
  // begins at a 2 MB boundary, so the first table after it is marked from its first byte.
  auto* table = static_cast<char*>(std::malloc(16 * megabyte));
  ASSERT_NE(table, nullptr);
  for (const char* at : {table, table + 8 * megabyte}) {
    const Mapping mapping = mapping_of(at);
    EXPECT_EQ(mapping.name, "[heap]");
    EXPECT_NE(mapping.flags.find(" hg "), std::string::npos) << mapping.flags;
  }
  std::free(table);
}

}  // namespace
