// The friction law of a branch: Reynolds number, Jain first estimate, laminar and Colebrook-White
// friction factors, and the Darcy-Weisbach resistance.
#pragma once

#include <cstdint>

#include "model/network.h"

namespace tessaro {

// Reynolds number every branch holds before any flow is known: the Jain first estimate is taken
// at this value.
inline constexpr double first_estimate_reynolds = 1.0e8;

// Who runs a Colebrook-White iteration: the two callers count the limit test differently.
enum class FrictionCaller { first_flowrate, friction_update };

// 4 |Q| / (D nu pi), the denominator formed as D * nu * pi.
double flow_reynolds(const Network& net, double flowrate, double diameter);

// Jain estimate with the branch's current Reynolds number; sets friction[b].
void first_friction_estimate(Network& net, std::int32_t b, double diameter);

// Friction factor for reynolds[b]: writes friction_next[b] (and friction[b] as the Colebrook-White
// iteration leaves it: the last rejected iterate, or unchanged when the first one is accepted).
// Ends the run with "Maximum iterations exceeded" past the limit.
void update_friction_factor(Network& net, std::int32_t b, double diameter, FrictionCaller caller);

// 8 f L / (D^5 pi^2 g), with D^5 and pi^2 as real powers.
double branch_resistance(const Network& net, double friction, double length, double diameter);

// The same law as the friction update writes it, 8 L f / (D^5 pi^2 g): the product is formed
// with the length first (8 L can overflow where 8 f L does not).
double updated_branch_resistance(const Network& net, double length, double friction,
                                 double diameter);

}  // namespace tessaro
