#include "global/dense_kernels.h"

#include <cholmod.h>
#include <dlfcn.h>

#include "global/late_libraries.h"

// The kernels' declarations, C functions in a header that does not say so itself.
extern "C" {
#include <cholmod_blas.h>
}

namespace tessaro::global {

namespace {

// The kernels' names as the header spells them for this library.
#define TESSARO_SPELLED(name) #name
#define TESSARO_NAME(name) TESSARO_SPELLED(name)
constexpr const char* blas_kernels[] = {TESSARO_NAME(BLAS_DGEMM), TESSARO_NAME(BLAS_DGEMV),
                                        TESSARO_NAME(BLAS_DSYRK), TESSARO_NAME(BLAS_DTRSM),
                                        TESSARO_NAME(BLAS_DTRSV), TESSARO_NAME(BLAS_ZGEMM),
                                        TESSARO_NAME(BLAS_ZGEMV), TESSARO_NAME(BLAS_ZHERK),
                                        TESSARO_NAME(BLAS_ZTRSM), TESSARO_NAME(BLAS_ZTRSV)};
constexpr const char* lapack_kernels[] = {TESSARO_NAME(LAPACK_DPOTRF), TESSARO_NAME(LAPACK_ZPOTRF)};

void* second_instance = nullptr;
thread_local bool on_second = false;

// The private copy, where it opens and has every kernel.
void* opened_second_instance() {
  // The first instance first: a library that needs the kernels' library by its name would
  // otherwise be given the copy, which carries that name too.
  const char* path = TESSARO_KERNELS_LIBRARY;
  if (path[0] == '\0' || !load_dense_kernels()) return nullptr;
  void* library = open_private_copy(path);
  if (library == nullptr) return nullptr;
  bool complete = true;
  for (const char* name : blas_kernels) complete = complete && ::dlsym(library, name) != nullptr;
  for (const char* name : lapack_kernels) complete = complete && ::dlsym(library, name) != nullptr;
  if (!complete) {
    ::dlclose(library);
    return nullptr;
  }
  return library;
}

}  // namespace

// The kernel of the instance that this thread calls.
template <auto declared, class... Arguments>
auto call_kernel(const char* path, const char* name, Arguments... arguments) {
  if (on_second) {
    static const auto second = reinterpret_cast<decltype(declared)>(::dlsym(second_instance, name));
    return second(arguments...);
  }
  return call_late<declared>(path, name, arguments...);
}

bool load_second_kernels() {
  static void* const library = opened_second_instance();
  second_instance = library;
  return library != nullptr;
}

// Only an instance that is loaded is taken: without one the kernels stay those of the first.
OnSecondKernels::OnSecondKernels(bool second) : was_(on_second) {
  on_second = (second && second_instance != nullptr) || was_;
}

OnSecondKernels::~OnSecondKernels() {
  on_second = was_;
}

bool load_dense_kernels() {
  for (const char* name : blas_kernels) {
    if (!library_has(TESSARO_BLAS_LIBRARY, name)) return false;
  }
  for (const char* name : lapack_kernels) {
    if (!library_has(TESSARO_LAPACK_LIBRARY, name)) return false;
  }
  return true;
}

}  // namespace tessaro::global

// The kernels as CHOLMOD finds them, declared by its own header: the module's definitions come
// before the libraries loaded with it in the lookup of CHOLMOD's symbols (see module.cpp).
// Every argument of these Fortran-convention routines is passed by address; CHOLMOD passes no
// hidden lengths of character arguments.
extern "C" {
using tessaro::global::call_kernel;
using I = BLAS_INT;

void BLAS_DGEMM(char* transa, char* transb, I* m, I* n, I* kk, double* alpha, double* a, I* lda,
                double* b, I* ldb, double* beta, double* c, I* ldc) {
  call_kernel<&BLAS_DGEMM>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_DGEMM), transa, transb, m, n, kk,
                           alpha, a, lda, b, ldb, beta, c, ldc);
}
void BLAS_ZGEMM(char* transa, char* transb, I* m, I* n, I* kk, double* alpha, double* a, I* lda,
                double* b, I* ldb, double* beta, double* c, I* ldc) {
  call_kernel<&BLAS_ZGEMM>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_ZGEMM), transa, transb, m, n, kk,
                           alpha, a, lda, b, ldb, beta, c, ldc);
}
void BLAS_DGEMV(char* trans, I* m, I* n, double* alpha, double* a, I* lda, double* x, I* incx,
                double* beta, double* y, I* incy) {
  call_kernel<&BLAS_DGEMV>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_DGEMV), trans, m, n, alpha, a,
                           lda, x, incx, beta, y, incy);
}
void BLAS_ZGEMV(char* trans, I* m, I* n, double* alpha, double* a, I* lda, double* x, I* incx,
                double* beta, double* y, I* incy) {
  call_kernel<&BLAS_ZGEMV>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_ZGEMV), trans, m, n, alpha, a,
                           lda, x, incx, beta, y, incy);
}
void BLAS_DSYRK(char* uplo, char* trans, I* n, I* kk, double* alpha, double* a, I* lda,
                double* beta, double* c, I* ldc) {
  call_kernel<&BLAS_DSYRK>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_DSYRK), uplo, trans, n, kk,
                           alpha, a, lda, beta, c, ldc);
}
void BLAS_ZHERK(char* uplo, char* trans, I* n, I* kk, double* alpha, double* a, I* lda,
                double* beta, double* c, I* ldc) {
  call_kernel<&BLAS_ZHERK>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_ZHERK), uplo, trans, n, kk,
                           alpha, a, lda, beta, c, ldc);
}
void BLAS_DTRSM(char* side, char* uplo, char* transa, char* diag, I* m, I* n, double* alpha,
                double* a, I* lda, double* b, I* ldb) {
  call_kernel<&BLAS_DTRSM>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_DTRSM), side, uplo, transa, diag,
                           m, n, alpha, a, lda, b, ldb);
}
void BLAS_ZTRSM(char* side, char* uplo, char* transa, char* diag, I* m, I* n, double* alpha,
                double* a, I* lda, double* b, I* ldb) {
  call_kernel<&BLAS_ZTRSM>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_ZTRSM), side, uplo, transa, diag,
                           m, n, alpha, a, lda, b, ldb);
}
void BLAS_DTRSV(char* uplo, char* trans, char* diag, I* n, double* a, I* lda, double* x, I* incx) {
  call_kernel<&BLAS_DTRSV>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_DTRSV), uplo, trans, diag, n, a,
                           lda, x, incx);
}
void BLAS_ZTRSV(char* uplo, char* trans, char* diag, I* n, double* a, I* lda, double* x, I* incx) {
  call_kernel<&BLAS_ZTRSV>(TESSARO_BLAS_LIBRARY, TESSARO_NAME(BLAS_ZTRSV), uplo, trans, diag, n, a,
                           lda, x, incx);
}
void LAPACK_DPOTRF(char* uplo, I* n, double* a, I* lda, I* info) {
  call_kernel<&LAPACK_DPOTRF>(TESSARO_LAPACK_LIBRARY, TESSARO_NAME(LAPACK_DPOTRF), uplo, n, a, lda,
                              info);
}
void LAPACK_ZPOTRF(char* uplo, I* n, double* a, I* lda, I* info) {
  call_kernel<&LAPACK_ZPOTRF>(TESSARO_LAPACK_LIBRARY, TESSARO_NAME(LAPACK_ZPOTRF), uplo, n, a, lda,
                              info);
}
}

#undef TESSARO_NAME
#undef TESSARO_SPELLED
