// The libraries of fill-reducing orderings under CHOLMOD's nested dissection (METIS, CAMD,
// CCOLAMD and COLAMD), loaded when an ordering first calls them rather than with the module.
//
// Each library costs its loading, a fifth to a third of a millisecond here, and together they
// were more than half of the module's loading (1.2 of 1.6 ms), yet only the largest meshes are
// ordered by dissection; minimum degree (AMD, loaded with the module) orders every other network.
// As for the dense kernels (dense_kernels.h), the build puts empty libraries beside the module
// under the names CHOLMOD asks for, the module defines the functions CHOLMOD calls from them, and
// each forwards to the real library, opened by path on its first call. A small library under the
// OpenMP runtime's name stands in for the runtime the same way, with all that CHOLMOD calls of it
// (stand_in/openmp_regions.cpp).
#pragma once

namespace tessaro::global {

// Opens the ordering libraries if they are not yet open; false when one cannot be opened or lacks
// a function. The head equations call this before ordering by dissection, so that a missing
// library ends the run with a sentence rather than inside an ordering.
bool load_ordering_libraries();

}  // namespace tessaro::global
