#include "global/newton.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "global/branch_law.h"
#include "global/disjoint_sets.h"
#include "global/head_equations.h"
#include "global/two_halves.h"
#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

// The first iterations start from flows of Re 1e5 and draw every branch by the law of its
// current flow, whichever side of the jump that is; after the first of them every flow is set
// from its head difference. They find the neighbourhood of the solution, from any start, in a
// few steps; the held state comes in after them.
constexpr double starting_reynolds = 1.0e5;
constexpr std::int32_t free_iterations = 4;
// A held branch keeps this fraction of its laminar conductance in the head equations, where its
// true slope is 0: enough that a junction held on all sides keeps an equation of its own, too
// little to move the solution. The flow it lets through the branch is taken back by the next
// iteration, which draws the held branch towards its jump flow; what stays off the jump is this
// fraction of the flow the branch's laminar law gives the last step of its head difference, so
// that the held flows reach their jump flows in the same iteration as the rest converges.
constexpr double held_conductance = 1.0e-8;
// A branch leaving the held state starts just inside its new regime, by this fraction of the
// jump flow: its head difference came from equations in which the branch had almost no
// conductance, so it says which way the branch goes but not how far.
constexpr double leaving_margin = 1.0e-3;
// Converged: every junction balances to the first fraction of the largest flow, every head
// difference matches its flow's head loss to the second fraction of the largest head difference,
// and every held flow is its jump flow to the third fraction of it (its head difference lies
// between the two laws' losses at the jump, or it would have left).
constexpr double converged_imbalance = 1.0e-13;
constexpr double converged_head_loss = 1.0e-12;
constexpr double converged_held_flow = 1.0e-12;
// Where the rounding of heads and flows keeps the residuals above those bounds, residuals below
// these are taken once an iteration no longer halves them. A head difference cannot match its
// head loss closer than the rounding of the heads, nor a held flow its jump flow closer than the
// rounding of the flows that balance it at its junctions: each this fraction of the largest.
constexpr double rounding_imbalance = 1.0e-11;
constexpr double rounding_head_loss = 1.0e-11;
constexpr double rounding_held_flow = 1.0e-11;
constexpr double value_rounding = 16.0 * std::numeric_limits<double>::epsilon();
// A network whose flows are all below this fraction of the largest jump flow of its branches, and
// its head differences below this fraction of the largest laminar loss at a jump, is still: its
// residuals are measured against those fractions instead.
constexpr double still_fraction = 1.0e-9;
// Networks whose regimes still change after this many iterations (branches in series whose jump
// flows lie close together can pass a change back and forth) change one regime per iteration
// from then on, the one that goes furthest beyond its regime, and no held link is released for
// the balance of the junctions behind it: that release is itself a change of regime. So do
// networks whose residuals come back to those of one of the last few iterations, to this fraction
// of them, while regimes still change: the changes have come round in a cycle (which the rounding
// of the heads lets differ in the last digits from one round to the next), and networks whose move
// makes the same changes of regime as one of the last few moves.
constexpr std::int32_t careful_after = 24;
constexpr std::int32_t remembered_iterations = 4;
constexpr double same_residual = 1.0e-6;
// Amounts added in turn to the scaled diagonal when the head equations are not positive
// definite (the step is shortened but keeps its direction).
constexpr double regularisations[] = {0.0, 1.0e-10, 1.0e-6};

enum class Regime : std::uint8_t { laminar, turbulent, held };

double side_of(double q) {
  return q < 0.0 ? -1.0 : 1.0;
}

// The jump flow on the side of flow q: where a held branch's flow belongs.
double jump_flow_beside(const BranchLaw& law, double q) {
  return side_of(q) * law.jump_flow;
}

Regime regime_of_flow(const BranchLaw& law, double q) {
  return std::fabs(q) < law.jump_flow ? Regime::laminar : Regime::turbulent;
}

// A number for the change of link k to regime r. Summed over a move, the same changes in two
// moves give the same sum, and different changes almost never do.
std::uint64_t change_mark(std::int32_t k, Regime r) {
  const std::uint64_t mark =
      (static_cast<std::uint64_t>(k) << 2 | static_cast<std::uint64_t>(r)) * 0x9E3779B97F4A7C15ull;
  return mark ^ (mark >> 29);
}

class GradientIteration {
 public:
  GradientIteration(const Network& net, const NetworkGraph& graph, NewtonState& state)
      : net_(net), graph_(graph), s_(state) {}

