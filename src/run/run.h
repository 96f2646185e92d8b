// The run: the fixed sequence from the network input file to the results file.
#pragma once

#include "model/network.h"
#include "run/options.h"

namespace tessaro {

class RunMonitor;

// What is done with each branch record besides its checks: the classic solver's first friction
// factor and resistance, or nothing (the global solver, which checks the fluid and the branch
// dimensions in their place). With nothing, the tables of the classic balance are not created
// either: the global solver keeps its own.
enum class BranchSetup { classic, none };

// Reads "Tessaro-net.txt" in its three passes with the checks and the per-branch set-up of each
// record, and lists the junctions. The log file must be open for the checks' sentences; pi must
// be set.
void read_network(Network& net, BranchSetup setup = BranchSetup::classic);

// Builds the junction rows and the starting state of the balance; checks that every node is
// reached by a branch.
void prepare_solver(Network& net);

// The checks of the solver preparation that the global solver keeps: the elevation order and
// that every node is reached by a branch.
void prepare_global_solver(const Network& net);

// Both of the above: the network as the classic solver starts from it.
void prepare_network(Network& net);

// Runs the whole calculation in the working folder. Returns after a successful run; every other
// way out throws RunEnd (see textio/run_end.h). Options add outputs and reports at named points
// of the run; the monitor, when given, follows it.
void run_calculation(const RunOptions& options = {}, RunMonitor* monitor = nullptr);

}  // namespace tessaro
