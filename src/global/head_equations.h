// The linear head equations of one Newton iteration: a symmetric positive definite matrix over the
// unknown heads, one entry per pair of unknowns that a branch joins, factorised by CHOLMOD. The
// fill-reducing order is found once, by minimum degree (the unknowns in chains first, the rest by
// AMD) or nested dissection, and the matrix is kept in that order: the unknowns are addressed by
// their column in it, so that neither the values nor the right-hand sides are ever permuted. The
// pattern is analysed once; every iteration refills the values, factorises them numerically and
// solves into the same storage.
#pragma once

#include <cholmod.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "global/cut_factor.h"
#include "global/two_halves.h"
#include "model/table.h"

namespace tessaro::global {

// How the equations are ordered and factorised. Nested dissection replaces minimum degree where
// a factorisation in the minimum-degree order takes more than dissection_operations, or more than
// cut_operations where the two parts of its first cut can be factorised at once (a second thread
// runs, with kernels of its own; see cut_factor.h). The dissection stops at parts of
// dissection_smallest_part unknowns, or of half the unknowns if that is fewer, so that it cuts at
// least once: the first cut gains most, each further one little for its cost. On the bench
// meshes, the 1,000,000-branch grid (half a million unknowns) takes 8.2 Gflop by minimum degree
// (found in 0.1 s), 5.6 Gflop cut once (found in 0.35 s) and 5.4 Gflop cut into parts of 50,000
// (found in 0.85 s); the 100,000-branch grid, 0.16 Gflop, gains nothing; the 600,000-branch grid,
// 3.3 Gflop, gains by its two parts at once. The factor is supernodal where the analysis finds
// more than supernodal_switch operations per entry of the factor, for the dense kernels to pay
// (meshes), simplicial otherwise (networks that are mostly trees and chains).
struct Factoring {
  double dissection_operations = 4.0e9;
  double supernodal_switch = 100.0;
  std::size_t dissection_smallest_part = 250000;
  double cut_operations = 1.0e9;
};

class HeadEquations {
 public:
  // The unknowns 1..n_unknowns and, for each link k, the two unknowns it joins (first[k] !=
  // second[k], both from 1 up). Links between the same two unknowns share one value. `halves`
  // factorises and solves the two parts of a cut at once; without it the equations have their own.
  HeadEquations(std::int32_t n_unknowns, const Table<std::int32_t>& first,
                const Table<std::int32_t>& second, Factoring factoring = {},
                TwoHalves* halves = nullptr);
  ~HeadEquations();
  HeadEquations(const HeadEquations&) = delete;
  HeadEquations& operator=(const HeadEquations&) = delete;

  // Whether the equations are factorised in the two parts of a cut, at once.
  bool cut() const { return cut_ != nullptr; }

  // The column of unknown u in the fill-reducing order, 1..n_unknowns.
  std::int32_t column(std::int32_t u) const { return column_[u]; }

  // The matrix values, and where each conductance goes among them (0-based): the diagonal of
  // column c, and the entry of link k off the diagonal.
  double* values() { return values_; }
  std::int32_t diagonal_slot(std::int32_t c) const { return diagonal_slot_[c]; }
  std::int32_t link_slot(std::int32_t k) const { return link_slot_[k]; }

  // Sets every value to zero; adds a conductance between the two unknowns of link k, or on the
  // diagonal of column c.
  void clear();
  void add_link(std::int32_t k, double conductance);
  void add_diagonal(std::int32_t c, double conductance);

  // Factorises the matrix, each row and column scaled by the root of its diagonal so that
  // conductances many orders apart keep their accuracy, with `regularisation` added to the scaled
  // diagonal. False when it is not positive definite, the values then left as they were filled
  // (to the rounding of the scaling); a factorisation leaves them scaled: clear and refill them
  // before the next.
  bool factorise(double regularisation);

  // Solves for the heads by column, rhs and x indexed 1..n_unknowns by column.
  void solve(const Table<double>& rhs, Table<double>& x);

 private:
  void analyse(const Table<std::int32_t>& first, const Table<std::int32_t>& second,
               Factoring factoring);
  // The sizes of the two parts of the dissection's first cut, in their columns 1.. of `order`
  // (first part, second, then the cut), or {0, 0} where it did not cut the unknowns in two.
  std::pair<std::int32_t, std::int32_t> parts_of_cut(const Table<std::int32_t>& order,
                                                     const Table<std::int32_t>& parent,
                                                     const Table<std::int32_t>& member,
                                                     std::int64_t n_components) const;
  void release();
  void check(bool ok);
  bool pivots_positive() const;
  // The upper triangle's pattern, unknown u in column column_[u]: the rows of each column
  // ascending, the diagonal last; fills diagonal_slot_ and link_slot_.
  cholmod_sparse* pattern(const Table<std::int32_t>& first, const Table<std::int32_t>& second);

  std::int32_t n_ = 0;
  cholmod_common common_{};
  bool started_ = false;
  cholmod_sparse* own_order_ = nullptr;  // the pattern in the unknowns' own numbering
  cholmod_sparse* matrix_ = nullptr;
  cholmod_factor* factor_ = nullptr;
  cholmod_dense* rhs_ = nullptr;
  cholmod_dense* solution_ = nullptr;
  cholmod_dense* work_y_ = nullptr;
  cholmod_dense* work_e_ = nullptr;
  TwoHalves own_halves_;
  TwoHalves* halves_ = nullptr;
  std::unique_ptr<CutFactor> cut_;  // in place of factor_ where the unknowns are cut in two
  double* values_ = nullptr;
  Table<std::int32_t> column_;         // per unknown
  Table<std::int32_t> diagonal_slot_;  // per column
  Table<std::int32_t> link_slot_;      // per link
  Table<double> scale_;                // per column
};

}  // namespace tessaro::global
