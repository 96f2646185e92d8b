// The head equations, stored in the fill-reducing order: on grids and chains of unknowns numbered
// in a shuffled order, with extra and parallel links and conductances twelve orders apart, every
// solution satisfies the equations as they were filled, checked by multiplying the links back
// without the library, fill after fill; in the minimum-degree and the nested-dissection order,
// with simplicial and supernodal factors, and where the dissection cuts a grid in two, factorised
// in its two parts at once on two threads (each with its own instance of the dense kernels, whose
// sharing one corrupted the factors).
#include "global/head_equations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "square_grid.h"

namespace tessaro::global {
namespace {

TEST(HeadEquations, SolutionsSatisfyTheFilledEquations) {
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> exponent(-6.0, 6.0);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  // Grids, and single rows: chains of unknowns between those the extra links reach.
  const std::pair<std::int32_t, std::int32_t> shapes[] = {{1, 2},   {3, 7},  {20, 20},
                                                          {60, 45}, {1, 41}, {1, 300}};
  const Factoring factorings[] = {{}, {0.0, 0.0, 200}, {0.0, 1.0e30, 200}, {1.0e30, 0.0, 200}};
  for (const Factoring& factoring : factorings) {
    for (const auto& [rows, columns] : shapes) {
      const std::int32_t n = rows * columns;
      std::vector<std::int32_t> number(static_cast<std::size_t>(n));
      for (std::int32_t k = 0; k < n; ++k) number[static_cast<std::size_t>(k)] = k + 1;
      std::shuffle(number.begin(), number.end(), random);
      std::vector<std::pair<std::int32_t, std::int32_t>> links;
      for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t u = number[static_cast<std::size_t>(k)];
        if ((k + 1) % columns != 0) links.emplace_back(u, number[static_cast<std::size_t>(k + 1)]);
        if (k + columns < n) links.emplace_back(number[static_cast<std::size_t>(k + columns)], u);
        if (k % 4 == 0 && number[static_cast<std::size_t>(n - 1 - k)] != u) {
          links.emplace_back(u, number[static_cast<std::size_t>(n - 1 - k)]);
        }
      }
      links.push_back(links.front());
      const auto n_links = static_cast<std::int32_t>(links.size());
      Table<std::int32_t> first;
      Table<std::int32_t> second;
      first.create(n_links);
      second.create(n_links);
      for (std::int32_t k = 1; k <= n_links; ++k) {
        std::tie(first[k], second[k]) = links[static_cast<std::size_t>(k - 1)];
      }
      HeadEquations equations(n, first, second, factoring);
      if (factoring.dissection_operations == 0.0 && rows >= 20 &&
          std::thread::hardware_concurrency() >= 2) {
        EXPECT_TRUE(equations.cut()) << rows << " x " << columns;
      }

      for (int fill = 0; fill < 3; ++fill) {
        // Every link a conductance, every seventh unknown tied to a fixed head of 0.
        Table<double> conductance;
        Table<double> tie;
        Table<double> rhs;
        Table<double> x;
        conductance.create(n_links);
        tie.create(n);
        rhs.create(n);
        x.create(n);
        equations.clear();
        for (std::int32_t k = 1; k <= n_links; ++k) {
          conductance[k] = std::pow(10.0, exponent(random));
          equations.add_link(k, conductance[k]);
          equations.add_diagonal(equations.column(first[k]), conductance[k]);
          equations.add_diagonal(equations.column(second[k]), conductance[k]);
        }
        // The equations take and give the unknowns by their columns.
        Table<double> rhs_by_column;
        Table<double> x_by_column;
        rhs_by_column.create(n);
        x_by_column.create(n);
        for (std::int32_t u = 1; u <= n; ++u) {
          if (u % 7 == 1) tie[u] = std::pow(10.0, exponent(random));
          equations.add_diagonal(equations.column(u), tie[u]);
          rhs[u] = value(random);
          rhs_by_column[equations.column(u)] = rhs[u];
        }
        ASSERT_TRUE(equations.factorise(0.0));
        equations.solve(rhs_by_column, x_by_column);
        for (std::int32_t u = 1; u <= n; ++u) x[u] = x_by_column[equations.column(u)];

        // Each unknown's net inflow against its right-hand side, relative to its largest term.
        Table<double> inflow;
        Table<double> largest;
        inflow.create(n);
        largest.create(n);
        for (std::int32_t u = 1; u <= n; ++u) {
          inflow[u] = tie[u] * x[u];
          largest[u] = std::fabs(inflow[u]) + std::fabs(rhs[u]);
        }
        for (std::int32_t k = 1; k <= n_links; ++k) {
          inflow[first[k]] += conductance[k] * (x[first[k]] - x[second[k]]);
          inflow[second[k]] -= conductance[k] * (x[first[k]] - x[second[k]]);
          for (const std::int32_t u : {first[k], second[k]}) {
            largest[u] = std::fmax(largest[u], conductance[k] * std::fabs(x[u]));
          }
        }
        for (std::int32_t u = 1; u <= n; ++u) {
          EXPECT_LE(std::fabs(inflow[u] - rhs[u]), 1e-12 * largest[u])
              << rows << " x " << columns << ", fill " << fill << ", unknown " << u
              << ", dissection above " << factoring.dissection_operations << ", supernodal above "
              << factoring.supernodal_switch;
        }
      }
    }
  }
}

// The order of networks mostly in chains: a path through every unknown in a shuffled order with a
// chord from every seventh (chains between the chords' ends, a free chain at each end of the path),
// and a ring (one closed chain). The columns are a permutation, and every unknown joined to at most
// two others comes before each neighbour joined to more, which keeps a chain's fill within it and
// its ends.
TEST(HeadEquations, ChainsComeBeforeTheirEnds) {
  std::mt19937 random(20261210);
  for (const bool ring : {false, true}) {
    for (const std::int32_t n : {9, 400, 3000}) {
      std::vector<std::int32_t> path(static_cast<std::size_t>(n));
      for (std::int32_t k = 0; k < n; ++k) path[static_cast<std::size_t>(k)] = k + 1;
      std::shuffle(path.begin(), path.end(), random);
      std::vector<std::pair<std::int32_t, std::int32_t>> links;
      for (std::size_t k = 0; k + 1 < path.size(); ++k) links.emplace_back(path[k], path[k + 1]);
      if (ring) links.emplace_back(path.back(), path.front());
      for (std::int32_t u = 7; !ring && u <= n; u += 7) {
        const auto other = static_cast<std::int32_t>(random() % static_cast<unsigned>(n)) + 1;
        if (other != u) links.emplace_back(u, other);
      }
      const auto n_links = static_cast<std::int32_t>(links.size());
      Table<std::int32_t> first;
      Table<std::int32_t> second;
      first.create(n_links);
      second.create(n_links);
      std::vector<std::vector<std::int32_t>> neighbours(static_cast<std::size_t>(n) + 1);
      for (std::int32_t k = 1; k <= n_links; ++k) {
        const auto [u, v] = links[static_cast<std::size_t>(k - 1)];
        std::tie(first[k], second[k]) = std::pair(u, v);
        neighbours[static_cast<std::size_t>(u)].push_back(v);
        neighbours[static_cast<std::size_t>(v)].push_back(u);
      }
      auto degree = [&](std::int32_t u) {
        std::vector<std::int32_t> distinct = neighbours[static_cast<std::size_t>(u)];
        std::sort(distinct.begin(), distinct.end());
        return std::unique(distinct.begin(), distinct.end()) - distinct.begin();
      };
      const HeadEquations equations(n, first, second);
      std::vector<std::int32_t> columns;
      for (std::int32_t u = 1; u <= n; ++u) columns.push_back(equations.column(u));
      std::sort(columns.begin(), columns.end());
      for (std::int32_t c = 1; c <= n; ++c) {
        ASSERT_EQ(columns[static_cast<std::size_t>(c - 1)], c) << n << " unknowns, ring " << ring;
      }
      for (const auto& [u, v] : links) {
        for (const auto& [thin, thick] : {std::pair(u, v), std::pair(v, u)}) {
          if (degree(thin) <= 2 && degree(thick) > 2) {
            EXPECT_LT(equations.column(thin), equations.column(thick))
                << n << " unknowns: " << thin << " before " << thick;
          }
        }
      }
    }
  }
}

// An indefinite matrix is refused by both kinds of factor and by the two parts of a cut, and its
// values are left as filled, for a try with a regularisation.
TEST(HeadEquations, IndefiniteMatricesAreRefusedAndLeftAsFilled) {
  for (const Factoring factoring : {Factoring{}, Factoring{1.0e30, 0.0, 200}}) {
    Table<std::int32_t> first;
    Table<std::int32_t> second;
    first.create(1);
    second.create(1);
    first[1] = 1;
    second[1] = 2;
    HeadEquations equations(2, first, second, factoring);
    equations.clear();
    equations.add_link(1, 3.0);
    equations.add_diagonal(1, 1.0);
    equations.add_diagonal(2, 1.0);
    EXPECT_FALSE(equations.factorise(0.0)) << factoring.supernodal_switch;
    EXPECT_NEAR(equations.values()[equations.link_slot(1)], -3.0, 1e-15);
    for (const std::int32_t c : {1, 2}) {
      EXPECT_NEAR(equations.values()[equations.diagonal_slot(c)], 1.0, 1e-15);
    }
    EXPECT_FALSE(equations.factorise(1.0e-6));
  }
  // And by the two parts of a cut: a 20 x 20 grid whose unknowns are each joined more strongly to
  // their neighbours than to themselves, where the parts already are indefinite (diagonal 1), and
  // where only the whole is (diagonal 3.945: the largest eigenvalue of the grid's neighbour matrix
  // is 4 cos(pi / 21) = 3.955, that of each part with the cut, about half the grid, near that of a
  // 20 x 11 grid, 3.910). The whole factor, in minimum-degree order, answers alike.
  const std::int32_t side = 20;
  const GridLinks links = square_grid_links(side);
  const std::int32_t n_links = links.first.size();
  for (const Factoring factoring :
       {Factoring{0.0, 0.0, 100}, Factoring{1.0e30, 0.0, 100, 1.0e30}}) {
    HeadEquations equations(side * side, links.first, links.second, factoring);
    if (factoring.dissection_operations == 0.0 && std::thread::hardware_concurrency() >= 2) {
      EXPECT_TRUE(equations.cut());
    }
    for (const double diagonal : {1.0, 3.945, 3.96}) {
      equations.clear();
      for (std::int32_t k = 1; k <= n_links; ++k) equations.add_link(k, 1.0);
      for (std::int32_t c = 1; c <= side * side; ++c) equations.add_diagonal(c, diagonal);
      const bool definite = diagonal > 3.955;
      EXPECT_EQ(equations.factorise(0.0), definite) << diagonal << ", cut " << equations.cut();
      if (definite) continue;
      for (std::int32_t k = 1; k <= n_links; ++k) {
        EXPECT_NEAR(equations.values()[equations.link_slot(k)], -1.0, 1e-15);
      }
      for (std::int32_t c = 1; c <= side * side; ++c) {
        EXPECT_NEAR(equations.values()[equations.diagonal_slot(c)], diagonal, 1e-14);
      }
    }
  }
}

}  // namespace
}  // namespace tessaro::global
