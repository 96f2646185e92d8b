// Positions for the nodes of a graph, from Graphviz's force-directed layouts: neato (stress
// majorisation) for small graphs, sfdp (multilevel) for large ones.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace tessaro {

struct Point {
  double x = 0.0;
  double y = 0.0;
};

// Graphs up to this many nodes are laid out by neato, whose work and storage grow with the
// square of the node count; larger ones by sfdp.
inline constexpr std::int32_t neato_node_limit = 1000;

// The positions, in points with y upwards, of nodes 0 .. n_nodes - 1 joined by the edges (pairs of
// node positions). A graph that Graphviz cannot lay out gives no positions.
std::vector<Point> lay_out_graph(std::int32_t n_nodes,
                                 const std::vector<std::pair<std::int32_t, std::int32_t>>& edges);

}  // namespace tessaro
