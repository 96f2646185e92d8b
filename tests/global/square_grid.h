// The links of a square grid of side x side unknowns numbered row by row from 1, the tests' mesh
// for the head equations: each unknown joined to the next in its row, then to the one below it.
#pragma once

#include <cstdint>

#include "model/table.h"

namespace tessaro::global {

struct GridLinks {
  Table<std::int32_t> first;
  Table<std::int32_t> second;
};

inline GridLinks square_grid_links(std::int32_t side) {
  GridLinks links;
  links.first.create(2 * side * (side - 1));
  links.second.create(2 * side * (side - 1));
  std::int32_t k = 0;
  auto join = [&](std::int32_t u, std::int32_t v) {
    ++k;
    links.first[k] = u;
    links.second[k] = v;
  };
  for (std::int32_t u = 1; u <= side * side; ++u) {
    if (u % side != 0) join(u, u + 1);
    if (u + side <= side * side) join(u, u + side);
  }
  return links;
}

}  // namespace tessaro::global
