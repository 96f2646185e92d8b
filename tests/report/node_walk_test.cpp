#include "report/node_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tessaro {
namespace {

struct TestBranch {
  std::int32_t first;
  std::int32_t second;
  std::int32_t condition;
  double head_diff;
};

// A network holding what the walk reads: branch ends, conditions and head differences, the node
// heads, and which nodes are junctions (two or more branches, a loop counting once).
Network make_network(std::int32_t n_nodes, const std::vector<TestBranch>& branches,
                     const std::vector<double>& heads) {
  Network net;
  net.n_nodes = n_nodes;
  net.n_branches = static_cast<std::int32_t>(branches.size());
  net.first_node.create(net.n_branches);
  net.second_node.create(net.n_branches);
  net.branch_condition.create(net.n_branches);
  net.branch_head_diff.create(net.n_branches);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const TestBranch& given = branches[static_cast<std::size_t>(b - 1)];
    net.first_node[b] = given.first;
    net.second_node[b] = given.second;
    net.branch_condition[b] = given.condition;
    net.branch_head_diff[b] = given.head_diff;
  }
  net.node_head.create(n_nodes);
  net.node_source.create(n_nodes);
  net.node_junction.create(n_nodes);
  std::vector<std::int32_t> degree(static_cast<std::size_t>(n_nodes) + 1, 0);
  for (const TestBranch& given : branches) {
    degree[static_cast<std::size_t>(given.first)] += 1;
    if (given.second != given.first) degree[static_cast<std::size_t>(given.second)] += 1;
  }
  std::vector<std::int32_t> junctions;
  for (std::int32_t n = 1; n <= n_nodes; ++n) {
    net.node_head[n] = heads[static_cast<std::size_t>(n - 1)];
    if (degree[static_cast<std::size_t>(n)] >= 2) {
      junctions.push_back(n);
      net.node_junction[n] = static_cast<std::int32_t>(junctions.size());
    }
  }
  net.n_junctions = static_cast<std::int32_t>(junctions.size());
  net.junction_node.create(net.n_junctions);
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    net.junction_node[j] = junctions[static_cast<std::size_t>(j - 1)];
  }
  return net;
}

bool is_junction_by_list(const Network& net, std::int32_t n) {
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    if (net.junction_node[j] == n) return true;
  }
  return false;
}

// The walk step by step, as plainly as it can be written, with full scans of nodes and branches
// at every step. Only networks whose nodes all have a branch are given to it. Start without a
// terminal node: the highest-numbered node.
void literal_walk(Network& net) {
  std::int32_t walk_steps = 0;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) net.node_source[n] = 0;

  std::int32_t walk_node = net.n_nodes;
  bool found = false;
  for (std::int32_t n = 1; n <= net.n_nodes && !found; ++n) {
    if (is_junction_by_list(net, n)) continue;
    walk_node = n;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) {
      const bool at_n = net.first_node[b] == n || net.second_node[b] == n;
      if (at_n && net.branch_condition[b] == 1) {
        walk_steps = 1;
        found = true;
        break;
      }
    }
  }

  for (std::int32_t guard = 0;; ++guard) {
    ASSERT_LE(guard, net.n_nodes) << "walk does not end";
    if (walk_steps == 0) net.node_head[walk_node] = 0.0;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) {
      if (net.first_node[b] == walk_node) {
        net.node_head[net.second_node[b]] = net.node_head[walk_node] - net.branch_head_diff[b];
        net.node_source[walk_node] = walk_node;
      } else if (net.second_node[b] == walk_node) {
        net.node_head[net.first_node[b]] = net.branch_head_diff[b] + net.node_head[walk_node];
        net.node_source[walk_node] = walk_node;
      }
    }

    bool chosen = false;
    for (std::int32_t n = 1; n <= net.n_nodes && !chosen; ++n) {
      if (net.node_source[n] != 0) continue;
      walk_node = n;
      for (std::int32_t b = 1; b <= net.n_branches; ++b) {
        if (net.first_node[b] == n) {
          if (net.node_source[net.second_node[b]] != 0) chosen = true;
        } else if (net.second_node[b] == n) {
          if (net.node_source[net.first_node[b]] != 0) chosen = true;
        }
      }
    }

    walk_steps += 1;
    std::int32_t unexpanded_count = 0;
    for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
      if (net.node_source[n] == 0) unexpanded_count += 1;
    }
    if (unexpanded_count == 0) return;
  }
}

