#include "report/node_walk.h"

#include <algorithm>
#include <cstdint>
#include <functional>

namespace tessaro {

namespace {

// The branches at each node in file order, stored node after node: node n's branches are
// branch[start[n]] .. branch[start[n + 1] - 1]. A branch with both ends at one node is listed
// once there.
struct NodeBranches {
  Table<std::int32_t> start;
  Table<std::int32_t> branch;
};

NodeBranches list_node_branches(const Network& net) {
  NodeBranches at;
  at.start.create(static_cast<std::int64_t>(net.n_nodes) + 1);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    at.start[net.first_node[b]] += 1;
    if (net.second_node[b] != net.first_node[b]) at.start[net.second_node[b]] += 1;
  }
  // Counts become the position after each node's last branch; filling then moves each position
  // back to the node's first branch.
  std::int32_t next = 1;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    next += at.start[n];
    at.start[n] = next;
  }
  at.start[net.n_nodes + 1] = next;
  at.branch.create(next - 1);
  for (std::int32_t b = net.n_branches; b >= 1; --b) {
    at.branch[--at.start[net.first_node[b]]] = b;
    if (net.second_node[b] != net.first_node[b]) at.branch[--at.start[net.second_node[b]]] = b;
  }
  return at;
}

// Unexpanded nodes at the other end of a branch of an expanded node, smallest number first.
// A node may be held more than once, and nodes expanded since they were added are passed over
// when the next node is taken. Every entry comes from one listed branch of an expanded node, so
// the store never holds more entries than the branch lists.
class Frontier {
 public:
  explicit Frontier(std::int32_t capacity) { nodes_.create(capacity); }

  void add(std::int32_t node) {
    nodes_[++size_] = node;
    std::push_heap(nodes_.data(), nodes_.data() + size_, std::greater<>());
  }

  // The smallest unexpanded node held, or 0 when there is none.
  std::int32_t take_smallest(const Table<std::int32_t>& node_source) {
    while (size_ > 0) {
      std::pop_heap(nodes_.data(), nodes_.data() + size_, std::greater<>());
      const std::int32_t node = nodes_[size_--];
      if (node_source[node] == 0) return node;
    }
    return 0;
  }

 private:
  Table<std::int32_t> nodes_;
  std::int32_t size_ = 0;
};

// The node the walk starts from: the lowest-numbered terminal node with a pressure-terminal
// branch, whose head is kept (walk_steps 1). Without one, the highest-numbered terminal node,
// or the highest-numbered node when every node is a junction, starting at head 0 (walk_steps 0).
std::int32_t find_start_node(const Network& net, std::int32_t& walk_steps) {
  std::int32_t start = 0;
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    if (net.branch_condition[b] != condition_pressure) continue;
    for (const std::int32_t n : {net.first_node[b], net.second_node[b]}) {
      if (net.node_junction[n] == 0 && (start == 0 || n < start)) start = n;
    }
  }
  if (start != 0) {
    walk_steps = 1;
    return start;
  }
  walk_steps = 0;
  for (std::int32_t n = net.n_nodes; n >= 1; --n) {
    if (net.node_junction[n] == 0) return n;
  }
  return net.n_nodes;
}

// Carries the head of walk_node to the other end of each of its branches, in file order. Each
// branch overwrites its neighbour's head, even a neighbour expanded before; a branch with both
// ends at walk_node changes walk_node's own head for the branches after it. walk_node is marked
// expanded even if it had no branch, so that every step expands one node.
void expand(Network& net, const NodeBranches& at, std::int32_t walk_node, Frontier& frontier) {
  net.node_source[walk_node] = walk_node;
  for (std::int32_t k = at.start[walk_node]; k < at.start[walk_node + 1]; ++k) {
    const std::int32_t b = at.branch[k];
    std::int32_t neighbour;
    if (net.first_node[b] == walk_node) {
      neighbour = net.second_node[b];
      net.node_head[neighbour] = net.node_head[walk_node] - net.branch_head_diff[b];
    } else {
      neighbour = net.first_node[b];
      net.node_head[neighbour] = net.branch_head_diff[b] + net.node_head[walk_node];
    }
    if (net.node_source[neighbour] == 0) frontier.add(neighbour);
  }
}

}  // namespace

// Each step expands one unexpanded node, so the walk ends after n_nodes steps. The next node is
// the lowest-numbered unexpanded node with a branch to an expanded one; when there is none, a
// part of the network not yet reached continues from its highest-numbered node, with the heads
// it already holds.
void walk_node_heads(Network& net) {
  const NodeBranches at = list_node_branches(net);
  Frontier frontier(at.branch.size());
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) net.node_source[n] = 0;

  std::int32_t walk_steps = 0;
  std::int32_t walk_node = find_start_node(net, walk_steps);
  std::int32_t unexpanded_count = net.n_nodes;
  std::int32_t highest_unexpanded = net.n_nodes;
  while (true) {
    if (walk_steps == 0) net.node_head[walk_node] = 0.0;
    expand(net, at, walk_node, frontier);
    walk_steps += 1;
    unexpanded_count -= 1;
    if (unexpanded_count == 0) return;

    walk_node = frontier.take_smallest(net.node_source);
    if (walk_node == 0) {
      while (net.node_source[highest_unexpanded] != 0) highest_unexpanded -= 1;
      walk_node = highest_unexpanded;
    }
  }
}

}  // namespace tessaro
