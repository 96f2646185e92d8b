#include "global/head_equations.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "global/dense_kernels.h"
#include "global/ordering_libraries.h"
#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

std::size_t size_of(std::int64_t n) {
  return static_cast<std::size_t>(n);
}

// Calls visit(u, v) for every pair of unknowns joined in a pattern's upper triangle (0-based).
template <class Visit>
void for_each_pair(const cholmod_sparse* pattern, Visit visit) {
  const auto n = static_cast<std::int32_t>(pattern->ncol);
  const auto* column_start = static_cast<const int*>(pattern->p);
  const auto* row = static_cast<const int*>(pattern->i);
  for (std::int32_t c = 0; c < n; ++c) {
    for (int p = column_start[c]; p < column_start[c + 1]; ++p) {
      if (row[p] != c) visit(row[p], c);
    }
  }
}

// How many other unknowns each unknown of a pattern is joined to.
std::vector<std::int32_t> degrees_of(const cholmod_sparse* pattern) {
  std::vector<std::int32_t> degree(pattern->ncol, 0);
  for_each_pair(pattern, [&](std::int32_t u, std::int32_t v) {
    ++degree[size_of(u)];
    ++degree[size_of(v)];
  });
  return degree;
}

// The unknowns joined to each unknown of a pattern, from start[u] to start[u + 1], 0-based.
struct Neighbours {
  std::vector<std::int32_t> start;
  std::vector<std::int32_t> unknown;

  Neighbours(const cholmod_sparse* pattern, const std::vector<std::int32_t>& degree) {
    start.assign(degree.size() + 1, 0);
    for (std::size_t u = 0; u < degree.size(); ++u) start[u + 1] = start[u] + degree[u];
    unknown.resize(size_of(start.back()));
    std::vector<std::int32_t> next(start.begin(), start.end() - 1);
    for_each_pair(pattern, [&](std::int32_t u, std::int32_t v) {
      unknown[size_of(next[size_of(u)]++)] = v;
      unknown[size_of(next[size_of(v)]++)] = u;
    });
  }
  std::int32_t degree(std::int32_t u) const { return start[size_of(u) + 1] - start[size_of(u)]; }
  // The neighbour of u (of degree 1 or 2) other than `from`, or -1 for none.
  std::int32_t other(std::int32_t u, std::int32_t from) const {
    for (std::int32_t p = start[size_of(u)]; p < start[size_of(u) + 1]; ++p) {
      if (unknown[size_of(p)] != from) return unknown[size_of(p)];
    }
    return -1;
  }
};

// The chains of a pattern: its unknowns joined to at most two others, each chain in the order of
// its elimination. Chains that reach none of the other unknowns (free paths and closed ones) are
// listed apart; the others keep the unknowns at their ends (-1 for a free end), and those that
// join two of them give the link between them.
struct Chains {
  std::vector<std::int32_t> apart;
  std::vector<std::int32_t> unknown;  // chain after chain
  std::vector<std::int32_t> start;    // where each chain starts in `unknown`, and the end
  std::vector<std::pair<std::int32_t, std::int32_t>> ends;
  std::vector<std::pair<std::int32_t, std::int32_t>> links;

  explicit Chains(const Neighbours& neighbours);
};

Chains::Chains(const Neighbours& neighbours) {
  const auto n = static_cast<std::int32_t>(neighbours.start.size()) - 1;
  auto thin = [&](std::int32_t u) { return neighbours.degree(u) <= 2; };
  std::vector<std::uint8_t> placed(size_of(n), 0);
  std::vector<std::int32_t> chain;
  for (std::int32_t t = 0; t < n; ++t) {
    if (!thin(t) || placed[size_of(t)] != 0) continue;
    // Out to one end of t's chain: the chain's last unknown there and what lies beyond it (an
    // unknown of the rest, -1 for a free end, or t itself round a closed chain).
    std::int32_t end = t;
    std::int32_t beyond = neighbours.other(t, -1);
    for (std::int32_t from = -1; beyond != -1 && beyond != t && thin(beyond);) {
      from = end;
      end = beyond;
      beyond = neighbours.other(end, from);
    }
    // Back along the chain from that end to the other.
    chain.clear();
    std::int32_t from = beyond;
    std::int32_t at = end;
    std::int32_t far = -1;
    for (;;) {
      chain.push_back(at);
      placed[size_of(at)] = 1;
      const std::int32_t next = neighbours.other(at, from);
      if (next == -1 || placed[size_of(next)] != 0) break;
      if (!thin(next)) {
        far = next;
        break;
      }
      from = at;
      at = next;
    }
    const std::int32_t near = beyond != -1 && !thin(beyond) ? beyond : -1;
    if (near == -1 && far == -1) {
      apart.insert(apart.end(), chain.begin(), chain.end());
      continue;
    }
    if (far == -1) {
      // From the free end.
      std::reverse(chain.begin(), chain.end());
    } else if (near != -1 && near != far) {
      links.emplace_back(std::min(near, far), std::max(near, far));
    }
    start.push_back(static_cast<std::int32_t>(unknown.size()));
    ends.emplace_back(near, far);
    unknown.insert(unknown.end(), chain.begin(), chain.end());
  }
  start.push_back(static_cast<std::int32_t>(unknown.size()));
}