  void run();

 private:
  void set_branches_outside_the_equations();
  void list_links();
  void start_flows();
  // The largest residuals and values of some of the links.
  struct Extremes {
    std::int32_t held = 0;
    double energy = 0.0;
    double off_jump = 0.0;       // relative to the jump flow
    double off_jump_flow = 0.0;  // the flow itself
    double flow = 0.0;
    double head_diff = 0.0;
  };
  void linearise();
  void add_line(std::int32_t k, double sign);
  void release_held_junctions();
  Extremes draw_lines(std::int32_t first, std::int32_t last);
  // A change of a link's regime, and how far its flow or head difference went beyond the
  // regime it leaves, relative to the jump flow or the head loss there.
  struct Change {
    std::int32_t link = 0;
    double flow = 0.0;
    Regime regime = Regime::laminar;
    double excess = 0.0;
  };
  // What a move did: the change that went furthest beyond a regime, and the sum of the marks of
  // the changes of regime it made.
  struct Moved {
    Change furthest;
    std::uint64_t changes = 0;
  };
  Moved move_flows(std::int32_t first, std::int32_t last);
  Change change_of_head(std::int32_t k, double excess) const;
  void watch_for_cycle();
  bool converged();
  double mass_with_held_flows_at_jump();
  void factorise();
  void move_heads_and_flows();
  void take_flows_of_heads();
  void finish();

  double head_diff(std::int32_t k) const {
    const std::int32_t u = first_[k];
    const std::int32_t v = second_[k];
    return (u != 0 ? head_[u] : 0.0) - (v != 0 ? head_[v] : 0.0) + offset_[k];
  }

  const Network& net_;
  const NetworkGraph& graph_;
  NewtonState& s_;
  TwoHalves halves_;

  // The links: the branches with a law whose head difference involves an unknown head, ordered
  // by the column of the head equations they end in. Per link: the branch, the columns of its
  // first and second node's heads (0 for a fixed head), the fixed heads' part of its head
  // difference, its off-diagonal value (-1 for none), its law, flow, regime, the Colebrook-White
  // root of its last flow (0 for none), and the line its head loss is drawn as: a conductance
  // and the head difference it misses at the current heads.
  std::int32_t n_links_ = 0;
  Table<std::int32_t> branch_;
  Table<std::int32_t> first_;
  Table<std::int32_t> second_;
  Table<double> offset_;
  Table<std::int32_t> slot_;
  Table<BranchLaw> law_;
  Table<double> flow_;
  Table<Regime> regime_;
  Table<double> root_;
  Table<double> conductance_;
  Table<double> missing_;

  // Per column of the head equations: the head, the step of the last iteration, the net inflow
  // of the current flows, the right-hand side, and the inflow of the given flows and cut trees.
  std::int32_t n_ = 0;
  std::unique_ptr<HeadEquations> equations_;
  Table<double> head_;
  Table<double> step_;
  Table<double> inflow_;
  Table<double> rhs_;
  Table<double> given_inflow_;
  Table<std::uint8_t> bare_;  // 1 for a column no link reaches: its head stays where it is
  // Per column and one more for all fixed heads: the groups of columns that links not held join,
  // and the net inflow of each group.
  DisjointSets groups_;
  Table<double> group_inflow_;

  // The state of the iteration.
  bool free_ = true;
  bool moved_ = false;         // the flows have been moved along their lines since they were set
  bool released_ = false;      // a held link was released in the last drawing of the lines
  bool careful_ = false;       // one regime change per iteration, after careful_after iterations
  bool cycling_ = false;       // the regime changes have come round in a cycle
  bool pending_ = false;       // the last move found a link beyond its regime
  std::uint64_t changes_ = 0;  // the marks of the last move's changes of regime
  double mass_ = 0.0;
  double energy_ = 0.0;
  double last_mass_ = 0.0;
  double last_energy_ = 0.0;
  double off_jump_ = 0.0;       // the largest distance of a held flow from its jump flow, relative
  double off_jump_flow_ = 0.0;  // the same, as a flow
  double largest_flow_ = 0.0;
  double largest_head_diff_ = 0.0;
  double largest_given_flow_ = 0.0;
  double largest_jump_flow_ = 0.0;  // of the links' branches
  double largest_jump_head_ = 0.0;  // the largest laminar loss at a jump
  double largest_fixed_head_ = 0.0;
  double largest_head_ = 0.0;  // the largest head at either end of a link
  // The residuals of the last iterations since the free ones, the last in place watched_ - 1
  // (modulo their number).
  std::int32_t watched_ = 0;
  double past_mass_[remembered_iterations] = {};
  double past_energy_[remembered_iterations] = {};
  std::uint64_t past_changes_[remembered_iterations] = {};
};

