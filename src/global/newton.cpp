#include "global/newton.h"

#include <cmath>
#include <memory>

#include "global/head_equations.h"
#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

// The heads have settled when a step moves none of them by more than this fraction of the
// largest head, or when no junction is out of balance by more than this fraction of the largest
// flow.
constexpr double settled_head_step = 1.0e-13;
constexpr double settled_imbalance = 1.0e-15;
// The heads have also settled when a whole step no longer halves the largest imbalance once it
// is below this fraction of the largest flow: the flows that the heads give are then as exact as
// the rounding of the heads allows, and only flows kept as unknowns balance further.
constexpr double stalled_imbalance = 1.0e-8;
constexpr double stalled_reduction = 0.5;
// A whole step that leaves no junction out of balance by more than this fraction of the largest
// flow is close enough for the flow refinement to finish the balance, the head differences
// still matching their flows' head losses far inside their target.
constexpr double refinable_imbalance = 1.0e-9;
// After the refinement of the flows every junction balances to this fraction of the largest flow.
constexpr double balanced_imbalance = 1.0e-13;
// A refinement that comes early is kept only when every head difference also matches its flow's
// head loss to this fraction of the largest head difference.
constexpr double balanced_head_loss = 1.0e-12;
// A branch held at the jump has no slope. In the step that first finds it held it keeps this
// fraction of its laminar slope, so that a junction reached only through held branches still
// takes a sound step; while it stays held it keeps the second, smaller fraction, nearer its true
// slope of 0, so that the last steps converge fast rather than by a constant factor, yet not so
// small that a junction held on all sides is sent far and its step cut to nothing.
constexpr double held_slope_fraction = 1.0e-1;
constexpr double settled_held_slope_fraction = 1.0e-3;
// Where the head equations are singular even so, they are solved with these amounts added to
// the scaled diagonal in turn (which shortens the step but keeps it a rising direction); a
// junction whose branches all lack a slope takes this fraction of their laminar slopes.
constexpr double regularisations[] = {0.0, 1.0e-10, 1.0e-6};
constexpr double bare_diagonal_fraction = 1.0e-10;
// The step is shortened until the slope of the concave function along it has fallen to no less
// than -curvature_limit times its slope at the start, in at most max_shortenings trials.
constexpr double curvature_limit = 0.5;
constexpr int max_shortenings = 30;
constexpr int refinements = 3;
// The starting heads come from this many iterations on the flows, which count as iterations.
constexpr double starting_reynolds = 1.0e5;
constexpr int start_passes = 8;

class Iteration {
 public:
  Iteration(const Network& net, const NetworkGraph& graph, NewtonState& state)
      : net_(net), graph_(graph), s_(state) {
    list_links();
    slope_.create(net.n_branches);
    root_.create(net.n_branches);
    imbalance_.create(graph.n_groups);
    step_.create(graph.n_unknowns);
    start_head_.create(graph.n_unknowns);
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
    return s_.group_head[first_group_[b]] - s_.group_head[second_group_[b]];
  }
  bool carries_flow(std::int32_t b) const {
    const BranchKind kind = graph_.branch_kind[b];
    return kind == BranchKind::law || kind == BranchKind::given_flow ||
           kind == BranchKind::dead_end;
  }
  double step_across(std::int32_t b) const {
    const std::int32_t u = first_unknown_[b];
    const std::int32_t v = second_unknown_[b];
    return (u != 0 ? step_[u] : 0.0) - (v != 0 ? step_[v] : 0.0);
  }
  void list_links();
  void flows_from_heads();
  void measure_imbalance();
  double slope_along_step() const;
  void move_heads(double t);
  void assemble();
  void factorise();
  void solve_imbalance();
  void start_heads();
  double take_step();
  void refine_flows();
  void measure_energy_residual();

