#include "global/network_graph.h"

#include <cmath>

#include "global/disjoint_sets.h"
#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

// The one branch of each terminal node (0 for a junction).
Table<std::int32_t> terminal_branches(const Network& net) {
  Table<std::int32_t> terminal_branch;
  terminal_branch.create(net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    for (const std::int32_t n : {net.first_node[b], net.second_node[b]}) {
      if (net.node_junction[n] == 0) terminal_branch[n] = b;
    }
  }
  return terminal_branch;
}

void classify_branches(const Network& net, const Table<std::int32_t>& terminal_branch,
                       NetworkGraph& graph) {
  graph.branch_kind.create(net.n_branches);
  graph.given_flow.create(net.n_branches);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const std::int32_t first = net.first_node[b];
    const std::int32_t second = net.second_node[b];
    const bool at_terminal = terminal_branch[first] == b || terminal_branch[second] == b;
    if (first == second) {
      graph.branch_kind[b] = BranchKind::self_loop;
    } else if (net.branch_condition[b] == condition_flowrate && at_terminal) {
      // The flowrate given at the first end leaves the first node into the branch.
      graph.branch_kind[b] = BranchKind::given_flow;
      graph.given_flow[b] = net.first_value[b];
    } else if (net.length[b] == 0.0) {
      graph.branch_kind[b] = BranchKind::zero_length;
    } else {
      graph.branch_kind[b] = BranchKind::law;
    }
  }
}

// Merges the ends of every zero-length branch; a branch that closes a loop of such branches is
// marked undetermined. Numbers the groups in the order of their lowest node.
void merge_zero_length(const Network& net, NetworkGraph& graph) {
  DisjointSets sets(net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    if (graph.branch_kind[b] != BranchKind::zero_length) continue;
    if (!sets.join(net.first_node[b], net.second_node[b])) {
      graph.branch_kind[b] = BranchKind::undetermined;
    }
  }
  graph.node_group.create(net.n_nodes);
  Table<std::int32_t> root_group;
  root_group.create(net.n_nodes);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const std::int32_t root = sets.find(n);
    if (root_group[root] == 0) root_group[root] = ++graph.n_groups;
    graph.node_group[n] = root_group[root];
  }
}

[[noreturn]] void stop_with(std::string_view sentence, std::int32_t number) {
  log_sentence(sentence, number);
  stop_run();
}

// Pressure terminals fix the head of their pressure head plus elevation; a terminal whose branch
// gives neither pressure nor flowrate is open, at pressure head 0.
void fix_terminal_heads(const Network& net, const Table<std::int32_t>& terminal_branch,
                        NetworkGraph& graph) {
  graph.group_kind.create(graph.n_groups);
  graph.group_head.create(graph.n_groups);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const std::int32_t b = terminal_branch[n];
    if (b == 0) continue;
    const std::int32_t g = graph.node_group[n];
    if (graph.branch_kind[b] == BranchKind::given_flow) {
      graph.group_kind[g] = GroupKind::flow_terminal;
      continue;
    }
    double pressure_head = 0.0;
    if (net.branch_condition[b] == condition_pressure) {
      pressure_head = net.first_value[b] >= 0.0 ? net.first_value[b] : net.second_value[b];
    }
    const double head = pressure_head + net.elevation[n];
    if (graph.group_kind[g] == GroupKind::fixed && graph.group_head[g] != head) {
      stop_with(message::zero_length_fixed_heads, n);
    }
    graph.group_kind[g] = GroupKind::fixed;
    graph.group_head[g] = head;
  }
}

// A part of the network without a fixed head: the given flows must balance, and its heads are
// taken relative to its highest-numbered terminal (or node, without a terminal) at head 0.
void reference_floating_parts(const Network& net, const Table<std::int32_t>& terminal_branch,
                              NetworkGraph& graph) {
  DisjointSets sets(net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b)
    sets.join(net.first_node[b], net.second_node[b]);
  graph.node_part.create(net.n_nodes);
  graph.part_reference.create(net.n_nodes);
  Table<std::int32_t> part_of_root;
  part_of_root.create(net.n_nodes);
  std::int32_t n_parts = 0;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const std::int32_t root = sets.find(n);
    if (part_of_root[root] == 0) part_of_root[root] = ++n_parts;
    graph.node_part[n] = part_of_root[root];
  }
  Table<std::uint8_t> part_fixed;
  Table<double> net_inflow;
  Table<double> largest_flow;
  Table<std::int32_t> highest_terminal;
  Table<std::int32_t> highest_node;
  part_fixed.create(n_parts);
  net_inflow.create(n_parts);
  largest_flow.create(n_parts);
  highest_terminal.create(n_parts);
  highest_node.create(n_parts);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const std::int32_t p = graph.node_part[n];
    highest_node[p] = n;
    if (graph.group_kind[graph.node_group[n]] == GroupKind::fixed) part_fixed[p] = 1;
    const std::int32_t b = terminal_branch[n];
    if (b == 0) continue;
    highest_terminal[p] = n;
    if (graph.branch_kind[b] == BranchKind::given_flow) {
      const double inflow = net.first_node[b] == n ? net.first_value[b] : net.second_value[b];
      net_inflow[p] += inflow;
      largest_flow[p] = std::fmax(largest_flow[p], std::fabs(inflow));
    }
  }
  for (std::int32_t p = 1; p <= n_parts; ++p) {
    if (part_fixed[p] != 0) continue;
    const std::int32_t reference = highest_terminal[p] != 0 ? highest_terminal[p] : highest_node[p];
    // Given flows that cancel but for the rounding of their sum balance.
    if (std::fabs(net_inflow[p]) > 1.0e-12 * largest_flow[p]) {
      log_sentence(message::floating_part_node, reference);
      log_sentence(message::floating_part_inflow, net_inflow[p]);
      stop_run();
    }
    graph.part_reference[p] = reference;
  }
  // The reference's group, or for a flowrate terminal the group at its branch's other end, holds
  // head 0; the part's heads are shifted to the reference at the end.
  for (std::int32_t p = 1; p <= n_parts; ++p) {
    const std::int32_t reference = graph.part_reference[p];
    if (reference == 0) continue;
    std::int32_t g = graph.node_group[reference];
    if (graph.group_kind[g] == GroupKind::flow_terminal) {
      const std::int32_t b = terminal_branch[reference];
      const std::int32_t other =
          net.first_node[b] == reference ? net.second_node[b] : net.first_node[b];
      g = graph.node_group[other];
    }
    if (graph.group_kind[g] == GroupKind::free) {
      graph.group_kind[g] = GroupKind::fixed;
      graph.group_head[g] = 0.0;
    }
  }
}