void GradientIteration::run() {
  set_branches_outside_the_equations();
  list_links();
  if (n_links_ > 0) {
    start_flows();
    for (;;) {
      last_mass_ = mass_;
      last_energy_ = energy_;
      linearise();
      watch_for_cycle();
      if (converged()) break;
      if (s_.iterations >= net_.max_iterations) {
        log_sentence(message::iterations_exceeded);
        log_sentence(message::largest_imbalance, mass_);
        stop_run();
      }
      ++s_.iterations;
      factorise();
      move_heads_and_flows();
      if (free_ && s_.iterations == 1) take_flows_of_heads();
      if (s_.iterations == free_iterations) free_ = false;
    }
  }
  finish();
}

// Branches with a law whose two ends share one head carry no flow; those between two fixed heads
// carry the flow of their head difference. Neither takes part in the equations.
void GradientIteration::set_branches_outside_the_equations() {
  BranchLaws laws(net_);
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (graph_.branch_kind[b] != BranchKind::law) continue;
    const std::int32_t g1 = graph_.node_group[net_.first_node[b]];
    const std::int32_t g2 = graph_.node_group[net_.second_node[b]];
    const bool link = graph_.group_unknown[g1] != 0 || graph_.group_unknown[g2] != 0;
    if (g1 == g2 || link) continue;
    const BranchLaw law = laws(b);
    const FlowOfHead at = flow_of_head(law, graph_.group_head[g1] - graph_.group_head[g2]);
    s_.flow[b] = at.flow;
    s_.held[b] = at.held ? 1 : 0;
    if (!at.held && at.flow != 0.0) s_.friction[b] = friction_factor(law, at.flow);
  }
}

