// The entry points of the extension module (see run/extensions.h). Compiled into the module only.
#include "global/global_solver.h"
#include "picture/picture.h"
#include "picture/run_picture.h"
#include "run/extensions.h"

extern "C" const tessaro::ExtensionTable* tessaro_extension_table() {
  static const tessaro::ExtensionTable table{
      .write_picture = tessaro::write_picture,
      .stop_marks = tessaro::stop_marks,
      .run_outcome = tessaro::run_outcome,
      .solve_global = tessaro::global::solve_global,
  };
  return &table;
}
