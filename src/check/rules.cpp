#include "check/rules.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "input/checks.h"
#include "solver/friction_law.h"
#include "solver/starting_heads.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro::check {

namespace {

std::string number_text(std::int64_t value) {
  return std::to_string(value);
}

// Runs a piece of the run's own arithmetic with the floating-point traps held (masked in the SSE
// control register, where all of the program's arithmetic is done, and its flags read after),
// so that what would trap in a run is found here and named instead. The mathematical functions
// report their own errors as in a run. Returns why the arithmetic fails, empty when it does not.
template <class Arithmetic>
std::string failure_of(Arithmetic arithmetic) {
  const unsigned int saved = _mm_getcsr();
  _mm_setcsr((saved | _MM_MASK_MASK) & ~_MM_EXCEPT_MASK);
  std::string reason;
  try {
    arithmetic();
  } catch (const RunEnd& end) {
    reason = failure_message(end);
  }
  const unsigned int flags = _mm_getcsr();
  _mm_setcsr(saved);
  if (!reason.empty()) return reason;
  if (flags & _MM_EXCEPT_INVALID) return "invalid operation";
  if (flags & _MM_EXCEPT_DIV_ZERO) return "division by zero";
  if (flags & _MM_EXCEPT_OVERFLOW) return "overflow";
  return {};
}

// The run keeps viscosity / density in single precision.
bool kinematic_viscosity_fits(const HeaderRecord& header) {
  return failure_of([&] {
           volatile float nu = static_cast<float>(header.viscosity / header.density);
           (void)nu;
         })
      .empty();
}

bool parameters_usable(const HeaderRecord& header) {
  return header.complete && header.density != 0.0 && header.viscosity != 0.0 &&
         header.gravity != 0.0 && kinematic_viscosity_fits(header);
}

// A network of one branch with the run's parameters, for the run's per-branch arithmetic.
Network one_branch_network(const HeaderRecord& header) {
  Network net;
  net.roughness = header.roughness;
  net.viscosity = header.viscosity;
  net.density = header.density;
  net.gravity = header.gravity;
  net.tolerance = header.tolerance;
  net.max_iterations = header.max_iterations;
  net.pi = 4.0 * math_atan(1.0);
  net.kinematic_viscosity = static_cast<float>(header.viscosity / header.density);
  net.n_branches = 1;
  net.reynolds.create(1);
  net.friction.create(1);
  net.friction_next.create(1);
  net.resistance.create(1);
  net.first_value.create(1);
  net.second_value.create(1);
  net.diameter.create(1);
  net.length.create(1);
  return net;
}

// The arithmetic of a branch's set-up in the run, step by step: first friction factor,
// flowrate Reynolds number, resistance, terminal heads. The first step that fails is reported.
void check_branch_arithmetic(Network& net, const BranchRecord& branch, std::int32_t b,
                             Findings& findings) {
  const std::string number = std::to_string(b);
  net.first_value[1] = branch.first_value;
  net.second_value[1] = branch.second_value;
  net.diameter[1] = branch.diameter;
  net.length[1] = branch.length;
  net.reynolds[1] = first_estimate_reynolds;
  std::string reason = failure_of([&] {
    first_friction_estimate(net, 1, branch.diameter);
    if (branch.condition == condition_flowrate) {
      net.reynolds[1] = flow_reynolds(net, branch.first_value, branch.diameter);
    }
  });
  if (!reason.empty()) {
    findings.add(Code::friction_law_fails, branch.line, branch.column[field_diameter],
                 {number, reason});
    return;
  }
  reason = failure_of([&] { set_initial_resistance(net, 1); });
  if (!reason.empty()) {
    findings.add(Code::resistance_fails, branch.line, branch.column[field_length],
                 {number, reason});
    return;
  }
  const double resistance = net.resistance[1];
  if (branch.condition == condition_pressure) {
    reason = failure_of([&] {
      volatile double first = branch.first_value / (net.density * net.gravity);
      volatile double second = branch.second_value / (net.density * net.gravity);
      (void)first;
      (void)second;
    });
    if (!reason.empty()) {
      findings.add(Code::terminal_head_fails, branch.line, branch.column[field_first_value],
                   {number, "pressure", reason});
    }
  } else if (branch.condition == condition_flowrate) {
    reason = failure_of([&] {
      volatile double head = math_pow(branch.first_value, 2.0) * resistance;
      (void)head;
    });
    if (!reason.empty()) {
      findings.add(Code::terminal_head_fails, branch.line, branch.column[field_first_value],
                   {number, "flowrate", reason});
    }
  }
  // The balance takes the root of |H| / K for every branch whose flow it finds.
  if (branch.condition != condition_flowrate && resistance < 0.0) {
    findings.add(Code::negative_resistance, branch.line, branch.column[field_length],
                 {number, branch.length < 0.0 ? "length" : "diameter"});
  }
}

}  // namespace

