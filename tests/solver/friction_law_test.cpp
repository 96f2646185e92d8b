#include "solver/friction_law.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "input/passes.h"
#include "junction_test_network.h"
#include "model/messages.h"
#include "model/network.h"
#include "solver/starting_heads.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {
namespace {

// Each test runs in a fresh folder with the log file open and the floating-point traps set, so
// that a stop can write its sentence and any division the law should not make ends the test
// binary.
class FrictionLawTest : public junction_test::RunFolderTest {};

// One branch in water (nu = 1e-6), with every branch table the law touches.
Network one_branch(double roughness, double diameter) {
  Network net;
  net.roughness = roughness;
  net.viscosity = 0.001;
  net.density = 1000.0;
  net.gravity = 9.81;
  net.tolerance = 1.0e-7;
  net.max_iterations = 100;
  net.kinematic_viscosity = static_cast<float>(net.viscosity / net.density);
  net.pi = 4.0 * math_atan(1.0);
  net.n_branches = 1;
  create_branch_tables(net);
  create_branch_balance_tables(net);
  net.diameter[1] = diameter;
  net.length[1] = 100.0;
  net.reynolds[1] = first_estimate_reynolds;
  return net;
}

TEST_F(FrictionLawTest, JainEstimateAtTheFirstReynoldsNumber) {
  struct Case {
    double roughness, diameter, expected, within;
  };
  const Case cases[] = {
      {0.0, 0.05, 0.0060230, 5e-8}, {0.0, 1.0, 0.0060230, 5e-8},   {0.0, 7.5, 0.0060230, 5e-8},
      {0.001, 1.0, 0.019622, 5e-7}, {0.0001, 0.1, 0.019622, 5e-7},
  };
  for (const Case& c : cases) {
    Network net = one_branch(c.roughness, c.diameter);
    first_friction_estimate(net, 1, c.diameter);
    EXPECT_NEAR(net.friction[1], c.expected, c.within) << c.roughness << " " << c.diameter;
  }
  // A smooth pipe's estimate does not depend on its diameter at all.
  Network small = one_branch(0.0, 0.05);
  Network large = one_branch(0.0, 7.5);
  first_friction_estimate(small, 1, 0.05);
  first_friction_estimate(large, 1, 7.5);
  EXPECT_EQ(small.friction[1], large.friction[1]);
}

// From the Jain estimate at roughness / diameter = 0.001, Re = 1e5 and tolerance 1e-7, the
// iterates are 0.022312, 0.022168, 0.0221749, 0.02217452 (all rejected) and 0.022174537
// (accepted). A stopped iteration leaves its last rejected iterate in friction.
TEST_F(FrictionLawTest, ColebrookIteratesAndTheTwoLimitCounts) {
  struct Case {
    FrictionCaller caller;
    std::int32_t max_iterations;
    bool stops;
    double friction, within;
  };
  const FrictionCaller update = FrictionCaller::friction_update;
  const FrictionCaller first = FrictionCaller::first_flowrate;
  const Case cases[] = {
      {first, -1, true, 0.022312, 5e-7},    {first, 0, true, 0.022312, 5e-7},
      {first, 1, true, 0.022168, 5e-7},     {first, 2, true, 0.0221749, 5e-8},
      {first, 3, true, 0.02217452, 5e-9},   {first, 4, false, 0.02217452, 5e-9},
      {update, -1, true, 0.022312, 5e-7},   {update, 0, true, 0.022168, 5e-7},
      {update, 1, true, 0.0221749, 5e-8},   {update, 2, true, 0.02217452, 5e-9},
      {update, 3, false, 0.02217452, 5e-9}, {update, 100, false, 0.02217452, 5e-9},
  };
  int stops = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "caller " << static_cast<int>(c.caller) << ", limit " << c.max_iterations);
    Network net = one_branch(0.001, 1.0);
    first_friction_estimate(net, 1, 1.0);
    net.max_iterations = c.max_iterations;
    net.reynolds[1] = 1.0e5;
    if (c.stops) {
      junction_test::expect_stop([&] { update_friction_factor(net, 1, 1.0, c.caller); });
      ++stops;
    } else {
      update_friction_factor(net, 1, 1.0, c.caller);
      EXPECT_NEAR(net.friction_next[1], 0.022174537, 5e-10);
    }
    EXPECT_NEAR(net.friction[1], c.friction, c.within);
  }
  std::string expected;
  for (int i = 0; i < stops; ++i) expected += " Maximum iterations exceeded\r\n";
  EXPECT_EQ(log_text(), expected);
}

// An accepted first iterate leaves the start value in friction.
TEST_F(FrictionLawTest, AcceptedFirstIterateKeepsTheStartValue) {
  Network net = one_branch(0.001, 1.0);
  net.tolerance = 1.0;
  first_friction_estimate(net, 1, 1.0);
  const double start = net.friction[1];
  net.reynolds[1] = 1.0e5;
  update_friction_factor(net, 1, 1.0, FrictionCaller::friction_update);
  EXPECT_EQ(net.friction[1], start);
  EXPECT_NEAR(net.friction_next[1], 0.022312, 5e-7);
}

