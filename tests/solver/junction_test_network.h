// Small networks for the junction, starting-head and balance tests: branch records given as rows,
// a test folder with the log file open, random networks, and the junction rows written out in
// full (one row per junction, one slot per branch of the network) by plain scans.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "input/passes.h"
#include "model/messages.h"
#include "model/network.h"
#include "solver/junction_rows.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro::junction_test {

struct BranchRow {
  std::int32_t first;
  std::int32_t second;
  std::int32_t condition = condition_none;
  double first_value = 0.0;  // pressure heads or flowrates, as after the branch checks
  double second_value = 0.0;
  double resistance = 1.0;
  double diameter = 0.1;
};

// A network as the third pass leaves it: branch records numbered by position, node tables
// created, elevation records in order.
inline Network make_network(const std::vector<BranchRow>& rows,
                            const std::vector<double>& elevations = {}) {
  Network net;
  net.n_branches = static_cast<std::int32_t>(rows.size());
  for (const BranchRow& row : rows) net.n_nodes = std::max({net.n_nodes, row.first, row.second});
  create_branch_tables(net);
  create_branch_balance_tables(net);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const BranchRow& row = rows[static_cast<std::size_t>(b - 1)];
    net.branch_number[b] = b;
    net.first_node[b] = row.first;
    net.second_node[b] = row.second;
    net.branch_condition[b] = row.condition;
    net.first_value[b] = row.first_value;
    net.second_value[b] = row.second_value;
    net.resistance[b] = row.resistance;
    net.diameter[b] = row.diameter;
  }
  create_node_tables(net);
  create_node_balance_tables(net);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    net.elevation_node[n] = n;
    if (static_cast<std::size_t>(n) <= elevations.size()) {
      net.elevation[n] = elevations[static_cast<std::size_t>(n - 1)];
    }
  }
  return net;
}

// Ends with a stop: the stop line on the console, status 0, no failure report.
template <class Action>
void expect_stop(Action action) {
  try {
    action();
    ADD_FAILURE() << "the run went on";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.exit_status, exit_stopped);
    EXPECT_EQ(end.stdout_text, stop_line);
    EXPECT_EQ(end.failure_class, 0);
  }
}

inline void build_rows(Network& net) {
  net.n_junctions = count_junctions(net);
  list_junctions(net);
  create_junction_balance_tables(net);
  build_junction_rows(net);
}

// A random network of up to 8 nodes and 12 branches, with loops at one node, parallel branches,
// unnamed node numbers, and random terminal data on any branch (also on branches between
// junctions, where they must be ignored). Flowrates and resistances are small integers or halves,
// some of them zero.
inline std::vector<BranchRow> random_rows(std::mt19937& rng) {
  auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<>(low, high)(rng); };
  const std::int32_t n_nodes = pick(2, 8);
  std::vector<BranchRow> rows(static_cast<std::size_t>(pick(1, 12)));
  for (BranchRow& row : rows) {
    row.first = pick(1, n_nodes);
    row.second = pick(0, 5) == 0 ? row.first : pick(1, n_nodes);
    row.condition = pick(0, 2);
    row.resistance = pick(0, 6) * 0.5;
    row.diameter = pick(1, 9) * 0.01;
    if (row.condition == condition_pressure) {
      const double head = pick(0, 40) * 0.75;
      const double marker = -pick(1, 3) * 0.25;
      const int layout = pick(0, 2);
      row.first_value = layout == 0 ? head : marker;
      row.second_value = layout == 1 ? head : (layout == 0 ? marker : -head - 1.0);
    } else {
      row.first_value = pick(-4, 4) * 0.5;
      row.second_value = -row.first_value;
    }
  }
  return rows;
}

// The junction tables as full rows: row j has n_branches slots (1-based, slot 0 unused), and the
// tables are built by scanning every branch for every node and every slot for every slot.
struct FullRows {
  std::int32_t n_junctions = 0;
  std::vector<std::int32_t> junction_node{0};
  std::vector<std::int32_t> junction_degree{0};
  std::vector<std::vector<std::int32_t>> branch;
  std::vector<std::vector<double>> diameter;
  std::vector<std::vector<std::int32_t>> far_end;
  std::vector<std::vector<std::int32_t>> fixed;
  std::vector<std::vector<double>> head_diff;
};

inline bool has_end_at(const Network& net, std::int32_t b, std::int32_t n) {
  return net.first_node[b] == n || net.second_node[b] == n;
}

inline FullRows full_rows(const Network& net) {
  FullRows rows;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    std::int32_t count = 0;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) count += has_end_at(net, b, n) ? 1 : 0;
    if (count < 2) continue;
    rows.n_junctions += 1;
    rows.junction_node.push_back(n);
  }
  const auto width = static_cast<std::size_t>(net.n_branches) + 1;
  const auto height = static_cast<std::size_t>(rows.n_junctions) + 1;
  rows.junction_degree.assign(height, 0);
  rows.branch.assign(height, std::vector<std::int32_t>(width, 0));
  rows.diameter.assign(height, std::vector<double>(width, 0.0));
  rows.far_end.assign(height, std::vector<std::int32_t>(width, 0));
  rows.fixed.assign(height, std::vector<std::int32_t>(width, 0));
  rows.head_diff.assign(height, std::vector<double>(width, 0.0));
  for (std::size_t j = 1; j < height; ++j) {
    std::size_t m = 0;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) {
      if (!has_end_at(net, b, rows.junction_node[j])) continue;
      ++m;
      rows.branch[j][m] = net.branch_number[b];
      rows.diameter[j][m] = net.diameter[b];
    }
    rows.junction_degree[j] = static_cast<std::int32_t>(m);
  }
  for (std::size_t j = 1; j < height; ++j) {
    for (std::size_t m = 1; m <= static_cast<std::size_t>(rows.junction_degree[j]); ++m) {
      for (std::size_t j2 = 1; j2 < height; ++j2) {
        if (j2 == j) continue;
        for (std::size_t m2 = 1; m2 <= static_cast<std::size_t>(rows.junction_degree[j2]); ++m2) {
          if (rows.branch[j][m] == rows.branch[j2][m2]) {
            rows.far_end[j2][m2] = static_cast<std::int32_t>(j);
          }
        }
      }
    }
  }
  return rows;
}

// Runs each test in a fresh folder with the log file open and the floating-point traps set, so
// that a stop can write its sentences and any operation that should not be made ends the test
// binary.
class RunFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "junction_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::current_path(folder_);
    log_file().open();
    enable_fp_traps();
  }
  void TearDown() override {
    disable_fp_traps();
    log_file().close();
    std::filesystem::current_path(home_);
    std::filesystem::remove_all(folder_);
  }

  static std::string log_text() {
    log_file().flush();
    std::ifstream in(std::string(log_file_name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path home_;
  std::filesystem::path folder_;
};

}  // namespace tessaro::junction_test
