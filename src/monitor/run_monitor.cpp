#include "monitor/run_monitor.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

constexpr double terminal_refresh_seconds = 0.5;
constexpr double log_refresh_seconds = 10.0;
constexpr double clock_check_seconds = 0.001;
constexpr std::int64_t max_check_interval = std::int64_t{1} << 20;

constexpr std::array<const char*, static_cast<std::size_t>(RunStage::count)> stage_names{
    "reading", "preparing", "solving", "writing"};

double seconds_between(RunMonitor::Clock::time_point from, RunMonitor::Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::string format(const char* layout, double value) {
  char text[64];
  std::snprintf(text, sizeof text, layout, value);
  return text;
}

// A count with thousands separators: 1,234,567.
std::string with_separators(std::int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string text;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k != 0 && (digits.size() - k) % 3 == 0) text += ',';
    text += digits[k];
  }
  return value < 0 ? "-" + text : text;
}

std::string duration_text(double seconds) {
  if (seconds < 1.0) return format("%.1f ms", seconds * 1e3);
  if (seconds < 120.0) return format("%.1f s", seconds);
  if (seconds < 7200.0) return format("%.1f min", seconds / 60.0);
  if (seconds < 172800.0) return format("%.1f h", seconds / 3600.0);
  return format("%.1f days", seconds / 86400.0);
}

