// A loop over the branches or nodes of a large network, run in two halves at once: the second
// half on a helper thread that waits for work between loops, the first on the calling thread; or
// two pieces of work at once, such as the two parts of a large mesh's factorisation. The helper
// starts with the first loop long enough for it, or the first pair of pieces, so that small
// networks, whose loops all run on the calling thread, start no thread at all.
// The loops and pieces given to it change nothing that the other half reads or writes.
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
    alongside([](void* context, std::int32_t first,
                 std::int32_t last) { (*static_cast<Body*>(context))(first, last); },
              &body, middle + 1, n, [&] { body(1, middle); });
  }

  // Whether a helper runs beside the calling thread (started here if it has not been tried).
  bool helper_runs() { return helper_started(); }

  // Calls body(0) and body(1), at once where a helper runs: body(1) on it. For two pieces of work
  // each large enough for the helper to pay. Returns when both have.
  template <class Body>
  void both(Body& body) {
    if (!helper_started()) {
      body(0);
      body(1);
      return;
    }
    alongside([](void* context, std::int32_t which,
                 std::int32_t) { (*static_cast<Body*>(context))(which); },
              &body, 1, 1, [&] { body(0); });
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
  // Starts call(context, first, last) on the helper and calls here() meanwhile. The helper's
  // work ends before anything leaves, and what it threw leaves from here.
  template <class Here>
  void alongside(Call call, void* context, std::int32_t first, std::int32_t last, Here here) {
    start(call, context, first, last);
    try {
      here();
    } catch (...) {
      wait();
      throw;
    }
    wait();
  }
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
