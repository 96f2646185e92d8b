// Junction head balancing: damped simultaneous Newton correction of the junction heads, carried
// out on the head differences of the junction entries, for fixed resistances.
#pragma once

#include "model/network.h"

namespace tessaro {

// One balancing run. Returns when the largest junction imbalance is within the tolerance; ends
// the run with the two log records past the iteration limit.
void balance_junction_heads(Network& net);

}  // namespace tessaro
