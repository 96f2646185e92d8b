#include "global/two_halves.h"

#include <utility>

namespace tessaro::global {

TwoHalves::TwoHalves() = default;

// The helper starts only where a second core can run it. It takes the floating-point environment
// of the thread that makes it: the solver makes it with the traps off.
bool TwoHalves::helper_started() {
  if (tried_) return helper_.joinable();
  tried_ = true;
  if (std::thread::hardware_concurrency() < 2) return false;
  try {
    helper_ = std::thread([this] { serve(); });
  } catch (const std::system_error&) {
    // Without a helper every loop runs on the calling thread.
  }
  return helper_.joinable();
}

TwoHalves::~TwoHalves() {
  if (!helper_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void TwoHalves::start(Call call, void* context, std::int32_t first, std::int32_t last) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    call_ = call;
    context_ = context;
    first_ = first;
    last_ = last;
    busy_ = true;
  }
  changed_.notify_all();
}

void TwoHalves::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
}

void TwoHalves::serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stop_; });
    if (stop_) return;
    const Call call = call_;
    void* const context = context_;
    const std::int32_t first = first_;
    const std::int32_t last = last_;
    lock.unlock();
    std::exception_ptr thrown;
    try {
      call(context, first, last);
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    thrown_ = thrown;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace tessaro::global
