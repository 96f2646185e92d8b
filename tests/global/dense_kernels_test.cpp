// The dense kernels under CHOLMOD are opened by the first supernodal factorisation, not with the
// library: a simplicial factorisation and solve leave them closed, and both kinds of factor solve
// a path of unknowns exactly; so are the ordering libraries by the first nested dissection. A
// second instance of the kernels serves a second thread beside the first. Each
// check runs in a fresh process of its own (a death-test child that starts the test program
// again), since any earlier factorisation or dissection in the same process would have opened
// them.
#include "global/dense_kernels.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "global/head_equations.h"
#include "global/ordering_libraries.h"
#include "square_grid.h"

namespace tessaro::global {
namespace {

bool is_open(const char* path) {
  void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) ::dlclose(handle);
  return handle != nullptr;
}

// Unit conductances between the unknowns of each link, unknown 1 also tied to a head of 0, and
// the inflows that make unknown u's head u. Returns the largest relative error of the solution.
double solution_error(std::int32_t n, const Table<std::int32_t>& first,
                      const Table<std::int32_t>& second, Factoring factoring) {
  HeadEquations equations(n, first, second, factoring);
  equations.clear();
  Table<double> rhs;
  Table<double> x;
  rhs.create(n);
  x.create(n);
  for (std::int32_t k = 1; k <= first.size(); ++k) {
    const std::int32_t u = first[k];
    const std::int32_t v = second[k];
    equations.add_link(k, 1.0);
    equations.add_diagonal(equations.column(u), 1.0);
    equations.add_diagonal(equations.column(v), 1.0);
    rhs[equations.column(u)] += u - v;
    rhs[equations.column(v)] += v - u;
  }
  equations.add_diagonal(equations.column(1), 1.0);
  rhs[equations.column(1)] += 1.0;
  if (!equations.factorise(0.0)) return HUGE_VAL;
  equations.solve(rhs, x);
  double error = 0.0;
  for (std::int32_t u = 1; u <= n; ++u) {
    error = std::fmax(error, std::fabs(x[equations.column(u)] - u) / u);
  }
  return error;
}

// A path of 300 unknowns, all of it chains, which minimum degree orders.
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
  return solution_error(n, first, second, factoring);
}

// A square grid of 400 unknowns, a mesh that dissection may cut.
double grid_error(Factoring factoring) {
  constexpr std::int32_t side = 20;
  const GridLinks links = square_grid_links(side);
  return solution_error(side * side, links.first, links.second, factoring);
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

// Supernodal factorisations of a 40 x 40 grid, over and over on two threads at once, the second
// thread's on the second instance of the kernels: every solution equals the one found before on
// one thread. On one instance of the serial library, the two threads corrupt each other's factors
// (refused factorisations, crashes).
void factorisations_on_two_threads() {
  require(load_second_kernels(), "second instance not loaded");
  constexpr std::int32_t side = 40;
  const GridLinks links = square_grid_links(side);
  const Factoring supernodal{1.0e30, 0.0, 200, 1.0e30};
  auto solve = [&](HeadEquations& equations, Table<double>& x) {
    equations.clear();
    for (std::int32_t k = 1; k <= links.first.size(); ++k) {
      equations.add_link(k, 1.0 + k % 7);
      equations.add_diagonal(equations.column(links.first[k]), 1.0 + k % 7);
      equations.add_diagonal(equations.column(links.second[k]), 1.0 + k % 7);
    }
    Table<double> rhs;
    rhs.create(side * side);
    for (std::int32_t c = 1; c <= side * side; ++c) {
      equations.add_diagonal(c, 0.01);
      rhs[c] = c % 11;
    }
    require(equations.factorise(0.0), "not factorised");
    equations.solve(rhs, x);
  };
  HeadEquations equations[2] = {{side * side, links.first, links.second, supernodal},
                                {side * side, links.first, links.second, supernodal}};
  Table<double> expected;
  expected.create(side * side);
  solve(equations[0], expected);
  bool same[2] = {true, true};
  auto repeat = [&](int which) {
    const OnSecondKernels kernels(which == 1);
    Table<double> x;
    x.create(side * side);
    for (int round = 0; round < 200; ++round) {
      solve(equations[which], x);
      for (std::int32_t c = 1; c <= side * side; ++c) {
        same[which] = same[which] && x[c] == expected[c];
      }
    }
  };
  std::thread second(repeat, 1);
  repeat(0);
  second.join();
  require(same[0] && same[1], "a solution differs");
}

TEST(DenseKernels, TheSecondInstanceWorksBesideTheFirst) {
  if (TESSARO_KERNELS_LIBRARY[0] == '\0') GTEST_SKIP() << "no kernels' library to copy";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        factorisations_on_two_threads();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(OrderingLibraries, OpenedByTheFirstDissection) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* const libraries[] = {TESSARO_METIS_LIBRARY, TESSARO_CAMD_LIBRARY,
                                   TESSARO_CCOLAMD_LIBRARY, TESSARO_COLAMD_LIBRARY};
  auto none_open = [&] {
    for (const char* library : libraries) {
      if (is_open(library)) return false;
    }
    return true;
  };
  EXPECT_EXIT(
      {
        require(none_open(), "an ordering library open at the start");
        require(grid_error({1.0e30, 1.0e30, 200}) < 1e-10, "minimum-degree solution wrong");
        require(none_open(), "an ordering library open after a minimum-degree order");
        require(grid_error({0.0, 1.0e30, 100}) < 1e-10, "dissection solution wrong");
        require(is_open(TESSARO_METIS_LIBRARY) && is_open(TESSARO_CCOLAMD_LIBRARY),
                "METIS or CCOLAMD not open after a dissection");
        require(load_ordering_libraries(), "ordering libraries not loaded");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tessaro::global
