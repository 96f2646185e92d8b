// The built program drawing networks with --svg, each run in a fresh folder: the picture parses
// as XML and holds one line per branch and one mark per node; it shows the numbers of the tables;
// colours, widths and arrows follow pressures and flows; a stopped run marks the part its check
// names; a real renderer turns it into an image that is not blank.
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../e2e/program_run.h"
#include "mesh_network.h"

namespace fs = std::filesystem;

namespace {

const std::string header = "1 0.000045\n2 0.001\n3 1000.0\n4 9.81\n5 0.0001\n6 100\n7\n";
const std::string elevations = "1 1 0.0\n2 2 5.0\n3 3 10.0\n4 4 0.0\n0\n";
const std::string example = header +
                            "1 1 'MAIN' 1 200000.0 2 -1.0 0.10 100.0 1\n"
                            "2 2 'OUTLET' 2 -1.0 3 100000.0 0.08 50.0 1\n"
                            "3 3 'FEED' 2 -0.01 4 0.01 0.05 20.0 2\n0\n" +
                            elevations;

using tessaro::e2e::read_file;

// A fresh folder holding the network file; the program runs there with the options given,
// separated by blanks.
struct ProgramRun {
  fs::path folder;
  int exit_status = -1;
  std::string stdout_text;

  ProgramRun(const std::string& network, const std::string& options) {
    folder = fs::temp_directory_path() /
             ("tessaro-picture-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(folder);
    fs::create_directories(folder / "run");
    tessaro::e2e::write_file(folder / "run" / "Tessaro-net.txt", network);
    std::vector<std::string> arguments;
    std::istringstream words(options);
    for (std::string word; words >> word;) arguments.push_back(word);
    const tessaro::e2e::Outcome outcome =
        tessaro::e2e::run_in(folder / "run", TESSARO_PROGRAM, arguments);
    exit_status = outcome.exit_status;
    stdout_text = outcome.stdout_bytes;
  }
  ~ProgramRun() { fs::remove_all(folder); }
  fs::path file(const std::string& name) const { return folder / "run" / name; }
  static inline int counter = 0;
};

// The rows of a --csv table, below its header.
std::vector<std::vector<std::string>> csv_rows(const fs::path& path) {
  return tessaro::e2e::read_csv_table(path).rows;
}

// The parsed picture, asked with XPath.
class Svg {
 public:
  explicit Svg(const fs::path& path) {
    document_ = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    if (document_ == nullptr) return;
    context_ = xmlXPathNewContext(document_);
    xmlXPathRegisterNs(context_, BAD_CAST "s", BAD_CAST "http://www.w3.org/2000/svg");
  }
  ~Svg() {
    if (context_ != nullptr) xmlXPathFreeContext(context_);
    if (document_ != nullptr) xmlFreeDoc(document_);
  }
  bool parsed() const { return document_ != nullptr; }

  // Every element the expression selects, as its attributes and its text.
  std::vector<std::map<std::string, std::string>> select(const std::string& expression) const {
    std::vector<std::map<std::string, std::string>> found;
    xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST expression.c_str(), context_);
    if (result == nullptr) return found;
    for (int i = 0; result->nodesetval != nullptr && i < result->nodesetval->nodeNr; ++i) {
      xmlNodePtr element = result->nodesetval->nodeTab[i];
      std::map<std::string, std::string> attributes;
      for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next) {
        xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
        attributes[reinterpret_cast<const char*>(a->name)] = reinterpret_cast<char*>(value);
        xmlFree(value);
      }
      xmlChar* text = xmlNodeGetContent(element);
      attributes["text()"] = reinterpret_cast<char*>(text);
      xmlFree(text);
      found.push_back(attributes);
    }
    xmlXPathFreeObject(result);
    return found;
  }

 private:
  xmlDocPtr document_ = nullptr;
  xmlXPathContextPtr context_ = nullptr;
};

struct Point {
  double x = 0.0, y = 0.0;
};

std::vector<Point> points_of(const std::string& text) {
  std::vector<Point> points;
  std::istringstream in(text);
  Point p;
  char comma = 0;
  while (in >> p.x >> comma >> p.y) points.push_back(p);
  return points;
}

