#include "solver/starting_heads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "junction_test_network.h"
#include "textio/run_end.h"

namespace tessaro {
namespace {

using junction_test::BranchRow;
using junction_test::FullRows;
using junction_test::has_end_at;

void set_starting_state(Network& net) {
  set_terminal_heads(net);
  add_elevations(net);
  set_starting_head_differences(net);
}

std::vector<double> entry_head_diffs(const Network& net) {
  std::vector<double> diffs;
  for (std::int32_t e = 1; e <= net.n_entries; ++e) diffs.push_back(net.junction_head_diff[e]);
  return diffs;
}

class StartingHeadsTest : public junction_test::RunFolderTest {};

struct StartCase {
  std::string name;
  std::vector<BranchRow> branches;
  std::vector<double> elevations;
  std::vector<double> node_heads;
  std::vector<double> head_diffs;  // entries in row order
};

// Branch rows carry pressure heads (already divided by density and gravity) and flowrates.
TEST_F(StartingHeadsTest, StartingHeadsOfSmallNetworks) {
  const double step = 35.0 / 3.0;
  const double h2 = 40.0 - step;
  const double h3 = h2 - step;
  const std::vector<StartCase> cases = {
      {"one junction between pressure heads 30 and 10",
       {{1, 2, condition_pressure, 30.0, -1.0}, {2, 3, condition_pressure, -1.0, 10.0}},
       {0.0, 5.0, 0.0},
       {30.0, 25.0, 10.0},
       {5.0, -15.0}},
      {"flowrate 3 leaving the terminal, resistance 2",
       {{1, 2, condition_flowrate, 3.0, -3.0, 2.0}, {2, 3, condition_pressure, -1.0, 10.0}},
       {},
       {0.0, 9.0, 10.0},
       {18.0, 1.0}},
      {"flowrate 3 entering the terminal, resistance 2",
       {{1, 2, condition_flowrate, -3.0, 3.0, 2.0}, {2, 3, condition_pressure, -1.0, 10.0}},
       {},
       {0.0, 9.0, 10.0},
       {-18.0, 1.0}},
      {"flowrate given at the second end",
       {{2, 1, condition_flowrate, -3.0, 3.0, 2.0}, {2, 3, condition_pressure, -1.0, 10.0}},
       {},
       {0.0, 9.0, 10.0},
       {18.0, 1.0}},
      {"zero flowrate",
       {{1, 2, condition_flowrate, 0.0, -0.0, 0.0}, {2, 3, condition_pressure, -1.0, 10.0}},
       {},
       {0.0, 5.0, 10.0},
       {0.0, 5.0}},
      {"both values negative: the second is the head",
       {{1, 2, condition_pressure, -1.0, -2.0}, {2, 3, condition_pressure, -1.0, 10.0}},
       {},
       {-2.0, 4.0, 10.0},
       {-6.0, 6.0}},
      {"pressures alone spread from the highest to the lowest",
       {{1, 2, condition_pressure, 5.0, -1.0},
        {2, 3},
        {3, 4, condition_pressure, -1.0, 40.0},
        {2, 5, condition_pressure, -1.0, 12.0}},
       {},
       {5.0, h2, h3, 40.0, 12.0},
       {5.0 - h2, h3 - h2, 12.0 - h2, h2 - h3, 40.0 - h3}},
      {"terminal without datum has pressure head 0",
       {{1, 2}, {2, 3, condition_pressure, -1.0, 10.0}},
       {7.0, 0.0, 0.0},
       {7.0, 10.0, 10.0},
       {-3.0, 0.0}},
      {"no terminal data: spread down to the sentinel",
       {{1, 2}, {2, 3}},
       {},
       {0.0, 0.0 - (0.0 - 9.999999778196308e22) / 2.0, 0.0},
       {-(9.999999778196308e22 / 2.0), -(9.999999778196308e22 / 2.0)}},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    Network net = junction_test::make_network(c.branches, c.elevations);
    junction_test::build_rows(net);
    set_starting_state(net);
    std::vector<double> heads;
    for (std::int32_t n = 1; n <= net.n_nodes; ++n) heads.push_back(net.node_head[n]);
    EXPECT_EQ(heads, c.node_heads);
    EXPECT_EQ(entry_head_diffs(net), c.head_diffs);
    // Only the entries of flowrate-terminal branches are fixed.
    for (std::int32_t e = 1; e <= net.n_entries; ++e) {
      const std::int32_t b = net.junction_branch[e];
      EXPECT_EQ(net.junction_branch_fixed[e],
                net.branch_condition[b] == condition_flowrate ? 1 : 0);
    }
  }
}

TEST_F(StartingHeadsTest, ElevationOutOfSequenceStopsAtThatNode) {
  Network net = junction_test::make_network(
      {{1, 2, condition_pressure, 30.0, -1.0}, {2, 3, condition_pressure, -1.0, 10.0}},
      {1.0, 2.0, 3.0});
  net.elevation_node[2] = 3;
  junction_test::build_rows(net);
  set_terminal_heads(net);
  try {
    add_elevations(net);
    FAIL() << "the run went on";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.failure_class, 0);
  }
  EXPECT_EQ(log_text(), " Out of sequence elevation Node numbers\r\n");
  EXPECT_EQ(net.node_head[1], 31.0);
  EXPECT_EQ(net.node_head[2], 20.0);
}

// The starting state written out over the full rows: every junction slot scanned for every
// flowrate-terminal branch, every branch scanned for every node.
void full_starting_state(Network& net, FullRows& rows) {
  auto is_junction = [&rows](std::int32_t n) {
    for (std::int32_t j = 1; j <= rows.n_junctions; ++j) {
      if (rows.junction_node[static_cast<std::size_t>(j)] == n) return true;
    }
    return false;
  };
  std::int32_t links = 0;
  std::int32_t flow_sign = 1;
  double head_max = 0.0;
  double head_min = 0.0;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (is_junction(n)) continue;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) {
      if (!has_end_at(net, b, n) || net.branch_condition[b] != condition_flowrate) continue;
      for (std::size_t j = 1; j <= static_cast<std::size_t>(rows.n_junctions); ++j) {
        for (std::size_t m = 1; m <= static_cast<std::size_t>(rows.junction_degree[j]); ++m) {
          const std::int32_t c = rows.branch[j][m];
          double v = 0.0;
          if (net.second_node[c] == n) {
            v = net.second_value[c];
          } else if (net.first_node[c] == n) {
            v = net.first_value[c];
          } else {
            continue;
          }
          if (v != 0.0) flow_sign = static_cast<std::int32_t>(v / std::fabs(v));
          rows.head_diff[j][m] = std::pow(v, 2.0) * net.resistance[c] * flow_sign;
          rows.fixed[j][m] = 1;
          if (rows.head_diff[j][m] > head_max) head_max = rows.head_diff[j][m];
          if (rows.head_diff[j][m] < head_min) head_min = rows.head_diff[j][m];
          ++links;
        }
      }
    }
  }
  head_max = head_max + std::fabs(head_min);
  head_min = links != 0 ? 0.0 : 9.999999778196308e22;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (is_junction(n)) continue;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) {
      if (!has_end_at(net, b, n) || net.branch_condition[b] != condition_pressure) continue;
      const std::int32_t c = net.branch_number[b];
      net.node_head[n] = net.first_value[c] >= 0.0 ? net.first_value[c] : net.second_value[c];
      if (net.node_head[n] > head_max) head_max = net.node_head[n];
      if (net.node_head[n] < head_min) head_min = net.node_head[n];
      break;
    }
  }
  const double head_step = (head_max - head_min) / (rows.n_junctions + 1);
  net.node_head[rows.junction_node[1]] = head_max - head_step;
  for (std::size_t j = 2; j <= static_cast<std::size_t>(rows.n_junctions); ++j) {
    net.node_head[rows.junction_node[j]] = net.node_head[rows.junction_node[j - 1]] - head_step;
  }
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    net.node_head[n] = net.elevation[n] + net.node_head[n];
  }
  for (std::size_t j = 1; j <= static_cast<std::size_t>(rows.n_junctions); ++j) {
    for (std::size_t m = 1; m <= static_cast<std::size_t>(rows.junction_degree[j]); ++m) {
      if (rows.fixed[j][m] != 0) continue;
      const std::int32_t c = rows.branch[j][m];
      if (net.second_node[c] == rows.junction_node[j]) {
        rows.head_diff[j][m] = net.node_head[net.first_node[c]] - net.node_head[net.second_node[c]];
      } else if (net.first_node[c] == rows.junction_node[j]) {
        rows.head_diff[j][m] = net.node_head[net.second_node[c]] - net.node_head[net.first_node[c]];
      }
    }
  }
}

