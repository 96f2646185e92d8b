// Large test networks in the input format: a rectangular mesh of pipes between junctions, fed by
// a few pressure terminals at its corners and drained by flowrate terminals spread over it, with
// varied diameters, lengths and elevations. The same size always gives the same file.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

namespace tessaro::bench {

inline constexpr std::int32_t n_sources = 4;  // pressure terminals, one at each corner

struct MeshShape {
  std::int32_t rows = 0;
  std::int32_t columns = 0;
  std::int32_t drains = 0;  // flowrate terminals
  std::int32_t mesh_pipes() const { return 2 * rows * columns - rows - columns; }
  std::int32_t n_branches() const { return mesh_pipes() + n_sources + drains; }
  // Every mesh node is a junction: a pipe between two of them has an entry in each row, a pipe
  // to a terminal one.
  std::int32_t n_entries() const { return 2 * mesh_pipes() + n_sources + drains; }
};

// Every 40th mesh node has a drain.
inline constexpr std::int32_t drain_spacing = 40;

// A mesh of about `target` branches: as square as it can be, widened column by column.
inline MeshShape mesh_shape(std::int32_t target) {
  MeshShape shape;
  shape.rows = std::max(2, static_cast<std::int32_t>(std::sqrt(target / 2.0)));
  shape.columns = shape.rows;
  for (;;) {
    shape.drains = shape.rows * shape.columns / drain_spacing;
    if (shape.n_branches() >= target) return shape;
    ++shape.columns;
  }
}

// Parameters of a run on the mesh: the header's tolerance and iteration limit.
struct MeshRun {
  std::string tolerance = "1E-9";
  std::int32_t max_iterations = 200;
};

// A small deterministic spread: the value of `n` hashed into 0..range-1.
inline std::int32_t spread(std::int64_t n, std::int32_t range) {
  std::uint64_t x = static_cast<std::uint64_t>(n) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  return static_cast<std::int32_t>(x % static_cast<std::uint64_t>(range));
}

inline void write_mesh_network(std::ostream& out, const MeshShape& shape, const MeshRun& run) {
  const std::int32_t mesh_nodes = shape.rows * shape.columns;
  auto node = [&shape](std::int32_t row, std::int32_t column) {
    return row * shape.columns + column + 1;
  };
  out << "1 4.5E-5\n2 0.001\n3 1000.0\n4 9.81\n5 " << run.tolerance << "\n6 " << run.max_iterations
      << "\n7\n";

  std::int32_t branch = 0;
  std::int32_t terminal = mesh_nodes;
  auto pipe = [&out, &branch](std::int32_t first, const char* first_value, std::int32_t second,
                              const char* second_value, std::int32_t condition) {
    ++branch;
    static const char* const diameters[] = {"0.10", "0.15", "0.20", "0.25", "0.30"};
    out << branch << ' ' << branch << " 'P" << branch << "' " << first << ' ' << first_value << ' '
        << second << ' ' << second_value << ' ' << diameters[spread(branch, 5)] << ' '
        << 50 + spread(branch + 7, 451) << ' ' << condition << '\n';
  };

  // Sources at the four corners, at pressures between 3.5 and 4.1 bar.
  const std::int32_t corners[n_sources] = {node(0, 0), node(0, shape.columns - 1),
                                           node(shape.rows - 1, 0),
                                           node(shape.rows - 1, shape.columns - 1)};
  const char* const pressures[n_sources] = {"410000", "395000", "380000", "350000"};
  for (std::int32_t s = 0; s < n_sources; ++s) pipe(++terminal, pressures[s], corners[s], "-1", 1);

  // The mesh, row by row: each node's pipe to its right and to the node below.
  for (std::int32_t row = 0; row < shape.rows; ++row) {
    for (std::int32_t column = 0; column < shape.columns; ++column) {
      if (column + 1 < shape.columns) pipe(node(row, column), "0", node(row, column + 1), "0", 0);
      if (row + 1 < shape.rows) pipe(node(row, column), "0", node(row + 1, column), "0", 0);
    }
  }

  // Drains: the given flowrate leaves the mesh node towards the terminal.
  static const char* const outflows[] = {"0.0005", "0.001", "0.002"};
  static const char* const inflows[] = {"-0.0005", "-0.001", "-0.002"};
  for (std::int32_t k = 0; k < shape.drains; ++k) {
    const std::int32_t at = 1 + spread(k, mesh_nodes);
    const std::int32_t size = spread(k + 3, 3);
    pipe(at, outflows[size], ++terminal, inflows[size], 2);
  }
  out << "0\n";

  for (std::int32_t n = 1; n <= terminal; ++n) {
    out << n << ' ' << n << ' ' << 10 + spread(n + 11, 400) / 10.0 << '\n';
  }
  out << "0\n";
}

}  // namespace tessaro::bench