// Trees hanging from the rest of the network carry what their given flows ask: each free group
// with a single branch with a law to another group is cut off with that branch, outermost first,
// the branch carrying everything that enters the tree beyond it.
void cut_dead_ends(const Network& net, NetworkGraph& graph) {
  Table<std::int32_t> links;     // branches with a law to another group
  Table<std::int32_t> link_sum;  // the sum of their numbers, so that the last one is known
  Table<double> inflow;          // net inflow of the group from given flows and cut trees
  links.create(graph.n_groups);
  link_sum.create(graph.n_groups);
  inflow.create(graph.n_groups);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const std::int32_t first = graph.node_group[net.first_node[b]];
    const std::int32_t second = graph.node_group[net.second_node[b]];
    if (graph.branch_kind[b] == BranchKind::given_flow) {
      inflow[first] -= graph.given_flow[b];
      inflow[second] += graph.given_flow[b];
    }
    if (graph.branch_kind[b] != BranchKind::law || first == second) continue;
    for (const std::int32_t g : {first, second}) {
      links[g] += 1;
      link_sum[g] += b;
    }
  }
  graph.dead_end_branch.create(graph.n_groups);
  graph.dead_end_group.create(graph.n_groups);
  Table<std::int32_t> queue;
  queue.create(graph.n_groups);
  std::int32_t n_queued = 0;
  for (std::int32_t g = 1; g <= graph.n_groups; ++g) {
    if (graph.group_kind[g] == GroupKind::free && links[g] == 1) queue[++n_queued] = g;
  }
  for (std::int32_t k = 1; k <= n_queued; ++k) {
    const std::int32_t g = queue[k];
    if (links[g] != 1) continue;
    const std::int32_t b = link_sum[g];
    const bool at_first = graph.node_group[net.first_node[b]] == g;
    const std::int32_t other = graph.node_group[at_first ? net.second_node[b] : net.first_node[b]];
    graph.group_kind[g] = GroupKind::dead_end;
    graph.branch_kind[b] = BranchKind::dead_end;
    graph.given_flow[b] = at_first ? inflow[g] : -inflow[g];
    graph.dead_end_branch[++graph.n_dead_ends] = b;
    graph.dead_end_group[graph.n_dead_ends] = g;
    links[g] = 0;
    links[other] -= 1;
    link_sum[other] -= b;
    inflow[other] += inflow[g];
    if (graph.group_kind[other] == GroupKind::free && links[other] == 1) queue[++n_queued] = other;
  }
}

void number_unknowns(NetworkGraph& graph) {
  graph.group_unknown.create(graph.n_groups);
  for (std::int32_t g = 1; g <= graph.n_groups; ++g) {
    if (graph.group_kind[g] == GroupKind::free) graph.group_unknown[g] = ++graph.n_unknowns;
  }
  graph.unknown_group.create(graph.n_unknowns);
  for (std::int32_t g = 1; g <= graph.n_groups; ++g) {
    if (graph.group_unknown[g] != 0) graph.unknown_group[graph.group_unknown[g]] = g;
  }
}

}  // namespace

NetworkGraph build_network_graph(const Network& net) {
  NetworkGraph graph;
  const Table<std::int32_t> terminal_branch = terminal_branches(net);
  classify_branches(net, terminal_branch, graph);
  merge_zero_length(net, graph);
  fix_terminal_heads(net, terminal_branch, graph);
  reference_floating_parts(net, terminal_branch, graph);
  cut_dead_ends(net, graph);
  number_unknowns(graph);
  return graph;
}

}  // namespace tessaro::global