void GradientIteration::list_links() {
  n_ = graph_.n_unknowns;
  if (n_ == 0) return;
  auto unknown_at = [&](std::int32_t node) {
    return graph_.group_unknown[graph_.node_group[node]];
  };
  auto is_link = [&](std::int32_t b) {
    return graph_.branch_kind[b] == BranchKind::law &&
           graph_.node_group[net_.first_node[b]] != graph_.node_group[net_.second_node[b]] &&
           (unknown_at(net_.first_node[b]) != 0 || unknown_at(net_.second_node[b]) != 0);
  };
  // The links, and among them the pairs of unknowns that the head equations join.
  std::int32_t n_pairs = 0;
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    if (!is_link(b)) continue;
    ++n_links_;
    if (unknown_at(net_.first_node[b]) != 0 && unknown_at(net_.second_node[b]) != 0) ++n_pairs;
  }
  Table<std::int32_t> link_branch;
  // The unknown of each link's first and second node (0 for a fixed head), then its column.
  Table<std::int32_t> link_first;
  Table<std::int32_t> link_second;
  Table<std::int32_t> link_pair;  // 0 for a link with a fixed head at one end
  Table<std::int32_t> pair_first;
  Table<std::int32_t> pair_second;
  link_branch.create(n_links_);
  link_first.create(n_links_);
  link_second.create(n_links_);
  link_pair.create(n_links_);
  pair_first.create(n_pairs);
  pair_second.create(n_pairs);
  for (std::int32_t b = 1, k = 0, p = 0; b <= net_.n_branches; ++b) {
    if (!is_link(b)) continue;
    link_branch[++k] = b;
    const std::int32_t u = unknown_at(net_.first_node[b]);
    const std::int32_t v = unknown_at(net_.second_node[b]);
    link_first[k] = u;
    link_second[k] = v;
    if (u == 0 || v == 0) continue;
    link_pair[k] = ++p;
    pair_first[p] = u;
    pair_second[p] = v;
  }
  equations_ = std::make_unique<HeadEquations>(n_, pair_first, pair_second, Factoring{}, &halves_);

  // The links ordered by the column they end in, so that every pass over them reads and writes
  // the equations' values and the heads in the order they are stored. The columns of each link's
  // ends, in the order the links were found.
  for (std::int32_t link = 1; link <= n_links_; ++link) {
    const std::int32_t u = link_first[link];
    const std::int32_t v = link_second[link];
    link_first[link] = u != 0 ? equations_->column(u) : 0;
    link_second[link] = v != 0 ? equations_->column(v) : 0;
  }
  Table<std::int32_t> start;
  start.create(n_);
  for (std::int32_t link = 1; link <= n_links_; ++link) {
    start[std::max(link_first[link], link_second[link])] += 1;
  }
  std::int32_t next = 1;
  for (std::int32_t c = 1; c <= n_; ++c) {
    const std::int32_t count = start[c];
    start[c] = next;
    next += count;
  }
  branch_.create(n_links_);
  first_.create(n_links_);
  second_.create(n_links_);
  offset_.create(n_links_);
  slot_.create(n_links_);
  law_.create(n_links_);
  bare_.create(n_);
  for (std::int32_t c = 1; c <= n_; ++c) bare_[c] = 1;
  for (std::int32_t link = 1; link <= n_links_; ++link) {
    const std::int32_t b = link_branch[link];
    const std::int32_t c1 = link_first[link];
    const std::int32_t c2 = link_second[link];
    const std::int32_t k = start[std::max(c1, c2)]++;
    branch_[k] = b;
    first_[k] = c1;
    second_[k] = c2;
    const double first_head =
        c1 == 0 ? graph_.group_head[graph_.node_group[net_.first_node[b]]] : 0.0;
    const double second_head =
        c2 == 0 ? graph_.group_head[graph_.node_group[net_.second_node[b]]] : 0.0;
    offset_[k] = first_head - second_head;
    largest_fixed_head_ =
        std::fmax(largest_fixed_head_, std::fmax(std::fabs(first_head), std::fabs(second_head)));
    slot_[k] = link_pair[link] != 0 ? equations_->link_slot(link_pair[link]) : -1;
    if (c1 != 0) bare_[c1] = 0;
    if (c2 != 0) bare_[c2] = 0;
  }
  auto make_laws = [this](std::int32_t first, std::int32_t last) {
    BranchLaws laws(net_);
    for (std::int32_t k = first; k <= last; ++k) law_[k] = laws(branch_[k]);
  };
  halves_.run(n_links_, make_laws);
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    largest_jump_flow_ = std::fmax(largest_jump_flow_, law_[k].jump_flow);
    largest_jump_head_ = std::fmax(largest_jump_head_, law_[k].laminar_jump_head);
  }

  flow_.create(n_links_);
  regime_.create(n_links_);
  root_.create(n_links_);
  conductance_.create(n_links_);
  missing_.create(n_links_);
  head_.create(n_);
  step_.create(n_);
  inflow_.create(n_);
  rhs_.create(n_);
  given_inflow_.create(n_);
  groups_.create(n_ + 1);
  group_inflow_.create(static_cast<std::int64_t>(n_) + 1);
  for (std::int32_t u = 1; u <= n_; ++u) {
    head_[equations_->column(u)] = s_.group_head[graph_.unknown_group[u]];
  }
  // The given flows and the flows of cut trees enter the balance as they are.
  auto column_at = [&](std::int32_t node) {
    const std::int32_t u = unknown_at(node);
    return u != 0 ? equations_->column(u) : 0;
  };
  for (std::int32_t b = 1; b <= net_.n_branches; ++b) {
    const BranchKind kind = graph_.branch_kind[b];
    if (kind != BranchKind::given_flow && kind != BranchKind::dead_end) continue;
    const double q = graph_.given_flow[b];
    largest_given_flow_ = std::fmax(largest_given_flow_, std::fabs(q));
    const std::int32_t c1 = column_at(net_.first_node[b]);
    const std::int32_t c2 = column_at(net_.second_node[b]);
    if (c1 != 0) given_inflow_[c1] -= q;
    if (c2 != 0) given_inflow_[c2] += q;
  }
}

void GradientIteration::start_flows() {
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    flow_[k] = starting_reynolds * law_[k].reynolds_denominator / 4.0;
    regime_[k] = regime_of_flow(law_[k], flow_[k]);
  }
}