// The upper triangle of the pattern of `links` between the unknowns 0..n - 1, each column's rows
// ascending, repeated links once: counted by row, placed by column.
cholmod_sparse* pattern_of_links(std::int32_t n,
                                 const std::vector<std::pair<std::int32_t, std::int32_t>>& links,
                                 cholmod_common* common) {
  std::vector<std::int32_t> row_start(size_of(n) + 1, 0);
  std::vector<std::int32_t> column_start(size_of(n) + 1, 0);
  for (const auto& [row, column] : links) {
    ++row_start[size_of(row) + 1];
    ++column_start[size_of(column) + 1];
  }
  for (std::int32_t c = 0; c < n; ++c) {
    row_start[size_of(c) + 1] += row_start[size_of(c)];
    column_start[size_of(c) + 1] += column_start[size_of(c)];
  }
  std::vector<std::int32_t> by_row(links.size());
  for (std::size_t k = 0; k < links.size(); ++k) {
    by_row[size_of(row_start[size_of(links[k].first)]++)] = static_cast<std::int32_t>(k);
  }
  std::vector<std::int32_t> in_column(links.size());
  for (const std::int32_t k : by_row) {
    const auto& [row, column] = links[size_of(k)];
    in_column[size_of(column_start[size_of(column)]++)] = row;
  }
  cholmod_sparse* pattern = cholmod_allocate_sparse(size_of(n), size_of(n), links.size(), 1, 1, 1,
                                                    CHOLMOD_PATTERN, common);
  if (pattern == nullptr) return nullptr;
  auto* start = static_cast<int*>(pattern->p);
  auto* row = static_cast<int*>(pattern->i);
  int entries = 0;
  for (std::int32_t c = 0, e = 0; c < n; ++c) {
    start[c] = entries;
    for (; e < column_start[size_of(c)]; ++e) {
      const std::int32_t r = in_column[size_of(e)];
      if (entries == start[c] || row[entries - 1] != r) row[entries++] = r;
    }
  }
  start[n] = entries;
  return pattern;
}

