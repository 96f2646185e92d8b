// The network data of one run: run parameters, counts, and the branch, node and junction tables.
// Created once, filled as the run proceeds, and read by every later stage.
#pragma once

#include <array>
#include <cstdint>

#include "model/table.h"

namespace tessaro {

inline constexpr int branch_name_width = 10;
using BranchName = std::array<char, branch_name_width>;

// Terminal condition codes of a branch record.
inline constexpr std::int32_t condition_none = 0;
inline constexpr std::int32_t condition_pressure = 1;
inline constexpr std::int32_t condition_flowrate = 2;

struct Network {
  // Run parameters, read from the header and never changed afterwards.
  double roughness = 0.0;
  double viscosity = 0.0;
  double density = 0.0;
  double gravity = 0.0;
  double tolerance = 0.0;
  std::int32_t max_iterations = 0;
  // viscosity / density rounded once to single precision: every Reynolds number uses this
  // rounded value, so it is kept as a float and widened where it is used.
  float kinematic_viscosity = 0.0f;
  double pi = 0.0;

  // Counts.
  std::int32_t n_branches = 0;
  std::int32_t n_nodes = 0;
  std::int32_t n_elevations = 0;
  std::int32_t n_junctions = 0;
  std::int32_t line_count = 0;
  std::int32_t pass2_line_count = 0;
  // Branch records read so far by pass 2: a run stopped there knows branches 1..this.
  std::int32_t n_branches_read = 0;
  // The key of the line read last. Input keys are single-precision values: only whether a key is
  // zero decides anything, and a key is read into a float so that its range is the float range.
  float line_key = 0.0f;

  // Branch tables, entry i for the i-th branch record.
  Table<std::int32_t> branch_number;
  Table<BranchName> branch_name;
  Table<std::int32_t> first_node;
  Table<double> first_value;
  Table<std::int32_t> second_node;
  Table<double> second_value;
  Table<double> diameter;
  Table<double> length;
  Table<std::int32_t> branch_condition;
  Table<double> reynolds;
  Table<double> friction;
  Table<double> friction_next;
  Table<double> resistance;
  Table<double> branch_head_diff;

  // Node tables, entry n for node number n.
  Table<double> elevation;
  Table<std::int32_t> elevation_node;
  Table<double> node_head;
  Table<std::int32_t> node_source;
  // Number of branches with an end at node n; a branch with both ends at n counts once.
  Table<std::int32_t> node_degree;
  // Index of the junction at node n, 0 when node n is no junction.
  Table<std::int32_t> node_junction;

  // Junction tables. Junction j (1..n_junctions) lies at node junction_node[j]; its row holds
  // one entry per branch with an end there, in file order. The rows are stored one after
  // another: row j is entries junction_row_start[j] .. junction_row_start[j + 1] - 1 of the
  // entry tables, so a junction's row holds only its own branches.
  Table<std::int32_t> junction_node;
  Table<std::int32_t> junction_degree;
  Table<double> junction_correction;
  // The corrections of the sweep before, applied as the next sweep reads the head differences.
  Table<double> junction_pending_correction;
  Table<std::int32_t> junction_row_start;  // n_junctions + 1 entries; the last is n_entries + 1

  std::int32_t n_entries = 0;
  Table<std::int32_t> junction_branch;        // branch number of the entry
  Table<double> junction_branch_diameter;     // diameter of that branch
  Table<double> junction_head_diff;           // head at the far end minus head of the junction
  Table<std::int32_t> junction_far_end;       // junction index at the far end, 0 for a terminal
  Table<std::int32_t> junction_branch_fixed;  // 1 when a given flowrate fixes the head difference
  // The resistance of the entry's branch, gathered at the start of every balancing run (the
  // resistances are held fixed during a run), so that the sweeps read it in row order.
  Table<double> junction_resistance;

  // From a branch to its entries: the entry in the row of the lower-indexed junction at its ends
  // and the entry in the row of the other, 0 where the branch has none.
  Table<std::int32_t> branch_first_entry;
  Table<std::int32_t> branch_second_entry;
};

}  // namespace tessaro
