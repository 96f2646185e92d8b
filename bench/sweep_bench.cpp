// The balancing sweep on mesh networks of about 1,000, 10,000 and 100,000 branches, measured
// against a floor kernel that does only the arithmetic no sweep can avoid: per junction entry one
// square root and two divisions, summed, over flat arrays. Reports the time per junction entry
// per sweep of each and their ratio, in one run.
//
//   sweep            the first sweep of a balancing run: the sums and corrections of every
//                    junction, with no corrections pending
//   corrected_sweep  the step the balancing loop repeats: the corrections of the sweep before
//                    applied to every head difference as the sweep reads it, then the sums and
//                    corrections of every junction
//
// Each kernel is repeated, and the table at the end takes the fastest repetition of each (in CPU
// time), the figure least disturbed by whatever else the machine is doing.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mesh_network.h"
#include "monitor/run_monitor.h"
#include "prepared_network.h"
#include "solver/balance.h"
#include "solver/solver_events.h"
#include "textio/files.h"
#include "textio/run_end.h"

namespace {

using tessaro::Network;

constexpr std::int64_t sizes[] = {1000, 10000, 100000};

// The network of about `branches` branches as the solver starts on it, made once per size:
// written in the input format to a scratch folder and read there by the program's own stages.
Network& network_of_size(std::int64_t branches) {
  static std::map<std::int64_t, std::unique_ptr<Network>> made;
  std::unique_ptr<Network>& net = made[branches];
  if (!net) {
    const std::filesystem::path home = std::filesystem::current_path();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tessaro_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::filesystem::current_path(pattern);
    {
      std::ofstream out(std::string(tessaro::input_file_name), std::ios::binary);
      tessaro::bench::write_mesh_network(
          out, tessaro::bench::mesh_shape(static_cast<std::int32_t>(branches)), {});
    }
    net = std::make_unique<Network>(tessaro::bench::prepared_network());
    std::filesystem::current_path(home);
    std::filesystem::remove_all(pattern);
    tessaro::gather_entry_resistances(*net);
  }
  return *net;
}

void count_entries(benchmark::State& state, const Network& net) {
  state.counters["entries"] = net.n_entries;
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(net.n_entries) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One square root and two divisions per entry, summed: sqrt(|H| / K) and Q / (2H).
void floor_kernel(benchmark::State& state) {
  const Network& net = network_of_size(state.range(0));
  const std::vector<double> head_diff(net.junction_head_diff.data(),
                                      net.junction_head_diff.data() + net.n_entries);
  const std::vector<double> resistance(net.junction_resistance.data(),
                                       net.junction_resistance.data() + net.n_entries);
  const double* h = head_diff.data();
  const double* k = resistance.data();
  const std::int32_t n = net.n_entries;
  for (auto _ : state) {
    double flow_sum = 0.0;
    double flow_slope_sum = 0.0;
    for (std::int32_t e = 0; e < n; ++e) {
      const double q = std::sqrt(std::fabs(h[e]) / k[e]);
      flow_sum += q;
      flow_slope_sum += q / (2.0 * h[e]);
    }
    benchmark::DoNotOptimize(flow_sum);
    benchmark::DoNotOptimize(flow_slope_sum);
  }
  count_entries(state, net);
}

void sweep(benchmark::State& state) {
  Network& net = network_of_size(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(tessaro::sweep_junctions(net));
  count_entries(state, net);
}

// Works on a copy, so that the other kernels see the starting state. As in the balancing loop,
// each sweep's corrections become the pending ones of the next.
void corrected_sweep(benchmark::State& state) {
  Network net = network_of_size(state.range(0));
  net.junction_pending_correction.create(net.n_junctions);
  benchmark::DoNotOptimize(tessaro::sweep_junctions(net));
  for (auto _ : state) {
    std::swap(net.junction_correction, net.junction_pending_correction);
    benchmark::DoNotOptimize(tessaro::sweep_with_pending_corrections(net));
  }
  count_entries(state, net);
}

// The balancing loop itself, 1,000 sweeps ended by the iteration limit, with nobody following it
// (range 1 = 0) and with the progress and summary monitor following every sweep (1). The
// monitor reads the clock only every so many sweeps; this shows what following costs, also on
// the smallest networks, whose sweeps are shortest. The monitor's status line goes to standard
// error (once every 10 seconds when that is no terminal).
void balancing_loop(benchmark::State& state) {
  Network net = network_of_size(state.range(0));
  net.junction_pending_correction.create(net.n_junctions);
  net.tolerance = 0.0;
  net.max_iterations = 998;
  tessaro::RunMonitor monitor(true, true, "classic");
  if (state.range(1) != 0) tessaro::solver_events = &monitor;
  // Every repetition starts from the same head differences, so that none meets a fixed point.
  const std::vector<double> start(net.junction_head_diff.data(),
                                  net.junction_head_diff.data() + net.n_entries);
  for (auto _ : state) {
    std::copy(start.begin(), start.end(), net.junction_head_diff.data());
    try {
      tessaro::balance_junction_heads(net);
    } catch (const tessaro::RunEnd&) {
      // The limit: its log records cannot be written, there being no log file open.
    }
  }
  tessaro::solver_events = nullptr;
  state.counters["entries"] = net.n_entries;
  state.counters["per_entry"] = benchmark::Counter(
      1000.0 * static_cast<double>(net.n_entries) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

constexpr int repetitions = 5;

void sized(benchmark::internal::Benchmark* b) {
  for (const std::int64_t size : sizes) b->Arg(size);
  b->Repetitions(repetitions)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(floor_kernel)->Apply(sized);
BENCHMARK(sweep)->Apply(sized);
BENCHMARK(corrected_sweep)->Apply(sized);
BENCHMARK(balancing_loop)
    ->ArgsProduct({{10, 1000, 100000}, {0, 1}})
    ->Repetitions(repetitions)
    ->MinTime(0.2)
    ->Unit(benchmark::kMillisecond);

// The console report, and the fastest time per entry of every kernel and size for the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      std::string name = run.run_name.function_name;
      std::string args = run.run_name.args;
      if (name == "balancing_loop") {
        // "size/followed": the followed runs are kept under their own name.
        if (args.substr(args.find('/') + 1) == "1") name = "balancing_loop_followed";
        args = args.substr(0, args.find('/'));
      }
      const std::int64_t size = std::stoll(args);
      const double entries = run.counters.at("entries");
      const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      const double ns =
          seconds * 1e9 / entries / (name.rfind("balancing_loop", 0) == 0 ? 1000.0 : 1.0);
      double& best = fastest_[{name, size}];
      if (best == 0.0 || ns < best) best = ns;
      entries_[size] = entries;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void print_table() const {
    std::printf("\nThe balancing loop, CPU time per junction entry per sweep (fastest of %d):\n",
                repetitions);
    std::printf("%9s %9s %14s %14s %8s\n", "branches", "entries", "alone ns", "followed ns",
                "ratio");
    for (const std::int64_t size : {10, 1000, 100000}) {
      const double alone = at("balancing_loop", size);
      const double followed = at("balancing_loop_followed", size);
      if (alone == 0.0) continue;
      std::printf("%9lld %9.0f %14.3f %14.3f %8.3f\n", static_cast<long long>(size),
                  entries_.at(size), alone, followed, followed / alone);
    }
    std::printf("\nCPU time per junction entry per sweep (fastest of %d repetitions):\n",
                repetitions);
    std::printf("%9s %9s %12s %12s %8s %17s %8s\n", "branches", "entries", "floor ns", "sweep ns",
                "ratio", "corrected ns", "ratio");
    for (const std::int64_t size : sizes) {
      const double floor = at("floor_kernel", size);
      const double plain = at("sweep", size);
      const double corrected = at("corrected_sweep", size);
      if (floor == 0.0) continue;
      std::printf("%9lld %9.0f %12.3f %12.3f %8.2f %17.3f %8.2f\n", static_cast<long long>(size),
                  entries_.at(size), floor, plain, plain / floor, corrected, corrected / floor);
    }
  }

 private:
  double at(const std::string& name, std::int64_t size) const {
    const auto found = fastest_.find({name, size});
    return found == fastest_.end() ? 0.0 : found->second;
  }

  std::map<std::pair<std::string, std::int64_t>, double> fastest_;
  std::map<std::int64_t, double> entries_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_table();
  benchmark::Shutdown();
  return 0;
}
