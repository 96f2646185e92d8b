#include "input/passes.h"

#include "textio/reader.h"

namespace tessaro {

namespace {

// Reads a line's key alone; the rest of the line is passed over.
void read_key(Network& net, InputFile& file) {
  ReadRequest request = read_begin(file);
  read_real32(request, net.line_key);
  read_end(request);
}

// A header line: the key, then one real value.
void read_header_real(Network& net, InputFile& file, double& value) {
  ReadRequest request = read_begin(file);
  read_real32(request, net.line_key);
  read_real64(request, value);
  read_end(request);
}

// Counts the lines of a block. Zero-key lines before its first line are passed over; every
// non-zero-key line up to the next zero-key line is one record; that zero-key line ends the
// block. Every line read adds one to line_counter.
std::int32_t count_block(Network& net, InputFile& file, std::int32_t& line_counter) {
  std::int32_t records = 0;
  while (net.line_key != 0.0f || records == 0) {
    read_key(net, file);
    ++line_counter;
    if (net.line_key != 0.0f) ++records;
  }
  return records;
}

}  // namespace

void read_header(Network& net, InputFile& file) {
  read_header_real(net, file, net.roughness);
  read_header_real(net, file, net.viscosity);
  read_header_real(net, file, net.density);
  read_header_real(net, file, net.gravity);
  read_header_real(net, file, net.tolerance);
  ReadRequest request = read_begin(file);
  read_real32(request, net.line_key);
  read_int32(request, net.max_iterations);
  read_end(request);
  read_key(net, file);
  net.line_count = 7;
}

void count_branch_lines(Network& net, InputFile& file) {
  net.n_branches = count_block(net, file, net.line_count);
}

void create_branch_tables(Network& net) {
  const std::int32_t n = net.n_branches;
  net.branch_number.create(n);
  net.branch_name.create(n);
  net.first_node.create(n);
  net.first_value.create(n);
  net.second_node.create(n);
  net.second_value.create(n);
  net.diameter.create(n);
  net.length.create(n);
  net.branch_condition.create(n);
  // A name left out of its record (a null value) reads as blanks.
  for (std::int32_t b = 1; b <= n; ++b) net.branch_name[b].fill(' ');
}

void create_branch_balance_tables(Network& net) {
  const std::int32_t n = net.n_branches;
  net.reynolds.create(n);
  net.friction.create(n);
  net.friction_next.create(n);
  net.resistance.create(n);
  net.branch_head_diff.create(n);
}

void skip_to_branch_block(Network& net, InputFile& file) {
  for (std::int32_t k = 1; k < net.line_count - net.n_branches; ++k) {
    read_key(net, file);
    ++net.pass2_line_count;
  }
}

void read_branch_record(Network& net, InputFile& file, std::int32_t b) {
  ReadRequest request = read_begin(file);
  read_real32(request, net.line_key);
  read_int32(request, net.branch_number[b]);
  read_text(request, net.branch_name[b].data(), branch_name_width);
  read_int32(request, net.first_node[b]);
  read_real64(request, net.first_value[b]);
  read_int32(request, net.second_node[b]);
  read_real64(request, net.second_value[b]);
  read_real64(request, net.diameter[b]);
  read_real64(request, net.length[b]);
  read_int32(request, net.branch_condition[b]);
  read_end(request);
  ++net.pass2_line_count;
}

void count_elevation_lines(Network& net, InputFile& file) {
  read_key(net, file);
  ++net.pass2_line_count;
  net.n_elevations = count_block(net, file, net.pass2_line_count);
}

void create_node_tables(Network& net) {
  const std::int32_t n = net.n_nodes;
  net.elevation.create(n);
  net.elevation_node.create(n);
  net.node_junction.create(n);
}

void create_node_balance_tables(Network& net) {
  net.node_head.create(net.n_nodes);
  net.node_source.create(net.n_nodes);
}

void read_elevation_records(Network& net, InputFile& file) {
  for (std::int32_t k = 1; k < net.pass2_line_count - net.n_elevations; ++k) read_key(net, file);
  for (std::int32_t n = 1; n <= net.n_elevations; ++n) {
    ReadRequest request = read_begin(file);
    read_real32(request, net.line_key);
    read_int32(request, net.elevation_node[n]);
    read_real64(request, net.elevation[n]);
    read_end(request);
  }
  read_key(net, file);
}

}  // namespace tessaro
