// The free-format reader: read requests that take values from the lines of an input file.
#pragma once

#include <cstdint>

#include "textio/files.h"

namespace tessaro {

// Run-time failures of the reader (class F, tag ": READ(", the file's name), besides those of the
// conversion of a value (textio/convert.h).
inline constexpr int failure_value_too_long = 6105;
inline constexpr int failure_end_of_file = 6501;
inline constexpr int failure_repeat_count = 6502;
inline constexpr int failure_second_repeat = 6503;
inline constexpr int failure_value_kind = 6504;

// What kind of value was scanned last: a plain text, a quoted text (between apostrophes or
// quotation marks) or a parenthesised one.
enum class ValueKind : std::uint8_t { plain, quoted, parenthesised };

// State of one read request, from read_begin to read_end.
struct ReadRequest {
  static constexpr int max_value_length = 260;

  InputFile* file = nullptr;
  // The character that ended the previous value: ' ' (also for TAB and a line end), ',' or '/'.
  char last_separator = ',';
  // How many further targets receive the pending repeated value.
  std::int32_t repeat_remaining = 0;
  ValueKind kind = ValueKind::plain;
  // The last scanned value was ended by a line end: the file already stands at the next line.
  bool line_advanced = false;
  int length = 0;
  // Line and column of the first character of the last scanned value (its opening quote or
  // parenthesis, its repeat count), or of the separator that ended a null value.
  std::int64_t value_line = 0;
  std::int64_t value_column = 0;
  // The first `length` characters are the value; the rest is not set.
  char text[max_value_length];
};

// A request on one open input file. Any failure (malformed value, end of file, read error) ends
// the run with fail_run, naming the input file; these calls never return with an error.
ReadRequest read_begin(InputFile& file);
void read_real32(ReadRequest& request, float& target);
void read_real64(ReadRequest& request, double& target);
void read_int32(ReadRequest& request, std::int32_t& target);
void read_text(ReadRequest& request, char* target, int width);
void read_end(ReadRequest& request);

}  // namespace tessaro