TEST_F(StartingHeadsTest, RandomNetworksMatchTheFullRowsStartingState) {
  std::mt19937 rng(7031);
  std::uniform_int_distribution<> elevation(-20, 20);
  int tried = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::vector<BranchRow> branch_rows = junction_test::random_rows(rng);
    std::vector<double> elevations;
    for (int n = 0; n < 8; ++n) elevations.push_back(elevation(rng) * 0.5);
    Network net = junction_test::make_network(branch_rows, elevations);
    junction_test::build_rows(net);
    if (net.n_junctions == 0) continue;
    ++tried;
    Network full_net = junction_test::make_network(branch_rows, elevations);
    FullRows full = junction_test::full_rows(full_net);
    full_starting_state(full_net, full);
    set_starting_state(net);
    for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
      EXPECT_EQ(net.node_head[n], full_net.node_head[n]) << "node " << n;
    }
    for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
      for (std::int32_t m = 1; m <= net.junction_degree[j]; ++m) {
        const std::int32_t e = net.junction_row_start[j] + m - 1;
        const auto row = static_cast<std::size_t>(j);
        const auto slot = static_cast<std::size_t>(m);
        EXPECT_EQ(net.junction_head_diff[e], full.head_diff[row][slot]) << j << ", " << m;
        EXPECT_EQ(net.junction_branch_fixed[e], full.fixed[row][slot]) << j << ", " << m;
      }
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(tried, 1000);
}

}  // namespace
}  // namespace tessaro
