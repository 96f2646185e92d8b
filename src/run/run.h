// The run: the fixed sequence from the network input file to the results file.
#pragma once

namespace tessaro {

// Runs the whole calculation in the working folder. Returns after a successful run; every other
// way out throws RunEnd (see textio/run_end.h).
void run_calculation();

}  // namespace tessaro