void write_error(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

RunMonitor::RunMonitor(bool summary, bool progress, std::string_view solver_name)
    : summary_(summary),
      progress_(progress),
      progress_on_terminal_(progress && ::isatty(STDERR_FILENO) != 0),
      solver_name_(solver_name) {
  run_start_ = stage_start_ = Clock::now();
}

void RunMonitor::end_stage(Clock::time_point now) {
  if (stage_ != RunStage::count) {
    stage_seconds_[static_cast<std::size_t>(stage_)] += seconds_between(stage_start_, now);
  }
  stage_start_ = now;
}

void RunMonitor::enter(RunStage stage, const Network& net) {
  const Clock::time_point now = Clock::now();
  end_stage(now);
  stage_ = stage;
  net_ = &net;
  take_counts(net);
  if (stage == RunStage::solving) last_check_ = last_shown_ = now;
}

void RunMonitor::leave(const Network& net) {
  take_counts(net);
  net_ = nullptr;
}

void RunMonitor::take_counts(const Network& net) {
  n_branches_ = net.n_branches;
  n_nodes_ = net.n_nodes;
  n_junctions_ = net.n_junctions;
  n_entries_ = net.n_entries;
  tolerance_ = net.tolerance;
}

void RunMonitor::sweep_done(std::int64_t sweep, double max_imbalance) {
  current_sweep_ = sweep;
  current_imbalance_ = max_imbalance;
  in_balancing_run_ = true;
  imbalance_known_ = true;
  ++total_sweeps_;
  if (!progress_ || --sweeps_to_check_ > 0) return;

  // Read the clock only now and then: a sweep of a small network is shorter than a clock read.
  const Clock::time_point now = Clock::now();
  const double since_check = seconds_between(last_check_, now);
  if (since_check < clock_check_seconds && check_interval_ < max_check_interval) {
    check_interval_ *= 2;
  } else if (since_check > 10 * clock_check_seconds && check_interval_ > 1) {
    check_interval_ /= 2;
  }
  sweeps_to_check_ = check_interval_;
  last_check_ = now;
  const double refresh = progress_on_terminal_ ? terminal_refresh_seconds : log_refresh_seconds;
  if (seconds_between(last_shown_, now) >= refresh) show_progress(now);
}

void RunMonitor::show_progress(Clock::time_point now) {
  std::string line = "elapsed " + duration_text(seconds_between(run_start_, now)) +
                     ", balancing run " + with_separators(balancing_runs_ + 1) + ", sweep " +
                     with_separators(current_sweep_) + ", largest imbalance " +
                     format("%.3e", current_imbalance_);
  // How fast the imbalance has been falling since the line was last shown: it falls about
  // geometrically, so the sweeps still needed follow from its logarithm.
  const std::int64_t sweeps = total_sweeps_ - shown_sweeps_;
  const double seconds = seconds_between(last_shown_, now);
  if (shown_sweeps_ != 0 && sweeps > 0 && current_imbalance_ > 0.0 && shown_imbalance_ > 0.0 &&
      current_imbalance_ < shown_imbalance_ && tolerance_ > 0.0) {
    const double fall_per_sweep =
        std::log(shown_imbalance_ / current_imbalance_) / static_cast<double>(sweeps);
    const double sweeps_left = current_imbalance_ <= tolerance_
                                   ? 0.0
                                   : std::log(current_imbalance_ / tolerance_) / fall_per_sweep;
    const double seconds_left = sweeps_left * seconds / static_cast<double>(sweeps);
    line += ", about " + with_separators(static_cast<std::int64_t>(std::ceil(sweeps_left))) +
            " sweeps (" + duration_text(seconds_left) + ") to go in this balancing run";
  } else if (shown_sweeps_ != 0) {
    line += ", not falling";
  }
  if (progress_on_terminal_) {
    // Rewrite the line in place; the blanks clear what a longer line left.
    write_error("\r" + line + "\x1b[K");
    line_open_ = true;
  } else {
    write_error(line + "\n");
  }
  last_shown_ = now;
  shown_imbalance_ = current_imbalance_;
  shown_sweeps_ = total_sweeps_;
}

void RunMonitor::record_balancing_run(std::int64_t sweeps, double max_imbalance) {
  const BalancingRun run{sweeps, max_imbalance};
  if (balancing_runs_ < static_cast<std::int64_t>(kept_runs)) {
    first_runs_[static_cast<std::size_t>(balancing_runs_)] = run;
  }
  last_runs_[static_cast<std::size_t>(balancing_runs_) % kept_runs] = run;
  ++balancing_runs_;
}

void RunMonitor::balancing_run_converged(std::int64_t sweeps, double max_imbalance) {
  record_balancing_run(sweeps, max_imbalance);
  in_balancing_run_ = false;
}

void RunMonitor::friction_update_done(double max_reynolds_change) {
  ++friction_updates_;
  last_reynolds_change_ = max_reynolds_change;
}

void RunMonitor::add_note(std::string note) {
  notes_ += "  " + note + "\n";
}

std::string RunMonitor::summary_text(const RunEnd* end) const {
  std::string text = "Run summary (" + solver_name_ + " solver)\n";
  text += "  network: " + with_separators(n_branches_) + " branches, " + with_separators(n_nodes_) +
          " nodes, " + with_separators(n_junctions_) + " junctions, " +
          with_separators(n_entries_) + " junction entries\n";

  // A run stopped inside a balancing run shows that run as its last, unconverged.
  std::int64_t runs = balancing_runs_;
  const bool stopped_in_balance = end != nullptr && in_balancing_run_;
  if (runs > 0 || stopped_in_balance) {
    const std::int64_t shown = runs + (stopped_in_balance ? 1 : 0);
    text += "  balancing runs: " + with_separators(shown) + ", " + with_separators(total_sweeps_) +
            " sweeps in all\n";
    auto run_line = [&](std::int64_t k, const BalancingRun& run) {
      text += "    run " + with_separators(k + 1) + ": " + with_separators(run.sweeps) +
              " sweeps, largest imbalance " + format("%.6e", run.max_imbalance) + "\n";
    };
    const std::int64_t kept = static_cast<std::int64_t>(kept_runs);
    // The first and the last runs; those between are counted.
    for (std::int64_t k = 0; k < runs; ++k) {
      if (k < kept) {
        run_line(k, first_runs_[static_cast<std::size_t>(k)]);
      } else if (k >= runs - kept) {
        run_line(k, last_runs_[static_cast<std::size_t>(k) % kept_runs]);
      } else if (k == kept) {
        text += "    ... " + with_separators(runs - 2 * kept) + " runs more\n";
      }
    }
    if (stopped_in_balance) {
      text += "    run " + with_separators(runs + 1) + ": stopped after " +
              with_separators(current_sweep_) + " corrected sweeps, largest imbalance " +
              format("%.6e", current_imbalance_) + "\n";
    }
  }
  if (friction_updates_ > 0) {
    text += "  friction updates: " + with_separators(friction_updates_) +
            ", the last changed a Reynolds number by at most " +
            format("%.6e", last_reynolds_change_) + "\n";
  }
  if (imbalance_known_) {
    text += "  largest junction imbalance at the end: " + format("%.6e", current_imbalance_) +
            " (tolerance " + format("%.6e", tolerance_) + ")\n";
  }
  text += notes_;

  if (end == nullptr) {
    text += "  outcome: solved, results written\n";
  } else if (end->failure_class == 0) {
    text += "  outcome: stopped, no results written: " + first_log_line() + "\n";
  } else {
    text +=
        std::string("  outcome: run-time error ") + end->failure_class +
        std::to_string(end->failure_number) + " while " +
        (stage_ == RunStage::count ? "starting" : stage_names[static_cast<std::size_t>(stage_)]) +
        "\n";
  }
  text += "  time:";
  const Clock::time_point now = Clock::now();
  for (std::size_t s = 0; s < stage_names.size(); ++s) {
    double seconds = stage_seconds_[s];
    if (static_cast<std::size_t>(stage_) == s) seconds += seconds_between(stage_start_, now);
    text += std::string(s == 0 ? " " : ", ") + stage_names[s] + " " + duration_text(seconds);
  }
  text += "; " + duration_text(seconds_between(run_start_, now)) + " in all\n";
  return text;
}

void RunMonitor::finish(const RunEnd* end) {
  if (net_ != nullptr) take_counts(*net_);
  if (line_open_) {
    write_error("\n");
    line_open_ = false;
  }
  if (summary_) write_error(summary_text(end));
}

}  // namespace tessaro
