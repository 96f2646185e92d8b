#include "global/ordering_libraries.h"

// The orderings' declarations, C functions in headers that say so themselves.
#include <camd.h>
#include <ccolamd.h>
#include <colamd.h>

#include <cstddef>

#include "global/late_libraries.h"

namespace tessaro::global {

bool load_ordering_libraries() {
  // Each library opened, and one of the functions CHOLMOD calls of it found.
  return library_has(TESSARO_METIS_LIBRARY, "METIS_ComputeVertexSeparator") &&
         library_has(TESSARO_CAMD_LIBRARY, "camd_2") &&
         library_has(TESSARO_CCOLAMD_LIBRARY, "csymamd") &&
         library_has(TESSARO_COLAMD_LIBRARY, "colamd");
}

}  // namespace tessaro::global

// The functions as CHOLMOD finds them: the module's definitions come before the libraries loaded
// with it in the lookup of CHOLMOD's symbols (see module.cpp). METIS has no header here;
// every argument of its two functions is a pointer, passed alike whatever it points to.
extern "C" {
using tessaro::global::call_late;
using Long = SuiteSparse_long;

int METIS_ComputeVertexSeparator(void* nvtxs, void* xadj, void* adjncy, void* vwgt, void* options,
                                 void* sepsize, void* part) {
  return call_late<&METIS_ComputeVertexSeparator>(TESSARO_METIS_LIBRARY,
                                                  "METIS_ComputeVertexSeparator", nvtxs, xadj,
                                                  adjncy, vwgt, options, sepsize, part);
}
int METIS_NodeND(void* nvtxs, void* xadj, void* adjncy, void* vwgt, void* options, void* perm,
                 void* iperm) {
  return call_late<&METIS_NodeND>(TESSARO_METIS_LIBRARY, "METIS_NodeND", nvtxs, xadj, adjncy, vwgt,
                                  options, perm, iperm);
}

void camd_2(int n, int Pe[], int Iw[], int Len[], int iwlen, int pfree, int Nv[], int Next[],
            int Last[], int Head[], int Elen[], int Degree[], int W[], double Control[],
            double Info[], const int C[], int BucketSet[]) {
  call_late<&camd_2>(TESSARO_CAMD_LIBRARY, "camd_2", n, Pe, Iw, Len, iwlen, pfree, Nv, Next, Last,
                     Head, Elen, Degree, W, Control, Info, C, BucketSet);
}
void camd_l2(Long n, Long Pe[], Long Iw[], Long Len[], Long iwlen, Long pfree, Long Nv[],
             Long Next[], Long Last[], Long Head[], Long Elen[], Long Degree[], Long W[],
             double Control[], double Info[], const Long C[], Long BucketSet[]) {
  call_late<&camd_l2>(TESSARO_CAMD_LIBRARY, "camd_l2", n, Pe, Iw, Len, iwlen, pfree, Nv, Next, Last,
                      Head, Elen, Degree, W, Control, Info, C, BucketSet);
}

size_t ccolamd_recommended(int nnz, int n_row, int n_col) {
  return call_late<&ccolamd_recommended>(TESSARO_CCOLAMD_LIBRARY, "ccolamd_recommended", nnz, n_row,
                                         n_col);
}
size_t ccolamd_l_recommended(Long nnz, Long n_row, Long n_col) {
  return call_late<&ccolamd_l_recommended>(TESSARO_CCOLAMD_LIBRARY, "ccolamd_l_recommended", nnz,
                                           n_row, n_col);
}
void ccolamd_set_defaults(double knobs[CCOLAMD_KNOBS]) {
  call_late<&ccolamd_set_defaults>(TESSARO_CCOLAMD_LIBRARY, "ccolamd_set_defaults", knobs);
}
void ccolamd_l_set_defaults(double knobs[CCOLAMD_KNOBS]) {
  call_late<&ccolamd_l_set_defaults>(TESSARO_CCOLAMD_LIBRARY, "ccolamd_l_set_defaults", knobs);
}
int ccolamd(int n_row, int n_col, int Alen, int A[], int p[], double knobs[CCOLAMD_KNOBS],
            int stats[CCOLAMD_STATS], int cmember[]) {
  return call_late<&ccolamd>(TESSARO_CCOLAMD_LIBRARY, "ccolamd", n_row, n_col, Alen, A, p, knobs,
                             stats, cmember);
}
Long ccolamd_l(Long n_row, Long n_col, Long Alen, Long A[], Long p[], double knobs[CCOLAMD_KNOBS],
               Long stats[CCOLAMD_STATS], Long cmember[]) {
  return call_late<&ccolamd_l>(TESSARO_CCOLAMD_LIBRARY, "ccolamd_l", n_row, n_col, Alen, A, p,
                               knobs, stats, cmember);
}
int csymamd(int n, int A[], int p[], int perm[], double knobs[CCOLAMD_KNOBS],
            int stats[CCOLAMD_STATS], void* (*allocate)(size_t, size_t), void (*release)(void*),
            int cmember[], int stype) {
  return call_late<&csymamd>(TESSARO_CCOLAMD_LIBRARY, "csymamd", n, A, p, perm, knobs, stats,
                             allocate, release, cmember, stype);
}
Long csymamd_l(Long n, Long A[], Long p[], Long perm[], double knobs[CCOLAMD_KNOBS],
               Long stats[CCOLAMD_STATS], void* (*allocate)(size_t, size_t), void (*release)(void*),
               Long cmember[], Long stype) {
  return call_late<&csymamd_l>(TESSARO_CCOLAMD_LIBRARY, "csymamd_l", n, A, p, perm, knobs, stats,
                               allocate, release, cmember, stype);
}

size_t colamd_recommended(int nnz, int n_row, int n_col) {
  return call_late<&colamd_recommended>(TESSARO_COLAMD_LIBRARY, "colamd_recommended", nnz, n_row,
                                        n_col);
}
size_t colamd_l_recommended(Long nnz, Long n_row, Long n_col) {
  return call_late<&colamd_l_recommended>(TESSARO_COLAMD_LIBRARY, "colamd_l_recommended", nnz,
                                          n_row, n_col);
}
void colamd_set_defaults(double knobs[COLAMD_KNOBS]) {
  call_late<&colamd_set_defaults>(TESSARO_COLAMD_LIBRARY, "colamd_set_defaults", knobs);
}
void colamd_l_set_defaults(double knobs[COLAMD_KNOBS]) {
  call_late<&colamd_l_set_defaults>(TESSARO_COLAMD_LIBRARY, "colamd_l_set_defaults", knobs);
}
int colamd(int n_row, int n_col, int Alen, int A[], int p[], double knobs[COLAMD_KNOBS],
           int stats[COLAMD_STATS]) {
  return call_late<&colamd>(TESSARO_COLAMD_LIBRARY, "colamd", n_row, n_col, Alen, A, p, knobs,
                            stats);
}
Long colamd_l(Long n_row, Long n_col, Long Alen, Long A[], Long p[], double knobs[COLAMD_KNOBS],
              Long stats[COLAMD_STATS]) {
  return call_late<&colamd_l>(TESSARO_COLAMD_LIBRARY, "colamd_l", n_row, n_col, Alen, A, p, knobs,
                              stats);
}
}
