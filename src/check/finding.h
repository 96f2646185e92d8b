// What the checker of a network file finds: each finding a value with its code, severity, place
// and message, made from one catalogue of codes and message texts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaro {
struct RunEnd;
}

namespace tessaro::check {

enum class Severity : std::uint8_t { error, warning };

// Every kind of finding. The catalogue (catalogue.cpp) gives each its name, severity and text.
enum class Code : std::uint8_t {
  // The file and its values.
  cannot_open,
  read_failure,
  not_an_integer,
  integer_too_large,
  not_a_real,
  real_beyond_range,
  key_beyond_range,
  text_for_number,
  value_too_long,
  bad_base,
  second_base_mark,
  bad_repeat_count,
  second_repeat_count,
  // The blocks and records.
  file_ends,
  record_ends_early,
  record_runs_over,
  // The run's checks of the description.
  bad_condition_code,
  out_of_sequence_branch,
  node_below_one,
  pressure_terminal_data,
  flowrate_terminal_data,
  elevation_count,
  no_junction,
  out_of_sequence_elevation,
  unconnected_node,
  // Arithmetic that would fail in the run.
  zero_parameter,
  kinematic_viscosity_range,
  zero_diameter,
  friction_law_fails,
  resistance_fails,
  terminal_head_fails,
  negative_resistance,
  negative_tolerance,
  negative_iteration_limit,
  flows_cannot_balance,
  // Allowed, but usually a mistake.
  negative_diameter,
  negative_length,
  zero_length,
  self_loop,
  duplicate_branch,
  terminal_pair,
  open_terminal,
  relative_pressures,
  zero_iteration_limit,
  zero_tolerance,
};

struct Finding {
  Code code{};
  Severity severity = Severity::error;
  std::int64_t line = 0;    // 0: the finding concerns the file as a whole
  std::int64_t column = 0;  // 0: the whole line
  std::string message;
  std::string note;  // optional second sentence: what the run would do
};

// The finding of a code at a place, its message made from the catalogue text with the
// arguments in place of {1}, {2}, ... in order.
Finding make_finding(Code code, std::int64_t line, std::int64_t column,
                     std::initializer_list<std::string_view> arguments = {});

std::string_view code_name(Code code);

// A real as a message shows it: the shortest text that reads back as the same double.
std::string number_text(double value);

// The message of a run-time failure report without its heading: "log10: DOMAIN error",
// "file or path not found".
std::string failure_message(const RunEnd& end);

// The findings of one check, in the order found.
class Findings {
 public:
  void add(Finding finding) { list_.push_back(std::move(finding)); }
  void add(Code code, std::int64_t line, std::int64_t column,
           std::initializer_list<std::string_view> arguments = {}) {
    list_.push_back(make_finding(code, line, column, arguments));
  }
  // In the order of the file: by line, then column; findings of the file as a whole last.
  std::vector<Finding> in_file_order() const;
  std::int64_t count(Severity severity) const;
  bool empty() const { return list_.empty(); }

 private:
  std::vector<Finding> list_;
};

}  // namespace tessaro::check
