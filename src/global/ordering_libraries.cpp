#include "global/ordering_libraries.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

// The orderings' declarations, C functions in headers that say so themselves.
#include <camd.h>
#include <ccolamd.h>
#include <colamd.h>

namespace tessaro::global {

namespace {

// The real libraries, by path: by name the loader would return the empty library that stands in
// for each.
constexpr const char* library_paths[] = {TESSARO_METIS_LIBRARY, TESSARO_CAMD_LIBRARY,
                                         TESSARO_CCOLAMD_LIBRARY, TESSARO_COLAMD_LIBRARY};
enum class Library : int { metis, camd, ccolamd, colamd };

void* open_library(Library library) {
  // Opening a library that is open already returns it again.
  return ::dlopen(library_paths[static_cast<int>(library)], RTLD_NOW | RTLD_LOCAL);
}

// The real function, found on the first call of each.
void* real_function(Library library, const char* name) {
  void* handle = open_library(library);
  void* function = handle != nullptr ? ::dlsym(handle, name) : nullptr;
  if (function == nullptr) {
    // Only reachable if CHOLMOD called an ordering before load_ordering_libraries said it could.
    std::fprintf(stderr, "tessaro: cannot load the ordering %s from %s\n", name,
                 library_paths[static_cast<int>(library)]);
    std::abort();
  }
  return function;
}

// Calls the real function of the declared one's name and type with the arguments as they came.
template <auto declared, class... Arguments>
auto forward(Library library, const char* name, Arguments... arguments) {
  static const auto real = reinterpret_cast<decltype(declared)>(real_function(library, name));
  return real(arguments...);
}

}  // namespace

bool load_ordering_libraries() {
  // Each library opened, and one of the functions CHOLMOD calls of it found.
  const struct {
    Library library;
    const char* name;
  } probes[] = {{Library::metis, "METIS_ComputeVertexSeparator"},
                {Library::camd, "camd_2"},
                {Library::ccolamd, "csymamd"},
                {Library::colamd, "colamd"}};
  for (const auto& probe : probes) {
    void* handle = open_library(probe.library);
    if (handle == nullptr || ::dlsym(handle, probe.name) == nullptr) return false;
  }
  return true;
}

}  // namespace tessaro::global

