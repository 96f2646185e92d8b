// The global solver module's entry point (see run/extensions.h).
#include "global/global_solver.h"
#include "run/extensions.h"

extern "C" const tessaro::GlobalModule* tessaro_global_module() {
  static const tessaro::GlobalModule module{.solve_global = tessaro::global::solve_global};
  return &module;
}
