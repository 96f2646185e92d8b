#include "report/results.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "textio/math.h"

namespace tessaro {
namespace {

struct ResultsBranch {
  std::string name;
  std::int32_t first;
  std::int32_t second;
  std::int32_t condition;
  double resistance;
};

// A converged network as the results see it: branches, node heads and elevations, and the
// junction rows built from the branch ends (junctions in ascending node order, each row in file
// order). The entries' head differences are set afterwards with set_entry.
Network results_network(double density, double gravity, const std::vector<ResultsBranch>& branches,
                        const std::vector<double>& heads, const std::vector<double>& elevations) {
  Network net;
  net.density = density;
  net.gravity = gravity;
  net.n_branches = static_cast<std::int32_t>(branches.size());
  net.n_nodes = static_cast<std::int32_t>(heads.size());
  for (Table<std::int32_t>* table :
       {&net.branch_number, &net.first_node, &net.second_node, &net.branch_condition,
        &net.branch_first_entry, &net.branch_second_entry}) {
    table->create(net.n_branches);
  }
  net.branch_name.create(net.n_branches);
  net.resistance.create(net.n_branches);
  net.branch_head_diff.create(net.n_branches);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const ResultsBranch& given = branches[static_cast<std::size_t>(b - 1)];
    net.branch_number[b] = b;
    net.branch_name[b].fill(' ');
    std::copy(given.name.begin(), given.name.end(), net.branch_name[b].begin());
    net.first_node[b] = given.first;
    net.second_node[b] = given.second;
    net.branch_condition[b] = given.condition;
    net.resistance[b] = given.resistance;
    // A value left by the solver that the results must replace.
    net.branch_head_diff[b] = 1234.0;
  }

  net.node_head.create(net.n_nodes);
  net.elevation.create(net.n_nodes);
  net.node_source.create(net.n_nodes);
  net.node_junction.create(net.n_nodes);
  std::vector<std::int32_t> degree(heads.size() + 1, 0);
  for (const ResultsBranch& given : branches) {
    degree[static_cast<std::size_t>(given.first)] += 1;
    if (given.second != given.first) degree[static_cast<std::size_t>(given.second)] += 1;
  }
  std::vector<std::int32_t> junction_nodes;
  for (std::int32_t n = 1; n <= net.n_nodes; ++n) {
    net.node_head[n] = heads[static_cast<std::size_t>(n - 1)];
    net.elevation[n] = elevations[static_cast<std::size_t>(n - 1)];
    if (degree[static_cast<std::size_t>(n)] >= 2) {
      junction_nodes.push_back(n);
      net.node_junction[n] = static_cast<std::int32_t>(junction_nodes.size());
    }
  }

  net.n_junctions = static_cast<std::int32_t>(junction_nodes.size());
  net.junction_node.create(net.n_junctions);
  net.junction_row_start.create(net.n_junctions + 1);
  std::vector<std::int32_t> entry_branch;
  std::vector<std::int32_t> entry_far_end;
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    const std::int32_t node = junction_nodes[static_cast<std::size_t>(j - 1)];
    net.junction_node[j] = node;
    net.junction_row_start[j] = static_cast<std::int32_t>(entry_branch.size()) + 1;
    for (std::int32_t b = 1; b <= net.n_branches; ++b) {
      if (net.first_node[b] != node && net.second_node[b] != node) continue;
      entry_branch.push_back(b);
      const std::int32_t far = net.first_node[b] == node ? net.second_node[b] : net.first_node[b];
      entry_far_end.push_back(far == node ? 0 : net.node_junction[far]);
      const std::int32_t e = static_cast<std::int32_t>(entry_branch.size());
      (net.branch_first_entry[b] == 0 ? net.branch_first_entry[b] : net.branch_second_entry[b]) = e;
    }
  }
  net.n_entries = static_cast<std::int32_t>(entry_branch.size());
  net.junction_row_start[net.n_junctions + 1] = net.n_entries + 1;
  net.junction_branch.create(net.n_entries);
  net.junction_far_end.create(net.n_entries);
  net.junction_head_diff.create(net.n_entries);
  for (std::int32_t e = 1; e <= net.n_entries; ++e) {
    net.junction_branch[e] = entry_branch[static_cast<std::size_t>(e - 1)];
    net.junction_far_end[e] = entry_far_end[static_cast<std::size_t>(e - 1)];
  }
  return net;
}

// Sets the head difference of branch b's entry in the row of the junction at node.
void set_entry(Network& net, std::int32_t b, std::int32_t node, double head_diff) {
  const std::int32_t j = net.node_junction[node];
  for (std::int32_t e = net.junction_row_start[j]; e < net.junction_row_start[j + 1]; ++e) {
    if (net.junction_branch[e] == b) net.junction_head_diff[e] = head_diff;
  }
}

