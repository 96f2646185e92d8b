// The picture of a network, "Tessaro-net.svg": the network laid out from its topology, each
// branch a line whose width follows its flow with an arrow for the direction, each node a dot
// coloured by its pressure, terminals with their own shapes, a colour bar, a legend and a title.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/network.h"
#include "model/solution.h"

namespace tessaro {

// A node or branch to mark as faulty, by its number, with a short note shown beside the picture.
struct PictureMark {
  std::int32_t number = 0;
  std::string note;
};

struct PictureMarks {
  std::vector<PictureMark> nodes;
  std::vector<PictureMark> branches;
};

// The title line: the input file's name, the solver, the outcome of the run.
struct PictureTitle {
  std::string file_name;
  std::string solver;  // none for a picture of the check's findings
  std::string outcome;
  // The legend's heading in a picture without results.
  std::string without_results = "no results: the run stopped";
};

// Networks up to this many nodes have their node numbers written beside the dots.
inline constexpr std::int32_t picture_label_limit = 300;
// Networks above this many nodes are not drawn: the picture holds a note in their place.
inline constexpr std::int32_t picture_node_limit = 50000;

// Writes the picture to the working folder. With a solution, the widths, arrows and colours show
// it; without one (a stopped run) the network is drawn as far as it was read: branches 1 to
// n_branches_read whose node numbers are valid, and their nodes, or every node 1 to n_nodes once
// the node tables exist. A failed write ends the run with its WRITE report.
void write_picture(const Network& net, const Solution* solution, const PictureMarks& marks,
                   const PictureTitle& title);

}  // namespace tessaro
