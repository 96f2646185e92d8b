// CHOLMOD's OpenMP regions, run on the calling thread.
//
// CHOLMOD's supernodal factorisation opens an OpenMP parallel region for every update of a
// supernode, most of them over a few dozen values. The OpenMP runtime ends each region with a
// system call that wakes the team, even when the region ran on the calling thread alone; where a
// system call costs microseconds, as on virtual machines, those calls took 80 % of the
// factorisation of a 100,000-branch mesh. This module's definition of the runtime's entry point
// comes before the runtime's own in the library's lookup, and runs each region's body once on
// the calling thread, which is what the runtime does for a team of one: the body then finds
// itself alone (one thread, thread number 0) and takes the whole of its loop.

// The OpenMP runtime's entry point for a parallel region, as compilers call it.
extern "C" void GOMP_parallel(void (*body)(void*), void* data, unsigned /*threads*/,
                              unsigned /*flags*/) {
  body(data);
}
