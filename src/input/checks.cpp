#include "input/checks.h"

#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

[[noreturn]] void stop_with(std::string_view sentence) {
  log_sentence(sentence);
  stop_run();
}

[[noreturn]] void stop_with(std::string_view sentence, std::int32_t number) {
  log_sentence(sentence, number);
  stop_run();
}

}  // namespace

bool is_condition_code(std::int32_t code) {
  return code == condition_none || code == condition_pressure || code == condition_flowrate;
}

bool is_in_sequence(std::int32_t branch_number, std::int32_t position) {
  return branch_number == position;
}

bool is_node_number(std::int32_t node) {
  return node >= 1;
}

bool is_pressure_terminal_data(double first_value, double second_value) {
  return first_value < 0.0 || second_value < 0.0;
}

bool is_flowrate_terminal_data(double first_value, double second_value) {
  return -first_value == second_value;
}

bool is_junction_degree(std::int32_t degree) {
  return degree >= 2;
}

void check_condition_code(const Network& net, std::int32_t b) {
  if (!is_condition_code(net.branch_condition[b])) stop_with(message::bad_condition_code);
}

// Branch numbers and node numbers are used as table indices: a record that breaks the numbering
// is rejected before anything indexes a table with it.
void check_branch_numbering(const Network& net, std::int32_t b) {
  if (!is_in_sequence(net.branch_number[b], b)) stop_with(message::branch_out_of_sequence, b);
  if (!is_node_number(net.first_node[b]) || !is_node_number(net.second_node[b])) {
    stop_with(message::node_number_error, b);
  }
}

void check_terminal_data(Network& net, std::int32_t b) {
  switch (net.branch_condition[b]) {
    case condition_pressure:
      // The terminal's pressure is the value not below 0; the other end is marked negative.
      if (is_pressure_terminal_data(net.first_value[b], net.second_value[b])) {
        net.first_value[b] = net.first_value[b] / (net.density * net.gravity);
        net.second_value[b] = net.second_value[b] / (net.density * net.gravity);
      } else {
        stop_with(message::pressure_terminal_error, net.branch_number[b]);
      }
      break;
    case condition_flowrate:
      if (!is_flowrate_terminal_data(net.first_value[b], net.second_value[b])) {
        stop_with(message::flowrate_terminal_error, net.branch_number[b]);
      }
      break;
    default:
      break;
  }
}

void check_elevation_count(const Network& net) {
  if (net.n_elevations != net.n_nodes) stop_with(message::elevation_count);
}

void check_junctions_present(const Network& net) {
  if (net.n_junctions == 0) stop_with(message::no_junctions);
}

void check_elevation_order(const Network& net, std::int32_t n) {
  if (!is_in_sequence(net.elevation_node[n], n)) stop_with(message::elevation_order);
}

// The node walk of the results expands every node through its branches: a node number that no
// branch names could never be reached.
void check_every_node_connected(const Network& net) {
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (net.node_degree[n] == 0) stop_with(message::unconnected_node, n);
  }
}

void check_fluid_parameters(const Network& net) {
  if (!(net.roughness >= 0.0)) stop_with(message::roughness_negative);
  if (!(net.viscosity > 0.0)) stop_with(message::viscosity_not_positive);
  if (!(net.density > 0.0)) stop_with(message::density_not_positive);
  if (!(net.gravity > 0.0)) stop_with(message::gravity_not_positive);
}

void check_branch_dimensions(const Network& net, std::int32_t b) {
  if (!(net.diameter[b] > 0.0)) stop_with(message::diameter_not_positive, net.branch_number[b]);
  if (!(net.length[b] >= 0.0)) stop_with(message::length_negative, net.branch_number[b]);
}

}  // namespace tessaro
