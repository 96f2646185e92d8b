#include "global/dense_kernels.h"

#include <cholmod.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

// The kernels' declarations, C functions in a header that does not say so itself.
extern "C" {
#include <cholmod_blas.h>
}

namespace tessaro::global {

namespace {

// The kernels CHOLMOD calls. Every argument of these Fortran-convention routines is passed by
// address; CHOLMOD passes no hidden lengths of character arguments.
enum Kernel : int {
  dgemm,
  dgemv,
  dsyrk,
  dtrsm,
  dtrsv,
  zgemm,
  zgemv,
  zherk,
  ztrsm,
  ztrsv,
  dpotrf,
  zpotrf,
  n_kernels
};
// The kernels' names as the header spells them for this library.
#define TESSARO_SPELLED(name) #name
#define TESSARO_NAME(name) TESSARO_SPELLED(name)
constexpr const char* kernel_names[n_kernels] = {
    TESSARO_NAME(BLAS_DGEMM), TESSARO_NAME(BLAS_DGEMV),    TESSARO_NAME(BLAS_DSYRK),
    TESSARO_NAME(BLAS_DTRSM), TESSARO_NAME(BLAS_DTRSV),    TESSARO_NAME(BLAS_ZGEMM),
    TESSARO_NAME(BLAS_ZGEMV), TESSARO_NAME(BLAS_ZHERK),    TESSARO_NAME(BLAS_ZTRSM),
    TESSARO_NAME(BLAS_ZTRSV), TESSARO_NAME(LAPACK_DPOTRF), TESSARO_NAME(LAPACK_ZPOTRF)};
#undef TESSARO_NAME
#undef TESSARO_SPELLED
constexpr bool from_lapack(int k) {
  return k == dpotrf || k == zpotrf;
}

struct Kernels {
  bool loaded = false;
  void* entry[n_kernels] = {};
};

Kernels open_kernels() {
  Kernels kernels;
  // Opened by path: by name the loader would return the empty library that stands in for each.
  void* blas = ::dlopen(TESSARO_BLAS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  void* lapack = ::dlopen(TESSARO_LAPACK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (blas == nullptr || lapack == nullptr) return kernels;
  for (int k = 0; k < n_kernels; ++k) {
    kernels.entry[k] = ::dlsym(from_lapack(k) ? lapack : blas, kernel_names[k]);
    if (kernels.entry[k] == nullptr) return kernels;
  }
  kernels.loaded = true;
  return kernels;
}

const Kernels& kernels() {
  static const Kernels opened = open_kernels();
  return opened;
}

// Calls the kernel with the arguments as they came.
template <Kernel kernel, class... Arguments>
void forward(Arguments... arguments) {
  const Kernels& open = kernels();
  if (!open.loaded) {
    // Only reachable if CHOLMOD called a kernel before load_dense_kernels said it could.
    std::fprintf(stderr, "tessaro: cannot load the dense kernel %s from %s or %s\n",
                 kernel_names[kernel], TESSARO_BLAS_LIBRARY, TESSARO_LAPACK_LIBRARY);
    std::abort();
  }
  reinterpret_cast<void (*)(Arguments...)>(open.entry[kernel])(arguments...);
}

}  // namespace

bool load_dense_kernels() {
  return kernels().loaded;
}

}  // namespace tessaro::global

// The kernels as CHOLMOD finds them, declared by its own header: the module's definitions come
// before the libraries loaded with it in the lookup of CHOLMOD's symbols (see module.cpp).
extern "C" {
using tessaro::global::forward;
namespace k = tessaro::global;
using I = BLAS_INT;

void BLAS_DGEMM(char* transa, char* transb, I* m, I* n, I* kk, double* alpha, double* a, I* lda,
                double* b, I* ldb, double* beta, double* c, I* ldc) {
  forward<k::dgemm>(transa, transb, m, n, kk, alpha, a, lda, b, ldb, beta, c, ldc);
}
void BLAS_ZGEMM(char* transa, char* transb, I* m, I* n, I* kk, double* alpha, double* a, I* lda,
                double* b, I* ldb, double* beta, double* c, I* ldc) {
  forward<k::zgemm>(transa, transb, m, n, kk, alpha, a, lda, b, ldb, beta, c, ldc);
}
void BLAS_DGEMV(char* trans, I* m, I* n, double* alpha, double* a, I* lda, double* x, I* incx,
                double* beta, double* y, I* incy) {
  forward<k::dgemv>(trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
}
void BLAS_ZGEMV(char* trans, I* m, I* n, double* alpha, double* a, I* lda, double* x, I* incx,
                double* beta, double* y, I* incy) {
  forward<k::zgemv>(trans, m, n, alpha, a, lda, x, incx, beta, y, incy);
}
void BLAS_DSYRK(char* uplo, char* trans, I* n, I* kk, double* alpha, double* a, I* lda,
                double* beta, double* c, I* ldc) {
  forward<k::dsyrk>(uplo, trans, n, kk, alpha, a, lda, beta, c, ldc);
}
void BLAS_ZHERK(char* uplo, char* trans, I* n, I* kk, double* alpha, double* a, I* lda,
                double* beta, double* c, I* ldc) {
  forward<k::zherk>(uplo, trans, n, kk, alpha, a, lda, beta, c, ldc);
}
void BLAS_DTRSM(char* side, char* uplo, char* transa, char* diag, I* m, I* n, double* alpha,
                double* a, I* lda, double* b, I* ldb) {
  forward<k::dtrsm>(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb);
}
void BLAS_ZTRSM(char* side, char* uplo, char* transa, char* diag, I* m, I* n, double* alpha,
                double* a, I* lda, double* b, I* ldb) {
  forward<k::ztrsm>(side, uplo, transa, diag, m, n, alpha, a, lda, b, ldb);
}
void BLAS_DTRSV(char* uplo, char* trans, char* diag, I* n, double* a, I* lda, double* x, I* incx) {
  forward<k::dtrsv>(uplo, trans, diag, n, a, lda, x, incx);
}
void BLAS_ZTRSV(char* uplo, char* trans, char* diag, I* n, double* a, I* lda, double* x, I* incx) {
  forward<k::ztrsv>(uplo, trans, diag, n, a, lda, x, incx);
}
void LAPACK_DPOTRF(char* uplo, I* n, double* a, I* lda, I* info) {
  forward<k::dpotrf>(uplo, n, a, lda, info);
}
void LAPACK_ZPOTRF(char* uplo, I* n, double* a, I* lda, I* info) {
  forward<k::zpotrf>(uplo, n, a, lda, info);
}
}
