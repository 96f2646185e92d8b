// The head equations of a large mesh factorised in two parts at once, one on each core. Nested
// dissection's first cut parts the unknowns in two that no link joins; in the fill-reducing order
// the first part's columns come first, then the second's, then the cut's:
//
//       | A11       A1c |
//   A = |      A22  A2c |
//       | Ac1  Ac2  Acc |
//
// Each part is factorised by CHOLMOD together with the cut, as a matrix of its own (Ap = the rows
// and columns of part p and the cut, a principal submatrix of A, so positive definite with A).
// The corner of its factor at the cut, Cp, holds that part's share of the cut's Schur complement:
// Cp Cp' = Acc - Acp App^-1 Apc. The cut's own equations are then
//
//   S = Acc - Ac1 A11^-1 A1c - Ac2 A22^-1 A2c = C1 C1' + C2 C2' - Acc,
//
// dense and small (on a square grid of n unknowns about the root of n), factorised by LAPACK. A
// solve goes forward through both parts at once, solves the cut, and back through both parts.
// Every step is CHOLMOD's or a dense kernel's: this class only gathers the parts' values and the
// corners, and joins them at the cut.
#pragma once

#include <cholmod.h>

#include <cstdint>
#include <vector>

#include "global/dense_kernels.h"
#include "global/two_halves.h"

namespace tessaro::global {

class CutFactor {
 public:
  // `pattern`: the upper triangle of A in its fill-reducing order, each column's rows ascending
  // and the diagonal last, n_first columns of the first part, n_second of the second, then the
  // cut. `halves` runs the two parts at once (on the calling thread alone if it has no helper): it
  // sets them up, factorises them and solves through them.
  CutFactor(const cholmod_sparse* pattern, std::int32_t n_first, std::int32_t n_second,
            TwoHalves& halves);
  ~CutFactor();
  CutFactor(const CutFactor&) = delete;
  CutFactor& operator=(const CutFactor&) = delete;

  // False where the library failed (out of memory): the run cannot go on.
  bool library_ok() const { return parts_[0].library_ok && parts_[1].library_ok; }

  // Factorises A with the values of `pattern`'s slots. False when A is not positive definite.
  bool factorise(const double* values);

  // Solves A x = b, both indexed from 0 by column.
  void solve(const double* b, double* x);

 private:
  struct Part {
    cholmod_common common{};
    bool started = false;
    std::int32_t n_own = 0;   // its own columns, then the cut's
    std::int32_t offset = 0;  // where its own columns start in A
    cholmod_sparse* matrix = nullptr;
    std::vector<std::int32_t> source;  // per value of its matrix, the slot of A it comes from
    cholmod_factor* factor = nullptr;
    cholmod_dense* rhs = nullptr;
    cholmod_dense* solution = nullptr;
    cholmod_dense* work_y = nullptr;
    cholmod_dense* work_e = nullptr;
    std::vector<double> corner;   // C, n_cut x n_cut by column, zero above the diagonal
    std::vector<double> product;  // C C', its lower triangle
    bool factorised = false;
    bool library_ok = true;  // set by the thread that works on the part
  };

  // Calls work(part) for both parts at once, the second part on the second instance of the dense
  // kernels, on whichever thread it runs.
  template <class Work>
  void on_both_parts(Work work) {
    auto each = [&](std::int32_t which) {
      const OnSecondKernels kernels(which == 1);
      work(parts_[which]);
    };
    halves_.both(each);
  }
  void set_up(Part& part, const cholmod_sparse* pattern);
  void factorise_part(Part& part, const double* values);
  void take_corner(Part& part);
  void forward(Part& part, const double* b);
  void back(Part& part, double* x);
  void solve_part(Part& part, int system);

  std::int32_t n_ = 0;
  std::int32_t n_cut_ = 0;
  TwoHalves& halves_;
  Part parts_[2];
  // Acc's slots in A, by column of the cut: rows and columns from 0 at the cut's first.
  std::vector<std::int32_t> cut_column_start_;
  std::vector<std::int32_t> cut_row_;
  std::vector<std::int32_t> cut_slot_;
  std::vector<double> cut_;  // S, then its Cholesky factor, lower triangle by column
  std::vector<double> cut_rhs_;
};

}  // namespace tessaro::global
