// The options of the program, run end to end: the command line, the full-precision tables and
// the reports on standard error. Every option adds to a run; none changes its files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "../../bench/mesh_network.h"
#include "program_run.h"

namespace tessaro::e2e {
namespace {

const std::string program = fs::absolute(TESSARO_PROGRAM).string();
const fs::path examples = TESSARO_EXAMPLES;

// Whether an E10.3 field such as " -.123E+04" or "  .100-100" is the rounding of `value`: value
// lies in the interval of half a unit of the third digit around the printed number.
bool rounds_to(double value, const std::string& field) {
  const std::string text = field.substr(field.find_first_not_of(' '));
  const bool negative = text[0] == '-';
  const std::size_t point = text.find('.');
  const double mantissa = std::strtod(text.substr(point, 4).c_str(), nullptr);
  std::string exponent = text.substr(point + 4);
  if (exponent[0] == 'E') exponent.erase(0, 1);
  const int power = std::atoi(exponent.c_str());
  const double unit = std::pow(10.0, power - 3);
  const double low = (mantissa * 1000.0 - 0.5) * unit;
  const double high = (mantissa * 1000.0 + 0.5) * unit;
  if (mantissa == 0.0) return value == 0.0 || std::fabs(value) < 0.5e-3 * std::pow(10.0, power);
  const double magnitude = negative ? -value : value;
  return magnitude >= low * (1 - 1e-15) && magnitude <= high * (1 + 1e-15);
}

// The branch data of a network file as the generators here write it: one record a line,
// blank-separated, names without blanks.
struct BranchData {
  double diameter = 0.0;
  double length = 0.0;
};
std::vector<BranchData> branch_data(const std::string& network) {
  std::vector<BranchData> branches;
  const std::vector<std::string> lines = lines_of(network);
  std::size_t k = 7;
  while (k < lines.size() && std::strtod(lines[k].c_str(), nullptr) == 0.0) ++k;
  for (; k < lines.size(); ++k) {
    std::istringstream in(lines[k]);
    std::string key, number, name, first, first_value, second, second_value, diameter, length;
    in >> key >> number >> name >> first >> first_value >> second >> second_value >> diameter >>
        length;
    if (std::strtod(key.c_str(), nullptr) == 0.0) break;
    branches.push_back(
        {std::strtod(diameter.c_str(), nullptr), std::strtod(length.c_str(), nullptr)});
  }
  return branches;
}

std::string mesh_network(std::int32_t rows, std::int32_t columns, const std::string& tolerance,
                         std::int32_t max_iterations) {
  bench::MeshShape shape;
  shape.rows = rows;
  shape.columns = columns;
  shape.drains = rows * columns / bench::drain_spacing;
  bench::MeshRun run;
  run.tolerance = tolerance;
  run.max_iterations = max_iterations;
  std::ostringstream out;
  bench::write_mesh_network(out, shape, run);
  return out.str();
}

std::string example_network() {
  return read_file(examples / "Tessaro-net.txt");
}

TEST(CommandLine, AnswersAndUsageErrorsTouchNoFile) {
  struct Row {
    std::vector<std::string> args;
    int exit_status;
    std::string in_stdout;
    std::string in_stderr;
  };
  const Row rows[] = {
      {{"--help"}, 0, "Usage: tessaro", ""},
      {{"-h"}, 0, "--csv", ""},
      {{"--version"}, 0, "tessaro 1.", ""},
      {{"--bogus"}, 2, "", "--bogus"},
      {{"--csv=1"}, 2, "", "csv"},
      {{"--summary", "extra"}, 2, "", "extra"},
      {{"--progress", "--csv", "--nope"}, 2, "", "--nope"},
  };
  for (const Row& row : rows) {
    const std::string what = row.args.front() + (row.args.size() > 1 ? " ..." : "");
    ScratchFolder folder("usage");
    // No network file, an earlier log: neither is created nor changed.
    write_file(folder.path() / "Log file.txt", " Calculation processed successfully\r\n");
    const FolderFiles before = folder_files(folder.path());
    const Outcome outcome = run_in(folder.path(), program, row.args);
    EXPECT_EQ(outcome.exit_status, row.exit_status) << what;
    EXPECT_NE(outcome.stdout_bytes.find(row.in_stdout), std::string::npos) << what;
    EXPECT_EQ(folder_files(folder.path()), before) << what;
    if (row.exit_status == 2) {
      EXPECT_TRUE(outcome.stdout_bytes.empty()) << what;
      EXPECT_NE(outcome.stderr_bytes.find(row.in_stderr), std::string::npos) << what;
      EXPECT_NE(outcome.stderr_bytes.find("--help"), std::string::npos) << what;
      EXPECT_EQ(outcome.stderr_bytes.find('\n'), outcome.stderr_bytes.size() - 1) << what;
    } else {
      EXPECT_TRUE(outcome.stderr_bytes.empty()) << what;
    }
  }
}

// Runs the network with and without --csv: the options leave the usual files as they were, and
// every table row agrees with its results row and with the flow law.
void check_tables(const std::string& name, const std::string& network, double tolerance) {
  SCOPED_TRACE(name);
  ScratchFolder plain(name + "-plain");
  ScratchFolder with_tables(name + "-csv");
  write_file(plain.path() / "Tessaro-net.txt", network);
  write_file(with_tables.path() / "Tessaro-net.txt", network);
  const Outcome plain_run = run_in(plain.path(), program, {});
  const Outcome table_run = run_in(with_tables.path(), program, {"--csv"});
  ASSERT_EQ(plain_run.exit_status, 0);
  ASSERT_EQ(table_run.exit_status, 0);
  ASSERT_EQ(read_file(plain.path() / "Log file.txt"), " Calculation processed successfully\r\n");
  EXPECT_EQ(table_run.stdout_bytes, plain_run.stdout_bytes);
  EXPECT_EQ(table_run.stderr_bytes, plain_run.stderr_bytes);
  FolderFiles files = folder_files(with_tables.path());
  const CsvTable branches = read_csv_table(with_tables.path() / "Tessaro-branches.csv");
  const CsvTable nodes = read_csv_table(with_tables.path() / "Tessaro-nodes.csv");
  files.erase("Tessaro-branches.csv");
  files.erase("Tessaro-nodes.csv");
  EXPECT_EQ(files, folder_files(plain.path()));

  EXPECT_EQ(lines_of(read_file(with_tables.path() / "Tessaro-branches.csv"))[0],
            "branch,name,first_node,second_node,flowrate,head_difference,pressure_difference,"
            "velocity,reynolds,friction_factor,regime");
  EXPECT_EQ(lines_of(read_file(with_tables.path() / "Tessaro-nodes.csv"))[0],
            "node,kind,elevation,head,pressure,inflow");

  const std::vector<std::string> results = lines_of(files["Tessaro-res.txt"]);
  const std::vector<BranchData> data = branch_data(network);
  ASSERT_EQ(branches.rows.size(), data.size());
  ASSERT_EQ(results.size(), branches.rows.size() + nodes.rows.size() + 3);
  const double density = 1000.0, gravity = 9.81, pi = 4.0 * std::atan(1.0);

  std::vector<double> net_inflow(nodes.rows.size() + 1, 0.0);
  double largest_flow = 0.0;
  for (std::size_t b = 0; b < branches.rows.size(); ++b) {
    const std::string& row = results[b + 1];
    const double flow = branches.number(b, "flowrate");
    const double head_diff = branches.number(b, "head_difference");
    const std::string regime = branches.rows[b][10];
    EXPECT_TRUE(rounds_to(std::fabs(flow), row.substr(26, 10))) << row << " / " << flow;
    EXPECT_TRUE(rounds_to(std::fabs(branches.number(b, "pressure_difference")), row.substr(40, 10)))
        << row;
    const bool no_flow = row.substr(55, 7) == "No flow";
    if (!no_flow) {
      EXPECT_EQ(row.substr(55, 24) == "Flow direction from node", head_diff > 0.0) << row;
    }
    EXPECT_EQ(regime == "none", no_flow || flow == 0.0) << row;

    // The head difference is the flow through the Darcy-Weisbach resistance.
    const double d = data[b].diameter;
    const double k = 8.0 * branches.number(b, "friction_factor") * data[b].length /
                     (std::pow(d, 5) * pi * pi * gravity);
    if (!no_flow) {
      EXPECT_NEAR(head_diff, k * flow * std::fabs(flow), 1e-11 * std::fabs(head_diff));
    }
    EXPECT_NEAR(branches.number(b, "pressure_difference"), head_diff * density * gravity,
                1e-12 * std::fabs(head_diff * density * gravity));
    EXPECT_NEAR(branches.number(b, "velocity") * pi * d * d / 4.0, flow,
                1e-14 + 1e-12 * std::fabs(flow));
    const auto first = static_cast<std::size_t>(branches.number(b, "first_node"));
    const auto second = static_cast<std::size_t>(branches.number(b, "second_node"));
    net_inflow[first] -= flow;
    net_inflow[second] += flow;
    largest_flow = std::max(largest_flow, std::fabs(flow));
  }
  for (std::size_t n = 0; n < nodes.rows.size(); ++n) {
    const std::string& row = results[branches.rows.size() + 3 + n];
    const double pressure = nodes.number(n, "pressure");
    EXPECT_TRUE(rounds_to(pressure, row.substr(9, 10))) << row << " / " << pressure;
    EXPECT_NEAR(pressure,
                (nodes.number(n, "head") - nodes.number(n, "elevation")) * density * gravity,
                1e-9 * std::fabs(pressure) + 1e-9);
    // What a node's branches carry away from it is what enters from outside; at a junction the
    // flows balance to within the tolerance of the balance.
    const double inflow = nodes.number(n, "inflow");
    const std::string kind = nodes.rows[n][1];
    if (kind == "junction") {
      EXPECT_EQ(inflow, 0.0);
      EXPECT_LE(std::fabs(net_inflow[n + 1]), tolerance * 1.001 + 1e-12 * largest_flow);
    } else if (kind == "flowrate") {
      // The given flowrate; the classic run carries it through a resistance updated after its
      // head difference was fixed, so the branch's flow is close to it, not equal.
      EXPECT_NEAR(inflow, -net_inflow[n + 1], 1e-3 * std::fabs(inflow));
    } else {
      EXPECT_NEAR(inflow, -net_inflow[n + 1], 1e-12 * largest_flow) << kind;
    }
  }
}

TEST(Tables, AgreeWithTheResultsFileAndTheFlowLaw) {
  check_tables("example", example_network(), 1e-4);
  check_tables("mesh-3x3", mesh_network(3, 3, "1E-6", 100000000), 1e-6);
  check_tables("mesh-4x4", mesh_network(4, 4, "1E-7", 100000000), 1e-7);
  check_tables("mesh-2x9", mesh_network(2, 9, "1E-6", 100000000), 1e-6);
}

TEST(Tables, NamesAreTrimmedAndQuotedWhereNeeded) {
  std::string network = example_network();
  network.replace(network.find("'MAIN'"), 6, "'A,B'");
  network.replace(network.find("'OUTLET'"), 8, "'say \"hi\"'");
  network.replace(network.find("'FEED'"), 6, "'FEED  '");
  ScratchFolder folder("names");
  write_file(folder.path() / "Tessaro-net.txt", network);
  ASSERT_EQ(run_in(folder.path(), program, {"--csv"}).exit_status, 0);
  const std::vector<std::string> rows = lines_of(read_file(folder.path() / "Tessaro-branches.csv"));
  EXPECT_EQ(rows[1].substr(0, 8), "1,\"A,B\",");
  EXPECT_EQ(rows[2].substr(0, 15), "2,\"say \"\"hi\"\"\",");
  EXPECT_EQ(rows[3].substr(0, 7), "3,FEED,");
  EXPECT_EQ(csv_fields(rows[2])[1], "say \"hi\"");
}

TEST(Tables, AStoppedRunLeavesEarlierTablesAsTheyWere) {
  ScratchFolder folder("stopped");
  write_file(folder.path() / "Tessaro-net.txt", mesh_network(3, 3, "1E-9", 10));
  write_file(folder.path() / "Tessaro-branches.csv", "earlier\r\n");
  write_file(folder.path() / "Tessaro-nodes.csv", "earlier too\r\n");
  const Outcome outcome = run_in(folder.path(), program, {"--csv"});
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.stdout_bytes, "Stop - Program terminated.\r\n");
  EXPECT_EQ(read_file(folder.path() / "Tessaro-branches.csv"), "earlier\r\n");
  EXPECT_EQ(read_file(folder.path() / "Tessaro-nodes.csv"), "earlier too\r\n");
  EXPECT_FALSE(fs::exists(folder.path() / "Tessaro-res.txt"));
}

// A run of about six million sweeps (seconds on any machine, so that the status line is rewritten
// at least once) that ends at its iteration limit: the status line is shown in place on a
// terminal, the summary follows the run, and the files are those of a plain run.
TEST(Monitor, ProgressAndSummaryOnALongRunChangeNoFile) {
  const std::string network = mesh_network(5, 5, "1E-6", 6000000);
  ScratchFolder plain("long-plain");
  ScratchFolder followed("long-followed");
  write_file(plain.path() / "Tessaro-net.txt", network);
  write_file(followed.path() / "Tessaro-net.txt", network);
  const Outcome plain_run = run_in(plain.path(), program, {});
  const Outcome followed_run =
      run_on_terminal(followed.path(), program, {"--progress", "--summary"});
  EXPECT_EQ(followed_run.exit_status, plain_run.exit_status);
  EXPECT_EQ(followed_run.stdout_bytes, plain_run.stdout_bytes);
  EXPECT_EQ(folder_files(followed.path()), folder_files(plain.path()));

  const std::string& shown = followed_run.stderr_bytes;
  std::size_t elapsed_lines = 0;
  for (std::size_t at = shown.find("\relapsed "); at != std::string::npos;
       at = shown.find("\relapsed ", at + 1)) {
    ++elapsed_lines;
  }
  EXPECT_GE(elapsed_lines, 2u) << shown;
  EXPECT_NE(shown.find(", balancing run 1, sweep "), std::string::npos) << shown;
  EXPECT_NE(shown.find("sweeps ("), std::string::npos) << shown;
  EXPECT_NE(shown.find("Run summary (classic solver)"), std::string::npos) << shown;
  EXPECT_NE(shown.find("network: 44 branches, 29 nodes, 25 junctions, 84 junction entries"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("run 1: stopped after 6,000,001 corrected sweeps"), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("outcome: stopped, no results written: Maximum iterations exceeded"),
            std::string::npos)
      << shown;
}

TEST(Monitor, SummaryOfASolvedRun) {
  ScratchFolder plain("summary-plain");
  ScratchFolder followed("summary");
  write_file(plain.path() / "Tessaro-net.txt", example_network());
  write_file(followed.path() / "Tessaro-net.txt", example_network());
  run_in(plain.path(), program, {});
  const Outcome outcome = run_in(followed.path(), program, {"--summary", "--progress"});
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_TRUE(outcome.stdout_bytes.empty());
  EXPECT_EQ(folder_files(followed.path()), folder_files(plain.path()));
  const std::vector<std::string> lines = lines_of(outcome.stderr_bytes);
  ASSERT_GE(lines.size(), 8u) << outcome.stderr_bytes;
  EXPECT_EQ(lines[0], "Run summary (classic solver)");
  EXPECT_EQ(lines[1], "  network: 3 branches, 4 nodes, 1 junctions, 3 junction entries");
  EXPECT_EQ(lines[2], "  balancing runs: 9, 30 sweeps in all");
  EXPECT_EQ(lines[3], "    run 1: 14 sweeps, largest imbalance 8.560485e-05");
  EXPECT_NE(outcome.stderr_bytes.find("friction updates: 9,"), std::string::npos);
  EXPECT_NE(outcome.stderr_bytes.find("  outcome: solved, results written\n"), std::string::npos);
  EXPECT_NE(outcome.stderr_bytes.find("  time: reading "), std::string::npos);
}

// A run that ends in the middle of reading reports what it had read and how it ended: a stop by
// its log sentence and number, a failure by its report, never as solved.
TEST(Monitor, SummaryOfARunThatEndsWhileReading) {
  struct Row {
    std::string from, to;  // in the example's text
    std::string solver;
    std::string outcome;
  };
  const std::vector<Row> rows = {
      {"0.08 50.0 1", "0.0 50.0 1", "classic", "run-time error M6103 while reading"},
      {"0.08 50.0 1", "0.0 50.0 1", "global",
       "stopped, no results written: Diameter not above zero in branch 2"},
      {"0.08 50.0 1", "0.08 -50.0 1", "global",
       "stopped, no results written: Negative length in branch 2"},
      {"0.08 50.0 1", "0.08 50.0 7", "classic",
       "stopped, no results written: Check definition of branch nodes conditions"},
      {"0.08 50.0 1", "0.08 5O.0 1", "global", "run-time error F6103 while reading"},
  };
  for (const Row& row : rows) {
    std::string network = example_network();
    network.replace(network.find(row.from), row.from.size(), row.to);
    ScratchFolder folder("summary-early");
    write_file(folder.path() / "Tessaro-net.txt", network);
    const Outcome outcome = run_in(folder.path(), program, {"--summary", "--solver", row.solver});
    const std::string& shown = outcome.stderr_bytes;
    EXPECT_NE(shown.find("  network: 3 branches, "), std::string::npos) << row.to << shown;
    EXPECT_NE(shown.find("  outcome: " + row.outcome + "\n"), std::string::npos) << row.to << shown;
  }
}

}  // namespace
}  // namespace tessaro::e2e