void expect_same_walk(const Network& expected, const Network& actual) {
  for (std::int32_t n = 1; n <= expected.n_nodes; ++n) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(expected.node_head[n]),
              std::bit_cast<std::uint64_t>(actual.node_head[n]))
        << "node " << n << ": " << expected.node_head[n] << " vs " << actual.node_head[n];
    EXPECT_EQ(actual.node_source[n], n);
  }
}

// Hand-worked walks, with integer heads so that every value is exact.
struct WalkCase {
  std::string name;
  std::int32_t n_nodes;
  std::vector<TestBranch> branches;
  std::vector<double> heads;
  std::vector<double> expected;
};

TEST(NodeWalk, HandWorkedNetworks) {
  const std::vector<WalkCase> cases = {
      // Start at terminal 5; after 5 and 3, node 1 is chosen through its second branch although
      // its first leads to an unexpanded node. Then 2, then 4; node 3 ends with the head of the
      // last expansion to reach it.
      {"any branch to an expanded node",
       5,
       {{1, 2, 0, 1.0}, {1, 3, 0, 2.0}, {3, 4, 0, 4.0}, {5, 3, 1, 8.0}, {2, 4, 0, 16.0}},
       {0.0, 0.0, 0.0, 0.0, 100.0},
       {94.0, 93.0, 81.0, 77.0, 100.0}},
      // No pressure terminal: the highest-numbered terminal node starts at head 0.
      {"no pressure terminal",
       4,
       {{1, 2, 0, 3.0}, {2, 3, 2, 5.0}, {2, 4, 0, 7.0}},
       {11.0, 12.0, 13.0, 14.0},
       {10.0, 7.0, 2.0, 0.0}},
      // Every node a junction: the highest-numbered node starts at head 0.
      {"all junctions",
       3,
       {{1, 2, 1, 1.0}, {2, 3, 0, 2.0}, {3, 1, 0, 4.0}},
       {50.0, 60.0, 70.0},
       {-4.0, -5.0, -7.0}},
      // The lowest-numbered terminal with a pressure branch starts, keeping its head, even when
      // a higher-numbered one also has one.
      {"lowest pressure terminal starts",
       3,
       {{3, 2, 1, 2.0}, {1, 2, 1, 5.0}},
       {40.0, 0.0, 30.0},
       {40.0, 35.0, 37.0}},
      // The second part is not reached: it continues from its highest-numbered node with the
      // head that node already holds.
      {"two parts",
       6,
       {{1, 2, 1, 1.0}, {2, 3, 0, 2.0}, {4, 5, 0, 3.0}, {5, 6, 0, 4.0}},
       {10.0, 20.0, 30.0, 40.0, 50.0, 60.0},
       {10.0, 9.0, 7.0, 67.0, 64.0, 60.0}},
      // A loop at node 2 lowers node 2's own head, and the branch after it carries the new head.
      {"loop branch",
       3,
       {{1, 2, 1, 1.0}, {2, 2, 0, 5.0}, {2, 3, 0, 2.0}},
       {20.0, 0.0, 0.0},
       {20.0, 14.0, 12.0}},
      // Two parallel branches: the later one in file order decides the far node's head.
      {"parallel branches",
       3,
       {{1, 2, 1, 1.0}, {2, 3, 0, 2.0}, {2, 3, 0, 6.0}},
       {30.0, 0.0, 0.0},
       {30.0, 29.0, 23.0}},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    Network net = make_network(c.n_nodes, c.branches, c.heads);
    walk_node_heads(net);
    for (std::int32_t n = 1; n <= c.n_nodes; ++n) {
      EXPECT_EQ(net.node_head[n], c.expected[static_cast<std::size_t>(n - 1)]) << "node " << n;
      EXPECT_EQ(net.node_source[n], n);
    }
  }
}

enum class Shape { tree, mesh, forest, ring, dense };