// The centre of a node's mark, whatever its shape.
Point centre_of(const std::map<std::string, std::string>& e) {
  if (e.count("cx")) return {std::stod(e.at("cx")), std::stod(e.at("cy"))};
  if (e.count("width")) {
    return {std::stod(e.at("x")) + std::stod(e.at("width")) / 2,
            std::stod(e.at("y")) + std::stod(e.at("height")) / 2};
  }
  // A polygon: the middle of its bounding box.
  Point low = points_of(e.at("points"))[0], high = low;
  for (const Point& p : points_of(e.at("points"))) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y)};
  }
  return {(low.x + high.x) / 2, (low.y + high.y) / 2};
}

// A solved network's picture against its tables: counts, the tables' numbers in the tooltips,
// the colours in the order of the pressures, the widths in the order of the flows, and every
// arrow pointing from the higher head towards the lower.
void expect_picture_of_tables(const ProgramRun& run) {
  const Svg svg(run.file("Tessaro-net.svg"));
  ASSERT_TRUE(svg.parsed());
  const auto branch_rows = csv_rows(run.file("Tessaro-branches.csv"));
  const auto node_rows = csv_rows(run.file("Tessaro-nodes.csv"));
  const auto lines = svg.select("//s:path[@class='branch']");
  const auto marks = svg.select("//*[@class='node']");
  ASSERT_EQ(lines.size(), branch_rows.size());
  ASSERT_EQ(marks.size(), node_rows.size());

  std::map<std::string, Point> centre;
  std::vector<std::pair<double, int>> green_by_pressure;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    ASSERT_EQ(marks[i].at("data-node"), node_rows[i][0]);
    EXPECT_NE(marks[i].at("text()").find("pressure " + node_rows[i][4]), std::string::npos);
    centre[node_rows[i][0]] = centre_of(marks[i]);
    green_by_pressure.emplace_back(std::stod(node_rows[i][4]),
                                   std::stoi(marks[i].at("fill").substr(3, 2), nullptr, 16));
  }
  std::sort(green_by_pressure.begin(), green_by_pressure.end());
  EXPECT_EQ(svg.select("//*[@class='node'][@fill='#fde725']").size(), 1u) << "one highest";
  for (std::size_t i = 1; i < green_by_pressure.size(); ++i) {
    EXPECT_LE(green_by_pressure[i - 1].second, green_by_pressure[i].second);
  }

  std::vector<std::pair<double, double>> width_by_flow;
  std::map<std::string, std::vector<Point>> arrows;
  for (const auto& arrow : svg.select("//s:polygon[@class='arrow']")) {
    arrows[arrow.at("data-branch")] = points_of(arrow.at("points"));
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto& row = branch_rows[i];
    const double flow = std::stod(row[4]);
    ASSERT_EQ(lines[i].at("data-branch"), row[0]);
    EXPECT_NE(lines[i].at("text()").find("flowrate " + row[4]), std::string::npos);
    width_by_flow.emplace_back(std::fabs(flow), std::stod(lines[i].at("stroke-width")));
    ASSERT_EQ(arrows.count(row[0]), flow != 0.0 ? 1u : 0u) << "branch " << row[0];
    if (flow == 0.0 || row[2] == row[3]) continue;
    // The tip against the arrow's base, along the branch from its first node to its second.
    const std::vector<Point>& a = arrows[row[0]];
    const Point from = centre[row[2]], to = centre[row[3]];
    const double along = (a[0].x - (a[1].x + a[2].x) / 2) * (to.x - from.x) +
                         (a[0].y - (a[1].y + a[2].y) / 2) * (to.y - from.y);
    EXPECT_EQ(along > 0.0, flow > 0.0) << "branch " << row[0];
  }
  std::sort(width_by_flow.begin(), width_by_flow.end());
  for (std::size_t i = 1; i < width_by_flow.size(); ++i) {
    EXPECT_LE(width_by_flow[i - 1].second, width_by_flow[i].second);
  }
  EXPECT_EQ(width_by_flow.back().second, 9.0);
}