// The functions as CHOLMOD finds them: the module's definitions come before the libraries loaded
// with it in the lookup of CHOLMOD's symbols (see module.cpp). METIS has no header here;
// every argument of its two functions is a pointer, passed alike whatever it points to.
extern "C" {
using tessaro::global::forward;
using tessaro::global::Library;
using Long = SuiteSparse_long;

int METIS_ComputeVertexSeparator(void* nvtxs, void* xadj, void* adjncy, void* vwgt, void* options,
                                 void* sepsize, void* part) {
  return forward<&METIS_ComputeVertexSeparator>(Library::metis, "METIS_ComputeVertexSeparator",
                                                nvtxs, xadj, adjncy, vwgt, options, sepsize, part);
}
int METIS_NodeND(void* nvtxs, void* xadj, void* adjncy, void* vwgt, void* options, void* perm,
                 void* iperm) {
  return forward<&METIS_NodeND>(Library::metis, "METIS_NodeND", nvtxs, xadj, adjncy, vwgt, options,
                                perm, iperm);
}

void camd_2(int n, int Pe[], int Iw[], int Len[], int iwlen, int pfree, int Nv[], int Next[],
            int Last[], int Head[], int Elen[], int Degree[], int W[], double Control[],
            double Info[], const int C[], int BucketSet[]) {
  forward<&camd_2>(Library::camd, "camd_2", n, Pe, Iw, Len, iwlen, pfree, Nv, Next, Last, Head,
                   Elen, Degree, W, Control, Info, C, BucketSet);
}
void camd_l2(Long n, Long Pe[], Long Iw[], Long Len[], Long iwlen, Long pfree, Long Nv[],
             Long Next[], Long Last[], Long Head[], Long Elen[], Long Degree[], Long W[],
             double Control[], double Info[], const Long C[], Long BucketSet[]) {
  forward<&camd_l2>(Library::camd, "camd_l2", n, Pe, Iw, Len, iwlen, pfree, Nv, Next, Last, Head,
                    Elen, Degree, W, Control, Info, C, BucketSet);
}

size_t ccolamd_recommended(int nnz, int n_row, int n_col) {
  return forward<&ccolamd_recommended>(Library::ccolamd, "ccolamd_recommended", nnz, n_row, n_col);
}
size_t ccolamd_l_recommended(Long nnz, Long n_row, Long n_col) {
  return forward<&ccolamd_l_recommended>(Library::ccolamd, "ccolamd_l_recommended", nnz, n_row,
                                         n_col);
}
void ccolamd_set_defaults(double knobs[CCOLAMD_KNOBS]) {
  forward<&ccolamd_set_defaults>(Library::ccolamd, "ccolamd_set_defaults", knobs);
}
void ccolamd_l_set_defaults(double knobs[CCOLAMD_KNOBS]) {
  forward<&ccolamd_l_set_defaults>(Library::ccolamd, "ccolamd_l_set_defaults", knobs);
}
int ccolamd(int n_row, int n_col, int Alen, int A[], int p[], double knobs[CCOLAMD_KNOBS],
            int stats[CCOLAMD_STATS], int cmember[]) {
  return forward<&ccolamd>(Library::ccolamd, "ccolamd", n_row, n_col, Alen, A, p, knobs, stats,
                           cmember);
}
Long ccolamd_l(Long n_row, Long n_col, Long Alen, Long A[], Long p[], double knobs[CCOLAMD_KNOBS],
               Long stats[CCOLAMD_STATS], Long cmember[]) {
  return forward<&ccolamd_l>(Library::ccolamd, "ccolamd_l", n_row, n_col, Alen, A, p, knobs, stats,
                             cmember);
}
int csymamd(int n, int A[], int p[], int perm[], double knobs[CCOLAMD_KNOBS],
            int stats[CCOLAMD_STATS], void* (*allocate)(size_t, size_t), void (*release)(void*),
            int cmember[], int stype) {
  return forward<&csymamd>(Library::ccolamd, "csymamd", n, A, p, perm, knobs, stats, allocate,
                           release, cmember, stype);
}
Long csymamd_l(Long n, Long A[], Long p[], Long perm[], double knobs[CCOLAMD_KNOBS],
               Long stats[CCOLAMD_STATS], void* (*allocate)(size_t, size_t), void (*release)(void*),
               Long cmember[], Long stype) {
  return forward<&csymamd_l>(Library::ccolamd, "csymamd_l", n, A, p, perm, knobs, stats, allocate,
                             release, cmember, stype);
}

size_t colamd_recommended(int nnz, int n_row, int n_col) {
  return forward<&colamd_recommended>(Library::colamd, "colamd_recommended", nnz, n_row, n_col);
}
size_t colamd_l_recommended(Long nnz, Long n_row, Long n_col) {
  return forward<&colamd_l_recommended>(Library::colamd, "colamd_l_recommended", nnz, n_row, n_col);
}
void colamd_set_defaults(double knobs[COLAMD_KNOBS]) {
  forward<&colamd_set_defaults>(Library::colamd, "colamd_set_defaults", knobs);
}
void colamd_l_set_defaults(double knobs[COLAMD_KNOBS]) {
  forward<&colamd_l_set_defaults>(Library::colamd, "colamd_l_set_defaults", knobs);
}
int colamd(int n_row, int n_col, int Alen, int A[], int p[], double knobs[COLAMD_KNOBS],
           int stats[COLAMD_STATS]) {
  return forward<&colamd>(Library::colamd, "colamd", n_row, n_col, Alen, A, p, knobs, stats);
}
Long colamd_l(Long n_row, Long n_col, Long Alen, Long A[], Long p[], double knobs[COLAMD_KNOBS],
              Long stats[COLAMD_STATS]) {
  return forward<&colamd_l>(Library::colamd, "colamd_l", n_row, n_col, Alen, A, p, knobs, stats);
}
}
