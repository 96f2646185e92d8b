// The results file: one row per branch, the node walk, one row per node.
#pragma once

#include <cstdint>

#include "model/network.h"
#include "model/solution.h"
#include "textio/files.h"

namespace tessaro {

// Writes the whole results file of the classic solver to the open unit: the branch head
// differences from the junction rows, the rows, the node walk, the node rows.
void write_results(Network& net, OutputFile& unit);

// Writes the whole results file from a solved state, in the same layout.
void write_results(const Network& net, const Solution& solution, OutputFile& unit);

// The flowrate column and the direction of branch b's row in the classic results file, from its
// resistance and the head difference write_results gave it.
struct ClassicRow {
  double flowrate = 0.0;  // a magnitude
  FlowDirection direction = FlowDirection::none;
};
ClassicRow classic_row(const Network& net, std::int32_t b);

// The pressure at node n of a head per node: (head - elevation) density gravity, in that order.
double node_pressure(const Network& net, const Table<double>& node_head, std::int32_t n);

}  // namespace tessaro
