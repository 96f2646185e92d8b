#include "global/head_equations.h"

#include <algorithm>
#include <cmath>

#include "global/dense_kernels.h"
#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

std::size_t size_of(std::int64_t n) {
  return static_cast<std::size_t>(n);
}

}  // namespace

HeadEquations::HeadEquations(std::int32_t n_unknowns, const Table<std::int32_t>& first,
                             const Table<std::int32_t>& second, Factoring factoring)
    : n_(n_unknowns) {
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
  // order, analysed as it stands.
  column_.create(n_);
  for (std::int32_t u = 1; u <= n_; ++u) column_[u] = u;
  own_order_ = pattern(first, second);
  Table<std::int32_t> order;
  order.create(n_);
  // AMD counts the work of a factorisation in its order.
  check(cholmod_amd(own_order_, nullptr, 0, order.data(), &common_) != 0);
  if (common_.fl > factoring.dissection_operations) {
    Table<std::int32_t> parent;
    Table<std::int32_t> member;
    parent.create(n_);
    member.create(n_);
    common_.method[0].nd_small = factoring.dissection_smallest_part;
    check(cholmod_nested_dissection(own_order_, nullptr, 0, order.data(), parent.data(),
                                    member.data(), &common_) >= 0);
  }
  cholmod_free_sparse(&own_order_, &common_);
  common_.nmethods = 1;
  common_.method[0].ordering = CHOLMOD_NATURAL;
  common_.postorder = 0;
  for (std::int32_t c = 1; c <= n_; ++c) column_[order[c] + 1] = c;
  matrix_ = pattern(first, second);
  values_ = static_cast<double*>(matrix_->x);
  factor_ = cholmod_analyze(matrix_, &common_);
  check(factor_ != nullptr && common_.status == CHOLMOD_OK);
  // Only a supernodal factor calls the dense kernels.
  if (factor_->is_super) check(load_dense_kernels());
  rhs_ = cholmod_zeros(size_of(n_), 1, CHOLMOD_REAL, &common_);
  check(rhs_ != nullptr);
  scale_.create(n_);
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
  cholmod_factorize(matrix_, factor_, &common_);
  if (common_.status != CHOLMOD_NOT_POSDEF) check(common_.status == CHOLMOD_OK);
  if (common_.status == CHOLMOD_NOT_POSDEF || !pivots_positive()) {
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
  // The workspace and the solution are allocated by the first solve and reused after.
  check(cholmod_solve2(CHOLMOD_A, factor_, rhs_, nullptr, &solution_, nullptr, &work_y_, &work_e_,
                       &common_) != 0 &&
        common_.status == CHOLMOD_OK);
  const auto* z = static_cast<const double*>(solution_->x);
  double* out = x.data();
  for (std::int32_t c = 0; c < n_; ++c) out[c] = z[c] * scale[c];
}

}  // namespace tessaro::global
