#include "run/run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "global/global_solver.h"
#include "input/checks.h"
#include "input/passes.h"
#include "model/messages.h"
#include "model/network.h"
#include "monitor/run_monitor.h"
#include "report/results.h"
#include "report/tables.h"
#include "run/extensions.h"
#include "run/heap_reserve.h"
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
void first_pass(Network& net, InputFile& input, BranchSetup setup) {
  input.open();
  read_header(net, input);
  if (setup == BranchSetup::none) check_fluid_parameters(net);
  // Every Reynolds number uses the kinematic viscosity rounded once to single precision.
  net.kinematic_viscosity = static_cast<float>(net.viscosity / net.density);
  count_branch_lines(net, input);
  create_branch_tables(net);
  if (setup == BranchSetup::classic) create_branch_balance_tables(net);
  input.close();
}

// Reads the branch records, checking and preparing each before the next is read; counts the
// elevation records.
void second_pass(Network& net, InputFile& input, BranchSetup setup) {
  if (setup == BranchSetup::classic) {
    for (std::int32_t b = 1; b <= net.n_branches; ++b) net.reynolds[b] = first_estimate_reynolds;
  }
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
    if (setup == BranchSetup::classic) {
      first_friction_estimate(net, b, net.diameter[b]);
    } else {
      check_branch_dimensions(net, b);
    }
    check_terminal_data(net, b);
    if (setup == BranchSetup::classic) {
      if (net.branch_condition[b] == condition_flowrate) set_flowrate_terminal_friction(net, b);
      set_initial_resistance(net, b);
    }
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

void read_network(Network& net, BranchSetup setup) {
  InputFile input(input_file_name);
  first_pass(net, input, setup);
  second_pass(net, input, setup);

  check_elevation_count(net);
  net.n_junctions = count_junctions(net);
  check_junctions_present(net);
  create_node_tables(net);
  if (setup == BranchSetup::classic) create_node_balance_tables(net);
  list_junctions(net);
  if (setup == BranchSetup::classic) create_junction_balance_tables(net);

  third_pass(net, input);
}

void prepare_solver(Network& net) {
  build_junction_rows(net);
  set_terminal_heads(net);
  add_elevations(net);
  set_starting_head_differences(net);
  check_every_node_connected(net);
}

void prepare_global_solver(const Network& net) {
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) check_elevation_order(net, n);
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
          picture_module().run_outcome(stopped)};
}

}  // namespace

namespace {

// The results file of the classic solver, from its head differences and the node walk.
void write_classic_results(Network& net) {
  OutputFile results(results_file_name);
  results.open();
  write_results(net, results);
  results.close();
}

// The results file of a solved state.
void write_solution_results(const Network& net, const Solution& solution) {
  OutputFile results(results_file_name);
  results.open();
  write_results(net, solution, results);
  results.close();
}

// The outputs that options add after the results file, all from the one solved state: the
// tables and the picture show the same numbers.
void write_option_outputs(const RunOptions& options, const Network& net, const Solution& solution) {
  if (options.csv) write_tables(net, solution);
  if (options.svg)
    picture_module().write_picture(net, &solution, {}, picture_title(options, false));
}

std::string residual_note(std::string_view what, double residual, double scale) {
  char text[160];
  std::snprintf(text, sizeof text, "final %s residual: %.3e (%.3e of the largest %s)", what.data(),
                residual, scale > 0.0 ? residual / scale : 0.0,
                what == "mass" ? "flow" : "head difference");
  return text;
}

// The classic road: the balance of the junctions one at a time, the friction cycle around it,
// and the results from its head differences and the node walk.
void run_classic(const RunOptions& options, RunMonitor* monitor, Network& net) {
  enter(monitor, RunStage::reading, net);
  read_network(net);
  enter(monitor, RunStage::preparing, net);
  prepare_solver(net);
  enter(monitor, RunStage::solving, net);
  solve_network(net);

  enter(monitor, RunStage::writing, net);
  write_classic_results(net);
  if (options.csv || options.svg) write_option_outputs(options, net, classic_solution(net));
}

// The global road: the same reading and checks without the classic set-up, one Newton iteration
// over all heads, the results from its solution.
void run_global(const RunOptions& options, RunMonitor* monitor, Network& net) {
  // The tables of the network and of the solver take about twelve times the file's size; on a
  // large network the second core backs their memory while this one reads and sets up.
  std::error_code unknown_size;
  const std::uintmax_t file_bytes = std::filesystem::file_size(input_file_name, unknown_size);
  const HeapWarming warming(
      reserve_heap(unknown_size ? 0 : static_cast<std::size_t>(file_bytes) * 12));
  enter(monitor, RunStage::reading, net);
  read_network(net, BranchSetup::none);
  enter(monitor, RunStage::preparing, net);
  prepare_global_solver(net);
  enter(monitor, RunStage::solving, net);
  const global::GlobalResult result = global_module().solve_global(net);
  if (monitor != nullptr) {
    monitor->add_note("Newton iterations: " + std::to_string(result.iterations));
    monitor->add_note(residual_note("mass", result.mass_residual, result.largest_flow));
    monitor->add_note(residual_note("energy", result.energy_residual, result.largest_head_diff));
    if (result.held_branches > 0) {
      monitor->add_note("branches held at Re = 2000: " + std::to_string(result.held_branches));
    }
  }

  enter(monitor, RunStage::writing, net);
  write_solution_results(net, result.solution);
  write_option_outputs(options, net, result.solution);
}

}  // namespace

void run_calculation(const RunOptions& options, RunMonitor* monitor) {
  Network net;
  // However the run leaves, the monitor takes the network's counts before it goes.
  struct Leaving {
    RunMonitor* monitor;
    const Network& net;
    ~Leaving() {
      if (monitor != nullptr) monitor->leave(net);
    }
  } leaving{monitor, net};
  net.pi = 4.0 * math_atan(1.0);
  log_file().open();
  try {
    if (options.solver == SolverChoice::global) {
      run_global(options, monitor, net);
    } else {
      run_classic(options, monitor, net);
    }
  } catch (const RunEnd& end) {
    // A run that a check or an iteration limit stopped is still drawn, without results, as far
    // as the network was read, with the part the check names marked.
    if (end.stopped && options.svg) {
      picture_module().write_picture(net, nullptr, picture_module().stop_marks(net),
                                     picture_title(options, true));
    }
    throw;
  }
  log_sentence(message::success);
  log_file().close();
}

}  // namespace tessaro
