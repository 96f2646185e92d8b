// The picture at the end of a run: its title from the log, and on a stopped run the part of the
// network that the stopping check names.
#pragma once

#include <string>

#include "model/network.h"
#include "picture/picture.h"

namespace tessaro {

// The outcome for the title: the success sentence, or "stopped: " and the first sentence of the
// log with its number.
std::string run_outcome(bool stopped);

// The node or branch named by the check that stopped the run, from the log's first record; none
// for a stop that names no part (an elevation count, no junctions, the iteration limit).
PictureMarks stop_marks(const Network& net);

}  // namespace tessaro
