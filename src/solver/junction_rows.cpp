#include "solver/junction_rows.h"

#include <utility>

#include "input/checks.h"

namespace tessaro {

namespace {

// Appends branch b to the row of junction j, with the junction at the branch's far end, and
// returns the entry. junction_degree[j] counts the entries appended so far.
std::int32_t append_entry(Network& net, std::int32_t j, std::int32_t b, std::int32_t far_end) {
  const std::int32_t e = net.junction_row_start[j] + net.junction_degree[j];
  net.junction_degree[j] += 1;
  net.junction_branch[e] = net.branch_number[b];
  net.junction_branch_diameter[e] = net.diameter[b];
  net.junction_far_end[e] = far_end;
  return e;
}

// Places the rows one after another in junction order, each with one entry per branch with an end
// at its junction. The degrees, created zero with the junction list, count up as the rows fill.
void lay_out_rows(Network& net) {
  net.junction_row_start[1] = 1;
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    net.junction_row_start[j + 1] =
        net.junction_row_start[j] + net.node_degree[net.junction_node[j]];
  }
  net.n_entries = net.junction_row_start[net.n_junctions + 1] - 1;
}

}  // namespace

void create_junction_balance_tables(Network& net) {
  net.junction_correction.create(net.n_junctions);
  net.junction_pending_correction.create(net.n_junctions);
  net.junction_branch.create(net.n_entries);
  net.junction_branch_diameter.create(net.n_entries);
  net.junction_head_diff.create(net.n_entries);
  net.junction_far_end.create(net.n_entries);
  net.junction_branch_fixed.create(net.n_entries);
  net.junction_resistance.create(net.n_entries);
  net.branch_first_entry.create(net.n_branches);
  net.branch_second_entry.create(net.n_branches);
}

std::int32_t count_junctions(Network& net) {
  net.node_degree.create(net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    net.node_degree[net.first_node[b]] += 1;
    // A branch with both ends at one node counts once for it.
    if (net.second_node[b] != net.first_node[b]) net.node_degree[net.second_node[b]] += 1;
  }
  std::int32_t junctions = 0;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (is_junction_degree(net.node_degree[n])) ++junctions;
  }
  return junctions;
}

void list_junctions(Network& net) {
  const std::int32_t n_junctions = net.n_junctions;
  net.junction_node.create(n_junctions);
  net.junction_degree.create(n_junctions);
  net.junction_row_start.create(n_junctions + 1);
  std::int32_t j = 0;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (!is_junction_degree(net.node_degree[n])) continue;
    ++j;
    net.junction_node[j] = n;
    net.node_junction[n] = j;
  }
  lay_out_rows(net);
}

void build_junction_rows(Network& net) {
  // Branches in file order, so each row lists its branches in file order. A branch between two
  // junctions gets an entry in each row, each naming the other junction as its far end; a branch
  // with both ends at one junction gets one entry, whose far end is no other junction.
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const std::int32_t first_junction = net.node_junction[net.first_node[b]];
    const std::int32_t second_junction =
        net.second_node[b] == net.first_node[b] ? 0 : net.node_junction[net.second_node[b]];
    std::int32_t first_end_entry = 0;
    std::int32_t second_end_entry = 0;
    if (first_junction != 0) {
      first_end_entry = append_entry(net, first_junction, b, second_junction);
    }
    if (second_junction != 0) {
      second_end_entry = append_entry(net, second_junction, b, first_junction);
    }
    // The branch's first entry is the one in the row of the lower-indexed junction.
    if (second_junction != 0 && (first_junction == 0 || second_junction < first_junction)) {
      std::swap(first_end_entry, second_end_entry);
    }
    net.branch_first_entry[b] = first_end_entry;
    net.branch_second_entry[b] = second_end_entry;
  }
}

}  // namespace tessaro
