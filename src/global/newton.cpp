#include "global/newton.h"

#include <cmath>
#include <limits>
#include <memory>

#include "global/head_equations.h"
#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

// The iteration ends when both residuals are this far below the network's largest flow and head
// difference, or when a step no longer moves the heads beyond their rounding.
constexpr double residual_limit = 1.0e-13;
constexpr double still_head_steps = 4.0 * std::numeric_limits<double>::epsilon();
// The first flows: every branch turbulent at Re 1e5, from its first node.
constexpr double starting_reynolds = 1.0e5;

enum class Regime : std::uint8_t { laminar, turbulent, held };

Regime regime_of(const BranchLaw& law, double q, std::uint8_t held) {
  if (held != 0) return Regime::held;
  return flow_reynolds_number(law, q) < 2000.0 ? Regime::laminar : Regime::turbulent;
}

// The one flow whose head loss is h: on the laminar line, held at the jump, or on the turbulent
// curve.
double flow_of_head(const BranchLaw& law, double h, std::uint8_t& held) {
  const double magnitude = std::fabs(h);
  held = 0;
  if (magnitude <= law.laminar_jump_head) return h / law.laminar_resistance;
  if (magnitude < law.turbulent_jump_head) {
    held = 1;
    return h < 0.0 ? -law.jump_flow : law.jump_flow;
  }
  return turbulent_flow(law, h);
}

// How far a head difference lies outside the band of a branch held at the jump.
double held_residual(const BranchLaw& law, double q, double dh) {
  const double h = q < 0.0 ? -dh : dh;
  if (h < law.laminar_jump_head) return law.laminar_jump_head - h;
  if (h > law.turbulent_jump_head) return h - law.turbulent_jump_head;
  return 0.0;
}

class Iteration {
 public:
  Iteration(const Network& net, const NetworkGraph& graph, NewtonState& state)
      : net_(net), graph_(graph), s_(state) {
    list_links();
    conductance_.create(net.n_branches);
    intercept_.create(net.n_branches);
    rhs_.create(graph.n_unknowns);
    step_.create(graph.n_unknowns);
    previous_head_.create(graph.n_unknowns);
    imbalance_.create(graph.n_groups);
    if (graph.n_unknowns > 0) {
      equations_ = std::make_unique<HeadEquations>(graph.n_unknowns, link_first_, link_second_);
    }
  }

  void run();

 private:
  std::int32_t unknown_at(std::int32_t node) const {
    return graph_.group_unknown[graph_.node_group[node]];
  }
  double head_diff(std::int32_t b) const {
    return s_.group_head[graph_.node_group[net_.first_node[b]]] -
           s_.group_head[graph_.node_group[net_.second_node[b]]];
  }
  void list_links();
  void linearise();
  void measure_imbalance();
  bool assemble_and_factorise();
  void assemble();
  bool solve_step();
  bool update_flows();
  void refine();

  const Network& net_;
  const NetworkGraph& graph_;
  NewtonState& s_;
  // The branches with a law between two different unknowns, and their link in the equations.
  Table<std::int32_t> branch_link_;
  Table<std::int32_t> link_first_;
  Table<std::int32_t> link_second_;
  Table<double> conductance_;  // dQ/dh at the current flow, 0 for a held branch
  Table<double> intercept_;    // Q - conductance h(Q): the linearised flow is this + g dh
  Table<double> rhs_;
  Table<double> step_;
  Table<double> previous_head_;
  Table<double> imbalance_;  // per group: net inflow of the current flows
  std::unique_ptr<HeadEquations> equations_;
  double head_scale_ = 0.0;
};

void Iteration::list_links() {
  branch_link_.create(net_.n_branches);
  std::int32_t n_links = 0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    const std::int32_t u = unknown_at(net_.first_node[b]);
    const std::int32_t v = unknown_at(net_.second_node[b]);
    if (u != 0 && v != 0 && u != v) branch_link_[b] = ++n_links;
  }
  link_first_.create(n_links);
  link_second_.create(n_links);
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    const std::int32_t k = branch_link_[b];
    if (k == 0) continue;
    link_first_[k] = unknown_at(net_.first_node[b]);
    link_second_[k] = unknown_at(net_.second_node[b]);
  }
}

