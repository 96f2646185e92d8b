// The floating-point environment of a run and the four mathematical functions, each of which
// reports its argument and result errors by name before the hardware trap could.
#pragma once

#include <fenv.h>

#include <cmath>

namespace tessaro {

// Double precision, round to nearest, and traps on invalid operation, division by zero and
// overflow. A trap ends the run with the M6101, M6103 or M6104 report.
void enable_fp_traps();

// Undoes enable_fp_traps: for tests that run arithmetic which is meant to trap elsewhere.
void disable_fp_traps();

// Turns the traps off from construction to destruction, and puts the floating-point environment
// back as it was then, traps, rounding and flags, forgetting the exceptions raised in between:
// for library code and iterations that may compute on values they never use. The handler of a
// trap stays as it was set.
class TrapsOff {
 public:
  TrapsOff();
  ~TrapsOff();
  TrapsOff(const TrapsOff&) = delete;
  TrapsOff& operator=(const TrapsOff&) = delete;

 private:
  fenv_t saved_;
};

// Holds the traps from construction to destruction, the exceptions that would have trapped in
// between collected: for arithmetic that must learn whether it would trap before it is done
// where a trap would be reported.
class HeldTraps {
 public:
  HeldTraps();
  ~HeldTraps();
  HeldTraps(const HeldTraps&) = delete;
  HeldTraps& operator=(const HeldTraps&) = delete;
  // FE_INVALID, FE_DIVBYZERO and FE_OVERFLOW, as raised since construction.
  int raised() const;

 private:
  unsigned int saved_;
};

double math_log10(double x);          // "log10": SING at 0, DOMAIN below 0
double math_atan(double x);           // "atan"
double math_pow(double x, double y);  // "**": DOMAIN, SING, OVERFLOW

// "sqrt": DOMAIN below 0. Defined here, so that the solver's sweep, which takes one root per
// junction entry, has it inline; the report itself is made out of line.
[[noreturn]] void fail_sqrt_domain();
inline double math_sqrt(double x) {
  if (x < 0.0) [[unlikely]]
    fail_sqrt_domain();
  return std::sqrt(x);
}

}  // namespace tessaro
