// Terminal conditions and starting heads: the per-branch set-up while branch records are read
// (stage A) and the starting state of the balance once the junction rows exist (stage B).
#pragma once

#include <cstdint>

#include "model/network.h"

namespace tessaro {

// Stage A, given flowrate: Reynolds number and friction factor of flowrate-terminal branch b
// (called after its terminal data have passed their check).
void set_flowrate_terminal_friction(Network& net, std::int32_t b);

// Stage A, last step: resistance[b] from friction[b] (0 when the friction factor is 0).
void set_initial_resistance(Network& net, std::int32_t b);

// Stage B steps 1 to 4: fixed head differences of flowrate terminals, pressure-terminal heads,
// junction starting heads.
void set_terminal_heads(Network& net);

// Stage B step 5: checks each elevation record's node number (stopping at the first one out of
// sequence) and adds the elevations to the node heads.
void add_elevations(Network& net);

// Stage B step 6: starting head differences of the entries not fixed by a flowrate.
void set_starting_head_differences(Network& net);

}  // namespace tessaro
