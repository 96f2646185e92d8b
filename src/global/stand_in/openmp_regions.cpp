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
// It takes the place of the runtime's own because CHOLMOD calls nothing else of it: this library
// is built under the runtime's name, defines the two symbol versions CHOLMOD requires of it
// (openmp.map), and is loaded with the global solver module instead of the runtime, as the empty
// libraries stand in for the dense kernels and the orderings (global/ordering_libraries.h). A
// library loaded later that needed more of the runtime would not find it.

// The OpenMP runtime's entry point for a parallel region, as compilers call it, and what a body
// asks of its team.
extern "C" void GOMP_parallel(void (*body)(void*), void* data, unsigned /*threads*/,
                              unsigned /*flags*/) {
  body(data);
}
extern "C" int omp_get_num_threads() {
  return 1;
}
extern "C" int omp_get_thread_num() {
  return 0;
}
