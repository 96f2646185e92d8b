#include "global/late_libraries.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

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

void* open_private_copy(const char* path) {
  const int source = ::open(path, O_RDONLY | O_CLOEXEC);
  if (source < 0) return nullptr;
  struct stat status {};
  const int copy = ::fstat(source, &status) == 0 ? ::memfd_create("tessaro-copy", MFD_CLOEXEC) : -1;
  void* library = nullptr;
  if (copy >= 0) {
    off_t left = status.st_size;
    while (left > 0) {
      const ssize_t sent = ::sendfile(copy, source, nullptr, static_cast<std::size_t>(left));
      if (sent <= 0) break;
      left -= sent;
    }
    // The loader opens the copy through its descriptor and maps it; the mapping keeps it.
    char name[40];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", copy);
    if (left == 0) library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    ::close(copy);
  }
  ::close(source);
  return library;
}

}  // namespace tessaro::global
