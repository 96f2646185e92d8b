// The solved state in full precision: "Tessaro-branches.csv" and "Tessaro-nodes.csv", comma-
// separated tables with one header row, every number in the shortest form that reads back to the
// same double.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/network.h"
#include "model/solution.h"

namespace tessaro {

// The classic solver's state as the results file was written from it: flows from the head
// differences through the resistances, the heads of the node walk. Call after write_results.
Solution classic_solution(const Network& net);

// What a node is, for the tables and the picture.
enum class NodeKind : std::uint8_t {
  junction,
  pressure,  // a terminal whose branch gives its pressure
  flowrate,  // a terminal whose branch gives its flowrate
  open,      // a terminal whose branch gives neither: taken at pressure 0
};
std::string_view node_kind_name(NodeKind kind);
std::string_view flow_regime_name(FlowRegime regime);

// Per node: its kind and the flow entering the network from outside there (positive entering):
// a flowrate terminal's given flowrate, the flow a pressure or open terminal's branch carries
// away from it, 0 at a junction.
struct NodeBoundary {
  Table<NodeKind> kind;
  Table<double> inflow;
};
NodeBoundary node_boundaries(const Network& net, const Solution& solution);

// A name as a table field: trailing blanks trimmed, quoted when it holds a comma, a quote or a
// line break (a quote inside doubled).
std::string csv_field(std::string_view text);
// A number in the shortest form that reads back to the same double.
std::string csv_number(double value);

// Writes both tables to the working folder. A failed write ends the run with its WRITE report.
void write_tables(const Network& net, const Solution& solution);

}  // namespace tessaro
