// The capabilities that need libraries of their own live in modules beside the program, loaded
// only when an option asks for them: "libtessaro-picture.so" (the picture, laid out by Graphviz)
// and "libtessaro-global.so" (the global solver, whose equations CHOLMOD factorises). A plain run
// neither loads those libraries nor needs them installed.
#pragma once

#include <string>

#include "global/global_solver.h"
#include "model/network.h"
#include "model/solution.h"
#include "picture/picture.h"

namespace tessaro {

// The picture module's entry points (see picture/picture.h and picture/run_picture.h).
struct PictureModule {
  void (*write_picture)(const Network& net, const Solution* solution, const PictureMarks& marks,
                        const PictureTitle& title) = nullptr;
  PictureMarks (*stop_marks)(const Network& net) = nullptr;
  std::string (*run_outcome)(bool stopped) = nullptr;
};

// The global solver module's entry point (see global/global_solver.h).
struct GlobalModule {
  global::GlobalResult (*solve_global)(const Network& net) = nullptr;
};

// Load a module from the program's own folder. Each returns an empty text on success, otherwise
// why the module could not be loaded.
std::string load_picture_module();
std::string load_global_module();

// A loaded module's entry points; only after its load has succeeded.
const PictureModule& picture_module();
const GlobalModule& global_module();

// For a program that links the global solver's objects in instead of loading the module (the
// fuzz target): its entry points, taken as loaded.
void use_global_module(const GlobalModule* module);

}  // namespace tessaro

// Each module's one exported symbol.
extern "C" const tessaro::PictureModule* tessaro_picture_module();
extern "C" const tessaro::GlobalModule* tessaro_global_module();