// Each branch's law as a straight line through its current flow; the energy residual of the
// current heads and flows on the way.
void Iteration::linearise() {
  s_.energy_residual = 0.0;
  s_.largest_head_diff = 0.0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    const BranchLaw& law = s_.law[b];
    const double q = s_.flow[b];
    const double dh = head_diff(b);
    s_.largest_head_diff = std::fmax(s_.largest_head_diff, std::fabs(dh));
    if (s_.held[b] != 0) {
      conductance_[b] = 0.0;
      intercept_[b] = q;
      s_.energy_residual = std::fmax(s_.energy_residual, held_residual(law, q, dh));
      continue;
    }
    const HeadLoss loss = head_loss(law, q);
    conductance_[b] = 1.0 / loss.slope;
    intercept_[b] = q - conductance_[b] * loss.head;
    s_.energy_residual = std::fmax(s_.energy_residual, std::fabs(dh - loss.head));
  }
}

// The net inflow of every group from the current flows of the branches between groups.
void Iteration::measure_imbalance() {
  for (std::int32_t g = 1; g <= graph_.n_groups; ++g) imbalance_[g] = 0.0;
  s_.largest_flow = 0.0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    const BranchKind kind = graph_.branch_kind[b];
    if (kind != BranchKind::law && kind != BranchKind::given_flow) continue;
    const double q = s_.flow[b];
    s_.largest_flow = std::fmax(s_.largest_flow, std::fabs(q));
    imbalance_[graph_.node_group[net_.first_node[b]]] -= q;
    imbalance_[graph_.node_group[net_.second_node[b]]] += q;
  }
  s_.mass_residual = 0.0;
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    s_.mass_residual = std::fmax(s_.mass_residual, std::fabs(imbalance_[graph_.unknown_group[u]]));
  }
}

// The linearised balance of every unknown group: sum of g (H_i - H_j) over its branches equals
// the inflow of the intercepts and given flows, with the fixed heads on the right.
void Iteration::assemble() {
  equations_->clear();
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) rhs_[u] = 0.0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    const BranchKind kind = graph_.branch_kind[b];
    if (kind != BranchKind::law && kind != BranchKind::given_flow) continue;
    const std::int32_t first_group = graph_.node_group[net_.first_node[b]];
    const std::int32_t second_group = graph_.node_group[net_.second_node[b]];
    // A branch within one group adds as much as it takes.
    if (first_group == second_group) continue;
    const std::int32_t u = graph_.group_unknown[first_group];
    const std::int32_t v = graph_.group_unknown[second_group];
    const double g = kind == BranchKind::law ? conductance_[b] : 0.0;
    const double y = kind == BranchKind::law ? intercept_[b] : s_.flow[b];
    const double first_head = s_.group_head[first_group];
    const double second_head = s_.group_head[second_group];
    if (u != 0) {
      rhs_[u] -= y;
      equations_->add_diagonal(u, g);
      if (v == 0) rhs_[u] += g * second_head;
    }
    if (v != 0) {
      rhs_[v] += y;
      equations_->add_diagonal(v, g);
      if (u == 0) rhs_[v] += g * first_head;
    }
    if (branch_link_[b] != 0) equations_->add_link(branch_link_[b], g);
  }
}

// Solves for the new heads. A branch held at the jump has no conductance; when holding leaves a
// part of the network without one, the held branches are released onto the turbulent law.
bool Iteration::solve_step() {
  assemble();
  if (!equations_->factorise()) {
    bool released = false;
    for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
      if (s_.held[b] == 0) continue;
      s_.held[b] = 0;
      released = true;
    }
    if (!released) {
      log_sentence(message::factorisation_failed);
      stop_run();
    }
    return false;
  }
  equations_->solve(rhs_, step_);
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    s_.group_head[graph_.unknown_group[u]] = step_[u];
  }
  return true;
}

