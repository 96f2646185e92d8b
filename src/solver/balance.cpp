#include "solver/balance.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "input/messages.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {

// The sweep and the correction walk the flat entry tables directly: entry e of the tables is
// element e - 1 of their data, and so is junction j.

void gather_entry_resistances(Network& net) {
  const std::int32_t* branch = net.junction_branch.data();
  const double* resistance = net.resistance.data();
  double* entry_resistance = net.junction_resistance.data();
  for (std::int32_t e = 0; e < net.n_entries; ++e) {
    entry_resistance[e] = resistance[branch[e] - 1];
  }
}

double sweep_junctions(Network& net) {
  const std::int32_t* row_start = net.junction_row_start.data();
  const double* head_diff = net.junction_head_diff.data();
  const double* resistance = net.junction_resistance.data();
  double* correction = net.junction_correction.data();
  const double n_branches = static_cast<double>(net.n_branches);

  double max_imbalance = 0.0;
  for (std::int32_t j = 0; j < net.n_junctions; ++j) {
    double flow_sum = 0.0;
    double flow_slope_sum = 0.0;
    for (std::int32_t e = row_start[j] - 1; e < row_start[j + 1] - 1; ++e) {
      const double h = head_diff[e];
      const double k = resistance[e];
      // A branch without head difference or without resistance carries no flow to count.
      if (h == 0.0 || k == 0.0) continue;
      // Q = s sqrt(|H| / K), positive into the junction, with s = H / |H|, which is exactly +1 or
      // -1 for a finite H other than 0: Q is the root with the sign of H. dQ/dH = Q / (2H) is
      // always positive.
      const double q = std::copysign(math_sqrt(std::fabs(h) / k), h);
      flow_sum += q;
      flow_slope_sum += q / (2.0 * h);
    }
    correction[j] = flow_slope_sum == 0.0 ? 0.0 : -(flow_sum / flow_slope_sum) / n_branches;
    if (std::fabs(flow_sum) > max_imbalance) max_imbalance = std::fabs(flow_sum);
  }
  return max_imbalance;
}

bool correct_head_differences(Network& net) {
  const std::int32_t* row_start = net.junction_row_start.data();
  const std::int32_t* far_end = net.junction_far_end.data();
  const std::int32_t* fixed = net.junction_branch_fixed.data();
  const double* correction = net.junction_correction.data();
  double* head_diff = net.junction_head_diff.data();

  // The bits of every head difference before and after, compared without a branch.
  std::uint64_t changed_bits = 0;
  for (std::int32_t j = 0; j < net.n_junctions; ++j) {
    const double own = correction[j];
    for (std::int32_t e = row_start[j] - 1; e < row_start[j + 1] - 1; ++e) {
      if (fixed[e] != 0) continue;
      const double before = head_diff[e];
      const double after =
          far_end[e] == 0 ? before + own : (before + own) - correction[far_end[e] - 1];
      changed_bits |= std::bit_cast<std::uint64_t>(before) ^ std::bit_cast<std::uint64_t>(after);
      head_diff[e] = after;
    }
  }
  return changed_bits != 0;
}

namespace {

[[noreturn]] void stop_over_limit(double max_imbalance) {
  log_sentence(message::iterations_exceeded);
  log_sentence(message::largest_imbalance, max_imbalance);
  stop_run();
}

}  // namespace

void balance_junction_heads(Network& net) {
  // The resistances are held fixed for the whole run.
  gather_entry_resistances(net);
  // Sweeps that need a correction are numbered from 0; sweeps 0..max_iterations are corrected,
  // and the run ends after correcting a later one. Counted wider than the limit, so that one
  // past the largest limit cannot overflow.
  std::int64_t network_iter = 0;
  for (;;) {
    const double max_imbalance = sweep_junctions(net);
    // Tested before any correction: a converged sweep changes nothing.
    if (max_imbalance <= net.tolerance) return;
    const bool changed = correct_head_differences(net);
    // A corrected sweep that left every head difference as it was is a fixed point: every later
    // sweep would repeat it bit for bit and never meet the tolerance, so the limit would end the
    // run with this very imbalance. It ends the run now, with the same records.
    if (network_iter > net.max_iterations || !changed) stop_over_limit(max_imbalance);
    network_iter += 1;
  }
}

}  // namespace tessaro
