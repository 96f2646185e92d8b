#include "solver/balance.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "model/messages.h"
#include "solver/solver_events.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {

// The sweeps and the corrections walk the flat entry tables directly: entry e of the tables is
// element e - 1 of their data, and so is junction j.

namespace {

// The flows into one junction, summed over the entries of its row in entry order.
struct FlowSums {
  double flow = 0.0;   // net inflow
  double slope = 0.0;  // its derivative with respect to the head differences, always positive
};

// Adds the flow of an entry with head difference h (not 0) and |H| / K = root_argument.
// Q = s sqrt(|H| / K), positive into the junction, with s = H / |H|, which is exactly +1 or -1
// for a finite H other than 0: Q is the root with the sign of H. dQ/dH = Q / (2H) is always
// positive.
inline void add_entry_flow(FlowSums& sums, double h, double root_argument) {
  const double q = std::copysign(math_sqrt(root_argument), h);
  sums.flow += q;
  sums.slope += q / (2.0 * h);
}

// The correction of a junction: the Newton step of its head, damped by the number of branches in
// the whole network; none when no entry of the junction carries flow.
inline double damped_newton_step(const FlowSums& sums, double n_branches) {
  return sums.slope == 0.0 ? 0.0 : -(sums.flow / sums.slope) / n_branches;
}

// A head difference h of junction j once the corrections are applied: own is junction j's
// correction, far_end the junction at the branch's other end (0 for a terminal).
inline double corrected_head_diff(double h, double own, std::int32_t far_end,
                                  const double* correction) {
  return far_end == 0 ? h + own : (h + own) - correction[far_end - 1];
}

// Applies the corrections to the head differences of the entries from entry e (counted from 0,
// in the row of junction j, counted from 0) to the last.
void apply_corrections(Network& net, const double* correction, std::int32_t j, std::int32_t e) {
  const std::int32_t* row_start = net.junction_row_start.data();
  const std::int32_t* far_end = net.junction_far_end.data();
  const std::int32_t* fixed = net.junction_branch_fixed.data();
  double* head_diff = net.junction_head_diff.data();
  for (; e < net.n_entries; ++e) {
    // The next entry past the end of junction j's row is in the row of the next junction.
    while (e >= row_start[j + 1] - 1) ++j;
    if (fixed[e] != 0) continue;
    head_diff[e] = corrected_head_diff(head_diff[e], correction[j], far_end[e], correction);
  }
}

// The root of a negative |H| / K (a negative resistance) ends the run, here met at entry e of
// junction j in a sweep that applies pending corrections. The pending corrections of the entries
// after e are applied first, as a correction pass made before the sweep would have done: one
// that overflows ends the run with its own report, as it would have there.
[[noreturn]] void fail_root_after_corrections(Network& net, std::int32_t j, std::int32_t e) {
  apply_corrections(net, net.junction_pending_correction.data(), j, e + 1);
  fail_sqrt_domain();
}

[[noreturn]] void stop_over_limit(double max_imbalance) {
  log_sentence(message::iterations_exceeded);
  log_sentence(message::largest_imbalance, max_imbalance);
  stop_run();
}

}  // namespace

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
    FlowSums sums;
    for (std::int32_t e = row_start[j] - 1; e < row_start[j + 1] - 1; ++e) {
      const double h = head_diff[e];
      const double k = resistance[e];
      // A branch without head difference or without resistance carries no flow to count.
      if (h == 0.0 || k == 0.0) continue;
      add_entry_flow(sums, h, std::fabs(h) / k);
    }
    correction[j] = damped_newton_step(sums, n_branches);
    if (std::fabs(sums.flow) > max_imbalance) max_imbalance = std::fabs(sums.flow);
  }
  return max_imbalance;
}

SweepResult sweep_with_pending_corrections(Network& net) {
  const std::int32_t* row_start = net.junction_row_start.data();
  const std::int32_t* far_end = net.junction_far_end.data();
  const std::int32_t* fixed = net.junction_branch_fixed.data();
  const double* resistance = net.junction_resistance.data();
  const double* pending = net.junction_pending_correction.data();
  double* head_diff = net.junction_head_diff.data();
  double* correction = net.junction_correction.data();
  const double n_branches = static_cast<double>(net.n_branches);

  double max_imbalance = 0.0;
  // The bits of every head difference before and after its correction, compared without a branch.
  std::uint64_t changed_bits = 0;
  for (std::int32_t j = 0; j < net.n_junctions; ++j) {
    const double own = pending[j];
    FlowSums sums;
    for (std::int32_t e = row_start[j] - 1; e < row_start[j + 1] - 1; ++e) {
      double h = head_diff[e];
      // The pending correction first, stored; the flow is then taken from the stored value.
      if (fixed[e] == 0) {
        const double corrected = corrected_head_diff(h, own, far_end[e], pending);
        changed_bits |= std::bit_cast<std::uint64_t>(h) ^ std::bit_cast<std::uint64_t>(corrected);
        head_diff[e] = corrected;
        h = corrected;
      }
      const double k = resistance[e];
      // A branch without head difference or without resistance carries no flow to count.
      if (h == 0.0 || k == 0.0) continue;
      const double root_argument = std::fabs(h) / k;
      if (root_argument < 0.0) [[unlikely]]
        fail_root_after_corrections(net, j, e);
      add_entry_flow(sums, h, root_argument);
    }
    correction[j] = damped_newton_step(sums, n_branches);
    if (std::fabs(sums.flow) > max_imbalance) max_imbalance = std::fabs(sums.flow);
  }
  return {max_imbalance, changed_bits != 0};
}

void balance_junction_heads(Network& net) {
  // The resistances are held fixed for the whole run.
  gather_entry_resistances(net);
  // Sweeps that need a correction are numbered from 0; sweeps 0..max_iterations are corrected,
  // and the run ends after correcting a later one. Counted wider than the limit, so that one
  // past the largest limit cannot overflow.
  std::int64_t network_iter = 0;
  // The first sweep has no corrections pending.
  double max_imbalance = sweep_junctions(net);
  for (;;) {
    if (solver_events != nullptr) solver_events->sweep_done(network_iter, max_imbalance);
    // Tested before any correction of this sweep: a converged sweep changes nothing. The
    // corrections of the sweep before were applied as this sweep read the head differences.
    if (max_imbalance <= net.tolerance) {
      if (solver_events != nullptr)
        solver_events->balancing_run_converged(network_iter, max_imbalance);
      return;
    }
    // Past the limit the run ends with this sweep's imbalance, once its corrections are applied
    // (the sums of a correction may overflow, which ends the run with that report instead).
    if (network_iter > net.max_iterations) {
      apply_corrections(net, net.junction_correction.data(), 0, 0);
      stop_over_limit(max_imbalance);
    }
    network_iter += 1;
    // The corrections of this sweep are applied one sweep late, by the next sweep as it reads
    // each row, so that one pass over the head differences does both. They wait in a table of
    // their own: the next sweep sets a junction's new correction while the rows after it still
    // need its pending one for the branches that have it at their far end.
    std::swap(net.junction_correction, net.junction_pending_correction);
    const SweepResult next = sweep_with_pending_corrections(net);
    // Corrections that left every head difference as it was are a fixed point: the sweep just
    // made repeated the one before bit for bit, and so would every later sweep, never meeting the
    // tolerance; the limit would end the run with this very imbalance. It ends the run now, with
    // the same records.
    if (!next.changed) stop_over_limit(max_imbalance);
    max_imbalance = next.max_imbalance;
  }
}

}  // namespace tessaro