// Every link's head loss drawn as the line through its current flow, the head equations of those
// lines, and the residuals of the current flows and heads.
void GradientIteration::linearise() {
  // Each half of the links drawn at once; the equations filled from the lines after.
  Extremes half[2];
  auto draw = [&](std::int32_t first, std::int32_t last) {
    half[first == 1 ? 0 : 1] = draw_lines(first, last);
  };
  halves_.run(n_links_, draw);
  energy_ = std::fmax(half[0].energy, half[1].energy);
  off_jump_ = std::fmax(half[0].off_jump, half[1].off_jump);
  off_jump_flow_ = std::fmax(half[0].off_jump_flow, half[1].off_jump_flow);
  largest_flow_ = std::fmax(largest_given_flow_, std::fmax(half[0].flow, half[1].flow));
  largest_head_diff_ = std::fmax(half[0].head_diff, half[1].head_diff);
  const bool any_held = half[0].held + half[1].held > 0;

  equations_->clear();
  for (std::int32_t c = 1; c <= n_; ++c) {
    inflow_[c] = given_inflow_[c];
    rhs_[c] = 0.0;
  }
  for (std::int32_t k = 1; k <= n_links_; ++k) add_line(k, 1.0);
  mass_ = 0.0;
  largest_head_ = largest_fixed_head_;
  for (std::int32_t c = 1; c <= n_; ++c) {
    largest_head_ = std::fmax(largest_head_, std::fabs(head_[c]));
    if (bare_[c] == 0) mass_ = std::fmax(mass_, std::fabs(inflow_[c]));
  }
  released_ = false;
  if (any_held && !careful_) release_held_junctions();
  double* values = equations_->values();
  for (std::int32_t c = 1; c <= n_; ++c) {
    if (bare_[c] != 0) {
      values[equations_->diagonal_slot(c)] = 1.0;
      continue;
    }
    rhs_[c] += inflow_[c];
  }
}

// A link's line in the equations, added (sign 1) or taken out (sign -1): its conductance, the
// flow of its line at the current heads leaving its first node and reaching its second, and its
// flow in the nodes' balances.
void GradientIteration::add_line(std::int32_t k, double sign) {
  double* values = equations_->values();
  const double q = sign * flow_[k];
  const double conductance = sign * conductance_[k];
  const double line_flow_change = conductance * missing_[k];
  const std::int32_t u = first_[k];
  const std::int32_t v = second_[k];
  if (u != 0) {
    inflow_[u] -= q;
    rhs_[u] -= line_flow_change;
    values[equations_->diagonal_slot(u)] += conductance;
  }
  if (v != 0) {
    inflow_[v] += q;
    rhs_[v] += line_flow_change;
    values[equations_->diagonal_slot(v)] += conductance;
  }
  if (slot_[k] >= 0) values[slot_[k]] -= conductance;
}

// Junctions joined to the fixed heads only through held links cannot balance unless the jump
// flows do: the equations would move their heads as far as the held links' almost flat lines
// ask, and the held links would all leave the jump at once, to return together in the next
// iteration. For each such group of junctions that is out of balance, one held link at its edge
// leaves the held state instead, on the side that reduces the group's imbalance.
void GradientIteration::release_held_junctions() {
  const std::int32_t fixed = n_ + 1;  // every fixed head
  groups_.separate();
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    if (regime_[k] == Regime::held) continue;
    groups_.join(first_[k] != 0 ? first_[k] : fixed, second_[k] != 0 ? second_[k] : fixed);
  }
  for (std::int32_t c = 1; c <= fixed; ++c) group_inflow_[c] = 0.0;
  for (std::int32_t c = 1; c <= n_; ++c) {
    if (bare_[c] == 0) group_inflow_[groups_.find(c)] += inflow_[c];
  }
  // Imbalances at the rounding of the held flows are left to the convergence test.
  const double tolerance = rounding_imbalance * largest_flow_;
  const std::int32_t fixed_group = groups_.find(fixed);
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    if (regime_[k] != Regime::held) continue;
    for (const std::int32_t end : {first_[k], second_[k]}) {
      if (end == 0) continue;
      const std::int32_t g = groups_.find(end);
      const double excess = group_inflow_[g];
      if (g == fixed_group || !(std::fabs(excess) > tolerance)) continue;
      add_line(k, -1.0);
      const BranchLaw& law = law_[k];
      const double side = side_of(flow_[k]);
      // More flow through the link takes more out of the group where it leaves the group.
      const double leaving = end == first_[k] ? side : -side;
      const bool more = leaving * excess > 0.0;
      flow_[k] = side * law.jump_flow * (more ? 1.0 + leaving_margin : 1.0 - leaving_margin);
      regime_[k] = more ? Regime::turbulent : Regime::laminar;
      draw_lines(k, k);
      add_line(k, 1.0);
      group_inflow_[g] = 0.0;  // one link released for the group
      released_ = true;
      break;
    }
  }
}

