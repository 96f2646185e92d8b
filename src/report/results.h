// The results file: one row per branch, the node walk, one row per node.
#pragma once

#include "model/network.h"
#include "textio/files.h"

namespace tessaro {

// Writes the whole results file to the open unit.
void write_results(Network& net, OutputFile& unit);

}  // namespace tessaro
