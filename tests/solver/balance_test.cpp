#include "solver/balance.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "junction_test_network.h"
#include "model/messages.h"
#include "solver/starting_heads.h"
#include "textio/run_end.h"

namespace tessaro {
namespace {

using junction_test::BranchRow;
using junction_test::FullRows;

class BalanceTest : public junction_test::RunFolderTest {
 protected:
  static void fresh_log() {
    log_file().close();
    std::filesystem::remove(std::string(log_file_name));
    log_file().open();
  }

  // The log of a balancing run in a fresh log file: empty when the run converged.
  static std::string balance_log(Network& net) {
    fresh_log();
    try {
      balance_junction_heads(net);
    } catch (const RunEnd&) {
    }
    return log_text();
  }

  // The two records of an exceeded limit with this imbalance, in a fresh log file.
  static std::string limit_records(double imbalance) {
    fresh_log();
    log_sentence(message::iterations_exceeded);
    log_sentence(message::largest_imbalance, imbalance);
    return log_text();
  }
};

Network started_network(const std::vector<BranchRow>& rows, double tolerance,
                        std::int32_t max_iterations) {
  Network net = junction_test::make_network(rows);
  net.tolerance = tolerance;
  net.max_iterations = max_iterations;
  junction_test::build_rows(net);
  // A network without junctions never reaches the starting heads.
  if (net.n_junctions == 0) return net;
  set_terminal_heads(net);
  add_elevations(net);
  set_starting_head_differences(net);
  return net;
}

// One junction between terminal heads 30 (resistance 1) and 10 (resistance 4): it starts at 20,
// so the head differences are 10 and -10, and it balances at 26.
Network one_junction(std::int32_t max_iterations) {
  return started_network(
      {{1, 2, condition_pressure, 30.0, -1.0, 1.0}, {2, 3, condition_pressure, -1.0, 10.0, 4.0}},
      1.0e-6, max_iterations);
}

// Runs the balance, which must end the run with a stop.
void balance_to_stop(Network& net) {
  try {
    balance_junction_heads(net);
    ADD_FAILURE() << "the balance converged";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.failure_class, 0);
    EXPECT_EQ(end.exit_status, exit_stopped);
  }
}

// The two records of an exceeded limit, and the imbalance the second one reports.
double stop_records_imbalance(const std::string& log) {
  const std::string first = " Maximum iterations exceeded\r\n";
  const std::string second = " Maximum accumulative junctional flowrate =";
  EXPECT_EQ(log.substr(0, first.size()), first);
  EXPECT_EQ(log.substr(first.size(), second.size()), second);
  EXPECT_EQ(log.size() - 2, log.rfind("\r\n")) << "two records";
  return std::stod(log.substr(first.size() + second.size()));
}

TEST_F(BalanceTest, SweepZeroOfOneJunction) {
  Network net = one_junction(-1);
  balance_to_stop(net);
  const double flow_sum = stop_records_imbalance(log_text());
  const double correction = net.junction_correction[1];
  EXPECT_NEAR(flow_sum, 1.58114, 1e-5);
  EXPECT_NEAR(flow_sum / (-2.0 * correction), 0.237171, 1e-6);  // flow_slope_sum
  EXPECT_NEAR(correction, -3.33333, 1e-5);
  EXPECT_NEAR(net.junction_head_diff[1], 6.66667, 1e-5);
  EXPECT_NEAR(net.junction_head_diff[2], -13.33333, 1e-5);
}

TEST_F(BalanceTest, OneJunctionNeedsTwentyOneCorrectedSweeps) {
  Network converging = one_junction(20);
  balance_junction_heads(converging);
  EXPECT_NEAR(converging.junction_head_diff[1], 4.0, 1e-5);
  EXPECT_NEAR(converging.junction_head_diff[2], -16.0, 1e-5);
  EXPECT_EQ(log_text(), "");

  Network stopping = one_junction(19);
  balance_to_stop(stopping);
  const double imbalance = stop_records_imbalance(log_text());
  EXPECT_GT(imbalance, 1.0e-6);
  EXPECT_LT(imbalance, 1.4e-6);
}

// Head differences 4 and -1 with resistances 1 give net inflows 2 and -1: an imbalance of
// exactly 1.
TEST_F(BalanceTest, ImbalanceEqualToTheToleranceHasConverged) {
  struct Case {
    double tolerance;
    bool corrected;
  };
  for (const Case c : {Case{1.0, false}, Case{std::nextafter(1.0, 0.0), true}}) {
    SCOPED_TRACE(c.tolerance);
    Network net = junction_test::make_network({{1, 2}, {2, 3}});
    net.tolerance = c.tolerance;
    net.max_iterations = -1;
    junction_test::build_rows(net);
    net.junction_head_diff[1] = 4.0;
    net.junction_head_diff[2] = -1.0;
    if (c.corrected) {
      balance_to_stop(net);
      // The Newton step 1 / (2/8 + 1/2), halved for two branches, lowers the junction's view of
      // both.
      EXPECT_EQ(net.junction_correction[1], -(1.0 / 0.75) / 2.0);
      EXPECT_EQ(net.junction_head_diff[1], 4.0 + -(1.0 / 0.75) / 2.0);
    } else {
      balance_junction_heads(net);
      EXPECT_EQ(net.junction_head_diff[1], 4.0);
      EXPECT_EQ(net.junction_head_diff[2], -1.0);
    }
  }
}

// Flowrate 2 leaves the junction through a fixed entry; the pressure branch must bring it in.
TEST_F(BalanceTest, FixedEntryCountsButNeverChanges) {
  Network net = started_network(
      {{1, 2, condition_pressure, 30.0, -1.0, 1.0}, {2, 3, condition_flowrate, 2.0, -2.0, 0.5}},
      1.0e-9, 1000);
  ASSERT_EQ(net.junction_branch_fixed[2], 1);
  ASSERT_EQ(net.junction_head_diff[2], -2.0);
  balance_junction_heads(net);
  EXPECT_EQ(net.junction_head_diff[2], -2.0);
  EXPECT_NEAR(net.junction_head_diff[1], 4.0, 1e-8);
}

// A correction that overflows ends the run with the overflow report, as when every sweep's
// corrections are applied in a pass of their own right after it: also the corrections of the
// sweep past the limit, and also when the next sweep meets the root of a negative |H| / K (a
// negative resistance) before the entry whose correction overflows.
using BalanceDeathTest = BalanceTest;

TEST_F(BalanceDeathTest, OverflowingCorrectionEndsTheRun) {
  struct Case {
    const char* what;
    std::vector<BranchRow> rows;
    std::vector<double> head_diffs;
    std::int32_t max_iterations;
  };
  // In the first network the junction at node 2, in the second the one at node 5, carries no flow
  // through its first entry (no resistance): its second entry alone makes its correction
  // -(2H) / n_branches, with which the first entry's head difference overflows. In the second
  // network the entry of resistance -1 at node 2 starts without head difference and gets one from
  // the first correction.
  const Case cases[] = {
      {"past the limit", {{1, 2, condition_none, 0.0, 0.0, 0.0}, {2, 3}}, {1.7e308, -0.8e308}, -1},
      {"after a negative root",
       {{1, 2, condition_none, 0.0, 0.0, -1.0},
        {2, 3},
        {4, 5, condition_none, 0.0, 0.0, 0.0},
        {5, 6}},
       {0.0, 10.0, 1.7e308, -0.8e308},
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Network net = junction_test::make_network(c.rows);
    net.tolerance = 1.0e-6;
    net.max_iterations = c.max_iterations;
    junction_test::build_rows(net);
    ASSERT_EQ(net.n_entries, static_cast<std::int32_t>(c.head_diffs.size()));
    for (std::int32_t e = 1; e <= net.n_entries; ++e) {
      net.junction_head_diff[e] = c.head_diffs[static_cast<std::size_t>(e - 1)];
    }
    EXPECT_EXIT(balance_junction_heads(net), ::testing::ExitedWithCode(exit_failed), "M6104: MATH");
  }
}

// How the balance written out over the full rows ended: converged, or at the limit with the
// imbalance of its last sweep. first_repeat is the first corrected sweep that left every head
// difference as it was, -1 when there was none.
struct FullOutcome {
  bool converged = false;
  double last_imbalance = 0.0;
  std::int64_t first_repeat = -1;
};

// The balance written out over the full rows, sweeping until the tolerance or the limit.
FullOutcome full_balance(const Network& net, FullRows& rows) {
  std::vector<double> correction(static_cast<std::size_t>(rows.n_junctions) + 1, 0.0);
  FullOutcome outcome;
  std::int64_t network_iter = 0;
  for (;;) {
    double max_imbalance = 0.0;
    for (std::size_t j = 1; j <= static_cast<std::size_t>(rows.n_junctions); ++j) {
      double flow_sum = 0.0;
      double flow_slope_sum = 0.0;
      for (std::size_t m = 1; m <= static_cast<std::size_t>(rows.junction_degree[j]); ++m) {
        const double h = rows.head_diff[j][m];
        const double k = net.resistance[rows.branch[j][m]];
        if (h == 0.0 || k == 0.0) continue;
        const std::int32_t flow_sign = static_cast<std::int32_t>(h / std::fabs(h));
        const double q = flow_sign * std::sqrt(std::fabs(h) / k);
        flow_sum += q;
        flow_slope_sum += q / (2.0 * h);
      }
      correction[j] = flow_slope_sum == 0.0 ? 0.0 : -(flow_sum / flow_slope_sum) / net.n_branches;
      if (std::fabs(flow_sum) > max_imbalance) max_imbalance = std::fabs(flow_sum);
    }
    outcome.last_imbalance = max_imbalance;
    if (max_imbalance <= net.tolerance) {
      outcome.converged = true;
      return outcome;
    }
    bool repeated = true;
    for (std::size_t j = 1; j <= static_cast<std::size_t>(rows.n_junctions); ++j) {
      for (std::size_t m = 1; m <= static_cast<std::size_t>(rows.junction_degree[j]); ++m) {
        if (rows.fixed[j][m] == 1) continue;
        const double before = rows.head_diff[j][m];
        const auto far = static_cast<std::size_t>(rows.far_end[j][m]);
        if (far == 0) {
          rows.head_diff[j][m] = rows.head_diff[j][m] + correction[j];
        } else {
          rows.head_diff[j][m] = rows.head_diff[j][m] + correction[j] - correction[far];
        }
        repeated = repeated && std::bit_cast<std::uint64_t>(before) ==
                                   std::bit_cast<std::uint64_t>(rows.head_diff[j][m]);
      }
    }
    if (repeated && outcome.first_repeat < 0) outcome.first_repeat = network_iter;
    if (network_iter > net.max_iterations) return outcome;
    network_iter += 1;
  }
}

// The first head difference of the balance that differs from the full rows in any bit, "" when
// there is none.
std::string first_difference(const Network& net, const FullRows& rows) {
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    for (std::int32_t m = 1; m <= net.junction_degree[j]; ++m) {
      const double full = rows.head_diff[static_cast<std::size_t>(j)][static_cast<std::size_t>(m)];
      const double h = net.junction_head_diff[net.junction_row_start[j] + m - 1];
      if (std::bit_cast<std::uint64_t>(h) != std::bit_cast<std::uint64_t>(full)) {
        return "junction " + std::to_string(j) + " slot " + std::to_string(m);
      }
    }
  }
  return "";
}

// The balance matches the literal one to the bit, and so does its log. Many of these small
// networks stall: a corrected sweep changes no head difference long before the limit, and from
// there on every sweep repeats. The balance ends there with the records the limit would have
// written, also when the limit is the largest there is.
TEST_F(BalanceTest, RandomNetworksBalanceLikeTheFullRows) {
  constexpr std::int32_t limit = 2000;
  std::mt19937 rng(99);
  int converged = 0;
  int stopped = 0;
  int stalled = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Network net = started_network(junction_test::random_rows(rng), 1.0e-9, limit);
    if (net.n_junctions == 0) continue;
    FullRows rows = junction_test::full_rows(net);
    for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
      for (std::int32_t m = 1; m <= net.junction_degree[j]; ++m) {
        const std::int32_t e = net.junction_row_start[j] + m - 1;
        rows.head_diff[static_cast<std::size_t>(j)][static_cast<std::size_t>(m)] =
            net.junction_head_diff[e];
        rows.fixed[static_cast<std::size_t>(j)][static_cast<std::size_t>(m)] =
            net.junction_branch_fixed[e];
      }
    }
    const Network started = net;

    const FullOutcome full = full_balance(net, rows);
    const std::string expected_log = full.converged ? "" : limit_records(full.last_imbalance);
    ASSERT_EQ(balance_log(net), expected_log);
    ASSERT_EQ(first_difference(net, rows), "");
    (full.converged ? converged : stopped) += 1;
    if (full.first_repeat < 0) continue;
    // A stalled balance ends the same way whether the limit comes right after the stall, at the
    // sweep that stalls, or not at all.
    for (const std::int64_t stall_limit :
         {full.first_repeat - 1, full.first_repeat,
          std::int64_t{std::numeric_limits<std::int32_t>::max()}}) {
      SCOPED_TRACE("limit " + std::to_string(stall_limit));
      Network limited = started;
      limited.max_iterations = static_cast<std::int32_t>(stall_limit);
      ASSERT_EQ(balance_log(limited), expected_log);
      ASSERT_EQ(first_difference(limited, rows), "");
    }
    stalled += 1;
  }
  EXPECT_GT(converged, 100);
  EXPECT_GT(stopped, 100);
  EXPECT_GT(stalled, 100);
}

}  // namespace
}  // namespace tessaro
