// The run: the fixed sequence from the network input file to the results file.
#pragma once

#include "model/network.h"

namespace tessaro {

// Reads "Tessaro-net.txt" in its three passes, checks the network and brings it to the state in
// which the solver starts. The log file must be open for the checks' sentences; pi must be set.
void prepare_network(Network& net);

// Runs the whole calculation in the working folder. Returns after a successful run; every other
// way out throws RunEnd (see textio/run_end.h).
void run_calculation();

}  // namespace tessaro
