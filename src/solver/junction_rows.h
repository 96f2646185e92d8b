// Junctions and their rows: which nodes are junctions, and for each junction its branches in
// file order, with the junction at each branch's far end.
#pragma once

#include "model/network.h"

namespace tessaro {

// Fills node_degree (a branch with both ends at one node counts once) and returns the number of
// junctions (nodes of degree 2 or more). Needs the node tables created.
std::int32_t count_junctions(Network& net);

// Creates the junction tables for n_junctions junctions and lists the junctions in ascending node
// order (junction_node, node_junction).
void list_junctions(Network& net);

// Creates the entry tables and builds the rows: branches in file order, diameters, degrees, far
// ends, the branch-to-entry index; no entry fixed.
void build_junction_rows(Network& net);

}  // namespace tessaro
