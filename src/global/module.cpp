// The global solver module's entry point (see run/extensions.h).
//
// The program does not link the libraries under the module, and opens the module with local
// scope, so the lookup of a symbol from CHOLMOD (or any library loaded with the module) searches
// the program, then the module, and only then the libraries the module brought in. A definition
// in the module therefore takes the place of a library's for CHOLMOD: the forwarding dense
// kernels and orderings (dense_kernels.h, ordering_libraries.h) and the stopped clock
// (library_clock.cpp) rely on it.
#include "global/global_solver.h"
#include "run/extensions.h"

extern "C" const tessaro::GlobalModule* tessaro_global_module() {
  static const tessaro::GlobalModule module{.solve_global = tessaro::global::solve_global};
  return &module;
}
