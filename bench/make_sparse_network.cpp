// Writes a sparse network of about the given number of branches in the input format.
// Usage: make_sparse_network BRANCHES TOLERANCE MAX_ITERATIONS FILE
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "sparse_network.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: make_sparse_network BRANCHES TOLERANCE MAX_ITERATIONS FILE\n";
    return 2;
  }
  const tessaro::bench::SparseShape shape = tessaro::bench::sparse_shape(std::atoi(argv[1]));
  tessaro::bench::MeshRun run;
  run.tolerance = argv[2];
  run.max_iterations = std::atoi(argv[3]);
  std::ofstream out(argv[4], std::ios::binary);
  tessaro::bench::write_sparse_network(out, shape, run);
  out.close();
  if (!out) {
    std::cerr << "make_sparse_network: cannot write " << argv[4] << "\n";
    return 1;
  }
  std::cout << shape.n_branches() << " branches, " << shape.junctions << " junctions, "
            << shape.loops << " loops, " << shape.sources << " pressure terminals, " << shape.drains
            << " flowrate terminals\n";
  return 0;
}
