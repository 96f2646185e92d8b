// A loop over the branches or nodes of a large network, run in two halves at once: the second
// half on a helper thread that waits for work between loops, the first on the calling thread.
// The helper starts with the first loop long enough for it, so that small networks, whose loops
// all run on the calling thread, start no thread at all.
// The loops given to it change nothing that the other half reads or writes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace tessaro::global {

class TwoHalves {
 public:
  TwoHalves();
  ~TwoHalves();
  TwoHalves(const TwoHalves&) = delete;
  TwoHalves& operator=(const TwoHalves&) = delete;

  // Calls body(first, last) for the entries first..last of 1..n, in two halves at once when n is
  // large enough for the helper to pay, the second half's call on the helper thread. Returns when
  // both have.
  template <class Body>
  void run(std::int32_t n, Body& body) {
    if (n < smallest_split || !helper_started()) {
      body(1, n);
      return;
    }
    const std::int32_t middle = n / 2;
    start([](void* context, std::int32_t first,
             std::int32_t last) { (*static_cast<Body*>(context))(first, last); },
          &body, middle + 1, n);
    // The helper's half ends before anything leaves, and what it threw leaves from here.
    try {
      body(1, middle);
    } catch (...) {
      wait();
      throw;
    }
    wait();
  }

 private:
  // Below this many entries a loop runs on the calling thread alone.
  static constexpr std::int32_t smallest_split = 20000;
  using Call = void (*)(void*, std::int32_t, std::int32_t);

  // Starts the helper if it has not been tried yet; whether it runs.
  bool helper_started();
  void start(Call call, void* context, std::int32_t first, std::int32_t last);
  // Waits for the helper's half; rethrows what it threw.
  void wait();
  void serve();

  std::mutex mutex_;
  std::condition_variable changed_;
  Call call_ = nullptr;
  void* context_ = nullptr;
  std::int32_t first_ = 0;
  std::int32_t last_ = 0;
  bool busy_ = false;
  std::exception_ptr thrown_;
  bool stop_ = false;
  bool tried_ = false;
  std::thread helper_;
};

}  // namespace tessaro::global
