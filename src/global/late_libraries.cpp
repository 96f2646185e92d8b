#include "global/late_libraries.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace tessaro::global {

namespace {

void* function_of(const char* path, const char* name) {
  void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  return library != nullptr ? ::dlsym(library, name) : nullptr;
}

}  // namespace

bool library_has(const char* path, const char* name) {
  return function_of(path, name) != nullptr;
}

void* late_function(const char* path, const char* name) {
  void* function = function_of(path, name);
  if (function == nullptr) {
    // Only reachable if CHOLMOD called into a library before library_has said it could.
    std::fprintf(stderr, "tessaro: cannot load %s from %s\n", name, path);
    std::abort();
  }
  return function;
}

}  // namespace tessaro::global