// A fill-reducing order for networks whose unknowns lie mostly in chains, as in real distribution
// networks. The unknowns joined to at most two others are ordered chain by chain, from the chain's
// free end where it has one (no fill), otherwise from one end (one filled entry per unknown,
// joining the two ends of the chain, as minimum degree would). AMD orders the other unknowns, in
// the pattern the chains leave, where a chain between two of them is one link; AMD alone finds
// about the same order but spends most of its time on the chains. Where fewer than a quarter of
// the unknowns lie in chains, AMD orders the whole pattern. order[k] is the unknown eliminated
// k-th, 0-based; false where AMD fails.
bool order_chains_first(cholmod_sparse* pattern, std::int32_t* order, cholmod_common* common) {
  const auto n = static_cast<std::int32_t>(pattern->ncol);
  const std::vector<std::int32_t> degree = degrees_of(pattern);
  // Meshes have few chains: AMD orders them whole.
  auto thin = [&](std::int32_t u) { return degree[size_of(u)] <= 2; };
  std::int32_t n_thin = 0;
  for (std::int32_t u = 0; u < n; ++u) n_thin += thin(u) ? 1 : 0;
  if (4 * n_thin < n) return cholmod_amd(pattern, nullptr, 0, order, common) != 0;

  // The chains, and those apart from the rest first.
  const Neighbours neighbours(pattern, degree);
  Chains chains(neighbours);
  std::int32_t n_placed = 0;
  for (const std::int32_t u : chains.apart) order[n_placed++] = u;

  // The rest in AMD's order of their own links and the chains between them, in their own
  // numbering.
  std::vector<std::int32_t> rest_index(size_of(n), -1);
  std::vector<std::int32_t> rest;
  for (std::int32_t u = 0; u < n; ++u) {
    if (thin(u)) continue;
    rest_index[size_of(u)] = static_cast<std::int32_t>(rest.size());
    rest.push_back(u);
  }
  const auto n_rest = static_cast<std::int32_t>(rest.size());
  if (n_rest == 0) return true;
  std::vector<std::pair<std::int32_t, std::int32_t>> links;
  for (const auto& [u, v] : chains.links) {
    links.emplace_back(rest_index[size_of(u)], rest_index[size_of(v)]);
  }
  for (const std::int32_t u : rest) {
    for (std::int32_t p = neighbours.start[size_of(u)]; p < neighbours.start[size_of(u) + 1]; ++p) {
      const std::int32_t v = neighbours.unknown[size_of(p)];
      if (!thin(v) && u < v) links.emplace_back(rest_index[size_of(u)], rest_index[size_of(v)]);
    }
  }
  cholmod_sparse* reduced = pattern_of_links(n_rest, links, common);
  if (reduced == nullptr) return false;
  std::vector<std::int32_t> rest_order(size_of(n_rest));
  const bool ordered = cholmod_amd(reduced, nullptr, 0, rest_order.data(), common) != 0;
  cholmod_free_sparse(&reduced, common);
  if (!ordered) return false;

  // Each chain just before the first of its ends in AMD's order: until one of its ends goes, the
  // chain's unknowns are joined only to each other and to its ends, so it fills as it would
  // first, and it lies beside its ends in the factor.
  std::vector<std::int32_t> position(size_of(n_rest));
  for (std::int32_t k = 0; k < n_rest; ++k) position[size_of(rest_order[size_of(k)])] = k;
  const auto n_chains = static_cast<std::int32_t>(chains.ends.size());
  std::vector<std::int32_t> chains_before(size_of(n_rest) + 1, 0);
  std::vector<std::int32_t> first_end(size_of(n_chains));
  for (std::int32_t k = 0; k < n_chains; ++k) {
    std::int32_t first = n_rest;
    for (const std::int32_t end : {chains.ends[size_of(k)].first, chains.ends[size_of(k)].second}) {
      if (end != -1) first = std::min(first, position[size_of(rest_index[size_of(end)])]);
    }
    first_end[size_of(k)] = first;
    ++chains_before[size_of(first) + 1];
  }
  for (std::int32_t k = 0; k < n_rest; ++k) {
    chains_before[size_of(k) + 1] += chains_before[size_of(k)];
  }
  std::vector<std::int32_t> by_first_end(size_of(n_chains));
  for (std::int32_t k = 0; k < n_chains; ++k) {
    by_first_end[size_of(chains_before[size_of(first_end[size_of(k)])]++)] = k;
  }
  for (std::int32_t k = 0, next_chain = 0; k < n_rest; ++k) {
    for (; next_chain < chains_before[size_of(k)]; ++next_chain) {
      const std::int32_t c = by_first_end[size_of(next_chain)];
      for (std::int32_t e = chains.start[size_of(c)]; e < chains.start[size_of(c) + 1]; ++e) {
        order[n_placed++] = chains.unknown[size_of(e)];
      }
    }
    order[n_placed++] = rest[size_of(rest_order[size_of(k)])];
  }
  return true;
}

// Whether no link joins the first n_first columns of a pattern to the n_second after them.
bool sides_apart(const cholmod_sparse* pattern, std::int32_t n_first, std::int32_t n_second) {
  const auto* start = static_cast<const int*>(pattern->p);
  const auto* row = static_cast<const int*>(pattern->i);
  for (std::int32_t c = n_first; c < n_first + n_second; ++c) {
    if (row[start[c]] < n_first) return false;
  }
  return true;
}

}  // namespace

