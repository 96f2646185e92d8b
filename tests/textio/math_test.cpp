// The floating-point environment around code that runs with the traps off: a division by zero
// inside does not trap, and the environment comes back as it was, whether the traps were on or
// held by an enclosing HeldTraps.
#include <fenv.h>
#include <xmmintrin.h>

#include <cmath>
#include <utility>

#include <gtest/gtest.h>

#include "textio/math.h"

namespace tessaro {
namespace {

struct Environment {
  unsigned int sse = 0;
  int x87_enabled = 0;
  bool operator==(const Environment&) const = default;
};

Environment environment() {
  return {_mm_getcsr(), fegetexcept()};
}

// Divides by zero inside TrapsOff; returns the environment before and after.
std::pair<Environment, Environment> around_traps_off() {
  const Environment before = environment();
  {
    const TrapsOff traps_off;
    volatile double zero = 0.0;
    volatile double quotient = 1.0 / zero;
    EXPECT_TRUE(std::isinf(quotient));
  }
  return {before, environment()};
}

TEST(TrapsOff, PutsTheEnvironmentBackAsItWas) {
  enable_fp_traps();
  const auto [on_before, on_after] = around_traps_off();
  EXPECT_EQ(on_after, on_before);
  EXPECT_EQ(on_after.x87_enabled, FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  {
    const HeldTraps held;
    const auto [held_before, held_after] = around_traps_off();
    EXPECT_EQ(held_after, held_before);
    EXPECT_EQ(held.raised(), 0) << "the exceptions inside are forgotten";
  }
  EXPECT_EQ(environment(), on_before);
  disable_fp_traps();
}

}  // namespace
}  // namespace tessaro