// The lines of the links first..last: a conductance, and the head difference the current flow
// misses at the current heads.
GradientIteration::Extremes GradientIteration::draw_lines(std::int32_t first, std::int32_t last) {
  Extremes extremes;
  for (std::int32_t k = first; k <= last; ++k) {
    const BranchLaw& law = law_[k];
    const double dh = head_diff(k);
    const double q = flow_[k];
    double conductance = 0.0;
    double missing = 0.0;
    switch (regime_[k]) {
      case Regime::laminar:
        conductance = 1.0 / law.laminar_resistance;
        missing = dh - law.laminar_resistance * q;
        extremes.energy = std::fmax(extremes.energy, std::fabs(missing));
        break;
      case Regime::turbulent: {
        const HeadLoss loss = head_loss(law, q, root_[k]);
        conductance = 1.0 / loss.slope;
        missing = dh - loss.head;
        extremes.energy = std::fmax(extremes.energy, std::fabs(missing));
        break;
      }
      case Regime::held: {
        // The line through the jump flow, of almost no slope: the flow off the jump is missing.
        const double off_jump = jump_flow_beside(law, q) - q;
        conductance = held_conductance / law.laminar_resistance;
        missing = off_jump / conductance;
        extremes.off_jump = std::fmax(extremes.off_jump, std::fabs(off_jump) / law.jump_flow);
        extremes.off_jump_flow = std::fmax(extremes.off_jump_flow, std::fabs(off_jump));
        extremes.held += 1;
        break;
      }
    }
    conductance_[k] = conductance;
    missing_[k] = missing;
    extremes.flow = std::fmax(extremes.flow, std::fabs(q));
    extremes.head_diff = std::fmax(extremes.head_diff, std::fabs(dh));
  }
  return extremes;
}

void GradientIteration::watch_for_cycle() {
  if (free_) return;
  auto same = [](double past, double now) {
    return std::fabs(past - now) <= same_residual * std::fabs(now);
  };
  if (pending_) {
    for (std::int32_t i = 0; i < std::min(watched_, remembered_iterations); ++i) {
      if (same(past_mass_[i], mass_) && same(past_energy_[i], energy_)) cycling_ = true;
      if (changes_ != 0 && past_changes_[i] == changes_) cycling_ = true;
    }
  }
  past_mass_[watched_ % remembered_iterations] = mass_;
  past_energy_[watched_ % remembered_iterations] = energy_;
  past_changes_[watched_ % remembered_iterations] = changes_;
  ++watched_;
}

bool GradientIteration::converged() {
  if (!moved_ || released_ || pending_) return false;
  // The residuals are measured against the largest flow and head difference, or against a small
  // part of the branches' jump flows and losses where the network is all but still.
  const double flow_scale = std::fmax(largest_flow_, still_fraction * largest_jump_flow_);
  const double head_scale = std::fmax(largest_head_diff_, still_fraction * largest_jump_head_);
  const double head_floor = value_rounding * largest_head_;
  const bool held_at_flow_floor = off_jump_flow_ <= value_rounding * flow_scale;
  const bool stalled = mass_ >= 0.5 * last_mass_ && energy_ >= 0.5 * last_energy_;
  auto matched = [&](double head_loss) {
    return energy_ <= std::fmax(head_loss * head_scale, head_floor);
  };
  auto within = [&](double mass, double imbalance, double head_loss, bool held_at_jump) {
    return mass <= imbalance * flow_scale && matched(head_loss) && held_at_jump;
  };
  if (within(mass_, converged_imbalance, converged_head_loss,
             off_jump_ <= converged_held_flow || held_at_flow_floor) ||
      (stalled && within(mass_, rounding_imbalance, rounding_head_loss,
                         off_jump_ <= rounding_held_flow || held_at_flow_floor))) {
    return true;
  }
  // Where only held flows still lie off their jump flows, they are set at them if the junctions
  // then balance as closely as asked: a further iteration would only move them there.
  if (off_jump_flow_ == 0.0 ||
      !(matched(converged_head_loss) || (stalled && matched(rounding_head_loss)))) {
    return false;
  }
  const double mass_at_jump = mass_with_held_flows_at_jump();
  if (!within(mass_at_jump, converged_imbalance, converged_head_loss, true) &&
      !(stalled && within(mass_at_jump, rounding_imbalance, rounding_head_loss, true))) {
    return false;
  }
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    if (regime_[k] == Regime::held) flow_[k] = jump_flow_beside(law_[k], flow_[k]);
  }
  mass_ = mass_at_jump;
  off_jump_ = 0.0;
  off_jump_flow_ = 0.0;
  return true;
}

