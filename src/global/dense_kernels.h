// The dense kernels (BLAS and LAPACK) under CHOLMOD's supernodal factorisation, loaded when a
// factorisation first needs them rather than with the module.
//
// Loading an optimised BLAS takes several milliseconds (OpenBLAS with LAPACK and the Fortran
// runtime: 7 ms here, most of the run of a network of a thousand branches), yet networks whose
// head equations are factorised simplicially never call it. The build puts two empty libraries
// beside the module under the names CHOLMOD asks for, so that loading CHOLMOD loads no BLAS; the
// module defines the twelve kernels CHOLMOD calls, and each forwards to the library the build
// found, opened on first use. Where the empty libraries are missing, the system's BLAS and LAPACK
// load with CHOLMOD, unused: the module's kernels still come first and forward to the libraries
// the build found, opened by path beside them.
#pragma once

namespace tessaro::global {

// Opens the BLAS and LAPACK libraries if they are not yet open; false when they cannot be opened
// or lack a kernel. The supernodal factorisation calls this before its first use of them, so that
// a missing library ends the run with a sentence rather than inside a kernel.
bool load_dense_kernels();

// A second instance of the kernels, for a second thread: OpenBLAS's serial library keeps its work
// buffers in globals that it does not guard, so two threads calling into one instance at once
// corrupt each other's results (its threaded library guards them with one lock, which two threads
// of hundreds of thousands of small calls each spend most of their time waiting for). The second
// instance is a private copy of the library that holds the kernels (TESSARO_KERNELS_LIBRARY),
// opened once; false where there is none or it cannot be opened.
bool load_second_kernels();

// While one made with `second` lives, the kernels that its thread calls are those of the second
// instance.
class OnSecondKernels {
 public:
  explicit OnSecondKernels(bool second);
  ~OnSecondKernels();
  OnSecondKernels(const OnSecondKernels&) = delete;
  OnSecondKernels& operator=(const OnSecondKernels&) = delete;

 private:
  bool was_;
};

}  // namespace tessaro::global