HeadEquations::HeadEquations(std::int32_t n_unknowns, const Table<std::int32_t>& first,
                             const Table<std::int32_t>& second, Factoring factoring,
                             TwoHalves* halves)
    : n_(n_unknowns), halves_(halves != nullptr ? halves : &own_halves_) {
  cholmod_start(&common_);
  started_ = true;
  common_.print = 0;
  common_.error_handler = nullptr;
  common_.supernodal = CHOLMOD_AUTO;
  common_.supernodal_switch = factoring.supernodal_switch;
  check(common_.status == CHOLMOD_OK);
  // A failure stops the run; what the library holds by then is released first.
  try {
    analyse(first, second, factoring);
  } catch (...) {
    release();
    throw;
  }
}

void HeadEquations::analyse(const Table<std::int32_t>& first, const Table<std::int32_t>& second,
                            Factoring factoring) {
  // The fill-reducing order of the pattern in the unknowns' own numbering: minimum degree (AMD),
  // or nested dissection where minimum degree leaves too much work; then the pattern in that
  // order, analysed as it stands, whole or in the two parts of the dissection's first cut.
  column_.create(n_);
  for (std::int32_t u = 1; u <= n_; ++u) column_[u] = u;
  own_order_ = pattern(first, second);
  Table<std::int32_t> order;
  order.create(n_);
  // AMD counts the work of a factorisation in its order.
  check(order_chains_first(own_order_, order.data(), &common_));
  std::pair<std::int32_t, std::int32_t> parts{0, 0};
  // Two parts at once need a second thread with kernels of its own.
  auto two_at_once = [&] { return halves_->helper_runs() && load_second_kernels(); };
  if (common_.fl > factoring.dissection_operations ||
      (common_.fl > factoring.cut_operations && two_at_once())) {
    Table<std::int32_t> parent;
    Table<std::int32_t> member;
    parent.create(n_);
    member.create(n_);
    check(load_ordering_libraries());
    common_.method[0].nd_small = std::min(factoring.dissection_smallest_part, size_of(n_ / 2));
    const std::int64_t n_components = cholmod_nested_dissection(
        own_order_, nullptr, 0, order.data(), parent.data(), member.data(), &common_);
    check(n_components >= 0);
    parts = parts_of_cut(order, parent, member, n_components);
  }
  cholmod_free_sparse(&own_order_, &common_);
  common_.nmethods = 1;
  common_.method[0].ordering = CHOLMOD_NATURAL;
  common_.postorder = 0;
  for (std::int32_t c = 1; c <= n_; ++c) column_[order[c] + 1] = c;
  matrix_ = pattern(first, second);
  values_ = static_cast<double*>(matrix_->x);
  rhs_ = cholmod_zeros(size_of(n_), 1, CHOLMOD_REAL, &common_);
  check(rhs_ != nullptr);
  scale_.create(n_);
  // The two parts at once where the cut is small enough for its dense equations (a few tables
  // of its size squared) to stay within a few values per unknown: on a square grid the cut is
  // about the root of the unknowns.
  const std::int64_t n_cut = n_ - parts.first - parts.second;
  if (parts.first > 0 && n_cut * n_cut <= 4 * static_cast<std::int64_t>(n_) &&
      sides_apart(matrix_, parts.first, parts.second) && two_at_once()) {
    cut_ = std::make_unique<CutFactor>(matrix_, parts.first, parts.second, *halves_);
    check(cut_->library_ok());
    return;
  }
  factor_ = cholmod_analyze(matrix_, &common_);
  check(factor_ != nullptr && common_.status == CHOLMOD_OK);
  // Only a supernodal factor calls the dense kernels.
  if (factor_->is_super) check(load_dense_kernels());
}

