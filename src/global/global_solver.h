// The global solver: the network read and checked as for the classic run, solved by one Newton
// iteration over all heads, handed on as a Solution.
#pragma once

#include <cstdint>

#include "model/network.h"
#include "model/solution.h"

namespace tessaro::global {

struct GlobalResult {
  Solution solution;
  std::int32_t iterations = 0;
  double mass_residual = 0.0;    // largest net inflow of a junction
  double energy_residual = 0.0;  // largest |head difference - head loss| of a branch
  double largest_flow = 0.0;
  double largest_head_diff = 0.0;
  std::int32_t held_branches = 0;
  std::int32_t undetermined_branches = 0;
};

// Solves the network read by read_network. Warns on standard error of every branch held at the
// laminar-turbulent jump and of every zero-length branch whose flow a loop leaves undetermined.
GlobalResult solve_global(const Network& net);

}  // namespace tessaro::global
