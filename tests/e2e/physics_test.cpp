// Checks the physics of solved networks. Generated trees and meshes are written as real input
// files, the built program solves them, and the results file it leaves must describe a steady
// flow: the flows balance at every junction, the node pressures agree with the branch pressure
// differences and the elevations, every pressure difference is the Darcy-Weisbach loss of its
// flow, and every terminal keeps its given pressure or flowrate. Each comparison allows what the
// solver's tolerance and the three printed digits allow, and little more.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "generated_network.h"

namespace fs = std::filesystem;

namespace {

const std::string program_path = fs::absolute(TESSARO_PROGRAM).string();

constexpr double pi = 3.14159265358979323846;

// Relative allowance for the rounding of the solver's own arithmetic.
constexpr double rounding = 1.0e-9;

using tessaro::e2e::input_text;
using tessaro::e2e::Net;
using tessaro::e2e::Pipe;

// The damped balance of a mesh may need tens of thousands of sweeps.
constexpr int mesh_iteration_limit = 200000;

// A fluid and the sizes that go with it.
struct Fluid {
  double viscosity;
  double density;
  double tolerance;
  double diameter_min, diameter_max;
  double flow_min, flow_max;  // magnitude of a given terminal flowrate
};

// Water gives turbulent branches, the heavy oil laminar ones, and the light oil branches on both
// sides of Re = 2000, often in one network.
const Fluid water{0.001, 1000.0, 1.0e-6, 0.05, 0.2, 0.002, 0.02};
const Fluid heavy_oil{0.4, 870.0, 1.0e-8, 0.05, 0.2, 1.0e-4, 1.0e-3};
const Fluid light_oil{0.02, 850.0, 1.0e-5, 0.05, 0.2, 5.0e-4, 5.0e-3};

using tessaro::e2e::Draw;

// A network of 2 to 6 junctions (5 for a mesh) joined as a tree, plus, for a mesh, extra
// junction-to-junction pipes (parallel ones included): 3 to about 20 pipes. Every leaf of the
// tree gets a terminal pipe, and so do two different junctions; the first terminal has a given
// pressure, the others a pressure or a flowrate. Node numbers, pipe order and the end from which
// each pipe is written are shuffled.
Net generate(const Fluid& fluid, bool mesh, std::uint64_t seed) {
  Draw draw(seed);
  Net net;
  net.max_iterations = mesh_iteration_limit;
  net.viscosity = fluid.viscosity;
  net.density = fluid.density;
  net.tolerance = fluid.tolerance;

  const int junctions = 2 + draw.below(mesh ? 4 : 5);
  std::vector<std::pair<int, int>> links;  // local node indices; junctions are 0..junctions-1
  for (int j = 1; j < junctions; ++j) links.emplace_back(draw.below(j), j);
  // Terminals go to the leaves of this tree: a junction reached only by parallel pipes from one
  // other junction would be a dead end, whose pipes carry no flow.
  std::vector<int> degree(junctions, 0);
  for (const auto& [a, b] : links) ++degree[a], ++degree[b];
  if (mesh) {
    const int extra = 1 + draw.below(junctions);
    for (int k = 0; k < extra; ++k) {
      const int a = draw.below(junctions);
      links.emplace_back(a, (a + 1 + draw.below(junctions - 1)) % junctions);
    }
  }
  auto sized_pipe = [&](int first, int second) {
    Pipe pipe;
    pipe.first_node = first;
    pipe.second_node = second;
    pipe.diameter = draw.real(fluid.diameter_min, fluid.diameter_max);
    pipe.length = draw.real(20.0, 300.0);
    return pipe;
  };
  for (const auto& [a, b] : links) net.pipes.push_back(sized_pipe(a, b));
  int nodes = junctions;
  for (int j = 0; j < junctions; ++j) {
    int terminals = std::max(0, 2 - degree[j]) + (draw.chance(0.4) ? 1 : 0);
    if (j == 0 || j == junctions - 1) terminals = std::max(terminals, 1);
    for (int t = 0; t < terminals; ++t) {
      Pipe pipe = sized_pipe(nodes++, j);
      if (net.pipes.size() == links.size() || draw.chance(0.6)) {
        pipe.condition = 1;
        pipe.first_value = draw.real(1.0e5, 4.0e5);
        pipe.second_value = -1.0;
      } else {
        pipe.condition = 2;
        const double flow = draw.real(fluid.flow_min, fluid.flow_max);
        pipe.first_value = draw.chance(0.5) ? flow : -flow;
        pipe.second_value = -pipe.first_value;
      }
      net.pipes.push_back(pipe);
    }
  }

  std::vector<int> number(nodes);
  for (int n = 0; n < nodes; ++n) number[n] = n + 1;
  draw.shuffle(number);
  draw.shuffle(net.pipes);
  for (Pipe& pipe : net.pipes) {
    pipe.first_node = number[pipe.first_node];
    pipe.second_node = number[pipe.second_node];
    if (draw.chance(0.5)) {
      // Written from the other end: a pressure stays with the terminal's end, and a flowrate
      // from the first node to the second changes sign.
      std::swap(pipe.first_node, pipe.second_node);
      std::swap(pipe.first_value, pipe.second_value);
    }
  }
  for (int n = 0; n < nodes; ++n) net.elevation.push_back(draw.real(0.0, 20.0));
  return net;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Runs the program in `folder`; true when it ended by itself with exit status 0.
bool run_program(const fs::path& folder) {
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(program_path.c_str(), program_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A printed E10.3 value and half a unit of its last digit: the most the printing can have moved
// the value.
struct Printed {
  double value = 0.0;
  double half_unit = 0.0;
};

Printed printed(const std::string& field) {
  Printed p;
  p.value = std::strtod(field.c_str(), nullptr);
  const std::size_t e = field.find('E');
  if (p.value != 0.0 && e != std::string::npos) {
    p.half_unit = 0.5e-3 * std::pow(10.0, std::stoi(field.substr(e + 1)));
  }
  return p;
}

struct BranchRow {
  Printed flow;
  Printed pressure_difference;
  int direction = 0;  // +1 from the first node to the second, -1 towards it, 0 no flow
  int node = 0;
};

struct Results {
  std::vector<BranchRow> branches;
  std::vector<Printed> pressures;  // by node number - 1
};

bool parse_results(const std::string& text, std::size_t n_branches, std::size_t n_nodes,
                   Results& results) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (lines.size() != n_branches + n_nodes + 3) return false;
  for (std::size_t i = 0; i < n_branches; ++i) {
    const std::string& line = lines[1 + i];
    if (line.size() < 90) return false;
    BranchRow row;
    row.flow = printed(line.substr(26, 10));
    row.pressure_difference = printed(line.substr(40, 10));
    const std::string direction = line.substr(55, 35);
    if (direction.rfind("Flow direction from node", 0) == 0) row.direction = 1;
    if (direction.rfind("Flow direction towards node", 0) == 0) row.direction = -1;
    if (line.size() >= 95) row.node = std::stoi(line.substr(91, 4));
    results.branches.push_back(row);
  }
  for (std::size_t n = 0; n < n_nodes; ++n) {
    const std::string& line = lines[n_branches + 3 + n];
    if (line.size() != 19) return false;
    results.pressures.push_back(printed(line.substr(9, 10)));
  }
  return true;
}

// The kinematic viscosity as the program holds it, in single precision.
double kinematic_viscosity(const Net& net) {
  return static_cast<double>(static_cast<float>(net.viscosity / net.density));
}

// The flow of a Reynolds number of `tolerance`. The solver stops when no Reynolds number moved by
// more than that in its last friction update, which came after its last balance: the resistances
// it prints with may thus differ from the balanced ones by as much, which moves a laminar
// branch's flow by at most half this (a turbulent one's by less).
double flow_of_tolerance(const Net& net, const Pipe& pipe) {
  return net.tolerance * pipe.diameter * kinematic_viscosity(net) * pi / 4.0;
}

// Darcy friction factor: laminar below Re = 2000, Colebrook-White above, solved to full precision.
double darcy_friction(double reynolds, double relative_roughness) {
  if (reynolds == 0.0) return 0.0;
  if (reynolds < 2000.0) return 64.0 / reynolds;
  double f = 0.02;
  for (int k = 0; k < 100; ++k) {
    const double root =
        -2.0 * std::log10(relative_roughness / 3.7 + 2.51 / (reynolds * std::sqrt(f)));
    f = 1.0 / (root * root);
  }
  return f;
}

// Pressure losses that bracket the one of a printed flow. The flow may be off by half its last
// printed digit. The friction factor belongs to a Reynolds number within `tolerance` of the
// flow's (see above) and lies within `tolerance` of the Colebrook-White root (its iteration stops
// when two iterates are that close).
std::pair<double, double> loss_bounds(const Net& net, const Pipe& pipe, const Printed& flow) {
  const double reynolds_per_flow = 4.0 / (pipe.diameter * kinematic_viscosity(net) * pi);
  const double q_low = std::max(0.0, flow.value - flow.half_unit);
  const double q_high = flow.value + flow.half_unit;
  const double re_low = std::max(0.0, q_low * reynolds_per_flow - net.tolerance);
  const double re_high = q_high * reynolds_per_flow + net.tolerance;
  const double relative_roughness = net.roughness / pipe.diameter;
  // The factor falls with the Reynolds number in each regime and jumps up at Re = 2000.
  double f_low = darcy_friction(re_high, relative_roughness);
  double f_high = darcy_friction(re_low, relative_roughness);
  if (re_low < 2000.0 && re_high >= 2000.0) {
    f_low = std::min(f_low, 64.0 / 2000.0);
    f_high = std::max(f_high, darcy_friction(2000.0, relative_roughness));
  }
  const double loss_per_friction = 8.0 * pipe.length /
                                   (pi * pi * net.gravity * std::pow(pipe.diameter, 5.0)) *
                                   net.density * net.gravity;
  const double loss_low = loss_per_friction * std::max(0.0, f_low - net.tolerance) * q_low * q_low;
  // A Reynolds number within `tolerance` of 0 leaves the laminar factor unbounded.
  if (re_low == 0.0) return {loss_low, std::numeric_limits<double>::infinity()};
  return {loss_low, loss_per_friction * (f_high + net.tolerance) * q_high * q_high};
}

// Checks one solved network; returns the first law it breaks, empty when it keeps them all.
std::string check_physics(const Net& net, const Results& res) {
  std::ostringstream fault;
  const double rho_g = net.density * net.gravity;
  const std::size_t n_nodes = net.elevation.size();
  std::vector<double> inflow(n_nodes, 0.0);
  std::vector<double> allowance(n_nodes, net.tolerance);
  std::vector<int> ends(n_nodes, 0);

  for (std::size_t b = 0; b < net.pipes.size(); ++b) {
    const Pipe& pipe = net.pipes[b];
    const BranchRow& row = res.branches[b];
    const int first = pipe.first_node - 1;
    const int second = pipe.second_node - 1;
    fault << "branch " << b + 1 << ": ";
    // Every pipe has a length and takes part in the flow, so none may be without resistance.
    if (row.direction == 0) return fault.str() + "no flow in a solved network";
    if (row.node != pipe.first_node) return fault.str() + "row names another node";

    // Flows into the nodes at both ends, each possibly off by its printing and its resistance.
    const double signed_flow = row.direction * row.flow.value;
    const double flow_allowance =
        row.flow.half_unit + flow_of_tolerance(net, pipe) + rounding * row.flow.value;
    inflow[first] -= signed_flow;
    inflow[second] += signed_flow;
    for (int n : {first, second}) {
      allowance[n] += flow_allowance;
      ends[n] += 1;
    }

    // Heads along the pipe, H = head(first) - head(second) = s dp / (rho g):
    // p1 - p2 = s dp - (z1 - z2) rho g.
    const Printed& p1 = res.pressures[first];
    const Printed& p2 = res.pressures[second];
    const Printed& dp = row.pressure_difference;
    const double head_gap =
        (p1.value - p2.value) -
        (row.direction * dp.value - (net.elevation[first] - net.elevation[second]) * rho_g);
    const double head_allowance = p1.half_unit + p2.half_unit + dp.half_unit +
                                  rounding * (std::fabs(p1.value) + std::fabs(p2.value) + dp.value);
    if (std::fabs(head_gap) > head_allowance) {
      fault << "node pressures " << p1.value << ", " << p2.value << " and pressure difference "
            << dp.value << " disagree by " << head_gap;
      return fault.str();
    }

    const auto [loss_low, loss_high] = loss_bounds(net, pipe, row.flow);
    if (dp.value < loss_low - dp.half_unit || dp.value > loss_high + dp.half_unit) {
      fault << "pressure difference " << dp.value << " is not the loss of flow " << row.flow.value
            << " (" << loss_low << " to " << loss_high << ")";
      return fault.str();
    }

    // A flowrate terminal carries its flow in its direction; a pressure terminal keeps its
    // pressure.
    if (pipe.condition == 2 && std::fabs(signed_flow - pipe.first_value) > flow_allowance) {
      fault << "flowrate terminal carries " << signed_flow << ", given " << pipe.first_value;
      return fault.str();
    }
    if (pipe.condition == 1) {
      const bool first_is_terminal = pipe.first_value >= 0.0;
      const double given = first_is_terminal ? pipe.first_value : pipe.second_value;
      const Printed& p = res.pressures[first_is_terminal ? first : second];
      if (std::fabs(p.value - given) > p.half_unit + rounding * given) {
        fault << "pressure terminal at " << p.value << ", given " << given;
        return fault.str();
      }
    }
    fault.str("");
  }

  // The balance stops once no junction's net inflow exceeds `tolerance`.
  for (std::size_t n = 0; n < n_nodes; ++n) {
    if (ends[n] >= 2 && std::fabs(inflow[n]) > allowance[n]) {
      fault << "junction " << n + 1 << ": net inflow " << inflow[n] << ", allowed " << allowance[n];
      return fault.str();
    }
  }
  return {};
}

// Solves one generated network and checks its results; false when the run ended at an
// iteration limit instead.
bool solve_and_check(const Net& net, std::uint64_t seed) {
  const std::string input = input_text(net);
  const fs::path folder =
      fs::temp_directory_path() / ("tessaro-physics-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "Tessaro-net.txt", std::ios::binary) << input;
  const bool ended = run_program(folder);
  const std::string log = read_file(folder / "Log file.txt");
  const std::string results_text = read_file(folder / "Tessaro-res.txt");
  fs::remove_all(folder);

  if (!ended || log != " Calculation processed successfully\r\n") {
    // A balance that stalls, or Reynolds numbers that never settle (a branch flipping between
    // the laminar and the turbulent law), may end a run at an iteration limit; nothing else may.
    EXPECT_TRUE(ended && log.rfind(" Maximum iterations exceeded\r\n", 0) == 0)
        << "seed " << seed << ":\n"
        << input << "log:\n"
        << log;
    return false;
  }
  Results results;
  if (!parse_results(results_text, net.pipes.size(), net.elevation.size(), results)) {
    ADD_FAILURE() << "seed " << seed << ": unreadable results\n" << results_text;
  } else {
    const std::string fault = check_physics(net, results);
    EXPECT_TRUE(fault.empty()) << "seed " << seed << ": " << fault << "\n" << input;
  }
  return true;
}

struct Family {
  const char* name;
  const Fluid* fluid;
  bool mesh;
  std::uint64_t first_seed;
};

const Family families[] = {
    {"water trees", &water, false, 1000},         {"water meshes", &water, true, 2000},
    {"heavy oil trees", &heavy_oil, false, 3000}, {"heavy oil meshes", &heavy_oil, true, 4000},
    {"light oil trees", &light_oil, false, 5000}, {"light oil meshes", &light_oil, true, 6000},
};

// Most networks must solve: every family more than half of its runs, all together three
// quarters. The light oil loses the most, to branches flipping at Re = 2000.
TEST(GeneratedNetworks, KeepTheFlowLaws) {
  constexpr int runs = 12;
  int all_solved = 0;
  for (const Family& family : families) {
    SCOPED_TRACE(family.name);
    int solved = 0;
    for (int k = 0; k < runs; ++k) {
      const std::uint64_t seed = family.first_seed + static_cast<std::uint64_t>(k);
      if (solve_and_check(generate(*family.fluid, family.mesh, seed), seed)) ++solved;
    }
    EXPECT_GT(solved, runs / 2) << "too few networks solved";
    all_solved += solved;
  }
  const int all_runs = runs * static_cast<int>(std::size(families));
  EXPECT_GE(all_solved, all_runs * 3 / 4) << "too few networks solved";
  std::printf("%d of %d generated networks solved\n", all_solved, all_runs);
}

}  // namespace