TEST(Picture, ExampleNetworkMatchesItsTables) {
  const ProgramRun plain(example, "");
  EXPECT_FALSE(fs::exists(plain.file("Tessaro-net.svg")));
  const ProgramRun run(example, "--svg --csv");
  ASSERT_EQ(run.exit_status, 0);
  expect_picture_of_tables(run);
  const Svg svg(run.file("Tessaro-net.svg"));
  EXPECT_EQ(svg.select("//s:text[@class='label']").size(), 4u);
  EXPECT_EQ(svg.select("//s:rect[@class='node']").size(), 2u) << "two pressure terminals";
  EXPECT_EQ(svg.select("//s:polygon[@class='node']").size(), 1u) << "one flowrate terminal";
  EXPECT_NE(svg.select("//s:text[@class='title']")[0].at("text()").find(
                "Tessaro-net.txt \xc2\xb7 classic solver \xc2\xb7 Calculation processed"),
            std::string::npos);
}

TEST(Picture, GeneratedMeshesMatchTheirTables) {
  // About 300 nodes (neato, numbered) and about 1,000 (sfdp from 1,001 on, no numbers).
  for (const int branches : {550, 2011}) {
    std::ostringstream network;
    tessaro::bench::write_mesh_network(network, tessaro::bench::mesh_shape(branches), {"1E9", 200});
    const ProgramRun run(network.str(), "--svg --csv");
    ASSERT_EQ(run.exit_status, 0) << branches;
    ASSERT_EQ(run.stdout_text, "") << "solved";
    expect_picture_of_tables(run);
    const std::size_t nodes = csv_rows(run.file("Tessaro-nodes.csv")).size();
    const Svg svg(run.file("Tessaro-net.svg"));
    EXPECT_EQ(svg.select("//s:text[@class='label']").size(), nodes <= 300 ? nodes : 0u);
  }
}

TEST(Picture, StoppedRunMarksWhatItsCheckNames) {
  struct Row {
    std::string network;
    std::string marked;  // the XPath of the one fault mark, empty for none
    std::size_t branches, nodes;
    std::string options = "--svg";
  };
  const std::string main_branch = "1 1 'MAIN' 1 200000.0 2 -1.0 0.10 100.0 1\n";
  const std::vector<Row> rows = {
      // the pressure terminal data of branch 2 has no negative end
      {header + main_branch + "2 2 'OUTLET' 2 1.0 3 100000.0 0.08 50.0 1\n0\n" + elevations,
       "//s:path[@class='fault'][@data-branch='2']", 2, 3},
      // branch 2's condition code is 7: it is drawn, the rest was never read
      {header + main_branch + "2 2 'OUTLET' 2 -1.0 3 1.0 0.08 50.0 7\n3 3 'X' 2 -1 4 1 1 1 2\n0\n" +
           elevations,
       "//s:path[@class='fault'][@data-branch='2']", 2, 3},
      // branch 2 names node 0: it cannot be drawn, its note is listed
      {header + main_branch + "2 2 'OUTLET' 0 -1.0 3 1.0 0.08 50.0 1\n0\n" + elevations, "", 1, 2},
      // no branch names node 4
      {header + main_branch + "2 2 'OUTLET' 2 -1.0 3 100000.0 0.08 50.0 1\n" +
           "3 3 'FEED' 2 -0.01 5 0.01 0.05 20.0 2\n0\n1 1 0\n2 2 5\n3 3 10\n4 4 0\n5 5 0\n0\n",
       "//s:circle[@class='fault'][@data-node='4']", 3, 5},
      // the iteration limit: the whole network, nothing marked
      {"1 0.000045\n2 0.001\n3 1000.0\n4 9.81\n5 1E-12\n6 1\n7\n" + example.substr(header.size()),
       "", 3, 4},
      // the global solver: branch 2's diameter is 0, the rest was never read
      {header + main_branch +
           "2 2 'OUTLET' 2 -1.0 3 100000.0 0.0 50.0 1\n3 3 'X' 2 -1 4 1 1 1 2\n0\n" + elevations,
       "//s:path[@class='fault'][@data-branch='2']", 2, 3, "--svg --solver global"},
      // the global solver: given flowrates only, and they do not balance
      {header +
           "1 1 'MAIN' 1 0.02 2 -0.02 0.10 100.0 2\n2 2 'OUTLET' 2 -0.005 3 0.005 0.08 50.0 2\n" +
           "3 3 'FEED' 2 -0.01 4 0.01 0.05 20.0 2\n0\n" + elevations,
       "//s:circle[@class='fault'][@data-node='4']", 3, 4, "--svg --solver global"},
  };
  for (const Row& row : rows) {
    const ProgramRun run(row.network, row.options);
    EXPECT_EQ(run.stdout_text, "Stop - Program terminated.\r\n");
    const Svg svg(run.file("Tessaro-net.svg"));
    ASSERT_TRUE(svg.parsed()) << row.network;
    EXPECT_EQ(svg.select("//s:path[@class='branch']").size(), row.branches) << row.network;
    EXPECT_EQ(svg.select("//*[@class='node']").size(), row.nodes) << row.network;
    EXPECT_EQ(svg.select("//*[@class='fault']").size(), row.marked.empty() ? 0u : 1u);
    if (!row.marked.empty()) {
      EXPECT_EQ(svg.select(row.marked).size(), 1u) << row.marked;
    }
    EXPECT_EQ(svg.select("//s:polygon[@class='arrow']").size(), 0u) << "no results";
    EXPECT_EQ(svg.select("//*[@class='node'][@fill!='#c8cdd2']").size(), 0u) << "no pressures";
  }
}

