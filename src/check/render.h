// The findings written out: in the compiler form for people and editors, or as JSON for tools.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/finding.h"

namespace tessaro::check {

// One line per finding, "file:line:column: severity: message" (line and column left out where
// the finding has none), a note as a line of its own after it, then the count line.
std::string render_text(std::string_view file, const std::vector<Finding>& findings);

// A JSON array of objects {file, line, column, severity, code, message[, note]}; line and column
// are null where the finding has none.
std::string render_json(std::string_view file, const std::vector<Finding>& findings);

// "2 errors, 1 warning".
std::string count_line(const std::vector<Finding>& findings);

}  // namespace tessaro::check
