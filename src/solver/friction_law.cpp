#include "solver/friction_law.h"

#include <cmath>

#include "model/messages.h"
#include "textio/log.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

// The Jain and Colebrook-White constants are the single-precision roundings of their short
// decimals, and the friction factors are computed with exactly these values.
constexpr double jain_exponent = 0.8999999761581421;  // 0.9
constexpr double jain_coefficient = 21.25;
constexpr double jain_constant = 1.1399999856948853;               // 1.14
constexpr double colebrook_coefficient = 2.509999990463257;        // 2.51
constexpr double colebrook_roughness_divisor = 3.700000047683716;  // 3.7
static_assert(jain_exponent == static_cast<double>(0.9f));
static_assert(jain_constant == static_cast<double>(1.14f));
static_assert(colebrook_coefficient == static_cast<double>(2.51f));
static_assert(colebrook_roughness_divisor == static_cast<double>(3.7f));

// Below this Reynolds number the flow is laminar and f = 64 / Re.
constexpr double laminar_limit = 2000.0;
constexpr double laminar_coefficient = 64.0;
constexpr double resistance_factor = 8.0;

[[noreturn]] void stop_iterations_exceeded() {
  log_sentence(message::iterations_exceeded);
  stop_run();
}

// Fixed-point iteration of the Colebrook-White equation 1/sqrt(f) = -2 log10(e/(3.7 D) +
// 2.51/(Re sqrt(f))) from the branch's current friction factor. Each rejected iterate becomes the
// start of the next; the accepted one is left in friction_next.
void colebrook_white(Network& net, std::int32_t b, double diameter, FrictionCaller caller) {
  const double reynolds = net.reynolds[b];
  // Wider than the limit, so that counting one past the largest limit cannot overflow.
  std::int64_t friction_iter = 0;
  for (;;) {
    const double f_new =
        math_pow(2.0 * math_log10((colebrook_coefficient / reynolds) / math_sqrt(net.friction[b]) +
                                  net.roughness / diameter / colebrook_roughness_divisor),
                 -2.0);
    net.friction_next[b] = f_new;
    if (std::fabs(f_new - net.friction[b]) < net.tolerance) return;
    net.friction[b] = f_new;
    // The friction update tests before counting, the first flowrate set-up counts before testing:
    // the update tolerates one rejected iterate more.
    if (caller == FrictionCaller::friction_update) {
      if (friction_iter > net.max_iterations) stop_iterations_exceeded();
      ++friction_iter;
    } else {
      ++friction_iter;
      if (friction_iter > net.max_iterations) stop_iterations_exceeded();
    }
  }
}

}  // namespace

double flow_reynolds(const Network& net, double flowrate, double diameter) {
  // The kinematic viscosity is kept in single precision; it is widened, not recomputed.
  const double nu = static_cast<double>(net.kinematic_viscosity);
  return 4.0 * std::fabs(flowrate) / (diameter * nu * net.pi);
}

void first_friction_estimate(Network& net, std::int32_t b, double diameter) {
  const double reynolds = net.reynolds[b];
  net.friction[b] = math_pow(
      jain_constant - 2.0 * math_log10(net.roughness / diameter +
                                       jain_coefficient / math_pow(reynolds, jain_exponent)),
      -2.0);
}

void update_friction_factor(Network& net, std::int32_t b, double diameter, FrictionCaller caller) {
  const double reynolds = net.reynolds[b];
  if (reynolds == 0.0) {
    net.friction_next[b] = 0.0;
  } else if (reynolds < laminar_limit) {
    net.friction_next[b] = laminar_coefficient / reynolds;
  } else {
    colebrook_white(net, b, diameter, caller);
  }
}

namespace {

// D^5 pi^2 g, the denominator of the resistance. Callers form the numerator first, so that a
// failure in it is met before one in the powers.
double resistance_denominator(const Network& net, double diameter) {
  return math_pow(diameter, 5.0) * math_pow(net.pi, 2.0) * net.gravity;
}

}  // namespace

double branch_resistance(const Network& net, double friction, double length, double diameter) {
  const double numerator = resistance_factor * friction * length;
  return numerator / resistance_denominator(net, diameter);
}

double updated_branch_resistance(const Network& net, double length, double friction,
                                 double diameter) {
  const double numerator = resistance_factor * length * friction;
  return numerator / resistance_denominator(net, diameter);
}

}  // namespace tessaro
