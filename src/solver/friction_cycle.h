// The solver's driver: balancing runs alternating with friction updates until the Reynolds
// numbers settle.
#pragma once

#include "model/network.h"

namespace tessaro {

void solve_network(Network& net);

}  // namespace tessaro
