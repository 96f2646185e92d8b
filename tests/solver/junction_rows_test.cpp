#include "solver/junction_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "junction_test_network.h"

namespace tessaro {
namespace {

using junction_test::BranchRow;
using junction_test::FullRows;

// The compact rows hold exactly what the full rows hold, and every branch knows its entries.
void expect_same_rows(const Network& net, const FullRows& full) {
  ASSERT_EQ(net.n_junctions, full.n_junctions);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    std::int32_t degree = 0;
    for (std::int32_t b = 1; b <= net.n_branches; ++b)
      degree += junction_test::has_end_at(net, b, n) ? 1 : 0;
    EXPECT_EQ(net.node_degree[n], degree) << "node " << n;
  }
  std::vector<std::vector<std::pair<std::int32_t, std::int32_t>>> entries_of_branch(
      static_cast<std::size_t>(net.n_branches) + 1);
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    const auto row = static_cast<std::size_t>(j);
    const std::int32_t node = full.junction_node[row];
    ASSERT_EQ(net.junction_node[j], node);
    EXPECT_EQ(net.node_junction[node], j);
    ASSERT_EQ(net.junction_degree[j], full.junction_degree[row]);
    ASSERT_EQ(net.junction_row_start[j + 1] - net.junction_row_start[j], net.junction_degree[j]);
    for (std::int32_t m = 1; m <= net.junction_degree[j]; ++m) {
      const std::int32_t e = net.junction_row_start[j] + m - 1;
      const auto slot = static_cast<std::size_t>(m);
      EXPECT_EQ(net.junction_branch[e], full.branch[row][slot])
          << "junction " << j << " slot " << m;
      EXPECT_EQ(net.junction_branch_diameter[e], full.diameter[row][slot]);
      EXPECT_EQ(net.junction_far_end[e], full.far_end[row][slot]);
      EXPECT_EQ(net.junction_branch_fixed[e], 0);
      entries_of_branch[static_cast<std::size_t>(net.junction_branch[e])].emplace_back(j, e);
    }
  }
  EXPECT_EQ(net.n_entries, net.junction_row_start[net.n_junctions + 1] - 1);
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    if (net.node_degree[n] < 2) {
      EXPECT_EQ(net.node_junction[n], 0) << "node " << n;
    }
  }
  // Rows are visited in junction order, so each list is in row order already.
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const auto& entries = entries_of_branch[static_cast<std::size_t>(b)];
    ASSERT_LE(entries.size(), 2u);
    EXPECT_EQ(net.branch_first_entry[b], entries.empty() ? 0 : entries[0].second) << "branch " << b;
    EXPECT_EQ(net.branch_second_entry[b], entries.size() < 2 ? 0 : entries[1].second);
  }
}

struct RowsCase {
  std::string name;
  std::vector<BranchRow> branches;
  std::vector<std::int32_t> junction_node;
  std::vector<std::vector<std::int32_t>> branch_of_slot;
  std::vector<std::vector<std::int32_t>> far_end_of_slot;
};

TEST(JunctionRows, RowsListBranchesInFileOrderWithTheirFarJunctions) {
  const std::vector<RowsCase> cases = {
      {"one junction, three terminals", {{1, 2}, {2, 3}, {4, 2}}, {2}, {{1, 2, 3}}, {{0, 0, 0}}},
      {"loop at a junction counts once", {{1, 2}, {2, 2}, {2, 3}}, {2}, {{1, 2, 3}}, {{0, 0, 0}}},
      {"parallel branches between two junctions",
       {{1, 2}, {2, 3}, {3, 2}, {3, 4}},
       {2, 3},
       {{1, 2, 3}, {2, 3, 4}},
       {{0, 2, 2}, {1, 1, 0}}},
      {"mesh with unnamed nodes, a loop and a branch between terminals",
       {{4, 1}, {1, 3}, {3, 4}, {3, 6}, {6, 7}, {3, 3}, {8, 9}},
       {1, 3, 4, 6},
       {{1, 2}, {2, 3, 4, 6}, {1, 3}, {4, 5}},
       {{3, 2}, {1, 3, 4, 0}, {1, 2}, {2, 0}}},
  };
  for (const RowsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Network net = junction_test::make_network(c.branches);
    junction_test::build_rows(net);
    ASSERT_EQ(net.n_junctions, static_cast<std::int32_t>(c.junction_node.size()));
    for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
      const auto row = static_cast<std::size_t>(j - 1);
      EXPECT_EQ(net.junction_node[j], c.junction_node[row]);
      std::vector<std::int32_t> branches;
      std::vector<std::int32_t> far_ends;
      for (std::int32_t e = net.junction_row_start[j]; e < net.junction_row_start[j + 1]; ++e) {
        branches.push_back(net.junction_branch[e]);
        far_ends.push_back(net.junction_far_end[e]);
      }
      EXPECT_EQ(branches, c.branch_of_slot[row]) << "junction " << j;
      EXPECT_EQ(far_ends, c.far_end_of_slot[row]) << "junction " << j;
    }
    expect_same_rows(net, junction_test::full_rows(net));
  }
}

TEST(JunctionRows, NetworkWithoutJunctionsHasNoRows) {
  Network net = junction_test::make_network({{1, 2}, {3, 4}, {5, 5}});
  junction_test::build_rows(net);
  EXPECT_EQ(net.n_junctions, 0);
  EXPECT_EQ(net.n_entries, 0);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) EXPECT_EQ(net.branch_first_entry[b], 0);
}

TEST(JunctionRows, RandomNetworksMatchTheFullRows) {
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 2000; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Network net = junction_test::make_network(junction_test::random_rows(rng));
    junction_test::build_rows(net);
    expect_same_rows(net, junction_test::full_rows(net));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace tessaro
