// The solved state of a network, as either solver leaves it for the results file, the tables and
// the picture: a flow and a head difference per branch, a head per node.
#pragma once

#include <cstdint>

#include "model/table.h"

namespace tessaro {

// How a branch's friction factor was taken at its final flow.
enum class FlowRegime : std::uint8_t {
  none,        // no flow through the law (no flow, or no resistance)
  laminar,     // Re below 2000: f = 64 / Re
  turbulent,   // Re from 2000 up: Colebrook-White
  transition,  // held at Re = 2000, its head loss between the two laws' values there
};

// Which way a branch's row says the fluid goes, relative to the branch's first node.
enum class FlowDirection : std::uint8_t {
  none,           // "No flow"
  from_first,     // leaves the first node
  towards_first,  // reaches the first node
};

struct Solution {
  // Per branch: flowrate, positive from the first node towards the second; head at the first
  // node minus head at the second, as the results file takes it; the Reynolds number and friction
  // factor as the solver last set them; the regime; the direction the results row names.
  Table<double> branch_flow;
  Table<double> branch_head_diff;
  Table<double> branch_reynolds;
  Table<double> branch_friction;
  Table<FlowRegime> branch_regime;
  Table<FlowDirection> branch_direction;
  // Per node: the head (pressure head plus elevation).
  Table<double> node_head;

  void create(std::int32_t n_branches, std::int32_t n_nodes) {
    branch_flow.create(n_branches);
    branch_head_diff.create(n_branches);
    branch_reynolds.create(n_branches);
    branch_friction.create(n_branches);
    branch_regime.create(n_branches);
    branch_direction.create(n_branches);
    node_head.create(n_nodes);
  }
};

}  // namespace tessaro
