// The Newton iteration of the gradient method: the flows of the branches and the heads of the
// junctions are unknowns together. Each iteration draws every branch's head loss as the line
// through its current flow, solves the junction balances of those lines for the heads, and moves
// every flow along its line to the new heads, so that the junctions balance to the rounding of
// the flows themselves. A branch whose flow reaches Re 2000 from either side is held at the jump
// flow, a given flow, for as long as its head difference lies between the two laws' head losses
// there; it leaves that state on the side its head difference says.
#pragma once

#include <cstdint>

#include "global/network_graph.h"
#include "model/network.h"
#include "model/table.h"

namespace tessaro::global {

struct NewtonState {
  Table<double> flow;        // per branch, from the first node towards the second
  Table<std::uint8_t> held;  // 1 for a branch held at Re 2000 between the two laws
  Table<double> friction;    // per branch with a law and a flow: its friction factor, else 0
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
