// The head equations: on networks of junctions with conductances many orders apart, parallel
// links and unknowns numbered against the fill-reducing order, the solution that CHOLMOD gives
// satisfies the equations as they were filled, checked by a product that does not use the
// library; the matrix can be refilled and solved again; a junction with no conductance is not
// positive definite.
#include "global/head_equations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace tessaro::global {
namespace {

struct Link {
  std::int32_t first = 0;
  std::int32_t second = 0;
};

// A rows x columns grid of unknowns, numbered in a shuffled order, each joined to its right and
// lower neighbours, plus a few extra links between random pairs (some of them parallel to grid
// links).
std::vector<Link> shuffled_grid(std::int32_t rows, std::int32_t columns, std::mt19937& random) {
  const std::int32_t n = rows * columns;
  std::vector<std::int32_t> number(static_cast<std::size_t>(n));
  for (std::int32_t k = 0; k < n; ++k) number[static_cast<std::size_t>(k)] = k + 1;
  std::shuffle(number.begin(), number.end(), random);
  auto at = [&](std::int32_t r, std::int32_t c) {
    return number[static_cast<std::size_t>(r * columns + c)];
  };
  std::vector<Link> links;
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::int32_t c = 0; c < columns; ++c) {
      if (c + 1 < columns) links.push_back({at(r, c), at(r, c + 1)});
      if (r + 1 < rows) links.push_back({at(r + 1, c), at(r, c)});
    }
  }
  std::uniform_int_distribution<std::int32_t> pick(1, n);
  for (std::int32_t extra = 0; extra < n / 4; ++extra) {
    const std::int32_t u = pick(random);
    const std::int32_t v = pick(random);
    if (u != v) links.push_back({u, v});
  }
  links.push_back(links.front());
  return links;
}

// Fills the equations with conductances from 1e-6 to 1e6 and a tie of every tenth unknown to a
// fixed head, solves them for a random right-hand side and returns the largest residual of the
// equations relative to the largest term, computed from the links themselves.
double solve_and_check(HeadEquations& equations, std::int32_t n, const std::vector<Link>& links,
                       std::mt19937& random) {
  std::uniform_real_distribution<double> exponent(-6.0, 6.0);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> conductance(links.size());
  std::vector<double> tie(static_cast<std::size_t>(n) + 1, 0.0);
  equations.clear();
  for (std::size_t k = 0; k < links.size(); ++k) {
    conductance[k] = std::pow(10.0, exponent(random));
    equations.add_link(static_cast<std::int32_t>(k + 1), conductance[k]);
    equations.add_diagonal(links[k].first, conductance[k]);
    equations.add_diagonal(links[k].second, conductance[k]);
  }
  for (std::int32_t u = 1; u <= n; u += 10) {
    tie[static_cast<std::size_t>(u)] = std::pow(10.0, exponent(random));
    equations.add_diagonal(u, tie[static_cast<std::size_t>(u)]);
  }
  Table<double> rhs;
  Table<double> x;
  rhs.create(n);
  x.create(n);
  for (std::int32_t u = 1; u <= n; ++u) rhs[u] = value(random);
  if (!equations.factorise(0.0)) return INFINITY;
  equations.solve(rhs, x);

  // The net flow into each unknown: its tie, and every link's conductance times the head
  // difference across it.
  std::vector<double> inflow(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<double> largest(static_cast<std::size_t>(n) + 1, 0.0);
  for (std::int32_t u = 1; u <= n; ++u) {
    const auto i = static_cast<std::size_t>(u);
    inflow[i] = tie[i] * x[u];
    largest[i] = std::fabs(inflow[i]) + std::fabs(rhs[u]);
  }
  for (std::size_t k = 0; k < links.size(); ++k) {
    const auto i = static_cast<std::size_t>(links[k].first);
    const auto j = static_cast<std::size_t>(links[k].second);
    const double flow = conductance[k] * (x[links[k].first] - x[links[k].second]);
    inflow[i] += flow;
    inflow[j] -= flow;
    largest[i] = std::fmax(largest[i], conductance[k] * std::fabs(x[links[k].first]));
    largest[j] = std::fmax(largest[j], conductance[k] * std::fabs(x[links[k].second]));
  }
  double worst = 0.0;
  for (std::int32_t u = 1; u <= n; ++u) {
    const auto i = static_cast<std::size_t>(u);
    worst = std::fmax(worst, std::fabs(inflow[i] - rhs[u]) / largest[i]);
  }
  return worst;
}

TEST(HeadEquations, SolutionsSatisfyTheFilledEquations) {
  std::mt19937 random(20261209);
  const std::pair<std::int32_t, std::int32_t> shapes[] = {{1, 2}, {3, 7}, {20, 20}, {60, 45}};
  for (const auto& [rows, columns] : shapes) {
    const std::vector<Link> links = shuffled_grid(rows, columns, random);
    const std::int32_t n = rows * columns;
    Table<std::int32_t> first;
    Table<std::int32_t> second;
    first.create(static_cast<std::int32_t>(links.size()));
    second.create(static_cast<std::int32_t>(links.size()));
    for (std::size_t k = 0; k < links.size(); ++k) {
      first[static_cast<std::int32_t>(k + 1)] = links[k].first;
      second[static_cast<std::int32_t>(k + 1)] = links[k].second;
    }
    HeadEquations equations(n, first, second);
    // Refilled and solved again with other values, as every Newton iteration does.
    for (int fill = 0; fill < 3; ++fill) {
      EXPECT_LE(solve_and_check(equations, n, links, random), 1e-12)
          << rows << " x " << columns << ", fill " << fill;
    }
  }
}

TEST(HeadEquations, AnUnknownWithoutConductanceIsNotPositiveDefinite) {
  Table<std::int32_t> first;
  Table<std::int32_t> second;
  first.create(1);
  second.create(1);
  first[1] = 2;
  second[1] = 1;
  HeadEquations equations(3, first, second);
  equations.clear();
  equations.add_link(1, 1.0);
  equations.add_diagonal(1, 2.0);
  equations.add_diagonal(2, 1.0);
  EXPECT_FALSE(equations.factorise(0.0));
}

}  // namespace
}  // namespace tessaro::global
