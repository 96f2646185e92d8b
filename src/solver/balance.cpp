#include "solver/balance.h"

#include <cmath>
#include <cstdint>

#include "input/messages.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

// The sweep and the correction walk the flat entry tables directly: entry e of the tables is
// element e - 1 of their data, and so is junction j and branch c.

// Sums the flows into every junction for the current head differences and sets each junction's
// correction: the Newton step of its head, damped by the number of branches in the network.
// Returns the largest absolute net inflow of any junction.
double sweep_junctions(Network& net) {
  const std::int32_t* row_start = net.junction_row_start.data();
  const std::int32_t* branch = net.junction_branch.data();
  const double* head_diff = net.junction_head_diff.data();
  const double* resistance = net.resistance.data();
  double* correction = net.junction_correction.data();
  const double n_branches = static_cast<double>(net.n_branches);

  double max_imbalance = 0.0;
  for (std::int32_t j = 0; j < net.n_junctions; ++j) {
    double flow_sum = 0.0;
    double flow_slope_sum = 0.0;
    for (std::int32_t e = row_start[j] - 1; e < row_start[j + 1] - 1; ++e) {
      const double h = head_diff[e];
      const double k = resistance[branch[e] - 1];
      // A branch without head difference or without resistance carries no flow to count.
      if (h == 0.0 || k == 0.0) continue;
      // Q = s sqrt(|H| / K), positive into the junction; dQ/dH = Q / (2H) is always positive.
      const std::int32_t flow_sign = static_cast<std::int32_t>(h / std::fabs(h));
      const double q = static_cast<double>(flow_sign) * math_sqrt(std::fabs(h) / k);
      flow_sum += q;
      flow_slope_sum += q / (2.0 * h);
    }
    correction[j] = flow_slope_sum == 0.0 ? 0.0 : -(flow_sum / flow_slope_sum) / n_branches;
    if (std::fabs(flow_sum) > max_imbalance) max_imbalance = std::fabs(flow_sum);
  }
  return max_imbalance;
}

// Applies this sweep's corrections of all junctions at once. Raising a junction's head lowers the
// head difference of every entry seen from it and raises that of the same branch seen from the
// junction at its far end; terminal heads and head differences fixed by a flowrate stay as they
// are. (H + c_j) - c_far is rounded in that order.
void correct_head_differences(Network& net) {
  const std::int32_t* row_start = net.junction_row_start.data();
  const std::int32_t* far_end = net.junction_far_end.data();
  const std::int32_t* fixed = net.junction_branch_fixed.data();
  const double* correction = net.junction_correction.data();
  double* head_diff = net.junction_head_diff.data();

  for (std::int32_t j = 0; j < net.n_junctions; ++j) {
    const double own = correction[j];
    for (std::int32_t e = row_start[j] - 1; e < row_start[j + 1] - 1; ++e) {
      if (fixed[e] != 0) continue;
      if (far_end[e] == 0) {
        head_diff[e] = head_diff[e] + own;
      } else {
        head_diff[e] = (head_diff[e] + own) - correction[far_end[e] - 1];
      }
    }
  }
}

[[noreturn]] void stop_over_limit(double max_imbalance) {
  log_sentence(message::iterations_exceeded);
  log_sentence(message::largest_imbalance, max_imbalance);
  stop_run();
}

}  // namespace

void balance_junction_heads(Network& net) {
  // Sweeps that need a correction are numbered from 0; sweeps 0..max_iterations are corrected,
  // and the run ends after correcting a later one.
  std::int32_t network_iter = 0;
  for (;;) {
    const double max_imbalance = sweep_junctions(net);
    // Tested before any correction: a converged sweep changes nothing.
    if (max_imbalance <= net.tolerance) return;
    correct_head_differences(net);
    if (network_iter > net.max_iterations) stop_over_limit(max_imbalance);
    network_iter += 1;
  }
}

}  // namespace tessaro
