// The linear head equations of one Newton iteration: a symmetric positive definite matrix over the
// unknown heads, one entry per pair of unknowns that a branch joins, factorised by CHOLMOD. The
// pattern and its fill-reducing ordering are analysed once (the matrix is then stored in that
// order); every iteration refills the values, factorises them numerically and solves into the
// same storage.
#pragma once

#include <cholmod.h>

#include <cstdint>

#include "model/table.h"

namespace tessaro::global {

class HeadEquations {
 public:
  // The unknowns 1..n_unknowns and, for each of n_links links, the two unknowns it joins
  // (first_unknown[k] != second_unknown[k], both from 1 up).
  HeadEquations(std::int32_t n_unknowns, const Table<std::int32_t>& first_unknown,
                const Table<std::int32_t>& second_unknown);
  ~HeadEquations();
  HeadEquations(const HeadEquations&) = delete;
  HeadEquations& operator=(const HeadEquations&) = delete;

  // Sets every value to zero, then adds a conductance between the two unknowns of link k, or on
  // the diagonal of one unknown.
  void clear();
  void add_link(std::int32_t k, double conductance);
  void add_diagonal(std::int32_t u, double conductance);

  double diagonal(std::int32_t u) const;

  // Factorises the matrix, each row and column scaled by the root of its diagonal so that
  // conductances many orders apart keep their accuracy, with `regularisation` added to the scaled
  // diagonal. False when it is not positive definite. A factorisation that fails leaves the
  // values scaled: clear and refill them before the next.
  bool factorise(double regularisation);

  // Solves for the unknowns with right-hand side rhs (1..n_unknowns) into x.
  void solve(const Table<double>& rhs, Table<double>& x);

 private:
  void check(bool ok);
  // Fills matrix_, diagonal_slot_ and link_slot_ for the pattern of the links, each unknown u in
  // column position_[u].
  void build_matrix(const Table<std::int32_t>& first_unknown,
                    const Table<std::int32_t>& second_unknown);

  std::int32_t n_ = 0;
  cholmod_common common_{};
  cholmod_sparse* matrix_ = nullptr;
  cholmod_factor* factor_ = nullptr;
  cholmod_dense* rhs_ = nullptr;
  cholmod_dense* solution_ = nullptr;
  cholmod_dense* work_y_ = nullptr;
  cholmod_dense* work_e_ = nullptr;
  bool started_ = false;
  Table<std::int32_t> link_slot_;      // the position of link k's off-diagonal value
  Table<std::int32_t> diagonal_slot_;  // the position of unknown u's diagonal value
  Table<std::int32_t> position_;       // the column of unknown u in the permuted matrix
  Table<double> scale_;                // per column
};

}  // namespace tessaro::global