// Lines shown between bars, as in a listing that makes trailing blanks visible, joined into the
// bytes of a file with CR LF line ends.
std::string file_of(const std::vector<std::string>& barred_lines) {
  std::string bytes;
  for (const std::string& line : barred_lines) {
    EXPECT_TRUE(line.size() >= 2 && line.front() == '|' && line.back() == '|') << line;
    bytes += line.substr(1, line.size() - 2);
    bytes += "\r\n";
  }
  return bytes;
}

class ResultsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/results_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    enable_fp_traps();
  }
  void TearDown() override {
    disable_fp_traps();
    std::filesystem::remove_all(folder_);
  }

  // Writes the results of the network to a file in the test's folder, which may hold an older,
  // longer results file, and returns the bytes the file holds afterwards.
  std::string write_and_read(Network& net, const std::string& old_contents = {}) {
    const std::string path = folder_ + "/Tessaro-res.txt";
    if (!old_contents.empty()) std::ofstream(path, std::ios::binary) << old_contents;
    OutputFile unit(path);
    unit.open();
    write_results(net, unit);
    unit.close();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string folder_;
};

// Two pipes and a valve meeting at the junctions 2 and 3, fed from the pressure terminal 1. The
// entries that must not count (branches between junctions, seen from their second node) hold
// values that would show in the file.
TEST_F(ResultsFile, PipesAndValveExample) {
  Network net = results_network(
      1000.0, 9.81, {{"PIPE1", 1, 2, 1, 2.5}, {"PIPE2", 3, 2, 0, 0.8}, {"VALVE", 2, 3, 0, 0.0}},
      {25.5, 7.0, 8.0}, {0.0, 21.625, 21.5});
  set_entry(net, 1, 2, 4.0);
  set_entry(net, 2, 2, 0.07);
  set_entry(net, 2, 3, 0.05);
  set_entry(net, 3, 2, 0.0);
  set_entry(net, 3, 3, 0.3);

  const std::string expected = file_of({
      "| Branch No.  Branch Name    Flowrate  Pressure Difference|",
      "|    1          PIPE1        .126E+01      .392E+05     Flow direction from node      "
      "         1|",
      "|    2          PIPE2        .250E+00      .491E+03     Flow direction towards node   "
      "         3|",
      "|    3          VALVE        .000E+00      .000E+00     No flow                       "
      "     |",
      "| |",
      "|  Node     Pressure|",
      "|    1      .250E+06|",
      "|    2     -.123E+04|",
      "|    3      .000E+00|",
  });
  EXPECT_EQ(write_and_read(net, std::string(5000, 'x')), expected);
  EXPECT_EQ(net.branch_head_diff[1], 4.0);
  EXPECT_EQ(net.branch_head_diff[2], -0.05);
  EXPECT_EQ(net.branch_head_diff[3], 0.0);
}

// One junction, node 1, with a branch to a terminal on each side, a loop, a branch without
// resistance, and a branch between two terminals of a part of the network the walk reaches last.
// With density 2 and gravity 0.5 a pressure equals its head.
TEST_F(ResultsFile, BranchRowsAndNodePressures) {
  Network net = results_network(2.0, 0.5,
                                {{"A1", 1, 2, 0, 4.0},
                                 {"FEED", 3, 1, 1, 1.0},
                                 {"LOOP", 1, 1, 0, 1.0},
                                 {"APART", 4, 5, 0, 1.0},
                                 {"SHUT", 6, 1, 0, 0.0}},
                                {0.0, 0.0, 10.0, 0.0, 7.0, 0.0}, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0});
  set_entry(net, 1, 1, 9.0);
  set_entry(net, 2, 1, 0.0);
  set_entry(net, 3, 1, -16.0);
  set_entry(net, 5, 1, -2.5);

  const std::string expected = file_of({
      "| Branch No.  Branch Name    Flowrate  Pressure Difference|",
      "|    1          A1           .150E+01      .900E+01     Flow direction towards node   "
      "         1|",
      "|    2          FEED         .000E+00      .000E+00     Flow direction towards node   "
      "         3|",
      "|    3          LOOP         .400E+01      .160E+02     Flow direction from node      "
      "         1|",
      "|    4          APART        .000E+00      .000E+00     Flow direction towards node   "
      "         4|",
      "|    5          SHUT         .000E+00      .250E+01     No flow                       "
      "     |",
      "| |",
      "|  Node     Pressure|",
      "|    1     -.700E+01|",
      "|    2      .170E+02|",
      "|    3      .700E+01|",
      "|    4      .300E+01|",
      "|    5      .200E+01|",
      "|    6     -.145E+02|",
  });
  EXPECT_EQ(write_and_read(net), expected);
}

}  // namespace
}  // namespace tessaro
