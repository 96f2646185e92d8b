#include "picture/scales.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tessaro {

namespace {

// Viridis at nine evenly spaced positions; between them the scale is interpolated linearly.
constexpr std::array<Colour, scale_anchor_count> viridis = {{
    {0x44, 0x01, 0x54},
    {0x47, 0x2c, 0x7a},
    {0x3b, 0x51, 0x8b},
    {0x2c, 0x71, 0x8e},
    {0x21, 0x90, 0x8d},
    {0x27, 0xad, 0x81},
    {0x5c, 0xc8, 0x63},
    {0xaa, 0xdc, 0x32},
    {0xfd, 0xe7, 0x25},
}};

std::uint8_t blend(std::uint8_t from, std::uint8_t to, double share) {
  const double value = from + (to - from) * share;
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

std::string colour_text(Colour colour) {
  constexpr char digits[] = "0123456789abcdef";
  std::string text = "#";
  for (const std::uint8_t part : {colour.red, colour.green, colour.blue}) {
    text += digits[part >> 4];
    text += digits[part & 0x0f];
  }
  return text;
}

double flow_width(double flow, double largest_flow) {
  if (!(largest_flow > 0.0)) return thinnest_line;
  const double share = std::min(std::fabs(flow) / largest_flow, 1.0);
  return thinnest_line + (widest_line - thinnest_line) * share;
}

double pressure_position(double pressure, double lowest, double highest) {
  // Halved first, so that the differences of pressures near the largest doubles cannot overflow.
  const double span = highest / 2.0 - lowest / 2.0;
  if (!(span > 0.0)) return 1.0;
  return std::clamp((pressure / 2.0 - lowest / 2.0) / span, 0.0, 1.0);
}

Colour scale_colour(double position) {
  const double at = std::clamp(position, 0.0, 1.0) * (scale_anchor_count - 1);
  const int below = std::min(static_cast<int>(at), scale_anchor_count - 2);
  const double share = at - below;
  const Colour& from = viridis[static_cast<std::size_t>(below)];
  const Colour& to = viridis[static_cast<std::size_t>(below + 1)];
  return {blend(from.red, to.red, share), blend(from.green, to.green, share),
          blend(from.blue, to.blue, share)};
}

Colour scale_anchor(int index) {
  return viridis[static_cast<std::size_t>(std::clamp(index, 0, scale_anchor_count - 1))];
}

}  // namespace tessaro
