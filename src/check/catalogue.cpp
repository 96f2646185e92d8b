// The catalogue of findings: for each code its name (for tools), its severity and its message
// text, in which {1}, {2}, ... stand for the arguments of the finding.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

#include "check/finding.h"
#include "textio/run_end.h"

namespace tessaro::check {

namespace {

struct Entry {
  Code code;
  std::string_view name;
  Severity severity;
  std::string_view text;
};

constexpr Severity E = Severity::error;
constexpr Severity W = Severity::warning;

constexpr std::array catalogue{
    Entry{Code::cannot_open, "cannot-open", E, "cannot open the network file: {1}"},
    Entry{Code::read_failure, "read-failure", E, "the file could not be read"},
    Entry{Code::not_an_integer, "not-an-integer", E, "\"{1}\" is not an integer ({2})"},
    Entry{Code::integer_too_large, "integer-too-large", E,
          "\"{1}\" is too large for a 32-bit integer ({2})"},
    Entry{Code::not_a_real, "not-a-real", E, "\"{1}\" is not a real number ({2})"},
    Entry{Code::real_beyond_range, "real-beyond-range", E,
          "\"{1}\" is beyond the range of real numbers ({2})"},
    Entry{Code::key_beyond_range, "key-beyond-range", E,
          "\"{1}\" is beyond the single-precision range of a line key ({2})"},
    Entry{Code::text_for_number, "text-for-number", E, "{1} \"{2}\" where {3} is expected ({4})"},
    Entry{Code::value_too_long, "value-too-long", E, "a value longer than 260 characters ({1})"},
    Entry{Code::bad_base, "bad-base", E,
          "\"{1}\": the base of a based integer must be 2 to 36 ({2})"},
    Entry{Code::second_base_mark, "second-base-mark", E,
          "\"{1}\" has a second # in a based integer ({2})"},
    Entry{Code::bad_repeat_count, "bad-repeat-count", E,
          "\"{1}*\": a repeat count must be 1 or more ({2})"},
    Entry{Code::second_repeat_count, "second-repeat-count", E,
          "a second repeat count for one value ({1})"},
    Entry{Code::file_ends, "file-ends", E, "the file ends {1}"},
    Entry{Code::record_ends_early, "record-ends-early", E,
          "{1} ends after its {2}: the {3} is missing"},
    Entry{Code::record_runs_over, "record-runs-over", E,
          "{1} runs onto line {2}: a record must stand on one line"},
    Entry{Code::bad_condition_code, "bad-condition-code", E,
          "condition code {1} of branch {2} is not 0, 1 or 2"},
    Entry{Code::out_of_sequence_branch, "out-of-sequence-branch", E,
          "branch number {1} stands at position {2} of the branch block"},
    Entry{Code::node_below_one, "node-below-one", E,
          "node number {1} of branch {2} is below 1 ({3})"},
    Entry{Code::pressure_terminal_data, "pressure-terminal-data", E,
          "branch {1} has condition code 1 but neither of its values is negative"},
    Entry{Code::flowrate_terminal_data, "flowrate-terminal-data", E,
          "branch {1} has condition code 2 but its second value {2} is not the negative of "
          "its first value {3}"},
    Entry{Code::elevation_count, "elevation-count", E,
          "{1} elevation records for {2} nodes (the highest node number that a branch names)"},
    Entry{Code::no_junction, "no-junction", E,
          "no node is a junction (no two branches share a node): this is not a network"},
    Entry{Code::out_of_sequence_elevation, "out-of-sequence-elevation", E,
          "elevation record {1} names node {2}: it must name node {1}"},
    Entry{Code::unconnected_node, "unconnected-node", E, "no branch names node {1}"},
    Entry{Code::zero_parameter, "zero-parameter", E, "the {1} is 0: {2}"},
    Entry{Code::kinematic_viscosity_range, "kinematic-viscosity-range", E,
          "viscosity / density is beyond the single-precision range"},
    Entry{Code::zero_diameter, "zero-diameter", E,
          "branch {1} has diameter 0: its friction law divides by zero"},
    Entry{Code::friction_law_fails, "friction-law-fails", E,
          "the first friction factor of branch {1} cannot be formed: {2}"},
    Entry{Code::resistance_fails, "resistance-fails", E,
          "the resistance of branch {1} cannot be formed: {2}"},
    Entry{Code::terminal_head_fails, "terminal-head-fails", E,
          "the terminal head of branch {1} cannot be formed from its {2}: {3}"},
    Entry{Code::negative_resistance, "negative-resistance", E,
          "branch {1} has a negative resistance (from its negative {2}): the square root of "
          "its flow fails"},
    Entry{Code::negative_tolerance, "negative-tolerance", E,
          "the tolerance {1} is below 0: no balance can meet it"},
    Entry{Code::negative_iteration_limit, "negative-iteration-limit", E,
          "the iteration limit {1} is below 0: the run stops at the first sweep or friction "
          "iterate that does not already meet the tolerance"},
    Entry{Code::flows_cannot_balance, "flows-cannot-balance", E,
          "the part of the network with node {1} has no pressure terminal and its given flows "
          "add up to {2}, not 0: it has no steady state"},
    Entry{Code::negative_diameter, "negative-diameter", W,
          "branch {1} has a negative diameter (the global solver stops on it)"},
    Entry{Code::negative_length, "negative-length", W,
          "branch {1} has a negative length (the global solver stops on it)"},
    Entry{Code::zero_length, "zero-length", W,
          "branch {1} has length 0: the run leaves it without flow (the global solver joins its "
          "two nodes at one head)"},
    Entry{Code::self_loop, "self-loop", W, "branch {1} names node {2} at both ends"},
    Entry{Code::duplicate_branch, "duplicate-branch", W,
          "branch {1} joins nodes {2} and {3} with the same data as branch {4}"},
    Entry{Code::terminal_pair, "terminal-pair", W,
          "branch {1} joins two terminal nodes ({2} and {3}): the run leaves it without flow (the "
          "global solver gives it the flow of its end heads or its given flowrate)"},
    Entry{Code::open_terminal, "open-terminal", W,
          "terminal node {1} has no datum (its branch {2} has condition code 0): the run takes "
          "its pressure as 0"},
    Entry{Code::relative_pressures, "relative-pressures", W,
          "the part of the network with node {1} has no pressure terminal: its pressures are "
          "relative"},
    Entry{Code::zero_iteration_limit, "zero-iteration-limit", W,
          "the iteration limit is 0: the run stops at the first balance or friction factor "
          "that needs more than one correction"},
    Entry{Code::zero_tolerance, "zero-tolerance", W,
          "the tolerance is 0: only an exact balance meets it"},
};

const Entry& entry_of(Code code) {
  const auto found = std::find_if(catalogue.begin(), catalogue.end(),
                                  [code](const Entry& entry) { return entry.code == code; });
  return *found;
}

}  // namespace

std::string_view code_name(Code code) {
  return entry_of(code).name;
}

Finding make_finding(Code code, std::int64_t line, std::int64_t column,
                     std::initializer_list<std::string_view> arguments) {
  const Entry& entry = entry_of(code);
  Finding finding;
  finding.code = code;
  finding.severity = entry.severity;
  finding.line = line;
  finding.column = column;
  const std::string_view text = entry.text;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const std::size_t close = text.find('}', k);
    if (text[k] == '{' && close != std::string_view::npos && close == k + 2) {
      const std::size_t index = static_cast<std::size_t>(text[k + 1] - '1');
      if (index < arguments.size()) finding.message += arguments.begin()[index];
      k = close;
      continue;
    }
    finding.message += text[k];
  }
  return finding;
}

std::string number_text(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return {text, result.ptr};
}

std::string failure_message(const RunEnd& end) {
  const std::string& report = end.stderr_text;
  const std::size_t start = report.rfind("- ");
  if (start == std::string::npos) return "run-time failure";
  std::string message = report.substr(start + 2);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  return message;
}

std::vector<Finding> Findings::in_file_order() const {
  std::vector<Finding> ordered = list_;
  std::stable_sort(ordered.begin(), ordered.end(), [](const Finding& a, const Finding& b) {
    const std::int64_t a_line = a.line == 0 ? INT64_MAX : a.line;
    const std::int64_t b_line = b.line == 0 ? INT64_MAX : b.line;
    if (a_line != b_line) return a_line < b_line;
    // On one line, the findings of a value before those of the line as a whole.
    const std::int64_t a_column = a.column == 0 ? INT64_MAX : a.column;
    const std::int64_t b_column = b.column == 0 ? INT64_MAX : b.column;
    return a_column < b_column;
  });
  return ordered;
}

std::int64_t Findings::count(Severity severity) const {
  return std::count_if(list_.begin(), list_.end(),
                       [severity](const Finding& f) { return f.severity == severity; });
}

}  // namespace tessaro::check
