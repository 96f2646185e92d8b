// The solver's driver: balancing runs alternating with friction updates until the Reynolds
// numbers settle.
#pragma once

#include "model/network.h"

namespace tessaro {

// Balances the junction heads, updates the friction of every branch at a junction, and repeats
// until no Reynolds number changes by more than the tolerance. Ends the run with "Maximum
// iterations exceeded" when an iteration passes its limit.
void solve_network(Network& net);

// One friction update: recomputes the Reynolds number, friction factor and resistance of every
// branch at a junction from the balanced head differences, visiting the junction rows in order.
// Returns the largest change of a Reynolds number.
double update_friction(Network& net);

}  // namespace tessaro
