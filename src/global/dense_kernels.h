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

}  // namespace tessaro::global
