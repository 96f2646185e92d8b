// What a solver tells whoever follows its progress. Nobody follows a plain run: the solver then
// only tests one pointer per sweep.
#pragma once

#include <cstdint>

namespace tessaro {

class SolverEvents {
 public:
  virtual ~SolverEvents() = default;
  // A balancing sweep has summed the flows of every junction: sweep counts the sweeps of this
  // balancing run from 0, max_imbalance is the largest absolute net inflow of a junction.
  virtual void sweep_done(std::int64_t sweep, double max_imbalance) = 0;
  // A balancing run has met the tolerance after `sweeps` corrected sweeps.
  virtual void balancing_run_converged(std::int64_t sweeps, double max_imbalance) = 0;
  // A friction update has changed no Reynolds number by more than max_reynolds_change.
  virtual void friction_update_done(double max_reynolds_change) = 0;
};

// The follower of the solver in this run, or none.
inline SolverEvents* solver_events = nullptr;

}  // namespace tessaro
