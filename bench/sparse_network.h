// Sparse test networks in the input format, laid out like real distribution networks: about 1.2
// pipes per junction (a tree of mains with a few loops closed), long thin pipes beside short wide
// ones (valves and pump stand-ins of 1 m length and more than a metre across), pressure sources
// spread over the network and drains from litres to cubic metres per second. The same size always
// gives the same file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "mesh_network.h"

namespace tessaro::bench {

struct SparseShape {
  std::int32_t junctions = 0;
  std::int32_t width = 0;  // junctions lie in rows of this many
  std::int32_t loops = 0;  // pipes added to the tree
  std::int32_t sources = 0;
  std::int32_t drains = 0;
  std::int32_t n_branches() const { return junctions - 1 + loops + sources + drains; }
};

// Every fifth junction closes a loop; one source per 2,000 junctions (at least 2); a drain at
// every eighth junction.
inline SparseShape sparse_shape(std::int32_t target) {
  SparseShape shape;
  // 1 + 0.2 + 1/8 branches per junction, and the few sources.
  shape.junctions = std::max(8, static_cast<std::int32_t>(target / 1.3255));
  for (;;) {
    shape.width = std::max(2, static_cast<std::int32_t>(std::sqrt(shape.junctions)));
    shape.loops = shape.junctions / 5;
    shape.sources = std::max(2, shape.junctions / 2000);
    shape.drains = shape.junctions / 8;
    if (shape.n_branches() >= target) return shape;
    ++shape.junctions;
  }
}

inline void write_sparse_network(std::ostream& out, const SparseShape& shape, const MeshRun& run) {
  const std::int32_t n = shape.junctions;
  const std::int32_t w = shape.width;
  out << "1 4.5E-5\n2 0.001\n3 1000.0\n4 9.81\n5 " << run.tolerance << "\n6 " << run.max_iterations
      << "\n7\n";
  std::int32_t branch = 0;
  auto pipe = [&out, &branch](std::int32_t first, const std::string& first_value,
                              std::int32_t second, const std::string& second_value,
                              std::int32_t condition) {
    ++branch;
    const std::int32_t kind = spread(branch + 101, 100);
    std::string diameter;
    std::string length;
    if (kind < 4) {  // a valve or pump stand-in: short and wide
      diameter = std::to_string(100 + spread(branch, 60)) + "E-2";
      length = "1";
    } else if (kind < 30) {  // a main
      diameter = std::to_string(40 + spread(branch, 50)) + "E-2";
      length = std::to_string(200 + spread(branch + 3, 1800));
    } else {  // a distribution pipe: long and thin
      diameter = std::to_string(8 + spread(branch, 22)) + "E-2";
      length = std::to_string(50 + spread(branch + 5, 950));
    }
    out << branch << ' ' << branch << " 'P" << branch << "' " << first << ' ' << first_value << ' '
        << second << ' ' << second_value << ' ' << diameter << ' ' << length << ' ' << condition
        << '\n';
  };
  // The tree: each junction after the first joins the one before it in its row or the one above.
  for (std::int32_t j = 2; j <= n; ++j) {
    const bool up = j > w && (spread(j, 3) == 0 || (j - 1) % w == 0);
    pipe(up ? j - w : j - 1, "0", j, "0", 0);
  }
  // Loops: a pipe to the junction above or before, whichever the tree did not take.
  for (std::int32_t k = 1; k <= shape.loops; ++k) {
    const std::int32_t j = w + 1 + spread(k + 17, n - w);
    const bool up = spread(j, 3) != 0 && (j - 1) % w != 0;
    pipe(up ? j - w : j - 1, "0", j, "0", 0);
  }
  std::int32_t terminal = n;
  for (std::int32_t s = 0; s < shape.sources; ++s) {
    const std::int32_t at = 1 + spread(s + 29, n);
    pipe(++terminal, std::to_string(400000 + spread(s, 200000)), at, "-1", 1);
  }
  // Drains: mostly a few litres per second, now and then a large consumer.
  for (std::int32_t k = 0; k < shape.drains; ++k) {
    const std::int32_t at = 1 + spread(k + 41, n);
    const std::int32_t size = spread(k + 43, 1000);
    const std::string flow =
        size < 995 ? std::to_string(1 + size % 10) + "E-4" : std::to_string(1 + size % 5) + "E-1";
    pipe(at, flow, ++terminal, "-" + flow, 2);
  }
  out << "0\n";
  for (std::int32_t node = 1; node <= terminal; ++node) {
    out << node << ' ' << node << ' ' << 10 + spread(node + 11, 400) / 10.0 << '\n';
  }
  out << "0\n";
}

}  // namespace tessaro::bench
