// The checker of the network file: reads "Tessaro-net.txt" by the reading rules of the run and
// reports every fault it finds, creating and changing no file.
#pragma once

#include <string>

#include "model/network.h"
#include "picture/picture.h"

namespace tessaro::check {

enum class Format { text, json };

struct CheckResult {
  std::string output;   // for standard output
  int exit_status = 0;  // 0 without an error, 1 with one or more
};

// The network as the checker read it, with every finding that stands on a branch or elevation
// line as a mark on that branch or node: what a picture of the findings draws.
struct CheckedNetwork {
  Network net;
  PictureMarks marks;
  std::string outcome;  // the count line, for the picture's title
};

// Checks the file; with `picture`, also fills it.
CheckResult check_network_file(Format format, CheckedNetwork* picture = nullptr);

}  // namespace tessaro::check
