// The capabilities that need libraries of their own, Graphviz for the picture and CHOLMOD for the
// global solver, live in a module beside the program, "libtessaro-extensions.so", loaded only
// when an option asks for one of them: a plain run neither loads those libraries nor needs them.
#pragma once

#include <string>

#include "global/global_solver.h"
#include "model/network.h"
#include "model/solution.h"
#include "picture/picture.h"

namespace tessaro {

// What the module offers, by entry point.
struct ExtensionTable {
  // The picture of the network (see picture/picture.h), and on a stopped run the part that the
  // stopping check names and the outcome for its title.
  void (*write_picture)(const Network& net, const Solution* solution, const PictureMarks& marks,
                        const PictureTitle& title) = nullptr;
  PictureMarks (*stop_marks)(const Network& net) = nullptr;
  std::string (*run_outcome)(bool stopped) = nullptr;
  // The global solver (see global/global_solver.h).
  global::GlobalResult (*solve_global)(const Network& net) = nullptr;
};

// Loads the module from the program's own folder. Returns an empty text on success, otherwise
// why it could not be loaded.
std::string load_extensions();

// The loaded module's entry points. Only after load_extensions has succeeded.
const ExtensionTable& extensions();

}  // namespace tessaro

// The module's one exported symbol.
extern "C" const tessaro::ExtensionTable* tessaro_extension_table();
