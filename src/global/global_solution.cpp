#include <unistd.h>

#include <cmath>
#include <optional>
#include <string>

#include "global/branch_law.h"
#include "global/global_solver.h"
#include "global/network_graph.h"
#include "global/newton.h"
#include "model/messages.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

// Every zero-length branch that no loop leaves undetermined carries what conservation gives it:
// the branches of each group form a forest, walked from one root per group (its fixed terminal,
// if it has one), each branch carrying everything that enters below it.
void set_zero_length_flows(const Network& net, const NetworkGraph& graph, NewtonState& state) {
  Table<double> excess;  // net inflow of a node from the branches that are not zero-length
  excess.create(net.n_nodes);
  Table<std::int32_t> start;  // the zero-length branches at each node, stored node after node
  start.create(static_cast<std::int64_t>(net.n_nodes) + 1);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const BranchKind kind = graph.branch_kind[b];
    if (kind == BranchKind::law || kind == BranchKind::given_flow || kind == BranchKind::dead_end) {
      excess[net.first_node[b]] -= state.flow[b];
      excess[net.second_node[b]] += state.flow[b];
    } else if (kind == BranchKind::zero_length) {
      start[net.first_node[b]] += 1;
      start[net.second_node[b]] += 1;
    }
  }
  std::int32_t next = 1;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    next += start[n];
    start[n] = next;
  }
  start[net.n_nodes + 1] = next;
  if (next == 1) return;
  Table<std::int32_t> at;
  at.create(next - 1);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    if (graph.branch_kind[b] != BranchKind::zero_length) continue;
    at[--start[net.first_node[b]]] = b;
    at[--start[net.second_node[b]]] = b;
  }

  // Roots: a node of each group with a fixed head where there is one, its first node otherwise.
  Table<std::int32_t> group_root;
  group_root.create(graph.n_groups);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const std::int32_t g = graph.node_group[n];
    if (group_root[g] == 0) group_root[g] = n;
  }
  for (std::int32_t n = net.n_nodes; n >= 1; --n) {
    if (net.node_junction[n] == 0 && start[n] != start[n + 1]) group_root[graph.node_group[n]] = n;
  }

  Table<std::int32_t> order;
  Table<std::int32_t> parent_branch;
  Table<std::uint8_t> reached;
  order.create(net.n_nodes);
  parent_branch.create(net.n_nodes);
  reached.create(net.n_nodes);
  for (std::int32_t g = 1; g <= graph.n_groups; ++g) {
    const std::int32_t root = group_root[g];
    if (start[root] == start[root + 1]) continue;
    std::int32_t n_order = 0;
    order[++n_order] = root;
    reached[root] = 1;
    for (std::int32_t k = 1; k <= n_order; ++k) {
      const std::int32_t node = order[k];
      for (std::int32_t e = start[node]; e < start[node + 1]; ++e) {
        const std::int32_t b = at[e];
        const std::int32_t other =
            net.first_node[b] == node ? net.second_node[b] : net.first_node[b];
        if (reached[other] != 0) continue;
        reached[other] = 1;
        parent_branch[other] = b;
        order[++n_order] = other;
      }
    }
    for (std::int32_t k = n_order; k >= 2; --k) {
      const std::int32_t node = order[k];
      const std::int32_t b = parent_branch[node];
      const std::int32_t towards =
          net.first_node[b] == node ? net.second_node[b] : net.first_node[b];
      state.flow[b] = net.first_node[b] == node ? excess[node] : -excess[node];
      excess[towards] += excess[node];
    }
  }
}

// Node heads: a group's head at each of its nodes, a flowrate terminal's from its branch's head
// loss, and each part without a fixed head moved so that its reference node is at head 0.
Table<double> node_heads(const Network& net, const NetworkGraph& graph, NewtonState& state) {
  BranchLaws laws(net);
  // The dead ends, innermost first, from the head at the other end of their branch.
  for (std::int32_t k = graph.n_dead_ends; k >= 1; --k) {
    const std::int32_t b = graph.dead_end_branch[k];
    const std::int32_t g = graph.dead_end_group[k];
    const double loss = head_loss(laws(b), state.flow[b]).head;
    if (graph.node_group[net.first_node[b]] == g) {
      state.group_head[g] = state.group_head[graph.node_group[net.second_node[b]]] + loss;
    } else {
      state.group_head[g] = state.group_head[graph.node_group[net.first_node[b]]] - loss;
    }
  }
  Table<double> head;
  head.create(net.n_nodes);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) head[n] = state.group_head[graph.node_group[n]];
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    if (graph.branch_kind[b] != BranchKind::given_flow) continue;
    const double loss = net.length[b] == 0.0 ? 0.0 : head_loss(laws(b), state.flow[b]).head;
    const std::int32_t first = net.first_node[b];
    const std::int32_t second = net.second_node[b];
    if (graph.group_kind[graph.node_group[first]] == GroupKind::flow_terminal) {
      if (graph.group_kind[graph.node_group[second]] == GroupKind::flow_terminal)
        head[second] = 0.0;
      head[first] = head[second] + loss;
    } else {
      head[second] = head[first] - loss;
    }
  }
  Table<double> shift;
  shift.create(net.n_nodes);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const std::int32_t reference = graph.part_reference[graph.node_part[n]];
    if (reference != 0) shift[n] = head[reference];
  }
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) head[n] -= shift[n];
  return head;
}

