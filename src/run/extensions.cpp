#include "run/extensions.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace tessaro {

namespace {

const PictureModule* picture = nullptr;
const GlobalModule* global_solver = nullptr;

// The folder of the running program, with its trailing slash.
std::string program_folder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

// Opens the module file and takes its table from the one exported symbol.
template <class Module>
std::string load(const char* file, const char* symbol, const Module*& module) {
  if (module != nullptr) return {};
  const std::string path = program_folder() + file;
  void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return ::dlerror();
  using TableFunction = const Module* (*)();
  const auto table = reinterpret_cast<TableFunction>(::dlsym(handle, symbol));
  if (table == nullptr) return ::dlerror();
  module = table();
  return {};
}

}  // namespace

std::string load_picture_module() {
  return load("libtessaro-picture.so", "tessaro_picture_module", picture);
}

std::string load_global_module() {
  // The dense kernels under the factorisation run on one thread unless the user sets otherwise:
  // on two cores a second thread gained nothing and spent the other core waiting for work. The
  // setting is read when the library is loaded.
  ::setenv("OPENBLAS_NUM_THREADS", "1", 0);
  return load("libtessaro-global.so", "tessaro_global_module", global_solver);
}

const PictureModule& picture_module() {
  return *picture;
}

const GlobalModule& global_module() {
  return *global_solver;
}

void use_global_module(const GlobalModule* module) {
  global_solver = module;
}

}  // namespace tessaro
