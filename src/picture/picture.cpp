#include "picture/picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "picture/graph_layout.h"
#include "picture/scales.h"
#include "report/tables.h"
#include "textio/files.h"

namespace tessaro {

namespace {

// The network as the picture draws it: nodes in ascending number, branches in file order.
struct PictureNode {
  std::int32_t number = 0;
  std::int32_t degree = 0;
  NodeKind kind = NodeKind::junction;
  double pressure = 0.0;
  Point at;
  bool marked = false;
};

struct PictureBranch {
  std::int32_t number = 0;
  std::int32_t from = 0;  // node positions in the picture's node list
  std::int32_t to = 0;
  double flow = 0.0;
  double bend = 0.0;  // sideways offset of a branch drawn beside others between the same nodes
  bool marked = false;
};

struct Scene {
  std::vector<PictureNode> nodes;
  std::vector<PictureBranch> branches;
  bool solved = false;
  double lowest_pressure = 0.0;
  double highest_pressure = 0.0;
  double largest_flow = 0.0;
  double width = 0.0;
  double height = 0.0;
};

// Sizes of the drawing, in SVG pixels.
// The mean branch length the layout is scaled to: longer on a network of a few nodes, so that
// its numbers and arrows have room.
constexpr double branch_length = 80.0;
constexpr double few_nodes_branch_length = 120.0;
constexpr std::size_t few_nodes = 30;
constexpr double margin = 30.0;
constexpr double title_height = 36.0;
constexpr double legend_width = 260.0;
constexpr double legend_height = 440.0;
constexpr double node_radius = 6.0;
constexpr double parallel_spacing = 14.0;
constexpr double stopped_line = 2.5;
constexpr int listed_marks = 12;

constexpr std::string_view line_colour = "#5b6670";
constexpr std::string_view arrow_colour = "#1f2429";
constexpr std::string_view no_result_fill = "#c8cdd2";
constexpr std::string_view fault_colour = "#d62728";

std::string number_text(double value, int decimals) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return "0";
  return std::string(text, end);
}

std::string px(double value) {
  return number_text(value, 1);
}

// A value for the legend: four significant digits.
std::string short_number(double value) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 4);
  return std::string(text, end);
}

// Text for an XML element or attribute: markup characters escaped, bytes that are not printable
// ASCII (control characters, or names in an unknown 8-bit encoding) shown as '?'.
std::string xml_text(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += ' ';
        break;
      default:
        out += (c >= ' ' && c <= '~') ? c : '?';
        break;
    }
  }
  return out;
}