void warn(std::string text) {
  text += "\n";
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written <= 0) return;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

// The branches of one warning: the first few named, one line with the count of the rest.
class BranchWarnings {
 public:
  BranchWarnings(std::string_view each, std::string_view more) : each_(each), more_(more) {}
  void add(const std::string& label) {
    if (++count_ <= named) warn(std::string(each_) + label);
  }
  void finish() const {
    if (count_ > named) {
      warn("tessaro: warning: " + std::to_string(count_ - named) + std::string(more_));
    }
  }

 private:
  static constexpr std::int32_t named = 20;
  std::string_view each_;
  std::string_view more_;
  std::int32_t count_ = 0;
};

std::string branch_label(const Network& net, std::int32_t b) {
  std::string name(net.branch_name[b].data(), net.branch_name[b].size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return std::to_string(net.branch_number[b]) + " '" + name + "'";
}

void fill_solution(const Network& net, const NetworkGraph& graph, const NewtonState& state,
                   const Table<double>& head, GlobalResult& result) {
  Solution& solution = result.solution;
  solution.create(net.n_branches, net.n_nodes);
  BranchWarnings held(message::warning_held_at_jump, message::warning_more_held);
  BranchLaws laws(net);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) solution.node_head[n] = head[n];
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const BranchKind kind = graph.branch_kind[b];
    const double q = state.flow[b] == 0.0 ? 0.0 : state.flow[b];
    const double dh = head[net.first_node[b]] - head[net.second_node[b]];
    solution.branch_flow[b] = q;
    solution.branch_head_diff[b] = dh;
    solution.branch_direction[b] = q > 0.0   ? FlowDirection::from_first
                                   : q < 0.0 ? FlowDirection::towards_first
                                             : FlowDirection::none;
    const bool has_law = (kind == BranchKind::law || kind == BranchKind::given_flow ||
                          kind == BranchKind::dead_end) &&
                         net.length[b] != 0.0;
    if (q == 0.0 || !has_law) {
      solution.branch_regime[b] = FlowRegime::none;
      continue;
    }
    const BranchLaw law = laws(b);
    if (state.held[b] != 0) {
      solution.branch_reynolds[b] = 2000.0;
      solution.branch_friction[b] = std::fabs(dh) / (law.length_factor * q * q);
      solution.branch_regime[b] = FlowRegime::transition;
      ++result.held_branches;
      held.add(branch_label(net, b));
      continue;
    }
    solution.branch_reynolds[b] = flow_reynolds_number(law, q);
    // The solver leaves the friction factor of each flow it iterated; a given flow's and a dead
    // end's are taken here.
    solution.branch_friction[b] =
        state.friction[b] != 0.0 ? state.friction[b] : friction_factor(law, q);
    solution.branch_regime[b] =
        std::fabs(q) < law.jump_flow ? FlowRegime::laminar : FlowRegime::turbulent;
  }
  held.finish();
  BranchWarnings undetermined(message::warning_undetermined_loop,
                              message::warning_more_undetermined);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    if (graph.branch_kind[b] != BranchKind::undetermined) continue;
    ++result.undetermined_branches;
    undetermined.add(branch_label(net, b));
  }
  undetermined.finish();
}

// A result that is not finite would have trapped: it ends the run as the trap would.
[[noreturn]] void raise_invalid_result() {
  fail_run('M', 6101, tag_math, {}, "floating-point error: invalid");
}

void check_finite(const GlobalResult& result) {
  const Solution& solution = result.solution;
  for (std::int32_t b = 1; b <= solution.branch_flow.size(); ++b) {
    if (!std::isfinite(solution.branch_flow[b]) || !std::isfinite(solution.branch_head_diff[b])) {
      raise_invalid_result();
    }
  }
  for (std::int32_t n = 1; n <= solution.node_head.size(); ++n) {
    if (!std::isfinite(solution.node_head[n])) raise_invalid_result();
  }
}

}  // namespace

GlobalResult solve_global(const Network& net) {
  // The library's factorisation and the Newton iteration run with the floating-point traps off:
  // CHOLMOD's kernels may compute on values they never use. The traps are set again before any
  // result leaves, and the results are checked for finiteness here instead.
  std::optional<TrapsOff> traps_off;
  traps_off.emplace();
  const NetworkGraph graph = build_network_graph(net);
  NewtonState state = solve_heads(net, graph);
  set_zero_length_flows(net, graph, state);
  const Table<double> head = node_heads(net, graph, state);
  traps_off.reset();

  GlobalResult result;
  fill_solution(net, graph, state, head, result);
  check_finite(result);
  result.iterations = state.iterations;
  result.mass_residual = state.mass_residual;
  result.energy_residual = state.energy_residual;
  result.largest_flow = state.largest_flow;
  result.largest_head_diff = state.largest_head_diff;
  return result;
}

}  // namespace tessaro::global
