// Checks of the network description. Each failing check writes its sentence to the log file and
// stops the run.
#pragma once

#include <cstdint>

#include "model/network.h"

namespace tessaro {

// The conditions of the checks, on the values alone, so that every reader of a network
// description judges a record by the same rules.
bool is_condition_code(std::int32_t code);
bool is_in_sequence(std::int32_t branch_number, std::int32_t position);
bool is_node_number(std::int32_t node);
// A pressure terminal marks its other end with a negative value; 0 counts as a given pressure.
bool is_pressure_terminal_data(double first_value, double second_value);
// A flowrate terminal gives the same flow at both ends: the second exactly the negative of the
// first.
bool is_flowrate_terminal_data(double first_value, double second_value);
// A node where two or more branches end (a branch with both ends there counts once).
bool is_junction_degree(std::int32_t degree);

void check_condition_code(const Network& net, std::int32_t b);
void check_branch_numbering(const Network& net, std::int32_t b);
// Pressure terminal: at least one negative value; converts both to pressure heads. Flowrate
// terminal: second value exactly the negative of the first.
void check_terminal_data(Network& net, std::int32_t b);
void check_elevation_count(const Network& net);
void check_junctions_present(const Network& net);
// Elevation record n must name node n.
void check_elevation_order(const Network& net, std::int32_t n);
void check_every_node_connected(const Network& net);
// For the global solver, which divides by them and takes roots and logarithms of them: a roughness
// not below 0, viscosity, density and gravity above 0; per branch, a diameter above 0 and a
// length not below 0.
void check_fluid_parameters(const Network& net);
void check_branch_dimensions(const Network& net, std::int32_t b);

}  // namespace tessaro
