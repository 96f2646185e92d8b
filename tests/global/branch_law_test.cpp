// The friction law of the global solver: its head loss and its flow of a head difference are
// inverse to each other on both sides of Re 2000, the Colebrook-White root is exact, the slopes
// are the derivatives, and the flow is continuous across the held stretch at the jump.
#include "global/branch_law.h"

#include <cmath>

#include <gtest/gtest.h>

namespace tessaro::global {
namespace {

// A branch of water or oil, thin and long or short and wide.
BranchLaw law_of(double viscosity, double diameter, double length) {
  Network net;
  net.pi = 4.0 * std::atan(1.0);
  net.roughness = 4.5e-5;
  net.density = 1000.0;
  net.gravity = 9.81;
  net.kinematic_viscosity = static_cast<float>(viscosity / net.density);
  net.diameter.create(1);
  net.length.create(1);
  net.diameter[1] = diameter;
  net.length[1] = length;
  return branch_law(net, 1);
}

TEST(BranchLaw, HeadLossAndFlowOfHeadAreInverse) {
  const BranchLaw laws[] = {law_of(0.001, 0.1, 500.0), law_of(0.001, 1.5, 1.0),
                            law_of(0.02, 0.3, 100.0)};
  for (const BranchLaw& law : laws) {
    for (const double re : {10.0, 1999.0, 2000.0, 2500.0, 1.0e5, 1.0e7}) {
      for (const double side : {1.0, -1.0}) {
        const double q = side * re * law.reynolds_denominator / 4.0;
        const HeadLoss loss = head_loss(law, q);
        const FlowOfHead back = flow_of_head(law, loss.head);
        EXPECT_NEAR(back.flow, q, 1e-13 * std::fabs(q)) << "Re " << re;
        // The slopes are the derivatives of each other, and of the law.
        EXPECT_NEAR(back.slope * loss.slope, 1.0, 1e-9) << "Re " << re;
        const double dq = 1e-6 * std::fabs(q);
        const double numeric =
            (head_loss(law, q + dq).head - head_loss(law, q - dq).head) / (2 * dq);
        if (re < 1990.0 || re > 2010.0) {
          EXPECT_NEAR(loss.slope, numeric, 1e-6 * loss.slope);
        }
      }
    }
  }
}

// The laws made with the root at the jump kept per relative roughness are the laws made one by
// one, bit for bit: for smooth and rough pipes, sizes met again, and more sizes than are kept.
TEST(BranchLaw, KeptRootsGiveTheSameLaws) {
  for (const double roughness : {0.0, 4.5e-5}) {
    Network net;
    net.pi = 4.0 * std::atan(1.0);
    net.roughness = roughness;
    net.density = 1000.0;
    net.gravity = 9.81;
    net.kinematic_viscosity = static_cast<float>(0.001 / net.density);
    const std::int32_t n = 300;
    net.diameter.create(n);
    net.length.create(n);
    for (std::int32_t b = 1; b <= n; ++b) {
      net.diameter[b] = 0.05 + 0.01 * (b % 150);
      net.length[b] = 10.0 * b;
    }
    BranchLaws laws(net);
    for (std::int32_t b = 1; b <= n; ++b) {
      const BranchLaw kept = laws(b);
      const BranchLaw alone = branch_law(net, b);
      EXPECT_EQ(kept.turbulent_jump_head, alone.turbulent_jump_head) << b;
      EXPECT_EQ(kept.laminar_jump_head, alone.laminar_jump_head) << b;
      EXPECT_EQ(kept.length_factor, alone.length_factor) << b;
    }
  }
}

TEST(BranchLaw, ColebrookRootIsExact) {
  for (const double re : {2000.0, 4000.0, 1.0e5, 1.0e8}) {
    for (const double a : {0.0, 1.0e-5, 1.0e-2}) {
      const double f = colebrook_friction(re, a);
      const double rhs = -2.0 * std::log10(a + static_cast<double>(2.51f) / (re * std::sqrt(f)));
      EXPECT_NEAR(1.0 / std::sqrt(f), rhs, 4e-15 * rhs) << re << " " << a;
    }
  }
}

TEST(BranchLaw, FlowIsHeldAtTheJumpBetweenTheTwoLaws) {
  const BranchLaw law = law_of(0.02, 0.3, 100.0);
  EXPECT_LT(law.laminar_jump_head, law.turbulent_jump_head);
  EXPECT_NEAR(flow_of_head(law, law.laminar_jump_head).flow, law.jump_flow, 1e-15 * law.jump_flow);
  EXPECT_NEAR(flow_of_head(law, law.turbulent_jump_head).flow, law.jump_flow,
              1e-12 * law.jump_flow);
  const FlowOfHead middle =
      flow_of_head(law, -0.5 * (law.laminar_jump_head + law.turbulent_jump_head));
  EXPECT_TRUE(middle.held);
  EXPECT_EQ(middle.flow, -law.jump_flow);
  EXPECT_EQ(middle.slope, 0.0);
}

}  // namespace
}  // namespace tessaro::global
