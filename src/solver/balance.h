// Junction head balancing: damped simultaneous Newton correction of the junction heads, carried
// out on the head differences of the junction entries, for fixed resistances.
#pragma once

#include "model/network.h"

namespace tessaro {

// One balancing run. Returns when the largest junction imbalance is within the tolerance; ends
// the run with the two log records past the iteration limit, or as soon as the corrections of a
// sweep change no head difference (from then on every sweep would repeat until the limit).
void balance_junction_heads(Network& net);

// The steps of a balancing run, in the order the run takes them.

// Copies the resistance of every entry's branch into junction_resistance.
void gather_entry_resistances(Network& net);

// The first sweep of a run: sums the flows into every junction for the current head differences
// and sets each junction's correction, the Newton step of its head, damped by the number of
// branches in the network. Returns the largest absolute net inflow of any junction.
double sweep_junctions(Network& net);

struct SweepResult {
  double max_imbalance = 0.0;
  bool changed = false;  // whether the pending corrections changed any head difference in any bit
};

// Every later sweep: the sweep of sweep_junctions, in which each junction first applies the
// corrections of the sweep before (junction_pending_correction) to the head differences of its
// row, and then sums the flows from the corrected values. Raising a junction's head lowers the
// head difference of every entry seen from it and raises that of the same branch seen from the
// junction at its far end; terminal heads and head differences fixed by a flowrate stay as they
// are. (H + c_j) - c_far is rounded in that order.
SweepResult sweep_with_pending_corrections(Network& net);

}  // namespace tessaro
