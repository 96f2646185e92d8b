#include "global/cut_factor.h"

#include <algorithm>
#include <cstddef>

// The dense kernels' declarations, C functions in a header that does not say so itself.
extern "C" {
#include <cholmod_blas.h>
}

namespace tessaro::global {

namespace {

std::size_t size_of(std::int64_t n) {
  return static_cast<std::size_t>(n);
}

}  // namespace

CutFactor::CutFactor(const cholmod_sparse* pattern, std::int32_t n_first, std::int32_t n_second,
                     TwoHalves& halves)
    : n_(static_cast<std::int32_t>(pattern->ncol)),
      n_cut_(n_ - n_first - n_second),
      halves_(halves) {
  parts_[0].n_own = n_first;
  parts_[0].offset = 0;
  parts_[1].n_own = n_second;
  parts_[1].offset = n_first;
  on_both_parts([&](Part& part) { set_up(part, pattern); });
  // Acc's entries, from the cut's columns of A.
  const auto* start = static_cast<const int*>(pattern->p);
  const auto* row = static_cast<const int*>(pattern->i);
  const std::int32_t cut = n_first + n_second;
  cut_column_start_.push_back(0);
  for (std::int32_t c = cut; c < n_; ++c) {
    for (int p = start[c]; p < start[c + 1]; ++p) {
      if (row[p] < cut) continue;
      cut_row_.push_back(row[p] - cut);
      cut_slot_.push_back(p);
    }
    cut_column_start_.push_back(static_cast<std::int32_t>(cut_row_.size()));
  }
  cut_.resize(size_of(n_cut_) * size_of(n_cut_));
  cut_rhs_.resize(size_of(n_cut_));
}

// A part's matrix: its own columns and the cut's, with the rows of its own columns and the cut's
// (A's other part joins neither), analysed as it stands, in a supernodal factor LL'.
void CutFactor::set_up(Part& part, const cholmod_sparse* pattern) {
  cholmod_start(&part.common);
  part.started = true;
  part.common.print = 0;
  part.common.error_handler = nullptr;
  part.common.nmethods = 1;
  part.common.method[0].ordering = CHOLMOD_NATURAL;
  part.common.postorder = 0;
  part.common.supernodal = CHOLMOD_SUPERNODAL;
  const std::int32_t cut = n_ - n_cut_;
  const std::int32_t n_part = part.n_own + n_cut_;
  // The column and row of A at column or row j of the part, and back.
  auto in_part = [&](std::int32_t j) {
    return j < part.n_own ? part.offset + j : cut + j - part.n_own;
  };
  auto of_part = [&](std::int32_t a) {
    if (a >= cut) return part.n_own + a - cut;
    return a >= part.offset && a < part.offset + part.n_own ? a - part.offset : -1;
  };
  const auto* start = static_cast<const int*>(pattern->p);
  const auto* row = static_cast<const int*>(pattern->i);
  std::size_t n_values = 0;
  for (std::int32_t j = 0; j < n_part; ++j) {
    const std::int32_t a = in_part(j);
    for (int p = start[a]; p < start[a + 1]; ++p) n_values += of_part(row[p]) != -1 ? 1 : 0;
  }
  part.matrix = cholmod_allocate_sparse(size_of(n_part), size_of(n_part), n_values, 1, 1, 1,
                                        CHOLMOD_REAL, &part.common);
  if (part.matrix == nullptr) {
    part.library_ok = false;
    return;
  }
  auto* part_start = static_cast<int*>(part.matrix->p);
  auto* part_row = static_cast<int*>(part.matrix->i);
  part.source.resize(n_values);
  int slot = 0;
  for (std::int32_t j = 0; j < n_part; ++j) {
    part_start[j] = slot;
    const std::int32_t a = in_part(j);
    for (int p = start[a]; p < start[a + 1]; ++p) {
      const std::int32_t r = of_part(row[p]);
      if (r == -1) continue;
      part_row[slot] = r;
      part.source[size_of(slot)] = p;
      ++slot;
    }
  }
  part_start[n_part] = slot;
  std::fill_n(static_cast<double*>(part.matrix->x), slot, 0.0);
  part.factor = cholmod_analyze(part.matrix, &part.common);
  part.rhs = cholmod_zeros(size_of(n_part), 1, CHOLMOD_REAL, &part.common);
  part.library_ok = part.factor != nullptr && part.rhs != nullptr && part.factor->is_super &&
                    part.common.status == CHOLMOD_OK;
  part.corner.assign(size_of(n_cut_) * size_of(n_cut_), 0.0);
  part.product.resize(part.corner.size());
}

CutFactor::~CutFactor() {
  for (Part& part : parts_) {
    if (!part.started) continue;
    cholmod_free_dense(&part.work_e, &part.common);
    cholmod_free_dense(&part.work_y, &part.common);
    cholmod_free_dense(&part.solution, &part.common);
    cholmod_free_dense(&part.rhs, &part.common);
    cholmod_free_factor(&part.factor, &part.common);
    cholmod_free_sparse(&part.matrix, &part.common);
    cholmod_finish(&part.common);
  }
}

bool CutFactor::factorise(const double* values) {
  on_both_parts([&](Part& part) { factorise_part(part, values); });
  for (const Part& part : parts_) {
    if (!part.factorised) return false;
  }
  // S = C1 C1' + C2 C2' - Acc, in the lower triangle.
  const std::size_t m = size_of(n_cut_);
  for (std::size_t j = 0; j < m; ++j) {
    for (std::size_t i = j; i < m; ++i) {
      cut_[i + j * m] = parts_[0].product[i + j * m] + parts_[1].product[i + j * m];
    }
  }
  // Acc's upper triangle is stored: its entry (r, c), r <= c, is S's (c, r).
  for (std::size_t c = 0; c < m; ++c) {
    for (auto e = size_of(cut_column_start_[c]); e < size_of(cut_column_start_[c + 1]); ++e) {
      cut_[c + size_of(cut_row_[e]) * m] -= values[cut_slot_[e]];
    }
  }
  char lower = 'L';
  BLAS_INT n = n_cut_;
  BLAS_INT info = 0;
  LAPACK_DPOTRF(&lower, &n, cut_.data(), &n, &info);
  return info == 0;
}

void CutFactor::factorise_part(Part& part, const double* values) {
  auto* x = static_cast<double*>(part.matrix->x);
  const std::size_t n_values = part.source.size();
  for (std::size_t p = 0; p < n_values; ++p) x[p] = values[part.source[p]];
  cholmod_factorize(part.matrix, part.factor, &part.common);
  part.factorised = part.common.status == CHOLMOD_OK;
  part.library_ok =
      part.library_ok && (part.factorised || part.common.status == CHOLMOD_NOT_POSDEF);
  if (!part.factorised) return;
  take_corner(part);
  // C C', lower triangle.
  char lower = 'L';
  char plain = 'N';
  BLAS_INT n = n_cut_;
  double one = 1.0;
  double zero = 0.0;
  BLAS_DSYRK(&lower, &plain, &n, &n, &one, part.corner.data(), &n, &zero, part.product.data(), &n);
}

// The factor's columns at the cut, from the supernodes that hold them: each supernode's values
// are its rows (its own columns first) by its columns.
void CutFactor::take_corner(Part& part) {
  const cholmod_factor* factor = part.factor;
  const auto* super = static_cast<const int*>(factor->super);
  const auto* row_start = static_cast<const int*>(factor->pi);
  const auto* value_start = static_cast<const int*>(factor->px);
  const auto* row = static_cast<const int*>(factor->s);
  const auto* value = static_cast<const double*>(factor->x);
  const std::size_t m = size_of(n_cut_);
  for (auto s = static_cast<std::int64_t>(factor->nsuper) - 1; s >= 0; --s) {
    const int first = super[s];
    const int end = super[s + 1];
    if (end <= part.n_own) break;
    const int n_rows = row_start[s + 1] - row_start[s];
    for (int c = std::max(first, part.n_own); c < end; ++c) {
      const double* column =
          value + value_start[s] + static_cast<std::ptrdiff_t>(c - first) * n_rows;
      const int* rows = row + row_start[s];
      for (int i = c - first; i < n_rows; ++i) {
        part.corner[size_of(rows[i] - part.n_own) + size_of(c - part.n_own) * m] = column[i];
      }
    }
  }
}

void CutFactor::solve(const double* b, double* x) {
  // Forward through both parts: z = Lp^-1 [bp; 0], whose part at the cut is -Cp^-1 Lcp yp.
  on_both_parts([&](Part& part) { forward(part, b); });
  // The cut: S xc = bc - Lc1 y1 - Lc2 y2 = bc + C1 z1c + C2 z2c.
  const std::int32_t cut = n_ - n_cut_;
  std::copy(b + cut, b + n_, cut_rhs_.begin());
  char plain = 'N';
  char transposed = 'T';
  char lower = 'L';
  BLAS_INT n = n_cut_;
  BLAS_INT one_step = 1;
  double one = 1.0;
  for (Part& part : parts_) {
    double* z_cut = static_cast<double*>(part.solution->x) + part.n_own;
    BLAS_DGEMV(&plain, &n, &n, &one, part.corner.data(), &n, z_cut, &one_step, &one,
               cut_rhs_.data(), &one_step);
  }
  BLAS_DTRSV(&lower, &plain, &plain, &n, cut_.data(), &n, cut_rhs_.data(), &one_step);
  BLAS_DTRSV(&lower, &transposed, &plain, &n, cut_.data(), &n, cut_rhs_.data(), &one_step);
  std::copy(cut_rhs_.begin(), cut_rhs_.end(), x + cut);
  // Back through both parts: Lp' [xp; xc] = [yp; Cp' xc].
  on_both_parts([&](Part& part) { back(part, x); });
}

// The part's factor L, or L', solved for its right-hand side; the workspaces and the solution are
// allocated by the first solve and reused after.
void CutFactor::solve_part(Part& part, int system) {
  part.library_ok = cholmod_solve2(system, part.factor, part.rhs, nullptr, &part.solution, nullptr,
                                   &part.work_y, &part.work_e, &part.common) != 0 &&
                    part.common.status == CHOLMOD_OK && part.library_ok;
}

void CutFactor::forward(Part& part, const double* b) {
  auto* in = static_cast<double*>(part.rhs->x);
  std::copy(b + part.offset, b + part.offset + part.n_own, in);
  std::fill(in + part.n_own, in + part.n_own + n_cut_, 0.0);
  solve_part(part, CHOLMOD_L);
}

void CutFactor::back(Part& part, double* x) {
  auto* in = static_cast<double*>(part.rhs->x);
  const auto* z = static_cast<const double*>(part.solution->x);
  std::copy(z, z + part.n_own, in);
  char transposed = 'T';
  BLAS_INT n = n_cut_;
  BLAS_INT one_step = 1;
  double one = 1.0;
  double zero = 0.0;
  BLAS_DGEMV(&transposed, &n, &n, &one, part.corner.data(), &n, x + n_ - n_cut_, &one_step, &zero,
             in + part.n_own, &one_step);
  solve_part(part, CHOLMOD_Lt);
  const auto* solved = static_cast<const double*>(part.solution->x);
  std::copy(solved, solved + part.n_own, x + part.offset);
}

}  // namespace tessaro::global
