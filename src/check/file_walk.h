// The walk of the checker over a network file: every line read through the program's reader in
// the order and with the targets of the run, each value's fault turned into a finding, and the
// records kept with the place of every field for the checks that follow.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "check/finding.h"
#include "model/network.h"
#include "textio/files.h"

namespace tessaro::check {

// The header values as read, and where each stands.
struct HeaderRecord {
  double roughness = 0.0;
  double viscosity = 0.0;
  double density = 0.0;
  double gravity = 0.0;
  double tolerance = 0.0;
  std::int32_t max_iterations = 0;
  std::array<std::int64_t, 6> line{};  // line of each of the six values
  std::array<std::int64_t, 6> column{};
  bool complete = false;  // all seven lines read without a fault
};

// Fields of a branch record, in their order on the line.
enum BranchField : std::uint8_t {
  field_key,
  field_number,
  field_name,
  field_first_node,
  field_first_value,
  field_second_node,
  field_second_value,
  field_diameter,
  field_length,
  field_condition,
  branch_fields
};

struct BranchRecord {
  std::int64_t line = 0;
  std::array<std::int64_t, branch_fields> column{};
  std::int32_t number = 0;
  std::int32_t first_node = 0;
  std::int32_t second_node = 0;
  std::int32_t condition = 0;
  double first_value = 0.0;
  double second_value = 0.0;
  double diameter = 0.0;
  double length = 0.0;
  bool complete = false;  // every field read without a fault
};

struct ElevationRecord {
  std::int64_t line = 0;
  std::array<std::int64_t, 3> column{};  // key, node number, elevation
  std::int32_t node = 0;
  double elevation = 0.0;
  bool complete = false;
};

struct NetworkFile {
  HeaderRecord header;
  std::vector<BranchRecord> branches;  // branch i is entry i - 1
  std::vector<ElevationRecord> elevations;
  // The line of the zero key that ends the elevation block; 0 when the file ends before it.
  std::int64_t end_line = 0;
  // No value fault and no fault of the blocks: the file reads as the run would read it.
  bool readable = false;
};

// Reads the open file from its first line, adding a finding for every fault of a value, of a
// record or of the blocks.
NetworkFile walk_network_file(InputFile& file, Findings& findings);

}  // namespace tessaro::check