// The new flow of every branch from the new heads along its line. A flow that leaves the regime
// its line was drawn in is taken instead from the law at the new head difference. Returns whether
// any branch changed regime.
bool Iteration::update_flows() {
  bool changed = false;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    const BranchLaw& law = s_.law[b];
    const double q = s_.flow[b];
    const double dh = head_diff(b);
    const Regime before = regime_of(law, q, s_.held[b]);
    if (before == Regime::held) {
      if (held_residual(law, q, dh) == 0.0) continue;
    } else {
      const double next = intercept_[b] + conductance_[b] * dh;
      const Regime after = regime_of(law, next, 0);
      const bool same_side = before == Regime::laminar || (next < 0.0) == (q < 0.0);
      if (after == before && same_side) {
        s_.flow[b] = next;
        continue;
      }
    }
    s_.flow[b] = flow_of_head(law, dh, s_.held[b]);
    changed = true;
  }
  return changed;
}

// One more solve with the same factor against the imbalance the new flows leave, which the
// rounding of large conductances times heads would otherwise keep.
void Iteration::refine() {
  measure_imbalance();
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u)
    rhs_[u] = imbalance_[graph_.unknown_group[u]];
  equations_->solve(rhs_, step_);
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    s_.group_head[graph_.unknown_group[u]] += step_[u];
  }
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law || s_.held[b] != 0) continue;
    const std::int32_t u = unknown_at(net_.first_node[b]);
    const std::int32_t v = unknown_at(net_.second_node[b]);
    const double change = (u != 0 ? step_[u] : 0.0) - (v != 0 ? step_[v] : 0.0);
    s_.flow[b] += conductance_[b] * change;
  }
}

void Iteration::run() {
  bool changed = true;
  double head_step = std::numeric_limits<double>::infinity();
  for (;;) {
    // Where the heads and flows stand.
    linearise();
    measure_imbalance();
    const bool balanced = s_.mass_residual <= residual_limit * s_.largest_flow &&
                          s_.energy_residual <= residual_limit * s_.largest_head_diff;
    const bool still = head_step <= still_head_steps * head_scale_;
    if (s_.iterations > 0 && !changed && (balanced || still)) return;
    if (s_.iterations >= net_.max_iterations) {
      log_sentence(message::iterations_exceeded);
      log_sentence(message::largest_imbalance, s_.mass_residual);
      stop_run();
    }
    ++s_.iterations;

    // The new heads, then the flows along the lines, then one refinement.
    if (graph_.n_unknowns > 0) {
      for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
        previous_head_[u] = s_.group_head[graph_.unknown_group[u]];
      }
      if (!solve_step()) {
        changed = true;
        continue;
      }
      head_step = 0.0;
      head_scale_ = 0.0;
      for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
        const double head = s_.group_head[graph_.unknown_group[u]];
        head_step = std::fmax(head_step, std::fabs(head - previous_head_[u]));
        head_scale_ = std::fmax(head_scale_, std::fabs(head));
      }
    } else {
      head_step = 0.0;
    }
    changed = update_flows();
    if (!changed && graph_.n_unknowns > 0) refine();
  }
}

}  // namespace

NewtonState solve_heads(const Network& net, const NetworkGraph& graph) {
  NewtonState state;
  state.law.create(net.n_branches);
  state.flow.create(net.n_branches);
  state.held.create(net.n_branches);
  state.group_head.create(graph.n_groups);

  // The fixed heads, and the unknown heads at the mean of the fixed ones.
  double head_sum = 0.0;
  std::int32_t n_fixed = 0;
  for (std::int32_t g = 1; g <= graph.n_groups; ++g) {
    if (graph.group_kind[g] != GroupKind::fixed) continue;
    state.group_head[g] = graph.group_head[g];
    head_sum += graph.group_head[g];
    ++n_fixed;
  }
  const double start_head = n_fixed > 0 ? head_sum / static_cast<double>(n_fixed) : 0.0;
  for (std::int32_t g = 1; g <= graph.n_groups; ++g) {
    if (graph.group_kind[g] == GroupKind::free) state.group_head[g] = start_head;
  }

  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const BranchKind kind = graph.branch_kind[b];
    if (kind == BranchKind::given_flow) state.flow[b] = graph.given_flow[b];
    if (kind != BranchKind::law && kind != BranchKind::given_flow) continue;
    state.law[b] = branch_law(net, b);
    if (kind == BranchKind::law) {
      state.flow[b] = starting_reynolds * state.law[b].reynolds_denominator / 4.0;
    }
  }

  Iteration iteration(net, graph, state);
  iteration.run();
  return state;
}

}  // namespace tessaro::global
