// The per-branch set-up while the branch records are read: a flowrate terminal's friction factor
// from its given flowrate, and every branch's first resistance.
#include "model/network.h"
#include "solver/friction_law.h"
#include "solver/starting_heads.h"

namespace tessaro {

void set_flowrate_terminal_friction(Network& net, std::int32_t b) {
  // The flowrate given at the first end is the branch's flowrate; the iteration starts from the
  // Jain estimate the branch already holds, and the accepted factor becomes the branch's own.
  net.reynolds[b] = flow_reynolds(net, net.first_value[b], net.diameter[b]);
  update_friction_factor(net, b, net.diameter[b], FrictionCaller::first_flowrate);
  net.friction[b] = net.friction_next[b];
}

void set_initial_resistance(Network& net, std::int32_t b) {
  // A branch without friction (zero given flowrate) has no resistance; the law is not evaluated.
  if (net.friction[b] == 0.0) {
    net.resistance[b] = 0.0;
  } else {
    net.resistance[b] = branch_resistance(net, net.friction[b], net.length[b], net.diameter[b]);
  }
}

}  // namespace tessaro
