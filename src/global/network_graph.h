// The network as the global solver sees it: nodes joined by zero-length branches merged into one
// head, the heads that terminals fix, the flows that flowrate terminals fix, and the parts of the
// network that no fixed head reaches.
#pragma once

#include <cstdint>

#include "model/network.h"
#include "model/table.h"

namespace tessaro::global {

enum class BranchKind : std::uint8_t {
  law,           // its flow follows from its head difference through the friction law
  given_flow,    // a flowrate terminal fixes its flow
  zero_length,   // no resistance: its two ends share one head, conservation gives its flow
  undetermined,  // a zero-length branch that closes a loop of zero-length branches
  self_loop,     // both ends at one node
  dead_end,      // a branch with a law to a dead end: conservation alone gives its flow
};

enum class GroupKind : std::uint8_t {
  free,           // its head is an unknown of the head equations
  fixed,          // a pressure or open terminal fixes its head (or it is a part's reference)
  flow_terminal,  // a flowrate terminal: its head follows from its branch's head loss
  dead_end,       // the end of a tree hanging from the rest: its head follows from its branch's
};

struct NetworkGraph {
  std::int32_t n_groups = 0;
  std::int32_t n_unknowns = 0;
  Table<BranchKind> branch_kind;
  Table<double> given_flow;  // the flow of a given_flow or dead_end branch, first to second node
  // The dead-end branches in the order they were cut off, outermost first, and the group at the
  // dead end of each.
  std::int32_t n_dead_ends = 0;
  Table<std::int32_t> dead_end_branch;
  Table<std::int32_t> dead_end_group;
  Table<std::int32_t> node_group;  // the group of nodes sharing one head
  Table<GroupKind> group_kind;
  Table<double> group_head;           // the fixed head of a fixed group
  Table<std::int32_t> group_unknown;  // its index among the unknowns, 0 for none
  Table<std::int32_t> unknown_group;  // the group of each unknown
  // The parts of the network: the part of each node, and for a part without a fixed head the
  // node whose head is taken as 0 (0 when a fixed head reaches the part).
  Table<std::int32_t> node_part;
  Table<std::int32_t> part_reference;
};

// Builds the graph. Stops the run with a log sentence when a part without a fixed head takes in
// more than it gives out (no steady state), or when zero-length branches join two different
// fixed heads.
NetworkGraph build_network_graph(const Network& net);

}  // namespace tessaro::global
