// Libraries that CHOLMOD calls into only on some networks (the dense kernels, the orderings),
// opened by path on the first call rather than with the module: an empty library stands in for
// each under the name CHOLMOD asks for, and the module defines the functions CHOLMOD calls,
// each forwarding to the real one (see dense_kernels.h and ordering_libraries.h).
#pragma once

namespace tessaro::global {

// Whether the library at `path` opens and has the function `name`. Opening a library that is
// open already returns it again; by path, not by name, since by name the loader would return the
// empty library that stands in for it.
bool library_has(const char* path, const char* name);

// The function `name` of the library at `path`, which is opened if it is not yet. Where either is
// missing the process ends with a message on standard error: the module asks library_has first,
// so that a missing library ends the run with a sentence instead.
void* late_function(const char* path, const char* name);

// The library at `path` opened as a copy of its own, or nullptr where that fails. The loader
// returns a library opened twice as the one it has, with its global state; a copy made in memory
// is another library to it, with state of its own.
void* open_private_copy(const char* path);

// Calls the function of the declared one's type, found once in the library at `path`, with the
// arguments as they came.
template <auto declared, class... Arguments>
auto call_late(const char* path, const char* name, Arguments... arguments) {
  static const auto real = reinterpret_cast<decltype(declared)>(late_function(path, name));
  return real(arguments...);
}

}  // namespace tessaro::global
