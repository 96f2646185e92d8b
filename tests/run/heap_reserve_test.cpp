// The heap reserve of the global road: large tables made after it come from the heap, in memory
// marked for 2 MB pages, as /proc/self/smaps shows them.
#include "run/heap_reserve.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// Which of the pages of a mapping are backed, one flag per 4 kB page.
std::vector<unsigned char> backed_pages(void* start, std::size_t size) {
  std::vector<unsigned char> backed(size / 4096);
  if (::mincore(start, size, backed.data()) != 0) backed.clear();
  return backed;
}

// Waits up to five seconds for the first `count` pages to be backed.
bool pages_come_in(void* start, std::size_t size, std::size_t count) {
  for (int wait = 0; wait < 500; ++wait) {
    const std::vector<unsigned char> backed = backed_pages(start, size);
    if (std::all_of(backed.begin(), backed.begin() + static_cast<std::ptrdiff_t>(count),
                    [](unsigned char page) { return (page & 1) != 0; })) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::size_t count_backed(void* start, std::size_t size) {
  const std::vector<unsigned char> backed = backed_pages(start, size);
  return static_cast<std::size_t>(
      std::count_if(backed.begin(), backed.end(), [](unsigned char page) { return page & 1; }));
}

// The warming thread backs the range up to the lead beyond the top in use and no further, follows
// the top as it moves, stops at the range's end, and leaves what the pages hold as it is.
TEST(HeapWarming, BacksTheRangeALeadAheadOfTheTopInUse) {
  constexpr std::size_t megabyte = std::size_t{1} << 20;
  constexpr std::size_t lead = 16 * megabyte;
  constexpr std::size_t size = lead + 32 * megabyte;
  constexpr std::size_t page = 4096;
  constexpr int populate_write = 23;  // MADV_POPULATE_WRITE, where the headers are older
  void* mapping = ::mmap(nullptr, size + 2 * megabyte, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  // Systems before Linux 5.14 refuse the advice the thread gives; it then backs nothing.
  if (::madvise(mapping, page, populate_write) != 0) {
    ::munmap(mapping, size + 2 * megabyte);
    GTEST_SKIP() << "this system does not back pages on advice";
  }
  ::madvise(mapping, page, MADV_DONTNEED);
  const auto start = (reinterpret_cast<std::uintptr_t>(mapping) + 2 * megabyte - 1) &
                     ~std::uintptr_t{2 * megabyte - 1};
  auto* memory = reinterpret_cast<char*>(start);
  // A table in use at the bottom of the range, written before the thread starts.
  std::memset(memory, 0x5a, 4 * page);
  std::atomic<std::uintptr_t> top{start + 4 * page};
  {
    const tessaro::HeapWarming warming(
        {start, size}, [&top] { return top.load(); }, lead);
    EXPECT_TRUE(pages_come_in(memory, size, lead / page));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(count_backed(memory, size), lead / page);
    top = start + 16 * megabyte + page;
    EXPECT_TRUE(pages_come_in(memory, size, (lead + 16 * megabyte) / page));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(count_backed(memory, size), (lead + 16 * megabyte) / page);
    top = start + size + lead;
    EXPECT_TRUE(pages_come_in(memory, size, size / page));
  }
  EXPECT_TRUE(std::all_of(memory, memory + 4 * page, [](char c) { return c == 0x5a; }));
  EXPECT_TRUE(std::all_of(memory + 4 * page, memory + size, [](char c) { return c == 0; }));
  ::munmap(mapping, size + 2 * megabyte);
}

}  // namespace
