// The picture's two scales: widths from flows, colours from pressures.
#include "picture/scales.h"

#include <gtest/gtest.h>

#include "textio/math.h"

namespace tessaro {
namespace {

TEST(FlowWidth, GrowsInProportionToTheMagnitudeOfTheFlow) {
  struct Row {
    double flow, largest, width;
  };
  const double middle = (thinnest_line + widest_line) / 2.0;
  for (const Row& row : {Row{0.0, 2.0, thinnest_line}, Row{2.0, 2.0, widest_line},
                         Row{-2.0, 2.0, widest_line}, Row{-1.0, 2.0, middle}, Row{1.0, 2.0, middle},
                         Row{0.0, 0.0, thinnest_line}, Row{1e-300, 1e300, thinnest_line}}) {
    EXPECT_DOUBLE_EQ(flow_width(row.flow, row.largest), row.width)
        << row.flow << " of " << row.largest;
  }
}

TEST(PressurePosition, PlacesPressuresBetweenTheLowestAndTheHighest) {
  // The extremes of the doubles, with the traps on: no difference may overflow.
  enable_fp_traps();
  struct Row {
    double pressure, lowest, highest, position;
  };
  for (const Row& row : {Row{1e5, 1e5, 3e5, 0.0}, Row{3e5, 1e5, 3e5, 1.0}, Row{2e5, 1e5, 3e5, 0.5},
                         Row{-5.0, -10.0, 0.0, 0.5}, Row{7.0, 7.0, 7.0, 1.0},
                         Row{0.0, -1.7e308, 1.7e308, 0.5}, Row{1.7e308, -1.7e308, 1.7e308, 1.0}}) {
    EXPECT_DOUBLE_EQ(pressure_position(row.pressure, row.lowest, row.highest), row.position)
        << row.pressure << " in " << row.lowest << " .. " << row.highest;
  }
  disable_fp_traps();
}

TEST(ScaleColour, RunsFromDarkVioletToYellowGettingLighterAllTheWay) {
  EXPECT_EQ(colour_text(scale_colour(0.0)), "#440154");
  EXPECT_EQ(colour_text(scale_colour(1.0)), "#fde725");
  EXPECT_EQ(scale_colour(0.5), scale_anchor(scale_anchor_count / 2));
  EXPECT_EQ(scale_colour(-3.0), scale_colour(0.0));
  EXPECT_EQ(scale_colour(7.0), scale_colour(1.0));
  // The green share, and with it the lightness, never falls along the scale; the blue share
  // never rises after its peak in the middle.
  Colour before = scale_colour(0.0);
  for (int i = 1; i <= 1000; ++i) {
    const Colour colour = scale_colour(i / 1000.0);
    EXPECT_GE(colour.green, before.green) << i;
    if (i > 500) {
      EXPECT_LE(colour.blue, before.blue) << i;
    }
    before = colour;
  }
}

}  // namespace
}  // namespace tessaro
