// The checks of the network as a whole: the elevation count, the junctions, the nodes no branch
// names, the terminals, duplicate branches and the connected parts.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "check/rules.h"
#include "input/checks.h"

namespace tessaro::check {

namespace {

// The connected parts of the network, found by joining the two ends of every branch.
class Parts {
 public:
  explicit Parts(std::int32_t n_nodes) : parent_(static_cast<std::size_t>(n_nodes) + 1) {
    std::iota(parent_.begin(), parent_.end(), 0);
  }
  std::int32_t find(std::int32_t node) {
    auto n = static_cast<std::size_t>(node);
    while (parent_[n] != static_cast<std::int32_t>(n)) {
      parent_[n] = parent_[static_cast<std::size_t>(parent_[n])];
      n = static_cast<std::size_t>(parent_[n]);
    }
    return static_cast<std::int32_t>(n);
  }
  void join(std::int32_t a, std::int32_t b) {
    const std::int32_t root_a = find(a);
    const std::int32_t root_b = find(b);
    if (root_a != root_b)
      parent_[static_cast<std::size_t>(std::max(root_a, root_b))] = std::min(root_a, root_b);
  }

 private:
  std::vector<std::int32_t> parent_;
};

// What a part holds at its terminal nodes.
struct PartTerminals {
  bool has_junction = false;
  bool has_pressure = false;  // a pressure terminal or an open terminal (pressure 0)
  double inflow = 0.0;        // the given flows into the part
  double inflow_size = 0.0;   // the sum of their magnitudes
  std::int64_t line = 0;      // the line of its first branch
};

// Two branches with the same ends (in either order) and the same data.
struct BranchKey {
  std::int32_t low_node;
  std::int32_t high_node;
  std::int32_t condition;
  double diameter;
  double length;
  double low_value;
  double high_value;
  auto operator<=>(const BranchKey&) const = default;
};

BranchKey key_of(const BranchRecord& branch) {
  const bool forward = branch.first_node <= branch.second_node;
  return {forward ? branch.first_node : branch.second_node,
          forward ? branch.second_node : branch.first_node,
          branch.condition,
          branch.diameter,
          branch.length,
          forward ? branch.first_value : branch.second_value,
          forward ? branch.second_value : branch.first_value};
}

void check_duplicates(const std::vector<BranchRecord>& branches, Findings& findings) {
  std::vector<std::int32_t> order(branches.size());
  std::iota(order.begin(), order.end(), 0);
  const auto key = [&](std::int32_t k) { return key_of(branches[static_cast<std::size_t>(k)]); };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::int32_t a, std::int32_t b) { return key(a) < key(b); });
  // Within a group of equal keys the stable sort keeps file order: the first is the original.
  std::size_t first = 0;
  for (std::size_t k = 1; k < order.size(); ++k) {
    if (key(order[k]) != key(order[k - 1])) {
      first = k;
      continue;
    }
    const BranchRecord& copy = branches[static_cast<std::size_t>(order[k])];
    const BranchKey ends = key(order[k]);
    findings.add(Code::duplicate_branch, copy.line, copy.column[field_key],
                 {std::to_string(order[k] + 1), std::to_string(ends.low_node),
                  std::to_string(ends.high_node), std::to_string(order[first] + 1)});
  }
}

}  // namespace

void check_network(const NetworkFile& file, Findings& findings) {
  if (!file.readable) return;
  std::int32_t n_nodes = 0;
  for (const BranchRecord& branch : file.branches) {
    if (!is_node_number(branch.first_node) || !is_node_number(branch.second_node)) return;
    n_nodes = std::max({n_nodes, branch.first_node, branch.second_node});
  }
  const auto n_elevations = static_cast<std::int64_t>(file.elevations.size());
  if (n_elevations != n_nodes) {
    findings.add(Code::elevation_count, file.end_line, 0,
                 {std::to_string(n_elevations), std::to_string(n_nodes)});
    return;
  }
  check_duplicates(file.branches, findings);

  // Degrees and parts, node n at index n.
  const auto nodes = static_cast<std::size_t>(n_nodes) + 1;
  std::vector<std::int32_t> degree(nodes, 0);
  Parts parts(n_nodes);
  for (std::size_t k = 0; k < file.branches.size(); ++k) {
    const BranchRecord& branch = file.branches[k];
    const auto first = static_cast<std::size_t>(branch.first_node);
    const auto second = static_cast<std::size_t>(branch.second_node);
    degree[first] += 1;
    if (second != first) degree[second] += 1;
    parts.join(branch.first_node, branch.second_node);
  }
  const auto is_terminal = [&](std::int32_t n) { return degree[static_cast<std::size_t>(n)] == 1; };
  if (std::none_of(degree.begin() + 1, degree.end(), is_junction_degree)) {
    findings.add(Code::no_junction, 0, 0);
    return;
  }
  for (std::int32_t n = 1; n <= n_nodes; ++n) {
    if (degree[static_cast<std::size_t>(n)] == 0) {
      findings.add(Code::unconnected_node, file.elevations[static_cast<std::size_t>(n - 1)].line, 0,
                   {std::to_string(n)});
    }
  }

  std::vector<PartTerminals> part(nodes);
  for (std::size_t k = 0; k < file.branches.size(); ++k) {
    const BranchRecord& branch = file.branches[k];
    const std::string number = std::to_string(k + 1);
    PartTerminals& holds = part[static_cast<std::size_t>(parts.find(branch.first_node))];
    if (holds.line == 0) holds.line = branch.line;
    const bool first_terminal = is_terminal(branch.first_node);
    const bool second_terminal = is_terminal(branch.second_node);
    if (!first_terminal || !second_terminal) holds.has_junction = true;
    if (first_terminal && second_terminal && branch.first_node != branch.second_node) {
      findings.add(Code::terminal_pair, branch.line, branch.column[field_first_node],
                   {number, std::to_string(branch.first_node), std::to_string(branch.second_node)});
    }
    const std::int32_t ends[] = {branch.first_node, branch.second_node};
    const int n_ends = branch.first_node == branch.second_node ? 1 : 2;
    for (int end = 0; end < n_ends; ++end) {
      const std::int32_t n = ends[end];
      if (!is_terminal(n)) continue;
      switch (branch.condition) {
        case condition_none:
          holds.has_pressure = true;
          findings.add(Code::open_terminal, branch.line, branch.column[field_condition],
                       {std::to_string(n), number});
          break;
        case condition_pressure:
          holds.has_pressure = true;
          break;
        case condition_flowrate: {
          const double v = n == branch.second_node ? branch.second_value : branch.first_value;
          holds.inflow += v;
          holds.inflow_size += std::fabs(v);
          break;
        }
        default:
          break;
      }
    }
  }
  // A part without a given pressure balances only when its given flows add up to nothing; the
  // sum of the written decimals is allowed its rounding.
  constexpr double rounding_allowance = 1e-9;
  for (std::int32_t n = 1; n <= n_nodes; ++n) {
    const PartTerminals& holds = part[static_cast<std::size_t>(n)];
    if (parts.find(n) != n || !holds.has_junction || holds.has_pressure) continue;
    if (std::fabs(holds.inflow) > rounding_allowance * holds.inflow_size) {
      findings.add(Code::flows_cannot_balance, holds.line, 0,
                   {std::to_string(n), number_text(holds.inflow)});
    } else {
      findings.add(Code::relative_pressures, holds.line, 0, {std::to_string(n)});
    }
  }
}

}  // namespace tessaro::check
