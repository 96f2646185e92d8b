#include "solver/friction_cycle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "input/checks.h"
#include "input/passes.h"
#include "junction_test_network.h"
#include "model/messages.h"
#include "model/network.h"
#include "solver/balance.h"
#include "solver/friction_law.h"
#include "solver/junction_rows.h"
#include "solver/starting_heads.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {
namespace {

// Each test runs in a fresh folder with the log file open and the floating-point traps set, so
// that a stop can write its sentence and any division the cycle should not make ends the test
// binary.
class FrictionCycleTest : public junction_test::RunFolderTest {};

struct Header {
  double roughness, viscosity, density, gravity, tolerance;
  std::int32_t max_iterations;
};

struct BranchRecord {
  std::int32_t first_node;
  double first_value;
  std::int32_t second_node;
  double second_value;
  double diameter, length;
  std::int32_t condition;
};

// A network as the run prepares it for the solver, from its header, branch records and node
// elevations: the per-branch set-up of every record, the junction rows and the starting heads.
Network prepared_network(const Header& header, std::initializer_list<BranchRecord> records,
                         std::initializer_list<double> elevations) {
  Network net;
  net.pi = 4.0 * math_atan(1.0);
  net.roughness = header.roughness;
  net.viscosity = header.viscosity;
  net.density = header.density;
  net.gravity = header.gravity;
  net.tolerance = header.tolerance;
  net.max_iterations = header.max_iterations;
  net.kinematic_viscosity = static_cast<float>(net.viscosity / net.density);

  net.n_branches = static_cast<std::int32_t>(records.size());
  create_branch_tables(net);
  create_branch_balance_tables(net);
  std::int32_t b = 0;
  for (const BranchRecord& record : records) {
    ++b;
    net.branch_number[b] = b;
    net.first_node[b] = record.first_node;
    net.first_value[b] = record.first_value;
    net.second_node[b] = record.second_node;
    net.second_value[b] = record.second_value;
    net.diameter[b] = record.diameter;
    net.length[b] = record.length;
    net.branch_condition[b] = record.condition;
    net.reynolds[b] = first_estimate_reynolds;
    if (record.first_node > net.n_nodes) net.n_nodes = record.first_node;
    if (record.second_node > net.n_nodes) net.n_nodes = record.second_node;
    first_friction_estimate(net, b, net.diameter[b]);
    check_terminal_data(net, b);
    if (record.condition == condition_flowrate) set_flowrate_terminal_friction(net, b);
    set_initial_resistance(net, b);
  }

  create_node_tables(net);
  create_node_balance_tables(net);
  net.n_elevations = net.n_nodes;
  std::int32_t n = 0;
  for (const double elevation : elevations) {
    ++n;
    net.elevation[n] = elevation;
    net.elevation_node[n] = n;
  }

  net.n_junctions = count_junctions(net);
  list_junctions(net);
  create_junction_balance_tables(net);
  build_junction_rows(net);
  set_terminal_heads(net);
  add_elevations(net);
  set_starting_head_differences(net);
  return net;
}

// The junction entry of branch c seen from junction j.
std::int32_t entry_of(const Network& net, std::int32_t j, std::int32_t c) {
  for (std::int32_t e = net.junction_row_start[j]; e < net.junction_row_start[j + 1]; ++e) {
    if (net.junction_branch[e] == c) return e;
  }
  ADD_FAILURE() << "branch " << c << " not at junction " << j;
  return 1;
}

// Agrees with a value given to five significant digits.
void expect_five_digits(double actual, double expected) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 4.0);
  EXPECT_NEAR(actual, expected, 0.5 * unit);
}

// One junction (node 2), fed by branch 1 from a pressure terminal 10 m above it and drained by
// branch 2 to a pressure terminal at a third of that pressure and by branch 3 to a flowrate
// terminal drawing 0.01 m3/s.
Network worked_example() {
  return prepared_network({0.00005, 0.001, 1000.0, 9.81, 1.0e-6, 1000},
                          {{1, 3.0e5, 2, -1.0, 0.1, 100.0, condition_pressure},
                           {2, -1.0, 3, 1.0e5, 0.08, 200.0, condition_pressure},
                           {2, 0.01, 4, -0.01, 0.05, 50.0, condition_flowrate}},
                          {10.0, 0.0, 0.0, 0.0});
}

TEST_F(FrictionCycleTest, WorkedExampleStartsAndFinishes) {
  Network net = worked_example();
  expect_five_digits(net.node_head[1], 40.581);
  expect_five_digits(net.node_head[3], 10.194);
  expect_five_digits(net.node_head[2], 15.291);
  expect_five_digits(net.junction_head_diff[entry_of(net, 1, 3)], -27.445);

  solve_network(net);

  struct Finished {
    std::int32_t branch;
    double head_diff, flow, reynolds, friction;
  };
  const Finished finished[] = {{1, 9.2144, 0.024791, 3.1565e5, 0.018145},
                               {2, -21.173, 0.014791, 2.3540e5, 0.019191},
                               {3, -27.445, 0.010000, 2.5465e5, 0.020760}};
  for (const Finished& f : finished) {
    SCOPED_TRACE(testing::Message() << "branch " << f.branch);
    const double head_diff = net.junction_head_diff[entry_of(net, 1, f.branch)];
    expect_five_digits(head_diff, f.head_diff);
    expect_five_digits(std::sqrt(std::fabs(head_diff) / net.resistance[f.branch]), f.flow);
    expect_five_digits(net.reynolds[f.branch], f.reynolds);
    expect_five_digits(net.friction_next[f.branch], f.friction);
  }
  EXPECT_EQ(log_text(), "");
}

