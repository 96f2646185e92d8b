// The dense kernels under CHOLMOD are opened by the first supernodal factorisation, not with the
// library: a simplicial factorisation and solve leave them closed, and both kinds of factor solve
// a path of unknowns exactly. The check runs in a fresh process of its own (a death-test child
// that starts the test program again), since any earlier supernodal factorisation in the same
// process would have opened them.
#include "global/dense_kernels.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "global/head_equations.h"

namespace tessaro::global {
namespace {

bool is_open(const char* path) {
  void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) ::dlclose(handle);
  return handle != nullptr;
}

// Unknowns 1..n in a path of unit conductances, unknown 1 tied to a head of 0 by a unit
// conductance and a unit inflow at unknown n: unknown u's head is u. Returns the largest error.
double path_error(Factoring factoring) {
  constexpr std::int32_t n = 300;
  Table<std::int32_t> first;
  Table<std::int32_t> second;
  first.create(n - 1);
  second.create(n - 1);
  for (std::int32_t k = 1; k < n; ++k) {
    first[k] = k;
    second[k] = k + 1;
  }
  HeadEquations equations(n, first, second, factoring);
  equations.clear();
  for (std::int32_t k = 1; k < n; ++k) {
    equations.add_link(k, 1.0);
    equations.add_diagonal(equations.column(k), 1.0);
    equations.add_diagonal(equations.column(k + 1), 1.0);
  }
  equations.add_diagonal(equations.column(1), 1.0);
  Table<double> rhs;
  Table<double> x;
  rhs.create(n);
  x.create(n);
  rhs[equations.column(n)] = 1.0;
  if (!equations.factorise(0.0)) return HUGE_VAL;
  equations.solve(rhs, x);
  double error = 0.0;
  for (std::int32_t u = 1; u <= n; ++u) {
    error = std::fmax(error, std::fabs(x[equations.column(u)] - u) / u);
  }
  return error;
}

// Ends the child with status 1 and the reason on standard error when `holds` is false.
void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "%s\n", what);
  std::exit(1);
}

TEST(DenseKernels, OpenedByTheFirstSupernodalFactorisation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        require(!is_open(TESSARO_BLAS_LIBRARY), "BLAS open at the start");
        require(path_error({1.0e30, 1.0e30, 200}) < 1e-12, "simplicial solution wrong");
        require(!is_open(TESSARO_BLAS_LIBRARY) && !is_open(TESSARO_LAPACK_LIBRARY),
                "BLAS or LAPACK open after a simplicial factorisation");
        require(path_error({1.0e30, 0.0, 200}) < 1e-12, "supernodal solution wrong");
        require(is_open(TESSARO_BLAS_LIBRARY) && is_open(TESSARO_LAPACK_LIBRARY),
                "BLAS or LAPACK not open after a supernodal factorisation");
        require(load_dense_kernels(), "kernels not loaded");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tessaro::global
