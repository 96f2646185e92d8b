#include "solver/starting_heads.h"

#include <cmath>

#include "input/checks.h"
#include "textio/math.h"

namespace tessaro {

namespace {

// Lowest starting head when no flowrate terminal fixes a head difference: 1.0e23 held in single
// precision, above any real head, so that the first pressure terminal takes its place.
constexpr double no_flow_terminal_head_min = static_cast<double>(1.0e23f);

// The range over which the junction starting heads are spread.
struct HeadSpread {
  double head_max = 0.0;
  double head_min = 0.0;

  // Two separate tests: the first head met can raise head_max and lower head_min alike.
  void include(double head) {
    if (head > head_max) head_max = head;
    if (head < head_min) head_min = head;
  }
};

// For every terminal node, its branch (0 for a node that no branch names). A node that is not a
// junction has at most one branch, so this is also the first branch in file order at that node.
Table<std::int32_t> find_terminal_branches(const Network& net) {
  Table<std::int32_t> terminal_branch;
  terminal_branch.create(net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const std::int32_t first = net.first_node[b];
    const std::int32_t second = net.second_node[b];
    if (net.node_junction[first] == 0) terminal_branch[first] = b;
    if (net.node_junction[second] == 0) terminal_branch[second] = b;
  }
  return terminal_branch;
}

// Fixes the head difference of every junction entry whose branch has its flowrate given at a
// terminal node: v^2 K with the sign of v, v being the flowrate leaving the terminal node into
// the branch, so a positive v means flow into the junction. Returns the number of fixed entries.
std::int32_t fix_flowrate_entries(Network& net, const Table<std::int32_t>& terminal_branch,
                                  HeadSpread& spread) {
  std::int32_t n_flow_terminal_links = 0;
  // A zero flowrate gives a head difference of zero whatever sign is left from before.
  std::int32_t flow_sign = 1;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (net.node_junction[n] != 0) continue;
    const std::int32_t b = terminal_branch[n];
    if (b == 0 || net.branch_condition[b] != condition_flowrate) continue;
    // The entries whose branch has an end at n are those of b, in row order.
    for (const std::int32_t e : {net.branch_first_entry[b], net.branch_second_entry[b]}) {
      if (e == 0) continue;
      const std::int32_t c = net.junction_branch[e];
      const double v = net.second_node[c] == n ? net.second_value[c] : net.first_value[c];
      if (v != 0.0) flow_sign = static_cast<std::int32_t>(v / std::fabs(v));
      net.junction_head_diff[e] =
          math_pow(v, 2.0) * net.resistance[c] * static_cast<double>(flow_sign);
      net.junction_branch_fixed[e] = 1;
      spread.include(net.junction_head_diff[e]);
      ++n_flow_terminal_links;
    }
  }
  return n_flow_terminal_links;
}

// Gives every pressure-terminal node its pressure head: the value of its branch that is not
// negative, whichever end the terminal is.
void set_pressure_terminal_heads(Network& net, const Table<std::int32_t>& terminal_branch,
                                 HeadSpread& spread) {
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (net.node_junction[n] != 0) continue;
    const std::int32_t b = terminal_branch[n];
    if (b == 0 || net.branch_condition[b] != condition_pressure) continue;
    const std::int32_t c = net.branch_number[b];
    net.node_head[n] = net.first_value[c] >= 0.0 ? net.first_value[c] : net.second_value[c];
    spread.include(net.node_head[n]);
  }
}

// Spaces the junctions evenly strictly between head_max and head_min, in ascending node order,
// the lowest-numbered junction highest.
void set_junction_starting_heads(Network& net, const HeadSpread& spread) {
  const double head_step =
      (spread.head_max - spread.head_min) / static_cast<double>(net.n_junctions + 1);
  net.node_head[net.junction_node[1]] = spread.head_max - head_step;
  for (std::int32_t j = 2; j <= net.n_junctions; ++j) {
    net.node_head[net.junction_node[j]] = net.node_head[net.junction_node[j - 1]] - head_step;
  }
}

}  // namespace

// The node heads are created zero, so a terminal node whose branches carry no terminal datum
// keeps pressure head 0.
void set_terminal_heads(Network& net) {
  const Table<std::int32_t> terminal_branch = find_terminal_branches(net);
  HeadSpread spread;
  const std::int32_t n_flow_terminal_links = fix_flowrate_entries(net, terminal_branch, spread);

  // The spread reaches above 0 by the largest fixed head difference below 0. With flowrates given,
  // it reaches down to 0; otherwise the lowest pressure head sets its bottom.
  spread.head_max = spread.head_max + std::fabs(spread.head_min);
  spread.head_min = n_flow_terminal_links != 0 ? 0.0 : no_flow_terminal_head_min;

  set_pressure_terminal_heads(net, terminal_branch, spread);
  set_junction_starting_heads(net, spread);
}

void add_elevations(Network& net) {
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    check_elevation_order(net, n);
    net.node_head[n] = net.elevation[n] + net.node_head[n];
  }
}

// Head at the branch's other end minus head of the junction, for every entry not fixed by a
// flowrate.
void set_starting_head_differences(Network& net) {
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    const std::int32_t node = net.junction_node[j];
    for (std::int32_t e = net.junction_row_start[j]; e < net.junction_row_start[j + 1]; ++e) {
      if (net.junction_branch_fixed[e] != 0) continue;
      const std::int32_t c = net.junction_branch[e];
      const std::int32_t first = net.first_node[c];
      const std::int32_t second = net.second_node[c];
      if (second == node) {
        net.junction_head_diff[e] = net.node_head[first] - net.node_head[second];
      } else if (first == node) {
        net.junction_head_diff[e] = net.node_head[second] - net.node_head[first];
      }
    }
  }
}

}  // namespace tessaro
