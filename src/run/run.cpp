#include "run/run.h"

#include <algorithm>

#include "input/checks.h"
#include "input/passes.h"
#include "model/messages.h"
#include "model/network.h"
#include "monitor/run_monitor.h"
#include "report/results.h"
#include "report/tables.h"
#include "run/extensions.h"
#include "solver/friction_cycle.h"
#include "solver/friction_law.h"
#include "solver/junction_rows.h"
#include "solver/starting_heads.h"
#include "textio/files.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

// Reads the header and counts the branch records; creates the branch tables.
void first_pass(Network& net, InputFile& input) {
  input.open();
  read_header(net, input);
  // Every Reynolds number uses the kinematic viscosity rounded once to single precision.
  net.kinematic_viscosity = static_cast<float>(net.viscosity / net.density);
  count_branch_lines(net, input);
  create_branch_tables(net);
  input.close();
}

// Reads the branch records, checking and preparing each before the next is read; counts the
// elevation records.
void second_pass(Network& net, InputFile& input) {
  for (std::int32_t b = 1; b <= net.n_branches; ++b) net.reynolds[b] = first_estimate_reynolds;
  net.n_nodes = 0;
  input.open();
  net.pass2_line_count = 0;
  skip_to_branch_block(net, input);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    read_branch_record(net, input, b);
    net.n_branches_read = b;
    check_condition_code(net, b);
    check_branch_numbering(net, b);
    net.n_nodes = std::max({net.n_nodes, net.first_node[b], net.second_node[b]});
    first_friction_estimate(net, b, net.diameter[b]);
    check_terminal_data(net, b);
    if (net.branch_condition[b] == condition_flowrate) set_flowrate_terminal_friction(net, b);
    set_initial_resistance(net, b);
  }
  count_elevation_lines(net, input);
  input.close();
}

// Reads the elevation records.
void third_pass(Network& net, InputFile& input) {
  input.open();
  read_elevation_records(net, input);
  input.close();
}

}  // namespace

void read_network(Network& net) {
  InputFile input(input_file_name);
  first_pass(net, input);
  second_pass(net, input);

  check_elevation_count(net);
  net.n_junctions = count_junctions(net);
  check_junctions_present(net);
  create_node_tables(net);
  list_junctions(net);

  third_pass(net, input);
}

void prepare_solver(Network& net) {
  build_junction_rows(net);
  set_terminal_heads(net);
  add_elevations(net);
  set_starting_head_differences(net);
  check_every_node_connected(net);
}

void prepare_network(Network& net) {
  read_network(net);
  prepare_solver(net);
}

namespace {

// The monitor, when an option asked for one, learns where the run stands.
void enter(RunMonitor* monitor, RunStage stage, const Network& net) {
  if (monitor != nullptr) monitor->enter(stage, net);
}

PictureTitle picture_title(const RunOptions& options, bool stopped) {
  return {std::string(input_file_name),
          options.solver == SolverChoice::global ? "global" : "classic",
          extensions().run_outcome(stopped)};
}

}  // namespace

void run_calculation(const RunOptions& options, RunMonitor* monitor) {
  Network net;
  net.pi = 4.0 * math_atan(1.0);
  log_file().open();

  try {
    enter(monitor, RunStage::reading, net);
    read_network(net);
    enter(monitor, RunStage::preparing, net);
    prepare_solver(net);
    enter(monitor, RunStage::solving, net);
    solve_network(net);
  } catch (const RunEnd& end) {
    // A run that a check or the iteration limit stopped is still drawn, without results, as far
    // as the network was read, with the part the check names marked.
    if (end.stopped && options.svg) {
      extensions().write_picture(net, nullptr, extensions().stop_marks(net),
                                 picture_title(options, true));
    }
    throw;
  }

  enter(monitor, RunStage::writing, net);
  OutputFile results(results_file_name);
  results.open();
  write_results(net, results);
  results.close();
  // The tables and the picture show the same solved state.
  if (options.csv || options.svg) {
    const Solution solution = classic_solution(net);
    if (options.csv) write_tables(net, solution);
    if (options.svg) extensions().write_picture(net, &solution, {}, picture_title(options, false));
  }

  log_sentence(message::success);
  log_file().close();
}

}  // namespace tessaro
