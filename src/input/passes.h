// The three passes over the network input file: the header and the block counts, the branch
// records, the elevation records. Each pass opens the file at its first line and finds its place
// by counting lines from the top.
#pragma once

#include <cstdint>

#include "model/network.h"
#include "textio/files.h"

namespace tessaro {

// Pass 1: the seven header lines; line_count = 7.
void read_header(Network& net, InputFile& file);
// Pass 1: counts the branch lines (n_branches), raising line_count by every line it reads.
void count_branch_lines(Network& net, InputFile& file);
// Creates the tables of the branch records with n_branches entries each.
void create_branch_tables(Network& net);
// Creates the branch tables of the classic balance (Reynolds numbers, friction factors,
// resistances, head differences) with n_branches entries each.
void create_branch_balance_tables(Network& net);

// Pass 2: skips the header and the zero-key lines before the branch block, key only.
void skip_to_branch_block(Network& net, InputFile& file);
// Pass 2: reads branch record b.
void read_branch_record(Network& net, InputFile& file, std::int32_t b);
// Pass 2: reads the zero-key line that ends the branch block, then counts the elevation lines
// (n_elevations).
void count_elevation_lines(Network& net, InputFile& file);

// Creates the node tables with n_nodes entries each (the degree table comes with the junction
// count).
void create_node_tables(Network& net);
// Creates the node tables of the classic balance and its node walk (heads, sources).
void create_node_balance_tables(Network& net);

// Pass 3: skips to the elevation block, reads the elevation records and the zero-key line that
// ends them.
void read_elevation_records(Network& net, InputFile& file);

}  // namespace tessaro