// The largest net inflow of a junction with every held flow at its jump flow. The net inflows of
// the current flows are changed to those; the next linearisation makes them again.
double GradientIteration::mass_with_held_flows_at_jump() {
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    if (regime_[k] != Regime::held) continue;
    const double change = jump_flow_beside(law_[k], flow_[k]) - flow_[k];
    if (first_[k] != 0) inflow_[first_[k]] -= change;
    if (second_[k] != 0) inflow_[second_[k]] += change;
  }
  double mass = 0.0;
  for (std::int32_t c = 1; c <= n_; ++c) {
    if (bare_[c] == 0) mass = std::fmax(mass, std::fabs(inflow_[c]));
  }
  return mass;
}

void GradientIteration::factorise() {
  for (const double regularisation : regularisations) {
    if (equations_->factorise(regularisation)) return;
  }
  log_sentence(message::factorisation_failed);
  stop_run();
}

// The heads solved for, and every flow moved along its line to them (see move_flows).
void GradientIteration::move_heads_and_flows() {
  equations_->solve(rhs_, step_);
  for (std::int32_t c = 1; c <= n_; ++c) head_[c] += step_[c];
  moved_ = true;
  careful_ = cycling_ || s_.iterations > careful_after;
  Moved half[2];
  auto move = [&](std::int32_t first, std::int32_t last) {
    half[first == 1 ? 0 : 1] = move_flows(first, last);
  };
  halves_.run(n_links_, move);
  changes_ = half[0].changes + half[1].changes;
  // A careful move changes the regime of the one link that leaves its regime furthest.
  const Change& first_half = half[0].furthest;
  const Change& second_half = half[1].furthest;
  pending_ = first_half.link != 0 || second_half.link != 0;
  const Change& change = first_half.excess >= second_half.excess ? first_half : second_half;
  if (careful_ && change.link != 0) {
    flow_[change.link] = change.flow;
    regime_[change.link] = change.regime;
  }
}

// Every flow moved along its line to the new heads. A branch whose flow leaves the regime its
// line was drawn in changes regime: one that reaches Re 2000 takes the regime its head
// difference says, held or beyond, except a turbulent one whose line passes through zero into the
// laminar range, which takes the line's flow; a held one whose head difference leaves the two
// laws' head losses at the jump starts again just inside that side. In a careful move the branches
// keep their regimes, and the change that goes furthest beyond a regime is returned instead.
GradientIteration::Moved GradientIteration::move_flows(std::int32_t first, std::int32_t last) {
  Moved moved;
  Change& furthest = moved.furthest;
  for (std::int32_t k = first; k <= last; ++k) {
    const BranchLaw& law = law_[k];
    const std::int32_t u = first_[k];
    const std::int32_t v = second_[k];
    const double step = (u != 0 ? step_[u] : 0.0) - (v != 0 ? step_[v] : 0.0);
    const double q = flow_[k];
    const double line_flow = q + conductance_[k] * (missing_[k] + step);
    if (free_) {
      flow_[k] = line_flow;
      regime_[k] = regime_of_flow(law, line_flow);
      continue;
    }
    const double side = side_of(q);
    Change change;
    switch (regime_[k]) {
      case Regime::laminar:
        if (std::fabs(line_flow) >= law.jump_flow) {
          change = change_of_head(k, (std::fabs(line_flow) - law.jump_flow) / law.jump_flow);
        }
        break;
      case Regime::turbulent: {
        const bool reversed = side_of(line_flow) != side;
        const bool below_jump = std::fabs(line_flow) < law.jump_flow;
        if (!reversed && !below_jump) break;
        const double excess = (law.jump_flow - side * line_flow) / law.jump_flow;
        if (reversed && below_jump) {
          // Through zero into the laminar range: the line's flow, as in a free move. Its head
          // difference comes from equations that gave the branch its turbulent slope; taken as
          // the flow, it sends the branch to the turbulent side opposite and back again in the
          // next iteration, each time only about a fifth less far.
          change = {k, line_flow, Regime::laminar, excess};
        } else {
          change = change_of_head(k, excess);
        }
        break;
      }
      case Regime::held: {
        const double dh = side * head_diff(k);
        if (dh < law.laminar_jump_head) {
          change = {k, side * law.jump_flow * (1.0 - leaving_margin), Regime::laminar,
                    (law.laminar_jump_head - dh) / law.laminar_jump_head};
        } else if (dh > law.turbulent_jump_head) {
          change = {k, side * law.jump_flow * (1.0 + leaving_margin), Regime::turbulent,
                    (dh - law.turbulent_jump_head) / law.turbulent_jump_head};
        }
        break;
      }
    }
    // A change at the rounding of the flow or head difference does not keep the iteration going:
    // a held branch whose head difference leaves the laws' losses at the jump by no more stays
    // held; a branch that reaches the jump by no more while its head difference keeps it in its
    // regime stays at the jump flow, the corner of its law (its line's step is exact, but the
    // heads took it only to their rounding, which can be more than the branch's distance from
    // the corner: each further iteration would find it there again); and a branch that reaches
    // the jump by no more, usually to be held there, takes its new regime without waiting its
    // turn in a careful move, where its new flow differs from its line's by no more than that
    // rounding. (Far from the solution, the head difference of a turbulent branch's line can say
    // otherwise: that change counts as any other.)
    bool at_rounding = change.link != 0 && change.excess <= value_rounding;
    if (at_rounding && regime_[k] == Regime::held) {
      change = Change{};
    } else if (at_rounding && change.regime == regime_[k]) {
      change.flow = side * law.jump_flow;
    } else if (at_rounding && std::fabs(change.flow - line_flow) > value_rounding * law.jump_flow) {
      at_rounding = false;
    }
    if (change.link == 0 || (careful_ && !at_rounding)) {
      flow_[k] = line_flow;
      if (change.excess > furthest.excess) furthest = change;
    } else {
      if (!at_rounding && change.regime != regime_[k]) {
        moved.changes += change_mark(k, change.regime);
      }
      flow_[k] = change.flow;
      regime_[k] = change.regime;
      if (!at_rounding) furthest = change;
    }
  }
  return moved;
}

