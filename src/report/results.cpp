#include "report/results.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "report/node_walk.h"
#include "report/rows_in_turns.h"
#include "textio/math.h"
#include "textio/writer.h"

namespace tessaro {

namespace {

constexpr std::string_view branch_header_layout = "(1X,A,2X,A,4X,A,2X,A)";
constexpr std::string_view branch_row_layout = "(1X,I4,10X,A,1X,E10.3,4X,E10.3,5X,A,1X,I4)";
constexpr std::string_view node_header_layout = "(2X,A,5X,A)";
constexpr std::string_view node_row_layout = "(1X,I4,4X,E10.3)";

// The flow direction texts are fields of 35 characters, always written whole.
constexpr std::size_t direction_text_width = 35;
constexpr std::string_view text_from = "Flow direction from node           ";
constexpr std::string_view text_towards = "Flow direction towards node        ";
constexpr std::string_view text_no_flow = "No flow                            ";
static_assert(text_from.size() == direction_text_width);
static_assert(text_towards.size() == direction_text_width);
static_assert(text_no_flow.size() == direction_text_width);

void write_branch_header(OutputFile& unit) {
  Statement header = write_begin(unit, branch_header_layout);
  write_text(header, "Branch No.");
  write_text(header, "Branch Name");
  write_text(header, "Flowrate");
  write_text(header, "Pressure Difference");
  write_end(header);
}

// The junction holding each entry of branch b, in the order of the entries: the lower-indexed
// junction at its ends holds branch_first_entry, the other branch_second_entry.
struct BranchEntries {
  std::int32_t count = 0;
  std::int32_t junction[2] = {0, 0};
  std::int32_t entry[2] = {0, 0};
};

BranchEntries entries_of_branch(const Network& net, std::int32_t b) {
  const std::int32_t at_first = net.node_junction[net.first_node[b]];
  const std::int32_t at_second = net.node_junction[net.second_node[b]];
  BranchEntries found;
  if (at_first != 0 && at_second != 0 && at_first != at_second) {
    found.count = 2;
    found.junction[0] = at_first < at_second ? at_first : at_second;
    found.junction[1] = at_first < at_second ? at_second : at_first;
    found.entry[0] = net.branch_first_entry[b];
    found.entry[1] = net.branch_second_entry[b];
  } else if (at_first != 0 || at_second != 0) {
    found.count = 1;
    found.junction[0] = at_first != 0 ? at_first : at_second;
    found.entry[0] = net.branch_first_entry[b];
  }
  return found;
}

// Head at the branch's first node minus head at its second node, as the junctions it touches see
// it. An entry at the first node gives the negated entry; an entry at the second node counts
// only when the first node is no junction. The later matching entry wins; a branch that touches
// no junction keeps 0.
void set_branch_head_diff(Network& net, std::int32_t b) {
  const BranchEntries found = entries_of_branch(net, b);
  for (std::int32_t k = 0; k < found.count; ++k) {
    const std::int32_t j = found.junction[k];
    const std::int32_t e = found.entry[k];
    if (net.junction_node[j] == net.first_node[b]) {
      net.branch_head_diff[b] = -net.junction_head_diff[e];
    } else if (net.junction_far_end[e] == 0 && net.junction_node[j] == net.second_node[b]) {
      net.branch_head_diff[b] = net.junction_head_diff[e];
    }
  }
}

// Flowrate and pressure difference are written as magnitudes; the text carries the direction
// relative to the branch's first node, whose number ends the row. A row without flow ends after
// the text.
void write_branch_row(const Network& net, OutputFile& unit, std::int32_t b, double flowrate,
                      double pressure_difference, FlowDirection direction,
                      std::int32_t other_node) {
  const BranchName& name = net.branch_name[b];
  Statement row = write_begin(unit, branch_row_layout);
  write_integer(row, net.branch_number[b]);
  write_text(row, std::string_view(name.data(), name.size()));
  write_real(row, flowrate);
  write_real(row, pressure_difference);
  switch (direction) {
    case FlowDirection::none:
      write_text(row, text_no_flow);
      break;
    case FlowDirection::from_first:
      write_text(row, text_from);
      write_integer(row, other_node);
      break;
    case FlowDirection::towards_first:
      write_text(row, text_towards);
      write_integer(row, other_node);
      break;
  }
  write_end(row);
}

// (|H| density) gravity: for H > 0 the same product as with H itself.
double pressure_difference_of(const Network& net, double head_diff) {
  return (std::fabs(head_diff) * net.density) * net.gravity;
}

void write_blank_line(OutputFile& unit) {
  Statement blank = write_begin(unit);
  write_end(blank);
}

void write_node_header(OutputFile& unit) {
  Statement header = write_begin(unit, node_header_layout);
  write_text(header, "Node");
  write_text(header, "Pressure");
  write_end(header);
}

void write_node_row(const Network& net, const Table<double>& node_head, OutputFile& unit,
                    std::int32_t n) {
  const double pressure = node_pressure(net, node_head, n);
  Statement row = write_begin(unit, node_row_layout);
  write_integer(row, n);
  write_real(row, pressure);
  write_end(row);
}

void write_node_table(const Network& net, const Table<double>& node_head, OutputFile& unit) {
  write_node_header(unit);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) write_node_row(net, node_head, unit, n);
}

// Whether a pressure of the results would trap: then the rows are written in order on one
// thread, which meets the trap where it belongs.
bool pressures_trap(const Network& net, const Solution& solution) {
  return rows_would_trap(net.n_branches,
                         [&](std::int32_t b) {
                           return pressure_difference_of(net, solution.branch_head_diff[b]);
                         }) ||
         rows_would_trap(net.n_nodes,
                         [&](std::int32_t n) { return node_pressure(net, solution.node_head, n); });
}

}  // namespace

