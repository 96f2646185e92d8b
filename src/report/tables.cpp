#include "report/tables.h"

#include <charconv>
#include <cmath>

#include "report/results.h"
#include "report/rows_in_turns.h"
#include "textio/files.h"

namespace tessaro {

namespace {

constexpr double laminar_limit = 2000.0;

constexpr std::string_view branch_columns =
    "branch,name,first_node,second_node,flowrate,head_difference,pressure_difference,velocity,"
    "reynolds,friction_factor,regime";
constexpr std::string_view node_columns = "node,kind,elevation,head,pressure,inflow";

// A branch that touches a junction had its friction updated from the balanced flows; one that
// touches none keeps the factor it was set up with.
double last_friction_factor(const Network& net, std::int32_t b) {
  return net.branch_first_entry[b] != 0 ? net.friction_next[b] : net.friction[b];
}

}  // namespace

Solution classic_solution(const Network& net) {
  Solution solution;
  solution.create(net.n_branches, net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const ClassicRow row = classic_row(net, b);
    const bool forward = row.direction == FlowDirection::from_first;
    solution.branch_flow[b] = row.flowrate == 0.0 ? 0.0 : (forward ? row.flowrate : -row.flowrate);
    solution.branch_head_diff[b] = net.branch_head_diff[b];
    solution.branch_reynolds[b] = net.reynolds[b];
    solution.branch_friction[b] = last_friction_factor(net, b);
    solution.branch_direction[b] = row.direction;
    if (solution.branch_flow[b] == 0.0 || net.reynolds[b] == 0.0) {
      solution.branch_regime[b] = FlowRegime::none;
    } else {
      solution.branch_regime[b] =
          net.reynolds[b] < laminar_limit ? FlowRegime::laminar : FlowRegime::turbulent;
    }
  }
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) solution.node_head[n] = net.node_head[n];
  return solution;
}

std::string_view node_kind_name(NodeKind kind) {
  switch (kind) {
    case NodeKind::junction:
      return "junction";
    case NodeKind::pressure:
      return "pressure";
    case NodeKind::flowrate:
      return "flowrate";
    case NodeKind::open:
      return "open";
  }
  return "junction";
}

std::string_view flow_regime_name(FlowRegime regime) {
  switch (regime) {
    case FlowRegime::none:
      return "none";
    case FlowRegime::laminar:
      return "laminar";
    case FlowRegime::turbulent:
      return "turbulent";
    case FlowRegime::transition:
      return "transition";
  }
  return "none";
}

NodeBoundary node_boundaries(const Network& net, const Solution& solution) {
  NodeBoundary boundary;
  boundary.kind.create(net.n_nodes);
  boundary.inflow.create(net.n_nodes);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const std::int32_t ends[2] = {net.first_node[b], net.second_node[b]};
    for (int k = 0; k < 2; ++k) {
      const std::int32_t n = ends[k];
      if (net.node_junction[n] != 0 || (k == 1 && ends[1] == ends[0])) continue;
      const bool at_first = k == 0;
      switch (net.branch_condition[b]) {
        case condition_flowrate:
          boundary.kind[n] = NodeKind::flowrate;
          // The flowrate given at this end leaves the terminal into the branch.
          boundary.inflow[n] = at_first ? net.first_value[b] : net.second_value[b];
          break;
        case condition_pressure:
        default:
          boundary.kind[n] =
              net.branch_condition[b] == condition_pressure ? NodeKind::pressure : NodeKind::open;
          // A branch with both ends at this terminal carries nothing away from it.
          if (ends[1] == ends[0]) break;
          boundary.inflow[n] = at_first ? solution.branch_flow[b] : -solution.branch_flow[b];
          if (boundary.inflow[n] == 0.0) boundary.inflow[n] = 0.0;
          break;
      }
    }
  }
  return boundary;
}

std::string csv_field(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string csv_number(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end);
}

namespace {

// The values of a branch row that take arithmetic: the pressure difference and the mean velocity.
struct BranchRowValues {
  double pressure_difference = 0.0;
  double velocity = 0.0;
};

BranchRowValues branch_row_values(const Network& net, const Solution& solution, std::int32_t b) {
  const double d = net.diameter[b];
  return {(solution.branch_head_diff[b] * net.density) * net.gravity,
          solution.branch_flow[b] / (net.pi * d * d / 4.0)};
}

}  // namespace

void write_tables(const Network& net, const Solution& solution) {
  OutputFile branches(branch_table_file_name);
  branches.open();
  branches.write_record(branch_columns);
  auto branch_rows = [&](OutputFile& out, std::int64_t first, std::int64_t last) {
    std::string row;
    for (auto b = static_cast<std::int32_t>(first); b <= last; ++b) {
      const double flow = solution.branch_flow[b];
      const BranchRowValues values = branch_row_values(net, solution, b);
      const BranchName& name = net.branch_name[b];
      row = std::to_string(net.branch_number[b]);
      row += ',' + csv_field(std::string_view(name.data(), name.size()));
      row += ',' + std::to_string(net.first_node[b]);
      row += ',' + std::to_string(net.second_node[b]);
      row += ',' + csv_number(flow);
      row += ',' + csv_number(solution.branch_head_diff[b]);
      row += ',' + csv_number(values.pressure_difference);
      row += ',' + csv_number(values.velocity);
      row += ',' + csv_number(solution.branch_reynolds[b]);
      row += ',' + csv_number(solution.branch_friction[b]);
      row += ',';
      row += flow_regime_name(solution.branch_regime[b]);
      out.write_record(row);
    }
  };
  const bool branches_trap = rows_would_trap(net.n_branches, [&](std::int32_t b) {
    const BranchRowValues values = branch_row_values(net, solution, b);
    return std::fmax(std::fabs(values.pressure_difference), std::fabs(values.velocity));
  });
  write_rows_in_turns(branches, net.n_branches, branch_rows, branches_trap);
  branches.close();

  const NodeBoundary boundary = node_boundaries(net, solution);
  OutputFile nodes(node_table_file_name);
  nodes.open();
  nodes.write_record(node_columns);
  auto node_rows = [&](OutputFile& out, std::int64_t first, std::int64_t last) {
    std::string row;
    for (auto n = static_cast<std::int32_t>(first); n <= last; ++n) {
      row = std::to_string(n);
      row += ',';
      row += node_kind_name(boundary.kind[n]);
      row += ',' + csv_number(net.elevation[n]);
      row += ',' + csv_number(solution.node_head[n]);
      row += ',' + csv_number(node_pressure(net, solution.node_head, n));
      row += ',' + csv_number(boundary.inflow[n]);
      out.write_record(row);
    }
  };
  const bool nodes_trap = rows_would_trap(
      net.n_nodes, [&](std::int32_t n) { return node_pressure(net, solution.node_head, n); });
  write_rows_in_turns(nodes, net.n_nodes, node_rows, nodes_trap);
  nodes.close();
}

}  // namespace tessaro