// The change of link k to the flow and regime of its head difference.
GradientIteration::Change GradientIteration::change_of_head(std::int32_t k, double excess) const {
  const FlowOfHead at = flow_of_head(law_[k], head_diff(k));
  return {k, at.flow, at.held ? Regime::held : regime_of_flow(law_[k], at.flow), excess};
}

// Every flow set from its head difference: after the first iteration from the starting flows, the
// heads are nearer the solution than the flows.
void GradientIteration::take_flows_of_heads() {
  auto take = [this](std::int32_t first, std::int32_t last) {
    for (std::int32_t k = first; k <= last; ++k) {
      flow_[k] = flow_of_head(law_[k], head_diff(k)).flow;
      regime_[k] = regime_of_flow(law_[k], flow_[k]);
    }
  };
  halves_.run(n_links_, take);
  moved_ = false;
}

void GradientIteration::finish() {
  for (std::int32_t u = 1; u <= n_; ++u) {
    s_.group_head[graph_.unknown_group[u]] = head_[equations_->column(u)];
  }
  s_.mass_residual = mass_;
  s_.energy_residual = energy_;
  s_.largest_flow = largest_flow_;
  s_.largest_head_diff = largest_head_diff_;
  for (std::int32_t k = 1; k <= n_links_; ++k) {
    const std::int32_t b = branch_[k];
    const BranchLaw& law = law_[k];
    const double q = flow_[k];
    s_.flow[b] = q;
    s_.held[b] = regime_[k] == Regime::held ? 1 : 0;
    if (regime_[k] == Regime::held) {
      // How far a held branch's head difference lies outside the two laws' losses at the jump.
      const double dh = std::fabs(head_diff(k));
      const double outside = std::fmax(law.laminar_jump_head - dh, dh - law.turbulent_jump_head);
      s_.energy_residual = std::fmax(s_.energy_residual, outside);
    } else if (q != 0.0) {
      // The last drawing of the lines was at the final flows: the root there is exact.
      s_.friction[b] =
          regime_[k] == Regime::turbulent ? 1.0 / (root_[k] * root_[k]) : friction_factor(law, q);
    }
  }
}

}  // namespace

NewtonState solve_heads(const Network& net, const NetworkGraph& graph) {
  NewtonState state;
  state.flow.create(net.n_branches);
  state.held.create(net.n_branches);
  state.friction.create(net.n_branches);
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
  }

  GradientIteration iteration(net, graph, state);
  iteration.run();
  return state;
}

}  // namespace tessaro::global