// Two junctions (nodes 2 and 3) joined by branch 2, a laminar pipe, each with a pressure
// terminal; branch 4 joins two terminals and touches no junction.
Network two_junctions() {
  return prepared_network({0.0, 0.001, 1000.0, 9.81, 1.0e-6, 100},
                          {{1, 1.0e4, 2, -1.0, 0.1, 10.0, condition_pressure},
                           {2, 0.0, 3, 0.0, 0.01, 10.0, condition_none},
                           {3, -1.0, 4, 0.0, 0.1, 10.0, condition_pressure},
                           {5, 0.0, 6, 0.0, 0.1, 10.0, condition_none}},
                          {0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
}

// The pipe between the junctions is visited from junction 1, then from junction 2 with the
// resistance the first visit left, and the second change is measured against the first visit's
// Reynolds number.
TEST_F(FrictionCycleTest, BranchBetweenJunctionsIsVisitedTwice) {
  Network net = two_junctions();
  const double h = 0.01;
  net.junction_head_diff[entry_of(net, 1, 2)] = -h;
  net.junction_head_diff[entry_of(net, 2, 2)] = h;
  net.resistance[2] = 1.0e9;
  // The terminal branches carry no flow and had none before: they change nothing.
  for (const std::int32_t c : {1, 3}) {
    net.resistance[c] = 0.0;
    net.reynolds[c] = 0.0;
  }
  const double untouched_reynolds = net.reynolds[4];
  const double untouched_resistance = net.resistance[4];

  // By hand: Re = 4 Q / (D nu pi), f = 64 / Re, K = 8 f L / (D^5 pi^2 g).
  const double nu_d_pi = 0.01 * static_cast<double>(1.0e-6f) * net.pi;
  const double resistance_per_friction = 8.0 * 10.0 / (1.0e-10 * net.pi * net.pi * 9.81);
  const double first_visit = 4.0 * std::sqrt(h / 1.0e9) / nu_d_pi;
  const double second_visit =
      4.0 * std::sqrt(h / (64.0 / first_visit * resistance_per_friction)) / nu_d_pi;
  ASSERT_LT(first_visit, 2000.0);
  ASSERT_LT(second_visit, 2000.0);
  // The old Reynolds number lies 1 below the first visit's: its change is the smaller one.
  net.reynolds[2] = first_visit - 1.0;

  const double change = update_friction(net);
  EXPECT_NEAR(change, std::fabs(first_visit - second_visit), 1e-9);
  EXPECT_NEAR(net.reynolds[2], second_visit, 1e-9);
  EXPECT_NEAR(net.resistance[2], 64.0 / second_visit * resistance_per_friction,
              1e-9 * net.resistance[2]);
  EXPECT_EQ(net.reynolds[4], untouched_reynolds);
  EXPECT_EQ(net.resistance[4], untouched_resistance);
}

// A branch with no head difference, or with no resistance, gets Reynolds number, friction factor
// and resistance 0 (without dividing by the zero).
TEST_F(FrictionCycleTest, BranchWithoutFlowDropsToZero) {
  Network net = two_junctions();
  net.junction_head_diff[entry_of(net, 1, 1)] = 0.0;
  net.resistance[3] = 0.0;
  update_friction(net);
  for (const std::int32_t c : {1, 3}) {
    EXPECT_EQ(net.reynolds[c], 0.0) << c;
    EXPECT_EQ(net.friction_next[c], 0.0) << c;
    EXPECT_EQ(net.resistance[c], 0.0) << c;
  }
}

// One junction halfway between two identical pipes from terminals at 30 m and 10 m: the heads
// balance at once. The pipes are sized so that laminar flow would carry Re past 2000 and
// turbulent flow would pull it back below: the Reynolds numbers flip for ever, and the cycle ends
// after its ten thousandth friction update, an even one.
TEST_F(FrictionCycleTest, ReynoldsNumbersThatNeverSettleEndTheRun) {
  Network net = prepared_network({0.0, 1.118e-6, 1.0, 1.0, 1.0e-6, 100},
                                 {{1, 30.0, 2, -1.0, 0.01, 100.0, condition_pressure},
                                  {2, -1.0, 3, 10.0, 0.01, 100.0, condition_pressure}},
                                 {0.0, 0.0, 0.0});
  // From the third update on, odd updates leave laminar flow and even ones turbulent flow.
  Network flipping = net;
  bool laminar_after[5] = {};
  for (int update = 1; update <= 4; ++update) {
    balance_junction_heads(flipping);
    EXPECT_GT(update_friction(flipping), 100.0);
    laminar_after[update] = flipping.reynolds[1] < 2000.0;
  }
  ASSERT_TRUE(laminar_after[3]);
  ASSERT_FALSE(laminar_after[4]);

  junction_test::expect_stop([&] { solve_network(net); });
  EXPECT_EQ(log_text(), " Maximum iterations exceeded\r\n");
  EXPECT_GT(net.reynolds[1], 2000.0);
}

}  // namespace
}  // namespace tessaro