  const Network& net_;
  const NetworkGraph& graph_;
  NewtonState& s_;
  // The branches with a law between two different unknowns, and their link in the equations.
  Table<std::int32_t> branch_link_;
  Table<std::int32_t> link_first_;
  Table<std::int32_t> link_second_;
  // The groups and unknowns (0 for none) at the two ends of each branch, looked up once.
  Table<std::int32_t> first_group_;
  Table<std::int32_t> second_group_;
  Table<std::int32_t> first_unknown_;
  Table<std::int32_t> second_unknown_;
  Table<double> diagonal_;    // per unknown: the sum of the slopes of its branches
  Table<double> slope_;       // dQ/dh of each branch at its head difference
  Table<double> root_;        // the Colebrook-White root of each branch's last flow, 0 for none
  Table<double> imbalance_;   // per group: the net inflow of the current flows
  Table<double> step_;        // the Newton step of the unknown heads
  Table<double> start_head_;  // the unknown heads where the step started
  std::unique_ptr<HeadEquations> equations_;
};

void Iteration::list_links() {
  first_group_.create(net_.n_branches);
  second_group_.create(net_.n_branches);
  first_unknown_.create(net_.n_branches);
  second_unknown_.create(net_.n_branches);
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    first_group_[b] = graph_.node_group[net_.first_node[b]];
    second_group_[b] = graph_.node_group[net_.second_node[b]];
    first_unknown_[b] = graph_.group_unknown[first_group_[b]];
    second_unknown_[b] = graph_.group_unknown[second_group_[b]];
  }
  diagonal_.create(graph_.n_unknowns);
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

// Every branch with a law takes the flow of its head difference, and the slope there.
void Iteration::flows_from_heads() {
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    const BranchLaw& law = s_.law[b];
    const FlowOfHead at = flow_of_head(law, head_diff(b));
    s_.flow[b] = at.flow;
    const double fraction = s_.held[b] != 0 ? settled_held_slope_fraction : held_slope_fraction;
    s_.held[b] = at.held ? 1 : 0;
    slope_[b] = at.held ? fraction / law.laminar_resistance : at.slope;
  }
}

// The net inflow of every group from the flows of the branches between groups.
void Iteration::measure_imbalance() {
  for (std::int32_t g = 1; g <= graph_.n_groups; ++g) imbalance_[g] = 0.0;
  s_.largest_flow = 0.0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (!carries_flow(b)) continue;
    const double q = s_.flow[b];
    s_.largest_flow = std::fmax(s_.largest_flow, std::fabs(q));
    imbalance_[first_group_[b]] -= q;
    imbalance_[second_group_[b]] += q;
  }
  s_.mass_residual = 0.0;
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    s_.mass_residual = std::fmax(s_.mass_residual, std::fabs(imbalance_[graph_.unknown_group[u]]));
  }
}

// The slope along the step of the concave function whose gradient is the imbalance.
double Iteration::slope_along_step() const {
  double slope = 0.0;
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    slope += step_[u] * imbalance_[graph_.unknown_group[u]];
  }
  return slope;
}

void Iteration::move_heads(double t) {
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    s_.group_head[graph_.unknown_group[u]] = start_head_[u] + t * step_[u];
  }
}

// The head equations at the current slopes: for every unknown group, the sum of the slopes of
// its branches on the diagonal, minus the slope of each branch to another unknown off it.
void Iteration::assemble() {
  equations_->clear();
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) diagonal_[u] = 0.0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law || first_group_[b] == second_group_[b]) continue;
    const std::int32_t u = first_unknown_[b];
    const std::int32_t v = second_unknown_[b];
    if (u != 0) diagonal_[u] += slope_[b];
    if (v != 0) diagonal_[v] += slope_[b];
    if (branch_link_[b] != 0) equations_->add_link(branch_link_[b], slope_[b]);
  }
  bool bare = false;
  for (std::int32_t u = 1; u <= graph_.n_unknowns && !bare; ++u) bare = !(diagonal_[u] > 0.0);
  if (bare) {
    for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
      if (graph_.branch_kind[b] != BranchKind::law) continue;
      const double small = bare_diagonal_fraction / s_.law[b].laminar_resistance;
      for (const std::int32_t u : {first_unknown_[b], second_unknown_[b]}) {
        if (u != 0 && !(diagonal_[u] > small)) diagonal_[u] += small;
      }
    }
  }
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) equations_->add_diagonal(u, diagonal_[u]);
}

