// A network read from "Tessaro-net.txt" in the working folder and brought to the state in which
// the solver starts, through the same stages as a run.
#pragma once

#include <algorithm>

#include "input/checks.h"
#include "input/passes.h"
#include "model/network.h"
#include "solver/friction_law.h"
#include "solver/junction_rows.h"
#include "solver/starting_heads.h"
#include "textio/files.h"
#include "textio/math.h"

namespace tessaro::bench {

inline Network prepared_network() {
  Network net;
  net.pi = 4.0 * math_atan(1.0);
  InputFile input(input_file_name);

  input.open();
  read_header(net, input);
  net.kinematic_viscosity = static_cast<float>(net.viscosity / net.density);
  count_branch_lines(net, input);
  create_branch_tables(net);

  for (std::int32_t b = 1; b <= net.n_branches; ++b) net.reynolds[b] = 1.0e8;
  input.open();
  skip_to_branch_block(net, input);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    read_branch_record(net, input, b);
    check_condition_code(net, b);
    check_branch_numbering(net, b);
    net.n_nodes = std::max({net.n_nodes, net.first_node[b], net.second_node[b]});
    first_friction_estimate(net, b, net.diameter[b]);
    check_terminal_data(net, b);
    if (net.branch_condition[b] == condition_flowrate) set_flowrate_terminal_friction(net, b);
    set_initial_resistance(net, b);
  }
  count_elevation_lines(net, input);

  check_elevation_count(net);
  create_node_tables(net);
  net.n_junctions = count_junctions(net);
  check_junctions_present(net);
  list_junctions(net);

  input.open();
  read_elevation_records(net, input);
  input.close();

  build_junction_rows(net);
  set_terminal_heads(net);
  add_elevations(net);
  set_starting_head_differences(net);
  check_every_node_connected(net);
  return net;
}

}  // namespace tessaro::bench
