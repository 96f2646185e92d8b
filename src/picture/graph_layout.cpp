#include "picture/graph_layout.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>
#include <graphviz/types.h>

#include <string>

#include "textio/math.h"

// The layout library of Graphviz's neato and sfdp engines, linked into the program and handed to
// the context directly, so that no plugin configuration file is looked for at run time.
extern "C" gvplugin_library_t gvplugin_neato_layout_LTX_library;

namespace tessaro {

namespace {

lt_symlist_t layout_plugins[] = {
    {"gvplugin_neato_layout_LTX_library", &gvplugin_neato_layout_LTX_library},
    {nullptr, nullptr},
};

// Graphviz's warnings and errors would reach the console; the picture does without them.
int drop_message(char*) {
  return 0;
}

void set_attribute(Agraph_t* graph, int kind, const char* name, const char* value) {
  agattr(graph, kind, const_cast<char*>(name), const_cast<char*>(value));
}

std::vector<Point> positions_from_graphviz(
    std::int32_t n_nodes, const std::vector<std::pair<std::int32_t, std::int32_t>>& edges) {
  std::vector<Point> positions;
  GVC_t* context = gvContextPlugins(layout_plugins, 0);
  if (context == nullptr) return positions;
  const agusererrf earlier_report = agseterrf(drop_message);
  const agerrlevel_t earlier_level = agseterr(AGMAX);

  Agraph_t* graph = agopen(const_cast<char*>("network"), Agundirected, nullptr);
  // Nodes are points and edges straight: only the positions are wanted, not shapes or routes.
  set_attribute(graph, AGRAPH, "splines", "false");
  set_attribute(graph, AGRAPH, "overlap", "true");
  set_attribute(graph, AGRAPH, "quadtree", "fast");
  set_attribute(graph, AGNODE, "shape", "point");
  set_attribute(graph, AGNODE, "width", "0.05");
  set_attribute(graph, AGNODE, "label", "");

  std::vector<Agnode_t*> nodes(static_cast<std::size_t>(n_nodes));
  for (std::int32_t i = 0; i < n_nodes; ++i) {
    std::string name = std::to_string(i);
    nodes[static_cast<std::size_t>(i)] = agnode(graph, name.data(), 1);
  }
  for (const auto& [from, to] : edges) {
    if (from == to) continue;
    agedge(graph, nodes[static_cast<std::size_t>(from)], nodes[static_cast<std::size_t>(to)],
           nullptr, 1);
  }

  const char* engine = n_nodes <= neato_node_limit ? "neato" : "sfdp";
  if (gvLayout(context, graph, engine) == 0) {
    positions.resize(static_cast<std::size_t>(n_nodes));
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      positions[i] = {ND_coord(nodes[i]).x, ND_coord(nodes[i]).y};
    }
    gvFreeLayout(context, graph);
  }
  agclose(graph);
  gvFreeContext(context);
  agseterr(earlier_level);
  agseterrf(earlier_report);
  return positions;
}

}  // namespace

std::vector<Point> lay_out_graph(std::int32_t n_nodes,
                                 const std::vector<std::pair<std::int32_t, std::int32_t>>& edges) {
  // Graphviz's arithmetic is not written for trapping floating-point exceptions: the traps are
  // off while it lays the graph out, and back on before the run goes on, the flags as they were
  // before the layout (what Graphviz raised is forgotten).
  const TrapsOff traps_off;
  return positions_from_graphviz(n_nodes, edges);
}

}  // namespace tessaro
