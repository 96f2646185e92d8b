// A network read from "Tessaro-net.txt" in the working folder and brought to the state in which
// the solver starts, through the same stages as a run.
#pragma once

#include "model/network.h"
#include "run/run.h"
#include "textio/math.h"

namespace tessaro::bench {

inline Network prepared_network() {
  Network net;
  net.pi = 4.0 * math_atan(1.0);
  prepare_network(net);
  return net;
}

}  // namespace tessaro::bench