double node_pressure(const Network& net, const Table<double>& node_head, std::int32_t n) {
  return ((node_head[n] - net.elevation[n]) * net.density) * net.gravity;
}

ClassicRow classic_row(const Network& net, std::int32_t b) {
  const double k = net.resistance[b];
  const double h = net.branch_head_diff[b];
  // A branch without resistance has no flow through the law.
  if (k == 0.0) return {0.0, FlowDirection::none};
  return {math_sqrt(std::fabs(h)) / math_sqrt(k),
          h > 0.0 ? FlowDirection::from_first : FlowDirection::towards_first};
}

void write_results(Network& net, OutputFile& unit) {
  for (std::int32_t b = 1; b <= net.n_branches; ++b) net.branch_head_diff[b] = 0.0;
  write_branch_header(unit);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    set_branch_head_diff(net, b);
    const std::int32_t other_node = net.first_node[b];
    // The pressure difference first, then the flowrate: a failure in either is met in that order.
    const double pressure_difference = pressure_difference_of(net, net.branch_head_diff[b]);
    const ClassicRow row = classic_row(net, b);
    write_branch_row(net, unit, b, row.flowrate, pressure_difference, row.direction, other_node);
  }
  walk_node_heads(net);
  write_blank_line(unit);
  write_node_table(net, net.node_head, unit);
}

void write_results(const Network& net, const Solution& solution, OutputFile& unit) {
  write_branch_header(unit);
  // The rows after the header: the branches, a blank line, the node header, the nodes.
  const std::int64_t n_branches = net.n_branches;
  const std::int64_t blank_row = n_branches + 1;
  const std::int64_t node_header_row = n_branches + 2;
  const std::int64_t n_rows = node_header_row + net.n_nodes;
  auto write_rows = [&](OutputFile& out, std::int64_t first, std::int64_t last) {
    for (std::int64_t r = first; r <= last; ++r) {
      if (r <= n_branches) {
        const auto b = static_cast<std::int32_t>(r);
        write_branch_row(net, out, b, std::fabs(solution.branch_flow[b]),
                         pressure_difference_of(net, solution.branch_head_diff[b]),
                         solution.branch_direction[b], net.first_node[b]);
      } else if (r == blank_row) {
        write_blank_line(out);
      } else if (r == node_header_row) {
        write_node_header(out);
      } else {
        write_node_row(net, solution.node_head, out,
                       static_cast<std::int32_t>(r - node_header_row));
      }
    }
  };
  write_rows_in_turns(unit, n_rows, write_rows, pressures_trap(net, solution));
}

}  // namespace tessaro