std::string trimmed_name(const BranchName& name) {
  std::string_view text(name.data(), name.size());
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

// The position of a node number in the ascending list, or -1.
std::int32_t find_node(const std::vector<PictureNode>& nodes, std::int32_t number) {
  const auto at = std::lower_bound(
      nodes.begin(), nodes.end(), number,
      [](const PictureNode& node, std::int32_t wanted) { return node.number < wanted; });
  if (at == nodes.end() || at->number != number) return -1;
  return static_cast<std::int32_t>(at - nodes.begin());
}

// The branches read so far whose two node numbers can be drawn, and the nodes: every node 1 to
// n_nodes once the node tables exist, else the nodes these branches name.
void gather_network(const Network& net, const Solution* solution, Scene& scene) {
  const std::int32_t read = solution != nullptr ? net.n_branches : net.n_branches_read;
  std::vector<std::int32_t> numbers;
  const bool node_tables = net.n_nodes > 0 && net.node_degree.size() == net.n_nodes;
  for (std::int32_t b = 1; b <= std::min(read, net.n_branches); ++b) {
    if (net.first_node[b] < 1 || net.second_node[b] < 1) continue;
    PictureBranch branch;
    branch.number = b;
    scene.branches.push_back(branch);
    if (!node_tables) {
      numbers.push_back(net.first_node[b]);
      numbers.push_back(net.second_node[b]);
    }
  }
  if (node_tables) {
    for (std::int32_t n = 1; n <= net.n_nodes; ++n) numbers.push_back(n);
  } else {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  }
  scene.nodes.reserve(numbers.size());
  for (const std::int32_t n : numbers) {
    PictureNode node;
    node.number = n;
    scene.nodes.push_back(node);
  }

  // A node with one branch is a terminal of that branch's kind; a branch with both ends at one
  // node counts once there.
  for (PictureBranch& branch : scene.branches) {
    const std::int32_t b = branch.number;
    branch.from = find_node(scene.nodes, net.first_node[b]);
    branch.to = find_node(scene.nodes, net.second_node[b]);
    for (const std::int32_t end : {branch.from, branch.to}) {
      PictureNode& node = scene.nodes[static_cast<std::size_t>(end)];
      if (end == branch.to && branch.to == branch.from) break;
      node.degree += 1;
      switch (net.branch_condition[b]) {
        case condition_pressure:
          node.kind = NodeKind::pressure;
          break;
        case condition_flowrate:
          node.kind = NodeKind::flowrate;
          break;
        default:
          node.kind = NodeKind::open;
          break;
      }
    }
  }
  for (PictureNode& node : scene.nodes) {
    if (node.degree != 1) node.kind = NodeKind::junction;
  }
}

// Flows and pressures of the solved state, as the tables take them.
void gather_results(const Network& net, const Solution& solution, Scene& scene) {
  scene.solved = true;
  for (PictureBranch& branch : scene.branches) {
    branch.flow = solution.branch_flow[branch.number];
    scene.largest_flow = std::max(scene.largest_flow, std::fabs(branch.flow));
  }
  bool first = true;
  for (PictureNode& node : scene.nodes) {
    const std::int32_t n = node.number;
    node.pressure = ((solution.node_head[n] - net.elevation[n]) * net.density) * net.gravity;
    scene.lowest_pressure = first ? node.pressure : std::min(scene.lowest_pressure, node.pressure);
    scene.highest_pressure =
        first ? node.pressure : std::max(scene.highest_pressure, node.pressure);
    first = false;
  }
}

void gather_marks(const PictureMarks& marks, Scene& scene) {
  for (const PictureMark& mark : marks.nodes) {
    const std::int32_t at = find_node(scene.nodes, mark.number);
    if (at >= 0) scene.nodes[static_cast<std::size_t>(at)].marked = true;
  }
  for (const PictureMark& mark : marks.branches) {
    const auto at = std::lower_bound(
        scene.branches.begin(), scene.branches.end(), mark.number,
        [](const PictureBranch& branch, std::int32_t wanted) { return branch.number < wanted; });
    if (at != scene.branches.end() && at->number == mark.number) at->marked = true;
  }
}

// Branches between the same two nodes are drawn as curves side by side.
void spread_parallel_branches(Scene& scene) {
  std::vector<std::int32_t> order(scene.branches.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i);
  const auto ends = [&scene](std::int32_t i) {
    const PictureBranch& branch = scene.branches[static_cast<std::size_t>(i)];
    return std::pair(std::min(branch.from, branch.to), std::max(branch.from, branch.to));
  };
  std::stable_sort(order.begin(), order.end(),
                   [&ends](std::int32_t a, std::int32_t b) { return ends(a) < ends(b); });
  for (std::size_t first = 0; first < order.size();) {
    std::size_t last = first + 1;
    while (last < order.size() && ends(order[last]) == ends(order[first])) ++last;
    const double count = static_cast<double>(last - first);
    for (std::size_t k = first; k < last; ++k) {
      const double place = static_cast<double>(k - first) - (count - 1.0) / 2.0;
      scene.branches[static_cast<std::size_t>(order[k])].bend = place * parallel_spacing;
    }
    first = last;
  }
}

// Scales the layout to the drawing: y downwards, the mean branch length branch_length, the
// drawing below the title and left of the legend.
void place_nodes(const std::vector<Point>& layout, Scene& scene) {
  double total = 0.0;
  int counted = 0;
  for (const PictureBranch& branch : scene.branches) {
    if (branch.from == branch.to) continue;
    const Point a = layout[static_cast<std::size_t>(branch.from)];
    const Point b = layout[static_cast<std::size_t>(branch.to)];
    total += std::hypot(b.x - a.x, b.y - a.y);
    ++counted;
  }
  const double mean = counted > 0 ? total / counted : 0.0;
  const double wanted = scene.nodes.size() <= few_nodes ? few_nodes_branch_length : branch_length;
  const double scale = mean > 0.0 ? wanted / mean : 1.0;
  double low_x = layout.front().x;
  double high_x = low_x;
  double low_y = layout.front().y;
  double high_y = low_y;
  for (const Point& p : layout) {
    low_x = std::min(low_x, p.x);
    high_x = std::max(high_x, p.x);
    low_y = std::min(low_y, p.y);
    high_y = std::max(high_y, p.y);
  }
  for (std::size_t i = 0; i < scene.nodes.size(); ++i) {
    scene.nodes[i].at = {margin + (layout[i].x - low_x) * scale,
                         title_height + margin + (high_y - layout[i].y) * scale};
  }
  const double drawing_width = std::max((high_x - low_x) * scale + 2.0 * margin, 200.0);
  const double drawing_height = (high_y - low_y) * scale + 2.0 * margin;
  scene.width = drawing_width + legend_width;
  scene.height = title_height + std::max(drawing_height, legend_height);
}

bool layout_is_usable(const std::vector<Point>& layout, std::size_t n_nodes) {
  if (layout.size() != n_nodes || layout.empty()) return false;
  return std::all_of(layout.begin(), layout.end(),
                     [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}

// The geometry of a branch's line: a straight segment, a curve beside its parallels, or a loop
// for a branch with both ends at one node; with the point halfway along and the direction there.
struct BranchPath {
  std::string d;
  Point middle;
  Point direction;  // unit length, from the first node towards the second
};

BranchPath branch_path(const Scene& scene, const PictureBranch& branch) {
  const Point a = scene.nodes[static_cast<std::size_t>(branch.from)].at;
  const Point b = scene.nodes[static_cast<std::size_t>(branch.to)].at;
  BranchPath path;
  if (branch.from == branch.to) {
    const double side = 18.0 + std::fabs(branch.bend);
    path.d = "M" + px(a.x) + " " + px(a.y) + " C" + px(a.x - side) + " " + px(a.y - 30.0) + " " +
             px(a.x + side) + " " + px(a.y - 30.0) + " " + px(a.x) + " " + px(a.y);
    path.middle = {a.x, a.y - 22.5};
    path.direction = {1.0, 0.0};
    return path;
  }
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double length = std::hypot(dx, dy);
  path.direction = length > 0.0 ? Point{dx / length, dy / length} : Point{1.0, 0.0};
  // The sideways direction is taken from the lower-numbered node, so that parallels spread
  // whichever way round their records name the nodes.
  const double sign = branch.from < branch.to ? 1.0 : -1.0;
  const Point side = {-path.direction.y * sign, path.direction.x * sign};
  const Point half = {(a.x + b.x) / 2.0, (a.y + b.y) / 2.0};
  if (branch.bend == 0.0) {
    path.d = "M" + px(a.x) + " " + px(a.y) + " L" + px(b.x) + " " + px(b.y);
    path.middle = half;
    return path;
  }
  const Point control = {half.x + side.x * 2.0 * branch.bend, half.y + side.y * 2.0 * branch.bend};
  path.d = "M" + px(a.x) + " " + px(a.y) + " Q" + px(control.x) + " " + px(control.y) + " " +
           px(b.x) + " " + px(b.y);
  path.middle = {half.x + side.x * branch.bend, half.y + side.y * branch.bend};
  return path;
}

// A triangle at a point, pointing along a unit direction.
std::string arrow_points(Point at, Point direction, double size) {
  const Point side = {-direction.y, direction.x};
  const Point tip = {at.x + direction.x * size, at.y + direction.y * size};
  const Point left = {at.x - direction.x * size + side.x * size * 0.7,
                      at.y - direction.y * size + side.y * size * 0.7};
  const Point right = {at.x - direction.x * size - side.x * size * 0.7,
                       at.y - direction.y * size - side.y * size * 0.7};
  return px(tip.x) + "," + px(tip.y) + " " + px(left.x) + "," + px(left.y) + " " + px(right.x) +
         "," + px(right.y);
}

// The element of a node's mark: a circle for a junction, a square for a pressure terminal, a
// diamond for a flowrate terminal, a triangle for an open terminal.
std::string node_shape(NodeKind kind, Point at, std::string_view attributes) {
  const double r = node_radius;
  switch (kind) {
    case NodeKind::pressure:
      return "<rect " + std::string(attributes) + " x=\"" + px(at.x - r) + "\" y=\"" +
             px(at.y - r) + "\" width=\"" + px(2.0 * r) + "\" height=\"" + px(2.0 * r) + "\"";
    case NodeKind::flowrate:
      return "<polygon " + std::string(attributes) + " points=\"" + px(at.x) + "," +
             px(at.y - 1.4 * r) + " " + px(at.x + 1.4 * r) + "," + px(at.y) + " " + px(at.x) + "," +
             px(at.y + 1.4 * r) + " " + px(at.x - 1.4 * r) + "," + px(at.y) + "\"";
    case NodeKind::open:
      return "<polygon " + std::string(attributes) + " points=\"" + px(at.x) + "," +
             px(at.y - 1.3 * r) + " " + px(at.x + 1.2 * r) + "," + px(at.y + 0.9 * r) + " " +
             px(at.x - 1.2 * r) + "," + px(at.y + 0.9 * r) + "\"";
    case NodeKind::junction:
      break;
  }
  return "<circle " + std::string(attributes) + " cx=\"" + px(at.x) + "\" cy=\"" + px(at.y) +
         "\" r=\"" + px(r) + "\"";
}

std::string_view kind_words(NodeKind kind) {
  switch (kind) {
    case NodeKind::pressure:
      return "pressure terminal";
    case NodeKind::flowrate:
      return "flowrate terminal";
    case NodeKind::open:
      return "open terminal (pressure 0)";
    case NodeKind::junction:
      break;
  }
  return "junction";
}

class SvgFile {
 public:
  SvgFile() : file_(picture_file_name) { file_.open(); }
  void line(std::string_view text) { file_.write_record(text); }
  void text(double x, double y, std::string_view words, std::string_view attributes = {}) {
    std::string record = "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\"";
    if (!attributes.empty()) record += " " + std::string(attributes);
    record += ">" + xml_text(words) + "</text>";
    line(record);
  }
  void close() { file_.close(); }

 private:
  OutputFile file_;
};

// Wide enough for the title line at its font size.
double title_width(const PictureTitle& title) {
  const std::size_t characters =
      title.file_name.size() + title.solver.size() + title.outcome.size() + 14;
  return 2.0 * margin + 8.0 * static_cast<double>(characters);
}

void write_opening(SvgFile& svg, double drawing_width, double height, const PictureTitle& title) {
  const double width = std::max(drawing_width, title_width(title));
  svg.line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  svg.line("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + px(width) + "\" height=\"" +
           px(height) + "\" viewBox=\"0 0 " + px(width) + " " + px(height) +
           "\" font-family=\"sans-serif\" font-size=\"12\">");
  svg.line("<title>" + xml_text(title.file_name) + "</title>");
  svg.line("<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>");
  // The parts are set apart by middle dots.
  std::string heading = "<text class=\"title\" x=\"" + px(margin) +
                        "\" y=\"24\" font-size=\"15\">" + xml_text(title.file_name);
  if (!title.solver.empty()) heading += " &#183; " + xml_text(title.solver) + " solver";
  if (!title.outcome.empty()) heading += " &#183; " + xml_text(title.outcome);
  svg.line(heading + "</text>");
}

void write_branches(SvgFile& svg, const Scene& scene, const Network& net) {
  svg.line("<g id=\"faulty-branches\" fill=\"none\" stroke=\"" + std::string(fault_colour) +
           "\" stroke-opacity=\"0.55\" stroke-linecap=\"round\">");
  for (const PictureBranch& branch : scene.branches) {
    if (!branch.marked) continue;
    const double width = scene.solved ? flow_width(branch.flow, scene.largest_flow) : stopped_line;
    svg.line("<path class=\"fault\" data-branch=\"" + std::to_string(branch.number) + "\" d=\"" +
             branch_path(scene, branch).d + "\" stroke-width=\"" + px(width + 8.0) + "\"/>");
  }
  svg.line("</g>");

  svg.line("<g id=\"branches\" fill=\"none\" stroke=\"" + std::string(line_colour) +
           "\" stroke-linecap=\"round\">");
  for (const PictureBranch& branch : scene.branches) {
    const double width = scene.solved ? flow_width(branch.flow, scene.largest_flow) : stopped_line;
    std::string tip = "branch " + std::to_string(branch.number) + " " +
                      trimmed_name(net.branch_name[branch.number]);
    if (scene.solved) tip += ": flowrate " + csv_number(branch.flow);
    svg.line("<path class=\"branch\" data-branch=\"" + std::to_string(branch.number) + "\" d=\"" +
             branch_path(scene, branch).d + "\" stroke-width=\"" + px(width) + "\"><title>" +
             xml_text(tip) + "</title></path>");
  }
  svg.line("</g>");

  if (!scene.solved) return;
  // The arrow halfway along a branch points the way its flow goes.
  svg.line("<g id=\"arrows\" fill=\"" + std::string(arrow_colour) + "\">");
  for (const PictureBranch& branch : scene.branches) {
    if (branch.flow == 0.0) continue;
    BranchPath path = branch_path(scene, branch);
    if (branch.flow < 0.0) path.direction = {-path.direction.x, -path.direction.y};
    const double size = 5.0 + 0.9 * flow_width(branch.flow, scene.largest_flow);
    svg.line("<polygon class=\"arrow\" data-branch=\"" + std::to_string(branch.number) +
             "\" points=\"" + arrow_points(path.middle, path.direction, size) + "\"/>");
  }
  svg.line("</g>");
}

void write_nodes(SvgFile& svg, const Scene& scene) {
  svg.line("<g id=\"nodes\" stroke=\"#222222\" stroke-width=\"1\">");
  for (const PictureNode& node : scene.nodes) {
    const std::string fill =
        scene.solved ? colour_text(scale_colour(pressure_position(
                           node.pressure, scene.lowest_pressure, scene.highest_pressure)))
                     : std::string(no_result_fill);
    std::string tip =
        "node " + std::to_string(node.number) + ", " + std::string(kind_words(node.kind));
    if (scene.solved) tip += ": pressure " + csv_number(node.pressure);
    if (node.degree == 0) tip += ": no branch";
    svg.line(node_shape(node.kind, node.at,
                        "class=\"node\" data-node=\"" + std::to_string(node.number) + "\" fill=\"" +
                            fill + "\"") +
             "><title>" + xml_text(tip) + "</title>" +
             (node.kind == NodeKind::junction   ? "</circle>"
              : node.kind == NodeKind::pressure ? "</rect>"
                                                : "</polygon>"));
  }
  svg.line("</g>");

  svg.line("<g id=\"faulty-nodes\" fill=\"none\" stroke=\"" + std::string(fault_colour) +
           "\" stroke-width=\"3\">");
  for (const PictureNode& node : scene.nodes) {
    if (!node.marked) continue;
    svg.line("<circle class=\"fault\" data-node=\"" + std::to_string(node.number) + "\" cx=\"" +
             px(node.at.x) + "\" cy=\"" + px(node.at.y) + "\" r=\"" + px(node_radius + 7.0) +
             "\"/>");
  }
  svg.line("</g>");

  if (static_cast<std::int64_t>(scene.nodes.size()) > picture_label_limit) return;
  svg.line("<g id=\"node-numbers\" font-size=\"11\" fill=\"#222222\">");
  for (const PictureNode& node : scene.nodes) {
    svg.text(node.at.x + node_radius + 3.0, node.at.y - node_radius - 2.0,
             std::to_string(node.number), "class=\"label\"");
  }
  svg.line("</g>");
}

void write_legend(SvgFile& svg, const Scene& scene, const PictureMarks& marks,
                  const PictureTitle& title) {
  const double x = scene.width - legend_width + 20.0;
  double y = title_height + 24.0;
  svg.line("<g id=\"legend\">");
  if (scene.solved) {
    svg.text(x, y, "pressure, in the file's units", "font-weight=\"bold\"");
    svg.line("<defs><linearGradient id=\"pressure-scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">");
    for (int i = 0; i < scale_anchor_count; ++i) {
      svg.line("<stop offset=\"" + number_text(i / double(scale_anchor_count - 1), 3) +
               "\" stop-color=\"" + colour_text(scale_anchor(i)) + "\"/>");
    }
    svg.line("</linearGradient></defs>");
    const double bar_top = y + 12.0;
    const double bar_height = 150.0;
    svg.line("<rect class=\"colour-bar\" x=\"" + px(x) + "\" y=\"" + px(bar_top) +
             "\" width=\"22\" height=\"" + px(bar_height) +
             "\" fill=\"url(#pressure-scale)\" stroke=\"#222222\"/>");
    const double middle = scene.lowest_pressure / 2.0 + scene.highest_pressure / 2.0;
    svg.text(x + 30.0, bar_top + 10.0, short_number(scene.highest_pressure) + " (highest)");
    svg.text(x + 30.0, bar_top + bar_height / 2.0 + 4.0, short_number(middle));
    svg.text(x + 30.0, bar_top + bar_height, short_number(scene.lowest_pressure) + " (lowest)");
    y = bar_top + bar_height + 30.0;
  } else {
    svg.text(x, y, title.without_results, "font-weight=\"bold\"");
    y += 28.0;
  }

  svg.text(x, y, "nodes", "font-weight=\"bold\"");
  y += 20.0;
  for (const NodeKind kind :
       {NodeKind::junction, NodeKind::pressure, NodeKind::flowrate, NodeKind::open}) {
    svg.line(node_shape(kind, {x + 8.0, y - 4.0},
                        "fill=\"" + std::string(no_result_fill) + "\" stroke=\"#222222\"") +
             "/>");
    svg.text(x + 26.0, y, kind_words(kind));
    y += 22.0;
  }

  y += 8.0;
  svg.text(x, y, "branches", "font-weight=\"bold\"");
  y += 20.0;
  const auto sample = [&svg, x](double at, double width) {
    svg.line("<line x1=\"" + px(x) + "\" y1=\"" + px(at - 4.0) + "\" x2=\"" + px(x + 40.0) +
             "\" y2=\"" + px(at - 4.0) + "\" stroke=\"" + std::string(line_colour) +
             "\" stroke-width=\"" + px(width) + "\"/>");
  };
  if (scene.solved) {
    sample(y, thinnest_line);
    svg.text(x + 50.0, y, "no flow");
    y += 22.0;
    sample(y, widest_line);
    svg.text(x + 50.0, y, "|flowrate| " + short_number(scene.largest_flow));
    y += 22.0;
    svg.line("<polygon points=\"" + arrow_points({x + 20.0, y - 4.0}, {1.0, 0.0}, 7.0) +
             "\" fill=\"" + std::string(arrow_colour) + "\"/>");
    svg.text(x + 50.0, y, "direction of flow");
    y += 22.0;
  } else {
    sample(y, stopped_line);
    svg.text(x + 50.0, y, "branch read");
    y += 22.0;
  }

  const std::size_t n_marks = marks.nodes.size() + marks.branches.size();
  if (n_marks > 0) {
    y += 8.0;
    svg.line("<circle cx=\"" + px(x + 8.0) + "\" cy=\"" + px(y - 4.0) +
             "\" r=\"9\" fill=\"none\" " + "stroke=\"" + std::string(fault_colour) +
             "\" stroke-width=\"3\"/>");
    svg.text(x + 26.0, y, "faulty", "font-weight=\"bold\"");
    y += 20.0;
    int listed = 0;
    for (const auto* group : {&marks.branches, &marks.nodes}) {
      const std::string_view what = group == &marks.branches ? "branch " : "node ";
      for (const PictureMark& mark : *group) {
        if (listed == listed_marks) break;
        svg.text(x, y, std::string(what) + std::to_string(mark.number) + ": " + mark.note,
                 "class=\"fault-note\" font-size=\"11\"");
        y += 16.0;
        ++listed;
      }
    }
    if (n_marks > listed_marks) {
      svg.text(x, y, "and " + std::to_string(n_marks - listed_marks) + " more", "font-size=\"11\"");
    }
  }
  svg.line("</g>");
}

// A network too large to read as a picture, or one the layout failed on: a note in its place.
void write_note(const Scene& scene, const PictureTitle& title, std::string_view reason) {
  SvgFile svg;
  write_opening(svg, 760.0, 120.0, title);
  svg.text(margin, 70.0,
           std::to_string(scene.nodes.size()) + " nodes, " + std::to_string(scene.branches.size()) +
               " branches: " + std::string(reason),
           "class=\"note\"");
  svg.line("</svg>");
  svg.close();
}

// How far the listed notes of the marks reach past the legend's width, at their font size.
double notes_overhang(const PictureMarks& marks) {
  constexpr double note_character_width = 6.2;
  std::size_t longest = 0;
  int listed = 0;
  for (const auto* group : {&marks.branches, &marks.nodes}) {
    for (const PictureMark& mark : *group) {
      if (listed++ == listed_marks) break;
      longest = std::max(longest, mark.note.size() + 14);
    }
  }
  return std::max(0.0, note_character_width * static_cast<double>(longest) - legend_width + 40.0);
}

}  // namespace

void write_picture(const Network& net, const Solution* solution, const PictureMarks& marks,
                   const PictureTitle& title) {
  Scene scene;
  gather_network(net, solution, scene);
  if (scene.nodes.empty()) {
    write_note(scene, title, "nothing was read that could be drawn");
    return;
  }
  if (static_cast<std::int64_t>(scene.nodes.size()) > picture_node_limit) {
    write_note(scene, title,
               "not drawn, a picture of more than " + std::to_string(picture_node_limit) +
                   " nodes cannot be read");
    return;
  }
  if (solution != nullptr) gather_results(net, *solution, scene);
  gather_marks(marks, scene);
  spread_parallel_branches(scene);

  std::vector<std::pair<std::int32_t, std::int32_t>> edges;
  edges.reserve(scene.branches.size());
  for (const PictureBranch& branch : scene.branches) edges.emplace_back(branch.from, branch.to);
  const std::vector<Point> layout =
      lay_out_graph(static_cast<std::int32_t>(scene.nodes.size()), edges);
  if (!layout_is_usable(layout, scene.nodes.size())) {
    write_note(scene, title, "no layout could be made");
    return;
  }
  place_nodes(layout, scene);

  SvgFile svg;
  write_opening(svg, scene.width + notes_overhang(marks), scene.height, title);
  write_branches(svg, scene, net);
  write_nodes(svg, scene);
  write_legend(svg, scene, marks, title);
  svg.line("</svg>");
  svg.close();
}

}  // namespace tessaro
