// The free-format reader: read requests that take values from the lines of an input file.
#pragma once

#include <cstdint>

#include "textio/files.h"

namespace tessaro {

// State of one read request, from read_begin to read_end. (Fields are the reader's own.)
struct ReadRequest;

// A request on one open input file. Any failure (malformed value, end of file, read error) ends
// the run with fail_run, naming the input file; these calls never return with an error.
ReadRequest read_begin(InputFile& file);
void read_real32(ReadRequest& request, float& target);
void read_real64(ReadRequest& request, double& target);
void read_int32(ReadRequest& request, std::int32_t& target);
void read_text(ReadRequest& request, char* target, int width);
void read_end(ReadRequest& request);

}  // namespace tessaro