// The convergence test is strict: with a tolerance of 0 no iterate is ever accepted, not even an
// exactly repeated one, and the iteration ends at its limit. The smallest positive tolerance
// accepts the repeated iterate.
TEST_F(FrictionLawTest, ZeroToleranceRunsIntoTheLimit) {
  Network net = one_branch(0.001, 1.0);
  net.tolerance = 0.0;
  first_friction_estimate(net, 1, 1.0);
  net.reynolds[1] = 1.0e5;
  junction_test::expect_stop(
      [&] { update_friction_factor(net, 1, 1.0, FrictionCaller::friction_update); });

  // After 100 iterations the iterates repeat exactly.
  const double repeated = net.friction[1];
  net.tolerance = std::numeric_limits<double>::denorm_min();
  net.max_iterations = -1;
  update_friction_factor(net, 1, 1.0, FrictionCaller::friction_update);
  EXPECT_EQ(net.friction_next[1], repeated);
  EXPECT_EQ(log_text(), " Maximum iterations exceeded\r\n");
}

// Laminar below Re = 2000, Colebrook-White from 2000 on, nothing at Re = 0. The start value in
// friction is touched only by the Colebrook-White iteration.
TEST_F(FrictionLawTest, FrictionFactorOnBothSidesOfTheLaminarLimit) {
  struct Case {
    double reynolds, expected;
  };
  const Case laminar[] = {{0.0, 0.0}, {1.0, 64.0}, {640.0, 0.1}, {1999.9, 0.03200160008000400}};
  for (const Case& c : laminar) {
    Network net = one_branch(0.0, 0.1);
    net.friction[1] = 0.5;
    net.reynolds[1] = c.reynolds;
    update_friction_factor(net, 1, 0.1, FrictionCaller::friction_update);
    EXPECT_DOUBLE_EQ(net.friction_next[1], c.expected) << c.reynolds;
    EXPECT_EQ(net.friction[1], 0.5);
  }
  // At 2000 and above the factor solves 1/sqrt(f) = -2 log10(e/(3.7 D) + 2.51/(Re sqrt(f))).
  for (const double reynolds : {2000.0, 2000.5, 1.0e5, 1.0e7}) {
    for (const double relative_roughness : {0.0, 0.001, 0.05}) {
      Network net = one_branch(relative_roughness * 0.1, 0.1);
      first_friction_estimate(net, 1, 0.1);
      net.reynolds[1] = reynolds;
      update_friction_factor(net, 1, 0.1, FrictionCaller::friction_update);
      const double f = net.friction_next[1];
      const double right =
          -2.0 * std::log10(relative_roughness / 3.7 + 2.51 / (reynolds * std::sqrt(f)));
      EXPECT_NEAR(1.0 / std::sqrt(f), right, 1e-4 * right) << reynolds << " " << relative_roughness;
    }
  }
}

TEST_F(FrictionLawTest, ReynoldsNumberOfAFlowrate) {
  Network net = one_branch(0.0, 0.05);
  EXPECT_NEAR(flow_reynolds(net, 0.01, 0.05), 2.5465e5, 5.0);
  EXPECT_EQ(flow_reynolds(net, -0.01, 0.05), flow_reynolds(net, 0.01, 0.05));
  EXPECT_EQ(flow_reynolds(net, 0.0, 0.05), 0.0);
  // The viscosity enters in single precision: 1e-6 rounded to a float is 1.6e-9 relative below
  // 1e-6, far above the rounding of the formula itself.
  const double re = flow_reynolds(net, 0.01, 0.05);
  const double nu_single = static_cast<double>(1.0e-6f);
  EXPECT_NEAR(re * nu_single / 1.0e-6, 4.0 * 0.01 / (0.05 * 1.0e-6 * net.pi), 1e-10);
  EXPECT_GT(std::fabs(re - 4.0 * 0.01 / (0.05 * 1.0e-6 * net.pi)), 1e-4);
}

TEST_F(FrictionLawTest, DarcyWeisbachResistance) {
  struct Case {
    double friction, length, diameter, expected, within;
  };
  const Case cases[] = {
      {0.02, 100.0, 0.1, 16525.371440136634, 1e-9},
      {0.05, 3.0, 0.2, 38.731339312820246, 1e-12},
      {0.02, 0.0, 0.1, 0.0, 0.0},  // zero length: no resistance whatever the friction factor
      {0.0, 100.0, 0.1, 0.0, 0.0},
  };
  const Network net = one_branch(0.0, 0.1);
  for (const Case& c : cases) {
    EXPECT_NEAR(branch_resistance(net, c.friction, c.length, c.diameter), c.expected, c.within);
  }
}

// The first flowrate set-up: Reynolds number of the given flowrate, its friction factor kept as
// the branch's own, then the resistance (none for a branch without friction).
TEST_F(FrictionLawTest, FlowrateTerminalSetUp) {
  struct Case {
    double flowrate, friction;
  };
  // 1e-5 m3/s in a 5 cm pipe: Re = 254.6 (laminar); 0.01: Re = 2.5465e5 (turbulent, with
  // roughness / diameter = 0.001).
  const Case cases[] = {{0.0, 0.0}, {-1.0e-5, 64.0 / 254.64790894703256}, {0.01, 0.020760}};
  for (const Case& c : cases) {
    Network net = one_branch(0.00005, 0.05);
    net.first_value[1] = c.flowrate;
    net.second_value[1] = -c.flowrate;
    first_friction_estimate(net, 1, 0.05);
    set_flowrate_terminal_friction(net, 1);
    EXPECT_NEAR(net.reynolds[1], flow_reynolds(net, c.flowrate, 0.05), 0.0);
    EXPECT_EQ(net.friction[1], net.friction_next[1]);
    EXPECT_NEAR(net.friction[1], c.friction, 5e-7) << c.flowrate;
    set_initial_resistance(net, 1);
    EXPECT_EQ(net.resistance[1], branch_resistance(net, net.friction[1], 100.0, 0.05));
  }
}

}  // namespace
}  // namespace tessaro
