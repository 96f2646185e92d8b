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

// The matrix holds its upper triangle column by column: column v has the rows u < v of the links
// that join u and v, then v itself, so the diagonal is the last entry of its column.
HeadEquations::HeadEquations(std::int32_t n_unknowns, const Table<std::int32_t>& first_unknown,
                             const Table<std::int32_t>& second_unknown)
    : n_(n_unknowns) {
  cholmod_start(&common_);
  started_ = true;
  common_.print = 0;
  common_.error_handler = nullptr;
  // A simplicial factor: without an optimised BLAS the supernodal one is slower on these
  // sparse, low-fill networks.
  common_.supernodal = CHOLMOD_SIMPLICIAL;
  check(common_.status == CHOLMOD_OK);

  const std::int32_t n_links = first_unknown.size();
  // Rows of each column, duplicates included: counted, placed, then sorted and made unique.
  Table<std::int32_t> column_start;
  column_start.create(static_cast<std::int64_t>(n_) + 1);
  for (std::int32_t k = 1; k <= n_links; ++k) {
    column_start[std::max(first_unknown[k], second_unknown[k])] += 1;
  }
  std::int32_t next = 1;
  for (std::int32_t v = 1; v <= n_; ++v) {
    const std::int32_t count = column_start[v] + 1;
    column_start[v] = next;
    next += count;
  }
  column_start[n_ + 1] = next;
  Table<std::int32_t> rows;
  rows.create(next - 1);
  Table<std::int32_t> filled;
  filled.create(n_);
  for (std::int32_t k = 1; k <= n_links; ++k) {
    const std::int32_t v = std::max(first_unknown[k], second_unknown[k]);
    rows[column_start[v] + filled[v]++] = std::min(first_unknown[k], second_unknown[k]);
  }

  std::int64_t n_values = 0;
  for (std::int32_t v = 1; v <= n_; ++v) {
    rows[column_start[v] + filled[v]] = v;
    std::int32_t* begin = rows.data() + column_start[v] - 1;
    std::int32_t* end = begin + filled[v] + 1;
    std::sort(begin, end);
    n_values += std::unique(begin, end) - begin;
  }

  matrix_ = cholmod_allocate_sparse(index(n_), index(n_), static_cast<std::size_t>(n_values), 1, 1,
                                    1, CHOLMOD_REAL, &common_);
  check(matrix_ != nullptr);
  auto* column_pointer = static_cast<int*>(matrix_->p);
  auto* row_index = static_cast<int*>(matrix_->i);
  diagonal_slot_.create(n_);
  scale_.create(n_);
  int position = 0;
  for (std::int32_t v = 1; v <= n_; ++v) {
    column_pointer[v - 1] = position;
    std::int32_t previous = 0;
    for (std::int32_t e = column_start[v]; e < column_start[v + 1]; ++e) {
      const std::int32_t u = rows[e];
      if (u == 0 || u == previous) continue;
      row_index[position++] = u - 1;
      previous = u;
      if (u == v) break;
    }
    diagonal_slot_[v] = position - 1;
  }
  column_pointer[n_] = position;

  link_slot_.create(n_links);
  for (std::int32_t k = 1; k <= n_links; ++k) {
    const std::int32_t v = std::max(first_unknown[k], second_unknown[k]);
    const int u = std::min(first_unknown[k], second_unknown[k]) - 1;
    const int* begin = row_index + column_pointer[v - 1];
    const int* end = row_index + column_pointer[v];
    link_slot_[k] = static_cast<std::int32_t>(std::lower_bound(begin, end, u) - row_index);
  }

  factor_ = cholmod_analyze(matrix_, &common_);
  check(factor_ != nullptr && common_.status == CHOLMOD_OK);
  rhs_ = cholmod_zeros(index(n_), 1, CHOLMOD_REAL, &common_);
  check(rhs_ != nullptr);
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
  for (std::int32_t v = 1; v <= n_; ++v) {
    const double diagonal = values[diagonal_slot_[v]];
    if (!(diagonal > 0.0)) return false;
    scale_[v] = 1.0 / std::sqrt(diagonal);
  }
  for (std::int32_t v = 1; v <= n_; ++v) {
    for (int p = column_pointer[v - 1]; p < column_pointer[v]; ++p) {
      values[p] *= scale_[row_index[p] + 1] * scale_[v];
    }
    values[diagonal_slot_[v]] += regularisation;
  }
  cholmod_factorize(matrix_, factor_, &common_);
  if (common_.status == CHOLMOD_NOT_POSDEF) return false;
  check(common_.status == CHOLMOD_OK);
  return true;
}

void HeadEquations::solve(const Table<double>& rhs, Table<double>& x) {
  auto* b = static_cast<double*>(rhs_->x);
  for (std::int32_t u = 1; u <= n_; ++u) b[u - 1] = rhs[u] * scale_[u];
  // The workspace and the solution are allocated by the first solve and reused after.
  check(cholmod_solve2(CHOLMOD_A, factor_, rhs_, nullptr, &solution_, nullptr, &work_y_, &work_e_,
                       &common_) != 0 &&
        common_.status == CHOLMOD_OK);
  const auto* z = static_cast<const double*>(solution_->x);
  for (std::int32_t u = 1; u <= n_; ++u) x[u] = z[u - 1] * scale_[u];
}

}  // namespace tessaro::global
