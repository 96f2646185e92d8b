#include "global/branch_law.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tessaro::global {

namespace {

// The single-precision roundings of 2.51 and 3.7, as the classic friction law uses them.
constexpr double colebrook_coefficient = 2.509999990463257;
constexpr double colebrook_roughness_divisor = 3.700000047683716;
static_assert(colebrook_coefficient == static_cast<double>(2.51f));
static_assert(colebrook_roughness_divisor == static_cast<double>(3.7f));
constexpr double laminar_limit = 2000.0;
constexpr double laminar_coefficient = 64.0;
constexpr double ln10 = 2.302585092994045684;
constexpr int max_root_steps = 50;

// Newton's method on x + 2 log10(a + b x / Re) = 0 for x = 1 / sqrt(f), from x (the smooth-pipe
// side, or the root of a nearby flow); the function is increasing and concave in x, so the
// iterates settle in a few steps. Near the root the error after a step is about |F''| / 2 F'
// times the square of the step, F the function above, which is less than 0.05 for every x above
// 3: a step of root_settled times x leaves an error far below the rounding of x.
constexpr double root_settled = 1.0e-8;
constexpr double two_over_ln10 = 2.0 / ln10;

double colebrook_root(double re, double a, double x) {
  const double b = colebrook_coefficient / re;
  for (int step = 0; step < max_root_steps; ++step) {
    const double s = a + b * x;
    const double residual = x + two_over_ln10 * std::log(s);
    const double slope = 1.0 + two_over_ln10 * b / s;
    const double next = x - residual / slope;
    if (std::fabs(next - x) <= root_settled * std::fabs(next)) return next;
    x = next;
  }
  return x;
}

constexpr double smooth_start = 8.0;

// Every constant of a branch's law but the turbulent head loss at the jump.
BranchLaw law_without_jump_head(const Network& net, std::int32_t b) {
  const double d = net.diameter[b];
  // The kinematic viscosity is kept in single precision; it is widened, not recomputed.
  const double nu = static_cast<double>(net.kinematic_viscosity);
  BranchLaw law;
  law.length_factor = 8.0 * net.length[b] / (d * d * (d * d) * d * (net.pi * net.pi) * net.gravity);
  law.reynolds_denominator = d * nu * net.pi;
  law.relative_roughness = net.roughness / d / colebrook_roughness_divisor;
  // f = 64 / Re = 16 D nu pi / |Q|, so h = 16 D nu pi K' Q: linear and regular at zero flow.
  law.laminar_resistance = law.length_factor * (16.0 * law.reynolds_denominator);
  law.jump_flow = laminar_limit * law.reynolds_denominator / 4.0;
  law.laminar_jump_head = law.laminar_resistance * law.jump_flow;
  return law;
}

void set_turbulent_jump_head(BranchLaw& law, double jump_friction) {
  law.turbulent_jump_head = law.length_factor * jump_friction * law.jump_flow * law.jump_flow;
}

}  // namespace

BranchLaw branch_law(const Network& net, std::int32_t b) {
  BranchLaw law = law_without_jump_head(net, b);
  set_turbulent_jump_head(law, colebrook_friction(laminar_limit, law.relative_roughness));
  return law;
}

BranchLaws::BranchLaws(const Network& net) : net_(net) {
  for (int k = 0; k < n_remembered; ++k) {
    roughness_[k] = std::numeric_limits<double>::quiet_NaN();
    friction_[k] = 0.0;
  }
}

BranchLaw BranchLaws::operator()(std::int32_t b) {
  BranchLaw law = law_without_jump_head(net_, b);
  const double roughness = law.relative_roughness;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &roughness, sizeof bits);
  const auto place = static_cast<int>((bits * 0x9E3779B97F4A7C15ull) >> 58);
  if (!(roughness_[place] == roughness)) {
    roughness_[place] = roughness;
    friction_[place] = colebrook_friction(laminar_limit, roughness);
  }
  set_turbulent_jump_head(law, friction_[place]);
  return law;
}

double colebrook_friction(double re, double relative_roughness) {
  const double x = colebrook_root(re, relative_roughness, smooth_start);
  return 1.0 / (x * x);
}

HeadLoss head_loss(const BranchLaw& law, double q) {
  double root = 0.0;
  return head_loss(law, q, root);
}

HeadLoss head_loss(const BranchLaw& law, double q, double& root) {
  const double flow = std::fabs(q);
  if (flow < law.jump_flow) return {law.laminar_resistance * q, law.laminar_resistance};
  const double re = flow_reynolds_number(law, q);
  const double b = colebrook_coefficient / re;
  const double x = colebrook_root(re, law.relative_roughness, root > 0.0 ? root : smooth_start);
  root = x;
  const double f = 1.0 / (x * x);
  // d(f Q^2)/dQ = 2 f Q Re / (Re + m 2.51), m = 2 / (ln 10 s), s the Colebrook log argument.
  const double m = 2.0 / (ln10 * (law.relative_roughness + b * x));
  const double slope = 2.0 * law.length_factor * f * flow * re / (re + m * colebrook_coefficient);
  return {law.length_factor * f * q * flow, slope};
}

FlowOfHead flow_of_head(const BranchLaw& law, double h) {
  const double magnitude = std::fabs(h);
  const double side = h < 0.0 ? -1.0 : 1.0;
  if (magnitude <= law.laminar_jump_head) {
    return {h / law.laminar_resistance, 1.0 / law.laminar_resistance, false};
  }
  if (magnitude < law.turbulent_jump_head) return {side * law.jump_flow, 0.0, true};
  // Q = r x with r = sqrt(h / K'), x = 1 / sqrt(f) = -2 log10(a + 2.51 / R), R = Re sqrt(f) =
  // 4 r / (D nu pi); dQ/dh = (r / h) (x / 2 + 2.51 / (ln 10 s R)), s the log argument.
  const double r = std::sqrt(magnitude / law.length_factor);
  const double re_sqrt_f = 4.0 * r / law.reynolds_denominator;
  const double s = law.relative_roughness + colebrook_coefficient / re_sqrt_f;
  const double x = -two_over_ln10 * std::log(s);
  const double flow = std::fmax(r * x, law.jump_flow);
  const double slope = r / magnitude * (0.5 * x + colebrook_coefficient / (ln10 * s * re_sqrt_f));
  return {side * flow, slope, false};
}

double flow_reynolds_number(const BranchLaw& law, double q) {
  return 4.0 * std::fabs(q) / law.reynolds_denominator;
}

double friction_factor(const BranchLaw& law, double q) {
  const double re = flow_reynolds_number(law, q);
  if (re == 0.0) return 0.0;
  if (std::fabs(q) < law.jump_flow) return laminar_coefficient / re;
  return colebrook_friction(re, law.relative_roughness);
}

}  // namespace tessaro::global
