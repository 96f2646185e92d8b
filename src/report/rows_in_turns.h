// The rows of a large table written on two threads. The rows are taken in chunks, each chunk
// formatted by one thread into records held in memory, the chunks handed to the file strictly in
// order: the file receives the same records as when one thread writes them all.
#pragma once

#include <cstdint>

#include "textio/files.h"

namespace tessaro {

namespace detail {

using WriteRows = void (*)(void* context, OutputFile& unit, std::int64_t first, std::int64_t last);
void write_rows_in_turns(OutputFile& file, std::int64_t n, WriteRows write, void* context);

}  // namespace detail

// Calls rows(unit, first, last) to write the rows first..last of 1..n to `unit`: the file itself
// when n is small or there is no second core, otherwise held units on the calling thread and on a
// helper thread, in alternate chunks. The rows must compute nothing that could trap: the helper
// does not run in step with the calling thread. What a row throws leaves from here, once the file
// holds the records of the rows before it, as when one thread writes them all.
template <class Rows>
void write_rows_in_turns(OutputFile& file, std::int64_t n, Rows& rows) {
  detail::write_rows_in_turns(
      file, n,
      [](void* context, OutputFile& unit, std::int64_t first, std::int64_t last) {
        (*static_cast<Rows*>(context))(unit, first, last);
      },
      &rows);
}

}  // namespace tessaro
