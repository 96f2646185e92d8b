// The Newton iteration on all unknown heads at once. The flow of a branch is a continuous,
// non-decreasing function of its head difference (the jump of the friction law at Re 2000 is a
// flat stretch of the flow, where the branch is held at the jump flow), so the heads maximise a
// smooth concave function whose gradient is the net inflow of every junction: each Newton step
// is taken as far along its direction as that function still rises. At the end the flows are
// kept as unknowns of their own and refined with the last factorisation until every junction
// balances to the rounding of its flows.
#pragma once

#include <cstdint>

#include "global/branch_law.h"
#include "global/network_graph.h"
#include "model/network.h"
#include "model/table.h"

namespace tessaro::global {

struct NewtonState {
  Table<BranchLaw> law;      // per branch, for the branches with a length
  Table<double> flow;        // per branch, from the first node towards the second
  Table<std::uint8_t> held;  // 1 for a branch held at Re 2000 between the two laws
  Table<double> group_head;  // per group of nodes sharing one head
  std::int32_t iterations = 0;
  double mass_residual = 0.0;    // the largest net inflow of a group with an unknown head
  double energy_residual = 0.0;  // the largest |head difference - head loss of the flow|
  double largest_flow = 0.0;
  double largest_head_diff = 0.0;
};

// Solves the network to machine precision. Ends the run with "Maximum iterations exceeded" when
// the file's iteration limit is reached first.
NewtonState solve_heads(const Network& net, const NetworkGraph& graph);

}  // namespace tessaro::global