void check_header(const HeaderRecord& header, Findings& findings) {
  if (!header.complete) return;
  const auto at = [&](std::size_t k) { return std::pair(header.line[k], header.column[k]); };
  const auto zero = [&](std::size_t k, std::string_view name, std::string_view why) {
    const auto [line, column] = at(k);
    findings.add(Code::zero_parameter, line, column, {name, why});
  };
  if (header.viscosity == 0.0) zero(1, "viscosity", "every Reynolds number divides by zero");
  if (header.density == 0.0) {
    zero(2, "density", "viscosity / density and the pressure heads divide by zero");
  }
  if (header.gravity == 0.0)
    zero(3, "gravity", "the resistances and pressure heads divide by zero");
  if (header.density != 0.0 && header.viscosity != 0.0 && !kinematic_viscosity_fits(header)) {
    const auto [line, column] = at(1);
    findings.add(Code::kinematic_viscosity_range, line, column);
  }
  {
    const auto [line, column] = at(4);
    if (header.tolerance < 0.0) {
      findings.add(Code::negative_tolerance, line, column, {number_text(header.tolerance)});
    } else if (header.tolerance == 0.0) {
      findings.add(Code::zero_tolerance, line, column);
    }
  }
  const auto [line, column] = at(5);
  if (header.max_iterations < 0) {
    findings.add(Code::negative_iteration_limit, line, column,
                 {number_text(std::int64_t{header.max_iterations})});
  } else if (header.max_iterations == 0) {
    findings.add(Code::zero_iteration_limit, line, column);
  }
}

void check_branches(const NetworkFile& file, Findings& findings) {
  const bool arithmetic = parameters_usable(file.header);
  Network net = arithmetic ? one_branch_network(file.header) : Network{};
  for (std::size_t k = 0; k < file.branches.size(); ++k) {
    const BranchRecord& branch = file.branches[k];
    if (!branch.complete) continue;
    const auto b = static_cast<std::int32_t>(k + 1);
    const std::string number = std::to_string(b);
    const auto at = [&](BranchField field) { return branch.column[field]; };
    bool valid = true;
    if (!is_condition_code(branch.condition)) {
      findings.add(Code::bad_condition_code, branch.line, at(field_condition),
                   {std::to_string(branch.condition), number});
      valid = false;
    }
    if (!is_in_sequence(branch.number, b)) {
      findings.add(Code::out_of_sequence_branch, branch.line, at(field_number),
                   {std::to_string(branch.number), number});
    }
    if (!is_node_number(branch.first_node)) {
      findings.add(Code::node_below_one, branch.line, at(field_first_node),
                   {std::to_string(branch.first_node), number, "first node"});
    }
    if (!is_node_number(branch.second_node)) {
      findings.add(Code::node_below_one, branch.line, at(field_second_node),
                   {std::to_string(branch.second_node), number, "second node"});
    }
    if (branch.condition == condition_pressure &&
        !is_pressure_terminal_data(branch.first_value, branch.second_value)) {
      findings.add(Code::pressure_terminal_data, branch.line, at(field_first_value), {number});
      valid = false;
    }
    if (branch.condition == condition_flowrate &&
        !is_flowrate_terminal_data(branch.first_value, branch.second_value)) {
      findings.add(Code::flowrate_terminal_data, branch.line, at(field_second_value),
                   {number, number_text(branch.second_value), number_text(branch.first_value)});
      valid = false;
    }
    if (branch.diameter == 0.0) {
      findings.add(Code::zero_diameter, branch.line, at(field_diameter), {number});
      valid = false;
    } else if (branch.diameter < 0.0) {
      findings.add(Code::negative_diameter, branch.line, at(field_diameter), {number});
    }
    if (branch.length < 0.0) {
      findings.add(Code::negative_length, branch.line, at(field_length), {number});
    } else if (branch.length == 0.0) {
      findings.add(Code::zero_length, branch.line, at(field_length), {number});
    }
    if (branch.first_node == branch.second_node) {
      findings.add(Code::self_loop, branch.line, at(field_first_node),
                   {number, std::to_string(branch.first_node)});
    }
    if (arithmetic && valid) check_branch_arithmetic(net, branch, b, findings);
  }
}

void check_elevations(const NetworkFile& file, Findings& findings) {
  for (std::size_t k = 0; k < file.elevations.size(); ++k) {
    const ElevationRecord& elevation = file.elevations[k];
    const auto n = static_cast<std::int32_t>(k + 1);
    if (elevation.complete && !is_in_sequence(elevation.node, n)) {
      findings.add(Code::out_of_sequence_elevation, elevation.line, elevation.column[1],
                   {std::to_string(n), std::to_string(elevation.node)});
    }
  }
}

}  // namespace tessaro::check