// Nested dissection numbers its parts (components) from 0 so that each comes before the one that
// cuts it off, and orders the unknowns part by part in that numbering: where one cut parts all
// unknowns in two, the unknowns of the parts on one side come first, then those on the other side,
// then the cut's own. parent[c + 1] is the part that cuts off part c (-1 for none), member[u + 1]
// the part of unknown u, order[k] the unknown of column k (both from 0).
std::pair<std::int32_t, std::int32_t> HeadEquations::parts_of_cut(const Table<std::int32_t>& order,
                                                                  const Table<std::int32_t>& parent,
                                                                  const Table<std::int32_t>& member,
                                                                  std::int64_t n_components) const {
  const auto n_parts = static_cast<std::int32_t>(n_components);
  const std::int32_t cut = n_parts - 1;
  std::int32_t n_uncut = 0;
  std::int32_t n_sides = 0;
  for (std::int32_t c = 0; c < n_parts; ++c) {
    n_uncut += parent[c + 1] < 0 ? 1 : 0;
    n_sides += parent[c + 1] == cut ? 1 : 0;
  }
  if (n_parts < 3 || n_uncut != 1 || parent[cut + 1] >= 0 || n_sides != 2) return {0, 0};
  // The side of each part: the part just below the cut that it lies under (the cut its own).
  Table<std::int32_t> side;
  side.create(n_parts);
  side[cut + 1] = cut;
  for (std::int32_t c = cut - 1; c >= 0; --c) {
    const std::int32_t above = parent[c + 1];
    side[c + 1] = above == cut ? c : side[above + 1];
  }
  auto side_at = [&](std::int32_t k) { return side[member[order[k] + 1] + 1]; };
  std::int32_t k = 1;
  std::int32_t sizes[2] = {0, 0};
  for (std::int32_t& size : sizes) {
    if (k > n_ || side_at(k) == cut) return {0, 0};
    const std::int32_t this_side = side_at(k);
    for (; k <= n_ && side_at(k) == this_side; ++k) ++size;
  }
  if (k > n_) return {0, 0};
  for (; k <= n_; ++k) {
    if (side_at(k) != cut) return {0, 0};
  }
  return {sizes[0], sizes[1]};
}

cholmod_sparse* HeadEquations::pattern(const Table<std::int32_t>& first,
                                       const Table<std::int32_t>& second) {
  const std::int32_t n_links = first.size();
  auto column_of = [&](std::int32_t k) { return std::max(column_[first[k]], column_[second[k]]); };
  auto row_of = [&](std::int32_t k) { return std::min(column_[first[k]], column_[second[k]]); };
  // The links of each column in ascending rows: counted by row and by column, taken in the order
  // of their rows and placed in their columns.
  Table<std::int32_t> row_start;
  Table<std::int32_t> column_start;
  row_start.create(static_cast<std::int64_t>(n_) + 1);
  column_start.create(static_cast<std::int64_t>(n_) + 1);
  for (std::int32_t k = 1; k <= n_links; ++k) {
    row_start[row_of(k)] += 1;
    column_start[column_of(k)] += 1;
  }
  std::int32_t next_row = 1;
  std::int32_t next_column = 1;
  for (std::int32_t c = 1; c <= n_ + 1; ++c) {
    const std::int32_t rows = row_start[c];
    const std::int32_t columns = column_start[c];
    row_start[c] = next_row;
    column_start[c] = next_column;
    next_row += rows;
    next_column += columns;
  }
  Table<std::int32_t> by_row;
  Table<std::int32_t> link_at;
  by_row.create(n_links);
  link_at.create(n_links);
  for (std::int32_t k = 1; k <= n_links; ++k) by_row[row_start[row_of(k)]++] = k;
  for (std::int32_t e = 1; e <= n_links; ++e) {
    const std::int32_t k = by_row[e];
    link_at[column_start[column_of(k)]++] = k;
  }
  // column_start[c] now marks the end of column c; its links lie after those of column c - 1.

  // Each column's distinct rows, then its diagonal; parallel links share their row's value.
  std::int64_t n_values = n_;
  for (std::int32_t e = 1; e <= n_links; ++e) {
    const std::int32_t k = link_at[e];
    const bool repeated =
        e > 1 && column_of(link_at[e - 1]) == column_of(k) && row_of(link_at[e - 1]) == row_of(k);
    n_values += repeated ? 0 : 1;
  }
  cholmod_sparse* matrix = cholmod_allocate_sparse(size_of(n_), size_of(n_), size_of(n_values), 1,
                                                   1, 1, CHOLMOD_REAL, &common_);
  check(matrix != nullptr);
  auto* values_start = static_cast<int*>(matrix->p);
  auto* row = static_cast<int*>(matrix->i);
  diagonal_slot_.create(n_);
  link_slot_.create(n_links);
  int slot = 0;
  std::int32_t e = 1;
  for (std::int32_t c = 1; c <= n_; ++c) {
    values_start[c - 1] = slot;
    const std::int32_t first_row_slot = slot;
    for (; e < column_start[c]; ++e) {
      const std::int32_t k = link_at[e];
      if (slot == first_row_slot || row[slot - 1] != row_of(k) - 1) row[slot++] = row_of(k) - 1;
      link_slot_[k] = slot - 1;
    }
    diagonal_slot_[c] = slot;
    row[slot++] = c - 1;
  }
  values_start[n_] = slot;
  std::fill_n(static_cast<double*>(matrix->x), slot, 0.0);
  return matrix;
}

