#include "solver/friction_cycle.h"

#include <cmath>
#include <cstdint>

#include "model/messages.h"
#include "solver/balance.h"
#include "solver/friction_law.h"
#include "solver/solver_events.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

// The cycle's own bound. A converging network settles in tens of friction updates; one whose
// Reynolds numbers never settle (a branch flipping between laminar and turbulent flow near
// Re = 2000) would otherwise cycle for ever. The bound lies far beyond any converging network.
constexpr std::int32_t max_friction_updates = 10000;

bool has_settled(const Network& net, double max_reynolds_change) {
  return max_reynolds_change <= net.tolerance;
}

}  // namespace

double update_friction(Network& net) {
  double max_reynolds_change = 0.0;
  // Every entry of every row, fixed entries included: a branch between two junctions is visited
  // from both rows, the second visit starting from the Reynolds number and resistance the first
  // one left.
  for (std::int32_t j = 1; j <= net.n_junctions; ++j) {
    for (std::int32_t e = net.junction_row_start[j]; e < net.junction_row_start[j + 1]; ++e) {
      const std::int32_t c = net.junction_branch[e];
      const double head_diff = net.junction_head_diff[e];
      const double diameter = net.junction_branch_diameter[e];

      // Reynolds number of the entry's flow sqrt(|H| / K); a branch without resistance carries
      // no flow through the law.
      double reynolds_new = 0.0;
      if (net.resistance[c] != 0.0) {
        reynolds_new =
            flow_reynolds(net, math_sqrt(std::fabs(head_diff) / net.resistance[c]), diameter);
      }
      const double change = std::fabs(net.reynolds[c] - reynolds_new);
      if (change > max_reynolds_change) max_reynolds_change = change;
      net.reynolds[c] = reynolds_new;

      // New friction factor and resistance; friction keeps the Colebrook-White start value for the
      // next update.
      update_friction_factor(net, c, diameter, FrictionCaller::friction_update);
      net.resistance[c] =
          updated_branch_resistance(net, net.length[c], net.friction_next[c], diameter);
    }
  }
  return max_reynolds_change;
}

void solve_network(Network& net) {
  for (std::int32_t friction_updates = 1;; ++friction_updates) {
    // Balance the junction heads with the resistances held fixed.
    balance_junction_heads(net);
    // Update the resistances from the balanced flows; done when no Reynolds number moved.
    const double max_reynolds_change = update_friction(net);
    if (solver_events != nullptr) solver_events->friction_update_done(max_reynolds_change);
    if (has_settled(net, max_reynolds_change)) return;
    if (friction_updates >= max_friction_updates) {
      log_sentence(message::iterations_exceeded);
      stop_run();
    }
  }
}

}  // namespace tessaro