// The check draws its findings: the network as read, every branch or node a finding stands on
// marked, and the picture is the only file it writes.
TEST(Picture, CheckDrawsItsFindings) {
  std::string network = example;
  network.replace(network.find("2 -1.0 3 100000.0"), 17, "2 1.0 3 100000.0");
  network.replace(network.find("4 0.01 0.05"), 11, "4 1.5 0.05");
  const ProgramRun run(network, "--check --svg");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.stdout_text.find("2 errors, 0 warnings"), std::string::npos) << run.stdout_text;
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(run.folder / "run")) {
    files.insert(entry.path().filename().string());
  }
  EXPECT_EQ(files, (std::set<std::string>{"Tessaro-net.txt", "Tessaro-net.svg"}));
  const Svg svg(run.file("Tessaro-net.svg"));
  ASSERT_TRUE(svg.parsed());
  EXPECT_EQ(svg.select("//s:path[@class='branch']").size(), 3u);
  EXPECT_EQ(svg.select("//*[@class='node']").size(), 4u);
  EXPECT_EQ(svg.select("//s:path[@class='fault'][@data-branch='2']").size(), 1u);
  EXPECT_EQ(svg.select("//s:path[@class='fault'][@data-branch='3']").size(), 1u);
  EXPECT_EQ(svg.select("//*[@class='fault']").size(), 2u);
}

TEST(Picture, FailedRunDrawsNothing) {
  const ProgramRun run(header + "1 1 'MAIN' 1 2x00.0 2 -1.0 0.10 100.0 1\n0\n", "--svg");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_FALSE(fs::exists(run.file("Tessaro-net.svg")));
}

// The example's picture rendered by rsvg-convert: a PNG of the picture's size, mostly white,
// with the network's lines, the darkest and the lightest colour of the scale in it.
TEST(Picture, RendersToAnImageThatIsNotBlank) {
  const ProgramRun run(example, "--svg");
  const fs::path png_path = run.folder / "picture.png";
  const std::string command = "rsvg-convert -b white -o '" + png_path.string() + "' '" +
                              run.file("Tessaro-net.svg").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << "rsvg-convert (librsvg2-bin) is needed";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, png_path.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  const auto svg_size = Svg(run.file("Tessaro-net.svg")).select("/s:svg")[0];
  EXPECT_EQ(image.width, std::lround(std::stod(svg_size.at("width"))));
  std::size_t inked = 0, darkest = 0, lightest = 0;
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
    const int r = pixels[i], g = pixels[i + 1], b = pixels[i + 2];
    if (r < 200 || g < 200 || b < 200) ++inked;
    if (std::abs(r - 0x44) + std::abs(g - 0x01) + std::abs(b - 0x54) < 12) ++darkest;
    if (std::abs(r - 0xfd) + std::abs(g - 0xe7) + std::abs(b - 0x25) < 12) ++lightest;
  }
  const std::size_t all = pixels.size() / 3;
  EXPECT_GT(inked, all / 50) << inked << " of " << all;
  EXPECT_LT(inked, all / 2) << inked << " of " << all;
  EXPECT_GT(darkest, 50u);
  EXPECT_GT(lightest, 50u);
}

}  // namespace