void Iteration::factorise() {
  for (const double regularisation : regularisations) {
    assemble();
    if (equations_->factorise(regularisation)) return;
  }
  log_sentence(message::factorisation_failed);
  stop_run();
}

// The head step that the linearised balance asks for against the current imbalance.
void Iteration::solve_imbalance() {
  Table<double>& rhs = start_head_;
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    rhs[u] = imbalance_[graph_.unknown_group[u]];
  }
  equations_->solve(rhs, step_);
  for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
    start_head_[u] = s_.group_head[graph_.unknown_group[u]];
  }
}

// The starting heads: a few iterations of Newton's method on the flows (each branch's law drawn
// as the line through its current flow, the heads solved for, the flows taken along the lines),
// from flows of Re 1e5. Such iterations reach the neighbourhood of the solution quickly, where
// the steps on the heads then converge.
void Iteration::start_heads() {
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    s_.flow[b] = starting_reynolds * s_.law[b].reynolds_denominator / 4.0;
  }
  for (int pass = 0; pass < start_passes && s_.iterations < net_.max_iterations; ++pass) {
    ++s_.iterations;
    for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
      if (graph_.branch_kind[b] != BranchKind::law) continue;
      const HeadLoss loss = head_loss(s_.law[b], s_.flow[b], root_[b]);
      slope_[b] = 1.0 / loss.slope;
      s_.flow[b] += slope_[b] * (head_diff(b) - loss.head);
    }
    measure_imbalance();
    factorise();
    solve_imbalance();
    move_heads(1.0);
    double moved = 0.0;
    double largest = 0.0;
    for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
      moved = std::fmax(moved, std::fabs(step_[u]));
      largest = std::fmax(largest, std::fabs(s_.group_head[graph_.unknown_group[u]]));
    }
    if (moved <= settled_head_step * largest) return;
    for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
      if (graph_.branch_kind[b] == BranchKind::law) s_.flow[b] += slope_[b] * step_across(b);
    }
  }
}

// One Newton step on the heads, shortened while the function would fall along it: the whole
// step first; while it overshoots the rise along it, regula falsi on the slope between the last
// point where the function still rose and the first where it fell too steeply.
double Iteration::take_step() {
  factorise();
  solve_imbalance();
  const double start_slope = slope_along_step();
  double low = 0.0;
  double low_slope = start_slope;
  double high = 1.0;
  double t = 1.0;
  for (int trial = 0;; ++trial) {
    move_heads(t);
    flows_from_heads();
    measure_imbalance();
    const double slope = slope_along_step();
    if (!(start_slope > 0.0) || slope >= -curvature_limit * start_slope ||
        trial == max_shortenings) {
      return t;
    }
    high = t;
    const double high_slope = slope;
    if (slope > 0.0) {
      low = t;
      low_slope = slope;
    }
    t = low + (high - low) * low_slope / (low_slope - high_slope);
    if (!(t > low && t < high)) t = 0.5 * (low + high);
  }
}

// The flows as unknowns of their own: each pass solves for the head corrections that the
// remaining imbalance asks for and moves every flow along its slope, which balances the
// junctions to the rounding of the flows themselves rather than of the heads times the slopes.
// A held branch keeps its jump flow: the equations are factorised once more with no slope for it.
void Iteration::refine_flows() {
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] == BranchKind::law && s_.held[b] != 0) slope_[b] = 0.0;
  }
  factorise();
  for (int pass = 0; pass < refinements; ++pass) {
    measure_imbalance();
    if (s_.mass_residual <= settled_imbalance * s_.largest_flow) return;
    solve_imbalance();
    move_heads(1.0);
    for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
      if (graph_.branch_kind[b] == BranchKind::law) s_.flow[b] += slope_[b] * step_across(b);
    }
  }
  measure_imbalance();
}

