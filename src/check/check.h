// The checker of the network file: reads "Tessaro-net.txt" by the reading rules of the run and
// reports every fault it finds, creating and changing no file.
#pragma once

#include <string>

namespace tessaro::check {

enum class Format { text, json };

struct CheckResult {
  std::string output;   // for standard output
  int exit_status = 0;  // 0 without an error, 1 with one or more
};

CheckResult check_network_file(Format format);

}  // namespace tessaro::check
