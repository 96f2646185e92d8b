// Memory for the global solver's large runs, laid out so that first touches are few.
#pragma once

#include <cstddef>

namespace tessaro {

// Keeps every allocation of the run in the heap and every freed block there for the next one,
// and asks that the first `bytes` of the heap from here on, in whole 2 MB pages from a 2 MB
// boundary, be backed by 2 MB pages where the system allows (not below 256 kB, which would fill
// too little of one). A virtual machine pays microseconds for the first touch of each 4 kB page,
// some milliseconds for a network of 5,000 branches and about a second for one of a million; a
// 2 MB page is one such touch. Nothing is touched here: the reserve costs address space only.
void reserve_heap(std::size_t bytes);

}  // namespace tessaro
