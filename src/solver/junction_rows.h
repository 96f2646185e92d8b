// Junctions and their rows: which nodes are junctions, and for each junction its branches in
// file order, with the junction at each branch's far end.
#pragma once

#include "model/network.h"

namespace tessaro {

// Creates and fills node_degree (a branch with both ends at one node counts once) and returns the
// number of junctions (nodes of degree 2 or more). Only this one node table exists before the
// junctions are counted and found present.
std::int32_t count_junctions(Network& net);

// Creates the junction list for n_junctions junctions, lists the junctions in ascending node
// order (junction_node, node_junction) and lays out their rows: each row's place in the entry
// tables follows from the junction's degree (n_entries in all).
void list_junctions(Network& net);

// Creates the tables of the classic balance over the junctions: the corrections, the entry
// tables of the rows and the branch-to-entry index. They are created zero: no entry is fixed by
// a flowrate until the terminal heads are set.
void create_junction_balance_tables(Network& net);

// Fills the rows: branches in file order, diameters, degrees, far ends, the branch-to-entry index;
// no entry fixed.
void build_junction_rows(Network& net);

}  // namespace tessaro