HeadEquations::~HeadEquations() {
  release();
}

void HeadEquations::release() {
  if (!started_) return;
  started_ = false;
  cut_.reset();
  cholmod_free_dense(&work_e_, &common_);
  cholmod_free_dense(&work_y_, &common_);
  cholmod_free_dense(&solution_, &common_);
  cholmod_free_dense(&rhs_, &common_);
  cholmod_free_factor(&factor_, &common_);
  cholmod_free_sparse(&matrix_, &common_);
  cholmod_free_sparse(&own_order_, &common_);
  cholmod_finish(&common_);
}

// A library failure ends the run with a sentence of its own.
void HeadEquations::check(bool ok) {
  if (ok) return;
  log_sentence(message::factorisation_failed);
  stop_run();
}

void HeadEquations::clear() {
  std::fill_n(values_, static_cast<int*>(matrix_->p)[n_], 0.0);
}

void HeadEquations::add_link(std::int32_t k, double conductance) {
  values_[link_slot_[k]] -= conductance;
}

void HeadEquations::add_diagonal(std::int32_t c, double conductance) {
  values_[diagonal_slot_[c]] += conductance;
}

bool HeadEquations::factorise(double regularisation) {
  const auto* column_start = static_cast<const int*>(matrix_->p);
  const auto* row = static_cast<const int*>(matrix_->i);
  double* scale = scale_.data();
  for (std::int32_t c = 0; c < n_; ++c) {
    const double diagonal = values_[column_start[c + 1] - 1];
    if (!(diagonal > 0.0)) return false;
    scale[c] = 1.0 / std::sqrt(diagonal);
  }
  for (std::int32_t c = 0; c < n_; ++c) {
    for (int p = column_start[c]; p < column_start[c + 1]; ++p) {
      values_[p] *= scale[row[p]] * scale[c];
    }
    values_[column_start[c + 1] - 1] += regularisation;
  }
  bool positive = false;
  if (cut_ != nullptr) {
    positive = cut_->factorise(values_);
    check(cut_->library_ok());
  } else {
    cholmod_factorize(matrix_, factor_, &common_);
    if (common_.status != CHOLMOD_NOT_POSDEF) check(common_.status == CHOLMOD_OK);
    positive = common_.status != CHOLMOD_NOT_POSDEF && pivots_positive();
  }
  if (!positive) {
    // The values as they were filled, for the next try.
    for (std::int32_t c = 0; c < n_; ++c) {
      values_[column_start[c + 1] - 1] -= regularisation;
      for (int p = column_start[c]; p < column_start[c + 1]; ++p) {
        values_[p] /= scale[row[p]] * scale[c];
      }
    }
    return false;
  }
  return true;
}

// A supernodal factor LL' fails on a pivot that is not positive; a simplicial factor LDL' fails
// only on a zero one, and keeps the others in D, on its diagonal.
bool HeadEquations::pivots_positive() const {
  if (factor_->is_super || factor_->is_ll) return true;
  const auto* column_start = static_cast<const int*>(factor_->p);
  const auto* values = static_cast<const double*>(factor_->x);
  for (std::int32_t c = 0; c < n_; ++c) {
    if (!(values[column_start[c]] > 0.0)) return false;
  }
  return true;
}

void HeadEquations::solve(const Table<double>& rhs, Table<double>& x) {
  auto* b = static_cast<double*>(rhs_->x);
  const double* scale = scale_.data();
  const double* in = rhs.data();
  for (std::int32_t c = 0; c < n_; ++c) b[c] = in[c] * scale[c];
  double* out = x.data();
  if (cut_ != nullptr) {
    cut_->solve(b, out);
    check(cut_->library_ok());
    for (std::int32_t c = 0; c < n_; ++c) out[c] *= scale[c];
    return;
  }
  // The workspace and the solution are allocated by the first solve and reused after.
  check(cholmod_solve2(CHOLMOD_A, factor_, rhs_, nullptr, &solution_, nullptr, &work_y_, &work_e_,
                       &common_) != 0 &&
        common_.status == CHOLMOD_OK);
  const auto* z = static_cast<const double*>(solution_->x);
  for (std::int32_t c = 0; c < n_; ++c) out[c] = z[c] * scale[c];
}

}  // namespace tessaro::global
