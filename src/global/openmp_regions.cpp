// CHOLMOD's OpenMP regions, run on the calling thread.
//
// CHOLMOD's supernodal factorisation opens an OpenMP parallel region for every update of a
// supernode, most of them over a few dozen values. The OpenMP runtime ends each region with a
// system call that wakes the team, even when the region ran on the calling thread alone; where a
// system call costs microseconds, as on virtual machines, those calls took 80 % of the
// factorisation of a 100,000-branch mesh. The definition below runs each region's body once on
// the calling thread, which is what the runtime does for a team of one: the body then finds
// itself alone (one thread, thread number 0) and takes the whole of its loop.
//
// It takes the place of the runtime's own because of how the module is loaded: the program
// itself does not link the OpenMP runtime, and the module is opened with local scope, so the
// lookup of a symbol from CHOLMOD (or any library loaded with the module) searches the program,
// then the module, and only then the libraries the module brought in. It therefore applies to
// every library loaded with the module, and only to regions opened through this one entry
// point: a library that used another of the runtime's entry points for its regions would still
// reach the runtime.

// The OpenMP runtime's entry point for a parallel region, as compilers call it.
extern "C" void GOMP_parallel(void (*body)(void*), void* data, unsigned /*threads*/,
                              unsigned /*flags*/) {
  body(data);
}
