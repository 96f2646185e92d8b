// Memory for the global solver's large runs, laid out so that first touches are few, and touched
// ahead of use on the second core.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tessaro {

// The part of the heap that a reserve marked: whole 2 MB pages from `start` on (size 0: none).
struct HeapRange {
  std::uintptr_t start = 0;
  std::size_t size = 0;
};

// Keeps every allocation of the run, from every thread, in the heap and every freed block there
// for the next one, and asks that the first `bytes` of the heap from here on, in whole 2 MB pages
// from a 2 MB boundary, be backed by 2 MB pages where the system allows (not below 256 kB, which
// would fill too little of one). A virtual machine pays microseconds for the first touch of every
// small page (4 kB), some milliseconds for a network of 5,000 branches and about a second for one
// of a million; a 2 MB page is one such touch. Nothing is touched here: the reserve costs address
// space only.
HeapRange reserve_heap(std::size_t bytes);

// While it lives, a thread of its own has the system back the pages of a large reserve a little
// ahead of the heap's top, so that the tables of the run find their memory in place. A first
// touch of fresh memory is a page fault, and in a virtual machine whose host has taken the memory
// back (it does so within seconds of its release) it costs about 1.5 ms per MB: about 0.7 s of a
// run over a million branches, paid by the thread that reads and sets up, unless another core
// pays it first. The pages are faulted in as by a write, their contents left as they are, so the
// thread never disturbs a table in use. The lead is an eighth of the reserve, at most 64 MB: the
// run's peak memory grows by no more. Reserves below `smallest_warmed` are left alone: their
// memory is usually still backed, and the thread would cost more than it saves.
class HeapWarming {
 public:
  static constexpr std::size_t smallest_warmed = std::size_t{64} << 20;
  static constexpr std::size_t longest_lead = std::size_t{64} << 20;

  // The address below which the memory of a range is in use, read again and again.
  using InUseTop = std::function<std::uintptr_t()>;

  // Follows the top of the heap's blocks in use.
  explicit HeapWarming(HeapRange reserve);
  // Follows `top` `lead` bytes ahead, whatever the size of the range.
  HeapWarming(HeapRange reserve, InUseTop top, std::size_t lead);
  ~HeapWarming();
  HeapWarming(const HeapWarming&) = delete;
  HeapWarming& operator=(const HeapWarming&) = delete;

 private:
  void start(HeapRange reserve, InUseTop top, std::size_t lead);
  void warm(HeapRange reserve, const InUseTop& top, std::size_t lead);

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace tessaro
