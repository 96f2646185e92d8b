#include "report/rows_in_turns.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

namespace tessaro::detail {

namespace {

// Rows per chunk: a few hundred kilobytes of records, enough that handing a chunk over costs
// little beside formatting it.
constexpr std::int64_t chunk_rows = 4096;
// Below this many rows one thread writes them all: a thread costs more than it saves.
constexpr std::int64_t smallest_split = 50000;

// Whose chunk goes to the file next, or that one thread has given up.
class Turns {
 public:
  // Waits until chunk c may go to the file; false when a thread has given up.
  bool wait_for(std::int32_t c) {
    for (;;) {
      const std::int32_t now = turn_.load(std::memory_order_acquire);
      if (now == c) return true;
      if (now == abandoned) return false;
      turn_.wait(now, std::memory_order_acquire);
    }
  }
  // Chunk c has gone to the file; unless a thread has given up meanwhile, the next one may.
  void pass(std::int32_t c) {
    std::int32_t expected = c;
    turn_.compare_exchange_strong(expected, c + 1, std::memory_order_release);
    turn_.notify_all();
  }
  void abandon() {
    turn_.store(abandoned, std::memory_order_release);
    turn_.notify_all();
  }

 private:
  static constexpr std::int32_t abandoned = -1;
  std::atomic<std::int32_t> turn_{0};
};

// The chunks parity, parity + 2, ... of the rows 1..n, each formatted into a held unit and handed
// to the file in its turn. A failure while formatting also waits for its turn: the file then holds
// the records of the earlier chunks and of this chunk's rows before the failure, as when one
// thread writes every row.
void take_turns(OutputFile& file, std::int64_t n, WriteRows write, void* context, int parity,
                Turns& turns) {
  OutputFile part(file.name());
  part.hold();
  const auto chunks = static_cast<std::int32_t>((n + chunk_rows - 1) / chunk_rows);
  for (std::int32_t c = parity; c < chunks; c += 2) {
    const std::int64_t first = std::int64_t{c} * chunk_rows + 1;
    try {
      write(context, part, first, std::min(n, first + chunk_rows - 1));
    } catch (...) {
      if (turns.wait_for(c)) {
        try {
          file.take_held(part);
        } catch (...) {
          // The first failure is the one reported.
        }
        turns.abandon();
      }
      throw;
    }
    if (!turns.wait_for(c)) return;
    try {
      file.take_held(part);
    } catch (...) {
      turns.abandon();
      throw;
    }
    turns.pass(c);
  }
}

}  // namespace

void write_rows_in_turns(OutputFile& file, std::int64_t n, WriteRows write, void* context) {
  if (n < smallest_split || std::thread::hardware_concurrency() < 2) {
    write(context, file, 1, n);
    return;
  }
  Turns turns;
  std::exception_ptr helper_threw;
  std::thread helper;
  try {
    helper = std::thread([&] {
      try {
        take_turns(file, n, write, context, 1, turns);
      } catch (...) {
        helper_threw = std::current_exception();
        turns.abandon();
      }
    });
  } catch (const std::system_error&) {
    write(context, file, 1, n);
    return;
  }
  try {
    take_turns(file, n, write, context, 0, turns);
  } catch (...) {
    turns.abandon();
    helper.join();
    throw;
  }
  helper.join();
  if (helper_threw) std::rethrow_exception(helper_threw);
}

}  // namespace tessaro::detail
