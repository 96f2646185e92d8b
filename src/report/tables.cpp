#include "report/tables.h"

#include <charconv>
#include <cmath>

#include "report/results.h"
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

void write_tables(const Network& net, const Solution& solution) {
  OutputFile branches(branch_table_file_name);
  branches.open();
  branches.write_record(branch_columns);
  std::string row;
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const double d = net.diameter[b];
    const double flow = solution.branch_flow[b];
    const double head_diff = solution.branch_head_diff[b];
    const BranchName& name = net.branch_name[b];
    row = std::to_string(net.branch_number[b]);
    row += ',' + csv_field(std::string_view(name.data(), name.size()));
    row += ',' + std::to_string(net.first_node[b]);
    row += ',' + std::to_string(net.second_node[b]);
    row += ',' + csv_number(flow);
    row += ',' + csv_number(head_diff);
    row += ',' + csv_number((head_diff * net.density) * net.gravity);
    row += ',' + csv_number(flow / (net.pi * d * d / 4.0));
    row += ',' + csv_number(solution.branch_reynolds[b]);
    row += ',' + csv_number(solution.branch_friction[b]);
    row += ',';
    row += flow_regime_name(solution.branch_regime[b]);
    branches.write_record(row);
  }
  branches.close();

  const NodeBoundary boundary = node_boundaries(net, solution);
  OutputFile nodes(node_table_file_name);
  nodes.open();
  nodes.write_record(node_columns);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    const double head = solution.node_head[n];
    row = std::to_string(n);
    row += ',';
    row += node_kind_name(boundary.kind[n]);
    row += ',' + csv_number(net.elevation[n]);
    row += ',' + csv_number(head);
    row += ',' + csv_number(((head - net.elevation[n]) * net.density) * net.gravity);
    row += ',' + csv_number(boundary.inflow[n]);
    nodes.write_record(row);
  }
  nodes.close();
}

}  // namespace tessaro
