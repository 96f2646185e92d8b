// The head loss of a branch as a function of its flow, to machine precision: h = K Q |Q| with
// K = 8 f L / (pi^2 g D^5), f = 64 / Re below Re 2000 and the Colebrook-White root from 2000 up.
#pragma once

#include "model/network.h"

namespace tessaro::global {

// The constants of one branch's law, formed once per run.
struct BranchLaw {
  double length_factor = 0.0;         // 8 L / (D^5 pi^2 g): h = length_factor f Q |Q|
  double reynolds_denominator = 0.0;  // D nu pi: Re = 4 |Q| / (D nu pi)
  double relative_roughness = 0.0;    // roughness / D / 3.7
  double laminar_resistance = 0.0;    // h = laminar_resistance Q below Re 2000
  double jump_flow = 0.0;             // |Q| at Re 2000
  double laminar_jump_head = 0.0;     // the laminar head loss at the jump
  double turbulent_jump_head = 0.0;   // the Colebrook-White head loss at the jump
};

BranchLaw branch_law(const Network& net, std::int32_t b);

// The laws of a network's branches, the Colebrook-White root at the jump found once for each
// relative roughness: networks use few pipe sizes, and that root is most of the cost of a law.
class BranchLaws {
 public:
  explicit BranchLaws(const Network& net);
  BranchLaw operator()(std::int32_t b);

 private:
  static constexpr int n_remembered = 64;
  const Network& net_;
  double roughness_[n_remembered];  // relative roughness, not a number for an empty place
  double friction_[n_remembered];   // the friction factor at Re 2000 of that roughness
};

// The Colebrook-White friction factor at Reynolds number re (re >= 2000), the exact root.
double colebrook_friction(double re, double relative_roughness);

// Head loss and its slope at flow q, by the law of q's own regime.
struct HeadLoss {
  double head = 0.0;
  double slope = 0.0;
};
HeadLoss head_loss(const BranchLaw& law, double q);
// The same, the Colebrook-White root started from `root` where it is above 0 (the root of the
// branch's last flow) and left there for the next call.
HeadLoss head_loss(const BranchLaw& law, double q, double& root);

// The flow whose head loss is h and its slope dQ/dh: on the laminar line, held at the jump
// flow while |h| lies between the two laws' head losses there, or on the turbulent curve. The
// flow is continuous in h and never decreases. At the jump the slope is 0; `held` says so.
struct FlowOfHead {
  double flow = 0.0;
  double slope = 0.0;
  bool held = false;
};
FlowOfHead flow_of_head(const BranchLaw& law, double h);

// Friction factor and Reynolds number of a flow, as the tables show them.
double flow_reynolds_number(const BranchLaw& law, double q);
double friction_factor(const BranchLaw& law, double q);

}  // namespace tessaro::global
