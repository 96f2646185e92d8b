// The node walk: heads of all nodes carried outward from a start node along the branch head
// differences.
#pragma once

#include "model/network.h"

namespace tessaro {

// Sets node_head of every node from branch_head_diff, in the walk's order of expansion.
void walk_node_heads(Network& net);

}  // namespace tessaro