// A random network of the shape; every node is named by a branch. Node numbers are shuffled so
// that the walk's order by number is not the order of construction.
std::vector<TestBranch> random_branches(std::mt19937& rng, Shape shape, std::int32_t n_nodes,
                                        double pressure_share) {
  auto pick = [&rng](std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(rng);
  };
  std::vector<std::int32_t> number(static_cast<std::size_t>(n_nodes));
  for (std::int32_t k = 0; k < n_nodes; ++k) number[static_cast<std::size_t>(k)] = k + 1;
  std::shuffle(number.begin(), number.end(), rng);
  auto node = [&number](std::int32_t k) { return number[static_cast<std::size_t>(k)]; };

  std::vector<std::pair<std::int32_t, std::int32_t>> ends;
  // A forest has several parts: node k belongs to part k modulo parts, and the first node of
  // each part is its root.
  const std::int32_t parts = shape == Shape::forest ? pick(2, 4) : 1;
  for (std::int32_t k = 1; k < n_nodes; ++k) {
    if (shape == Shape::ring || shape == Shape::dense) {
      ends.emplace_back(node(k - 1), node(k));
    } else if (k >= parts) {
      ends.emplace_back(node(k - parts * pick(1, k / parts)), node(k));
    }
  }
  if (shape == Shape::ring && n_nodes > 1) ends.emplace_back(node(n_nodes - 1), node(0));
  const std::int32_t extra = shape == Shape::mesh    ? pick(1, n_nodes)
                             : shape == Shape::dense ? 2 * n_nodes
                                                     : pick(0, 1);
  for (std::int32_t e = 0; e < extra; ++e) {
    const std::int32_t a = pick(0, n_nodes - 1);
    // Loops and repeated pairs come up on purpose.
    const std::int32_t b = pick(0, 4) == 0 ? a : pick(0, n_nodes - 1);
    if (shape == Shape::forest && a % parts != b % parts) continue;
    ends.emplace_back(node(a), node(b));
  }
  std::vector<bool> named(static_cast<std::size_t>(n_nodes) + 1, false);
  for (const auto& [a, b] : ends)
    named[static_cast<std::size_t>(a)] = named[static_cast<std::size_t>(b)] = true;
  for (std::int32_t n = 1; n <= n_nodes; ++n) {
    if (!named[static_cast<std::size_t>(n)]) ends.emplace_back(n, n);
  }
  std::shuffle(ends.begin(), ends.end(), rng);

  std::vector<TestBranch> branches;
  std::uniform_real_distribution<double> share(0.0, 1.0);
  std::uniform_real_distribution<double> diff(-50.0, 50.0);
  for (auto [a, b] : ends) {
    if (pick(0, 1) == 0) std::swap(a, b);
    const double roll = share(rng);
    const std::int32_t condition = roll < pressure_share ? 1 : roll < 0.6 ? 2 : 0;
    branches.push_back({a, b, condition, diff(rng)});
  }
  return branches;
}

TEST(NodeWalk, MatchesStepByStepWalkOnRandomNetworks) {
  const std::vector<std::pair<std::string, Shape>> shapes = {{"tree", Shape::tree},
                                                             {"mesh", Shape::mesh},
                                                             {"forest", Shape::forest},
                                                             {"ring", Shape::ring},
                                                             {"dense", Shape::dense}};
  std::int32_t without_pressure_terminal = 0;
  for (const auto& [name, shape] : shapes) {
    for (std::uint32_t seed = 1; seed <= 800; ++seed) {
      SCOPED_TRACE(name + " seed " + std::to_string(seed));
      std::mt19937 rng(seed);
      const std::int32_t n_nodes = std::uniform_int_distribution<std::int32_t>(1, 14)(rng);
      const double pressure_share = seed % 3 == 0 ? 0.0 : 0.15;
      const std::vector<TestBranch> branches = random_branches(rng, shape, n_nodes, pressure_share);
      std::vector<double> heads(static_cast<std::size_t>(n_nodes));
      std::uniform_real_distribution<double> head(-100.0, 100.0);
      for (double& h : heads) h = head(rng);

      Network expected = make_network(n_nodes, branches, heads);
      Network actual = make_network(n_nodes, branches, heads);
      literal_walk(expected);
      walk_node_heads(actual);
      expect_same_walk(expected, actual);
      if (::testing::Test::HasFailure()) return;
      without_pressure_terminal +=
          std::none_of(branches.begin(), branches.end(),
                       [](const TestBranch& given) { return given.condition == 1; });
    }
  }
  // The generated networks include walks that start without a pressure terminal.
  EXPECT_GT(without_pressure_terminal, 0);
}

// A long chain walked from its highest-numbered end: a walk that rescanned all nodes and branches
// at every step would take hours here.
TEST(NodeWalk, LongChain) {
  const std::int32_t n_nodes = 200000;
  std::vector<TestBranch> branches;
  branches.push_back({n_nodes, n_nodes - 1, 1, 1.0});
  for (std::int32_t n = n_nodes - 1; n >= 2; --n) branches.push_back({n, n - 1, 0, 1.0});
  std::vector<double> heads(static_cast<std::size_t>(n_nodes), 0.0);
  heads.back() = 1.0e6;
  Network net = make_network(n_nodes, branches, heads);
  walk_node_heads(net);
  for (std::int32_t n = 1; n <= n_nodes; ++n) {
    ASSERT_EQ(net.node_head[n], 1.0e6 - (n_nodes - n)) << "node " << n;
  }
}

}  // namespace
}  // namespace tessaro