// The largest difference between a branch's head difference and the head loss of its flow; for
// a held branch, how far its head difference lies outside the two laws' head losses at the jump.
void Iteration::measure_energy_residual() {
  s_.energy_residual = 0.0;
  s_.largest_head_diff = 0.0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    const BranchLaw& law = s_.law[b];
    const double dh = head_diff(b);
    s_.largest_head_diff = std::fmax(s_.largest_head_diff, std::fabs(dh));
    double residual = 0.0;
    if (s_.held[b] != 0) {
      const double h = std::fabs(dh);
      if (h < law.laminar_jump_head) residual = law.laminar_jump_head - h;
      if (h > law.turbulent_jump_head) residual = h - law.turbulent_jump_head;
    } else {
      residual = std::fabs(dh - head_loss(law, s_.flow[b]).head);
    }
    s_.energy_residual = std::fmax(s_.energy_residual, residual);
  }
}

void Iteration::run() {
  if (graph_.n_unknowns > 0) start_heads();
  flows_from_heads();
  measure_imbalance();
  if (graph_.n_unknowns > 0) {
    double last_step = 0.0;
    double last_residual = 0.0;
    bool may_refine_early = true;
    for (;;) {
      // Settled: nothing is out of balance, or the last step moved no head beyond its rounding.
      // Close enough: a whole step has left only a small imbalance, or has stopped reducing one.
      // The flows are then refined; if a junction still misses its balance, or (unless the
      // flows of the heads balanced already) a head difference its flow's head loss, the steps go
      // on.
      const bool balanced = s_.mass_residual <= settled_imbalance * s_.largest_flow;
      bool settled = balanced;
      bool early = false;
      if (!settled && s_.iterations > 0) {
        double moved = 0.0;
        double largest = 0.0;
        for (std::int32_t u = 1; u <= graph_.n_unknowns; ++u) {
          const double head = s_.group_head[graph_.unknown_group[u]];
          moved = std::fmax(moved, std::fabs(head - start_head_[u]));
          largest = std::fmax(largest, std::fabs(head));
        }
        settled = moved <= settled_head_step * largest;
        const double small = s_.mass_residual / s_.largest_flow;
        early =
            !settled && may_refine_early && last_step == 1.0 &&
            (small <= refinable_imbalance ||
             (small <= stalled_imbalance && s_.mass_residual > stalled_reduction * last_residual));
      }
      if (settled || early) {
        refine_flows();
        bool done = s_.mass_residual <= balanced_imbalance * s_.largest_flow;
        if (done && !balanced) {
          measure_energy_residual();
          done = s_.energy_residual <= balanced_head_loss * s_.largest_head_diff;
          may_refine_early = done;
        }
        if (done) break;
        flows_from_heads();
        measure_imbalance();
      }
      if (s_.iterations >= net_.max_iterations) {
        log_sentence(message::iterations_exceeded);
        log_sentence(message::largest_imbalance, s_.mass_residual);
        stop_run();
      }
      ++s_.iterations;
      last_residual = s_.mass_residual;
      last_step = take_step();
    }
  }
  measure_energy_residual();
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
    if (kind == BranchKind::given_flow || kind == BranchKind::dead_end) {
      state.flow[b] = graph.given_flow[b];
    }
    if (kind == BranchKind::law || kind == BranchKind::given_flow || kind == BranchKind::dead_end) {
      state.law[b] = branch_law(net, b);
    }
  }

  Iteration iteration(net, graph, state);
  iteration.run();
  return state;
}

}  // namespace tessaro::global
