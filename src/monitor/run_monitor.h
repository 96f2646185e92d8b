// Following a run for its user: a status line while the solver runs (--progress) and a report on
// standard error when the run has ended (--summary).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/network.h"
#include "solver/solver_events.h"

namespace tessaro {

struct RunEnd;

// The stages of a run whose time the summary reports.
enum class RunStage : std::uint8_t { reading, preparing, solving, writing, count };

class RunMonitor final : public SolverEvents {
 public:
  using Clock = std::chrono::steady_clock;

  RunMonitor(bool summary, bool progress, std::string_view solver_name);

  // The run enters a stage; the counts of the network are taken from it as they become known,
  // and again when the run ends while the network is still there (a stop or a failure in the
  // middle of reading it).
  void enter(RunStage stage, const Network& net);
  // The network is about to go: its counts as they stand are the ones reported.
  void leave(const Network& net);

  void sweep_done(std::int64_t sweep, double max_imbalance) override;
  void balancing_run_converged(std::int64_t sweeps, double max_imbalance) override;
  void friction_update_done(double max_reynolds_change) override;

  // A line of its own for the summary, from a solver that reports in other terms than sweeps.
  void add_note(std::string note);

  // The run has ended: successfully when `end` is null. Ends the status line and writes the
  // summary, if asked for.
  void finish(const RunEnd* end);

  // The text of the summary (what finish writes).
  std::string summary_text(const RunEnd* end) const;

 private:
  struct BalancingRun {
    std::int64_t sweeps = 0;
    double max_imbalance = 0.0;
  };
  void record_balancing_run(std::int64_t sweeps, double max_imbalance);
  void show_progress(Clock::time_point now);
  void end_stage(Clock::time_point now);
  void take_counts(const Network& net);

  bool summary_;
  bool progress_;
  bool progress_on_terminal_;
  std::string solver_name_;

  // Counts of the network, and the network while the run has it.
  const Network* net_ = nullptr;
  std::int32_t n_branches_ = 0;
  std::int32_t n_nodes_ = 0;
  std::int32_t n_junctions_ = 0;
  std::int32_t n_entries_ = 0;
  double tolerance_ = 0.0;

  // Stages and their times.
  RunStage stage_ = RunStage::count;
  Clock::time_point stage_start_{};
  Clock::time_point run_start_{};
  std::array<double, static_cast<std::size_t>(RunStage::count)> stage_seconds_{};

  // The balance: the run in progress and the runs ended. The first and the last few runs are
  // kept for the summary, in fixed storage (the solver's loop allocates nothing).
  static constexpr std::size_t kept_runs = 8;
  std::int64_t balancing_runs_ = 0;
  std::int64_t total_sweeps_ = 0;
  std::int64_t current_sweep_ = 0;
  double current_imbalance_ = 0.0;
  bool imbalance_known_ = false;
  bool in_balancing_run_ = false;
  std::array<BalancingRun, kept_runs> first_runs_{};
  std::array<BalancingRun, kept_runs> last_runs_{};
  std::int64_t friction_updates_ = 0;
  double last_reynolds_change_ = 0.0;
  std::string notes_;

  // The status line: the clock is read once every `check_interval_` sweeps, an interval that
  // adapts so that it is read about once a millisecond.
  std::int64_t sweeps_to_check_ = 1;
  std::int64_t check_interval_ = 1;
  Clock::time_point last_check_{};
  Clock::time_point last_shown_{};
  double shown_imbalance_ = 0.0;
  std::int64_t shown_sweeps_ = 0;  // total sweeps when the line was last shown
  bool line_open_ = false;
};

}  // namespace tessaro
