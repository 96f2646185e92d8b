// The rows of a large table written on two threads. The rows are taken in chunks, each chunk
// formatted by one thread into records held in memory, the chunks handed to the file strictly in
// order: the file receives the same records as when one thread writes them all.
#pragma once

#include <cmath>
#include <cstdint>

#include "textio/files.h"
#include "textio/math.h"

namespace tessaro {

namespace detail {

using WriteRows = void (*)(void* context, OutputFile& unit, std::int64_t first, std::int64_t last);
void write_rows_in_turns(OutputFile& file, std::int64_t n, WriteRows write, void* context);

}  // namespace detail

// Whether the arithmetic of rows 1..n would trap, value(k) making the values of row k and returning
// the largest in magnitude; it runs with the traps held.
template <class Value>
bool rows_would_trap(std::int32_t n, Value value) {
  const HeldTraps held;
  double largest = 0.0;
  for (std::int32_t k = 1; k <= n; ++k) largest = std::fmax(largest, std::fabs(value(k)));
  return held.raised() != 0 || !std::isfinite(largest);
}

// Calls rows(unit, first, last) to write the rows first..last of 1..n to `unit`: the file itself
// when n is small, there is no second core or the rows' arithmetic would trap (`would_trap`),
// otherwise held units on the calling thread and on a helper thread, in alternate chunks. A trap
// must come at its row, which only one thread writing the rows in order guarantees. What a row
// throws leaves from here, once the file holds the records of the rows before it, as when one
// thread writes them all.
template <class Rows>
void write_rows_in_turns(OutputFile& file, std::int64_t n, Rows& rows, bool would_trap) {
  if (would_trap) {
    rows(file, 1, n);
    return;
  }
  detail::write_rows_in_turns(
      file, n,
      [](void* context, OutputFile& unit, std::int64_t first, std::int64_t last) {
        (*static_cast<Rows*>(context))(unit, first, last);
      },
      &rows);
}

}  // namespace tessaro
