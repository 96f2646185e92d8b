// The two scales of the picture, as pure functions: a branch's flow to a line width, a node's
// pressure to a colour of a perceptually uniform scale.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Colour&) const = default;
};

// "#rrggbb".
std::string colour_text(Colour colour);

inline constexpr double thinnest_line = 1.5;
inline constexpr double widest_line = 9.0;

// The width of a branch's line: thinnest_line for no flow, growing in proportion to |flow| up to
// widest_line for the largest |flow| of the network.
double flow_width(double flow, double largest_flow);

// The position of a pressure on the scale from lowest (0) to highest (1). A network whose
// pressures are all equal sits at the top.
double pressure_position(double pressure, double lowest, double highest);

// The colour at a position from 0 (dark violet) to 1 (yellow) of the viridis scale.
Colour scale_colour(double position);

// The colours of the scale at evenly spaced positions from 0 to 1, for the colour bar.
inline constexpr int scale_anchor_count = 9;
Colour scale_anchor(int index);

}  // namespace tessaro
