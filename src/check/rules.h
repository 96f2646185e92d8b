// The checks of a network file once it is read: the run's own checks for every record, the
// arithmetic that would fail in the run, and what is allowed but usually a mistake.
#pragma once

#include "check/file_walk.h"
#include "check/finding.h"

namespace tessaro::check {

void check_header(const HeaderRecord& header, Findings& findings);
void check_branches(const NetworkFile& file, Findings& findings);
void check_elevations(const NetworkFile& file, Findings& findings);
// The network as a whole (elevation count, junctions, connections, parts); only for a file
// that reads without a fault and whose node numbers are all valid.
void check_network(const NetworkFile& file, Findings& findings);

}  // namespace tessaro::check
