#include "global/head_equations.h"

#include <algorithm>
#include <cmath>

#include "model/messages.h"
#include "textio/log.h"
#include "textio/run_end.h"

namespace tessaro::global {

namespace {

std::size_t index(std::int32_t k) {
  return static_cast<std::size_t>(k);
}

}  // namespace

// The matrix holds its upper triangle column by column, the columns in the order of the
// fill-reducing permutation: the column of unknown u is position_[u], with the rows above it of
// the links that join u to another unknown, then u itself, so the diagonal is the last entry of
// its column. Storing the matrix already permuted lets the numeric factorisation use it as it
// stands, without forming the permuted matrix and its transpose at every iteration.
HeadEquations::HeadEquations(std::int32_t n_unknowns, const Table<std::int32_t>& first_unknown,
                             const Table<std::int32_t>& second_unknown)
    : n_(n_unknowns) {
  cholmod_start(&common_);
  started_ = true;
  common_.print = 0;
  common_.error_handler = nullptr;
  // A supernodal factor where the analysis finds enough work per entry of the factor for the
  // dense kernels to pay (large meshes), a simplicial one otherwise. Measured on the bench
  // networks: simplicial is 2 times faster on a 10,000-branch grid (44 operations per entry) and
  // 6 times on a sparse network of a million branches (41), supernodal 1.2 times on a
  // 100,000-branch grid (115) and more on larger ones.
  common_.supernodal = CHOLMOD_AUTO;
  common_.supernodal_switch = 100.0;
  check(common_.status == CHOLMOD_OK);

  // First the pattern in the unknowns' own order, to find the fill-reducing permutation.
  position_.create(n_);
  for (std::int32_t u = 1; u <= n_; ++u) position_[u] = u;
  build_matrix(first_unknown, second_unknown);
  factor_ = cholmod_analyze(matrix_, &common_);
  check(factor_ != nullptr && common_.status == CHOLMOD_OK);
  const auto* permutation = static_cast<const int*>(factor_->Perm);
  for (std::int32_t k = 1; k <= n_; ++k) position_[permutation[k - 1] + 1] = k;
  cholmod_free_factor(&factor_, &common_);
  cholmod_free_sparse(&matrix_, &common_);

  // Then the permuted pattern, analysed once more in its own order.
  build_matrix(first_unknown, second_unknown);
  common_.nmethods = 1;
  common_.method[0].ordering = CHOLMOD_NATURAL;
  common_.postorder = 0;
  factor_ = cholmod_analyze(matrix_, &common_);
  check(factor_ != nullptr && common_.status == CHOLMOD_OK);
  rhs_ = cholmod_zeros(index(n_), 1, CHOLMOD_REAL, &common_);
  check(rhs_ != nullptr);
}

void HeadEquations::build_matrix(const Table<std::int32_t>& first_unknown,
                                 const Table<std::int32_t>& second_unknown) {
  const std::int32_t n_links = first_unknown.size();
  auto column_of = [&](std::int32_t k) {
    return std::max(position_[first_unknown[k]], position_[second_unknown[k]]);
  };
  auto row_of = [&](std::int32_t k) {
    return std::min(position_[first_unknown[k]], position_[second_unknown[k]]);
  };
  // Rows of each column, duplicates included: counted, placed, then sorted and made unique.
  Table<std::int32_t> column_start;
  column_start.create(static_cast<std::int64_t>(n_) + 1);
  for (std::int32_t k = 1; k <= n_links; ++k) column_start[column_of(k)] += 1;
  std::int32_t next = 1;
  for (std::int32_t c = 1; c <= n_; ++c) {
    const std::int32_t count = column_start[c] + 1;
    column_start[c] = next;
    next += count;
  }
  column_start[n_ + 1] = next;
  Table<std::int32_t> rows;
  rows.create(next - 1);
  Table<std::int32_t> filled;
  filled.create(n_);
  for (std::int32_t k = 1; k <= n_links; ++k) {
    const std::int32_t c = column_of(k);
    rows[column_start[c] + filled[c]++] = row_of(k);
  }

  std::int64_t n_values = 0;
  for (std::int32_t c = 1; c <= n_; ++c) {
    rows[column_start[c] + filled[c]] = c;
    std::int32_t* begin = rows.data() + column_start[c] - 1;
    std::int32_t* end = begin + filled[c] + 1;
    std::sort(begin, end);
    n_values += std::unique(begin, end) - begin;
  }

  matrix_ = cholmod_allocate_sparse(index(n_), index(n_), static_cast<std::size_t>(n_values), 1, 1,
                                    1, CHOLMOD_REAL, &common_);
  check(matrix_ != nullptr);
  auto* column_pointer = static_cast<int*>(matrix_->p);
  auto* row_index = static_cast<int*>(matrix_->i);
  int position = 0;
  for (std::int32_t c = 1; c <= n_; ++c) {
    column_pointer[c - 1] = position;
    std::int32_t previous = 0;
    for (std::int32_t e = column_start[c]; e < column_start[c + 1]; ++e) {
      const std::int32_t r = rows[e];
      if (r == 0 || r == previous) continue;
      row_index[position++] = r - 1;
      previous = r;
      if (r == c) break;
    }
  }
  column_pointer[n_] = position;

  diagonal_slot_.create(n_);
  for (std::int32_t u = 1; u <= n_; ++u) diagonal_slot_[u] = column_pointer[position_[u]] - 1;
  link_slot_.create(n_links);
  for (std::int32_t k = 1; k <= n_links; ++k) {
    const std::int32_t c = column_of(k);
    const int r = row_of(k) - 1;
    const int* begin = row_index + column_pointer[c - 1];
    const int* end = row_index + column_pointer[c];
    link_slot_[k] = static_cast<std::int32_t>(std::lower_bound(begin, end, r) - row_index);
  }
  scale_.create(n_);
}

HeadEquations::~HeadEquations() {
  if (!started_) return;
  cholmod_free_dense(&work_e_, &common_);
  cholmod_free_dense(&work_y_, &common_);
  cholmod_free_dense(&solution_, &common_);
  cholmod_free_dense(&rhs_, &common_);
  cholmod_free_factor(&factor_, &common_);
  cholmod_free_sparse(&matrix_, &common_);
  cholmod_finish(&common_);
}

// A library failure ends the run with a sentence of its own.
void HeadEquations::check(bool ok) {
  if (ok) return;
  log_sentence(message::factorisation_failed);
  stop_run();
}

void HeadEquations::clear() {
  auto* values = static_cast<double*>(matrix_->x);
  std::fill(values, values + static_cast<int*>(matrix_->p)[n_], 0.0);
}

void HeadEquations::add_link(std::int32_t k, double conductance) {
  auto* values = static_cast<double*>(matrix_->x);
  values[link_slot_[k]] -= conductance;
}

void HeadEquations::add_diagonal(std::int32_t u, double conductance) {
  auto* values = static_cast<double*>(matrix_->x);
  values[diagonal_slot_[u]] += conductance;
}

double HeadEquations::diagonal(std::int32_t u) const {
  return static_cast<const double*>(matrix_->x)[diagonal_slot_[u]];
}

bool HeadEquations::factorise(double regularisation) {
  auto* values = static_cast<double*>(matrix_->x);
  const auto* column_pointer = static_cast<const int*>(matrix_->p);
  const auto* row_index = static_cast<const int*>(matrix_->i);
  for (std::int32_t c = 1; c <= n_; ++c) {
    const double diagonal = values[column_pointer[c] - 1];
    if (!(diagonal > 0.0)) return false;
    scale_[c] = 1.0 / std::sqrt(diagonal);
  }
  for (std::int32_t c = 1; c <= n_; ++c) {
    for (int p = column_pointer[c - 1]; p < column_pointer[c]; ++p) {
      values[p] *= scale_[row_index[p] + 1] * scale_[c];
    }
    values[column_pointer[c] - 1] += regularisation;
  }
  cholmod_factorize(matrix_, factor_, &common_);
  if (common_.status == CHOLMOD_NOT_POSDEF) return false;
  check(common_.status == CHOLMOD_OK);
  return true;
}

void HeadEquations::solve(const Table<double>& rhs, Table<double>& x) {
  auto* b = static_cast<double*>(rhs_->x);
  for (std::int32_t u = 1; u <= n_; ++u) {
    const std::int32_t c = position_[u];
    b[c - 1] = rhs[u] * scale_[c];
  }
  // The workspace and the solution are allocated by the first solve and reused after.
  check(cholmod_solve2(CHOLMOD_A, factor_, rhs_, nullptr, &solution_, nullptr, &work_y_, &work_e_,
                       &common_) != 0 &&
        common_.status == CHOLMOD_OK);
  const auto* z = static_cast<const double*>(solution_->x);
  for (std::int32_t u = 1; u <= n_; ++u) {
    const std::int32_t c = position_[u];
    x[u] = z[c - 1] * scale_[c];
  }
}

}  // namespace tessaro::global
