#include "check/file_walk.h"

#include <string>
#include <string_view>

#include "textio/convert.h"
#include "textio/reader.h"
#include "textio/run_end.h"

namespace tessaro::check {

namespace {

constexpr std::size_t shown_text_length = 40;

// The value text of a request as a message shows it: bytes other than printable ASCII become
// "?", and a long text is cut.
std::string shown_text(const ReadRequest& request) {
  std::string text;
  const auto length = static_cast<std::size_t>(request.length);
  for (std::size_t k = 0; k < length && k < shown_text_length; ++k) {
    const char c = request.text[k];
    text += c >= ' ' && c <= '~' ? c : '?';
  }
  if (length > shown_text_length) text += "...";
  return text;
}

enum class Target : std::uint8_t { integer, real, key, text };

std::string_view target_words(Target target) {
  return target == Target::integer ? "an integer" : "a real number";
}

// One line of the file read as the run reads it: a request that starts with the line's key and
// takes the fields that follow, each fault of a value a finding. The reading stops at the first
// fault, or where the line ends before the record does, so that every record is read from its
// own line only.
class LineRead {
 public:
  LineRead(InputFile& file, Findings& findings) : file_(file), findings_(findings) {
    request_ = read_begin(file);
  }

  // Reads the line's key; false when there is no key, at the end of the file or after a fault.
  bool key(float& key, const std::string& record) {
    record_ = record;
    previous_ = "key";
    read(Target::key, "key", [&] { read_real32(request_, key); });
    line_ = request_.value_line;
    column_ = request_.value_column;
    return !faulted_;
  }

  template <class T>
  void number(void (*reader)(ReadRequest&, T&), T& target, Target kind, std::string_view field,
              std::int64_t& column) {
    if (!before_field(field)) return;
    read(kind, field, [&] { reader(request_, target); });
    after_field(field, column);
  }

  void text(char* target, int width, std::string_view field, std::int64_t& column) {
    if (!before_field(field)) return;
    read(Target::text, field, [&] { read_text(request_, target, width); });
    after_field(field, column);
  }

  // Ends the request: the file stands at the start of the next line.
  void finish() {
    if (at_end_) return;
    try {
      read_end(request_);
    } catch (const RunEnd&) {
      at_end_ = true;
      return;
    }
    // A quoted text that goes on over a line end takes the next lines into this record.
    if (!ran_over_ && line_ > 0 && file_.line() > line_ + 1) {
      findings_.add(Code::record_runs_over, line_, 0, {record_, std::to_string(line_ + 1)});
      faulted_ = true;
    }
  }

  bool faulted() const { return faulted_; }
  bool at_end() const { return at_end_; }
  std::int64_t line() const { return line_; }
  std::int64_t key_column() const { return column_; }

 private:
  // Whether the next field is to be read: not after a fault, and not when the line has ended
  // before it (the run would take the field from the next line).
  bool before_field(std::string_view field) {
    if (faulted_) return false;
    if (request_.line_advanced && request_.repeat_remaining == 0) {
      Finding finding =
          make_finding(Code::record_ends_early, line_, 0, {record_, previous_, field});
      finding.note = "the run would read the rest of this record from the next line";
      findings_.add(std::move(finding));
      faulted_ = true;
      return false;
    }
    return true;
  }

  void after_field(std::string_view field, std::int64_t& column) {
    if (faulted_) return;
    column = request_.value_column;
    previous_ = field;
    if (request_.value_line > line_) {
      findings_.add(Code::record_runs_over, line_, 0,
                    {record_, std::to_string(request_.value_line)});
      ran_over_ = true;
      faulted_ = true;
    }
  }

  template <class Read>
  void read(Target kind, std::string_view field, Read read_value) {
    try {
      read_value();
    } catch (const RunEnd& end) {
      faulted_ = true;
      report(end.failure_number, kind, record_ + ", " + std::string(field));
    }
  }

  void report(int failure, Target kind, const std::string& where) {
    const std::int64_t line = request_.value_line;
    const std::int64_t column = request_.value_column;
    const std::string text = shown_text(request_);
    switch (failure) {
      case failure_end_of_file:
        at_end_ = true;
        return;
      case failure_integer_too_large:
        findings_.add(Code::integer_too_large, line, column, {text, where});
        return;
      case failure_integer_character:
        findings_.add(Code::not_an_integer, line, column, {text, where});
        return;
      case failure_real_overflow:
        findings_.add(Code::real_beyond_range, line, column, {text, where});
        return;
      case failure_real_text:
        findings_.add(Code::not_a_real, line, column, {text, where});
        return;
      case failure_single_range:
        findings_.add(Code::key_beyond_range, line, column, {text, where});
        return;
      case failure_value_too_long:
        findings_.add(Code::value_too_long, line, column, {where});
        return;
      case failure_second_base_mark:
        findings_.add(Code::second_base_mark, line, column, {text, where});
        return;
      case failure_base_range:
        findings_.add(Code::bad_base, line, column, {text, where});
        return;
      case failure_repeat_count:
        findings_.add(Code::bad_repeat_count, line, column, {text, where});
        return;
      case failure_second_repeat:
        findings_.add(Code::second_repeat_count, line, column, {where});
        return;
      case failure_value_kind: {
        const bool quoted = request_.kind == ValueKind::quoted;
        findings_.add(
            Code::text_for_number, line, column,
            {quoted ? "a quoted text" : "a parenthesised value", text, target_words(kind), where});
        return;
      }
      default:
        findings_.add(Code::read_failure, line, column);
        at_end_ = true;
        return;
    }
  }

  InputFile& file_;
  Findings& findings_;
  ReadRequest request_;
  std::string record_;
  std::string_view previous_;
  std::int64_t line_ = 0;
  std::int64_t column_ = 0;
  bool faulted_ = false;
  bool at_end_ = false;
  bool ran_over_ = false;
};

// Where the walk stands between the header and the end of the elevation block.
enum class Stage : std::uint8_t { before_branches, branches, before_elevations, elevations };

constexpr std::string_view header_names[] = {"roughness", "viscosity", "density",
                                             "gravity",   "tolerance", "iteration limit"};

// The line on which the file ended: its last line.
std::int64_t last_line(const InputFile& file) {
  return file.line() - 1;
}

// The key of a line is kept from line to line, as the run keeps it: a line whose key is a null
// value has the key of the line before.
bool read_header(InputFile& file, Findings& findings, HeaderRecord& header, float& key) {
  double* reals[] = {&header.roughness, &header.viscosity, &header.density, &header.gravity,
                     &header.tolerance};
  bool complete = true;
  for (int k = 0; k < 7; ++k) {
    LineRead line(file, findings);
    const std::string record = "header line " + std::to_string(k + 1);
    if (line.key(key, record)) {
      const auto index = static_cast<std::size_t>(k);
      if (k < 5) {
        line.number(read_real64, *reals[index], Target::real, header_names[index],
                    header.column[index]);
      } else if (k == 5) {
        line.number(read_int32, header.max_iterations, Target::integer, header_names[index],
                    header.column[index]);
      }
      if (k < 6) header.line[index] = line.line();
    }
    line.finish();
    if (line.at_end()) {
      findings.add(Code::file_ends, last_line(file), 0,
                   {"in the header, before its line " + std::to_string(k + 1) + " of 7"});
      return false;
    }
    complete = complete && !line.faulted();
  }
  header.complete = complete;
  return true;
}

void read_branch(LineRead& line, BranchRecord& branch) {
  BranchName name{};
  line.number(read_int32, branch.number, Target::integer, "branch number",
              branch.column[field_number]);
  line.text(name.data(), branch_name_width, "name", branch.column[field_name]);
  line.number(read_int32, branch.first_node, Target::integer, "first node",
              branch.column[field_first_node]);
  line.number(read_real64, branch.first_value, Target::real, "first value",
              branch.column[field_first_value]);
  line.number(read_int32, branch.second_node, Target::integer, "second node",
              branch.column[field_second_node]);
  line.number(read_real64, branch.second_value, Target::real, "second value",
              branch.column[field_second_value]);
  line.number(read_real64, branch.diameter, Target::real, "diameter",
              branch.column[field_diameter]);
  line.number(read_real64, branch.length, Target::real, "length", branch.column[field_length]);
  line.number(read_int32, branch.condition, Target::integer, "condition code",
              branch.column[field_condition]);
}

void read_elevation(LineRead& line, ElevationRecord& elevation) {
  line.number(read_int32, elevation.node, Target::integer, "node number", elevation.column[1]);
  line.number(read_real64, elevation.elevation, Target::real, "elevation", elevation.column[2]);
}

std::string_view end_of_file_words(Stage stage) {
  switch (stage) {
    case Stage::before_branches:
      return "before the branch block: a network needs at least one branch line";
    case Stage::branches:
      return "inside the branch block: no line with key 0 ends it";
    case Stage::before_elevations:
      return "before the elevation block: a network needs at least one elevation line";
    case Stage::elevations:
      return "inside the elevation block: no line with key 0 ends it";
  }
  return {};
}

std::string record_name(Stage stage, const NetworkFile& net) {
  switch (stage) {
    case Stage::before_branches:
    case Stage::branches:
      return "branch " + std::to_string(net.branches.size() + 1);
    case Stage::before_elevations:
    case Stage::elevations:
      return "elevation record " + std::to_string(net.elevations.size() + 1);
  }
  return {};
}

// The blocks after the header, line by line, as the run's counting finds them: zero-key lines
// before a block are passed over, every other line up to the next zero key is a record.
void read_blocks(InputFile& file, Findings& findings, NetworkFile& net, float& key) {
  Stage stage = Stage::before_branches;
  for (;;) {
    LineRead line(file, findings);
    const std::string record = record_name(stage, net);
    const bool has_key = line.key(key, record);
    if (line.at_end()) {
      findings.add(Code::file_ends, last_line(file), 0, {end_of_file_words(stage)});
      return;
    }
    if (has_key && key == 0.0f) {
      line.finish();
      if (stage == Stage::branches) stage = Stage::before_elevations;
      if (stage == Stage::elevations) {
        net.end_line = line.line();
        return;
      }
      continue;
    }
    // A line whose key cannot be read still holds the place of a record.
    if (stage == Stage::before_branches) stage = Stage::branches;
    if (stage == Stage::before_elevations) stage = Stage::elevations;
    if (stage == Stage::branches) {
      BranchRecord& branch = net.branches.emplace_back();
      branch.line = line.line();
      branch.column[field_key] = line.key_column();
      if (has_key) read_branch(line, branch);
      line.finish();
      branch.complete = !line.faulted();
    } else {
      ElevationRecord& elevation = net.elevations.emplace_back();
      elevation.line = line.line();
      elevation.column[0] = line.key_column();
      if (has_key) read_elevation(line, elevation);
      line.finish();
      elevation.complete = !line.faulted();
    }
    if (line.at_end()) {
      findings.add(Code::file_ends, last_line(file), 0, {end_of_file_words(stage)});
      return;
    }
  }
}

}  // namespace

NetworkFile walk_network_file(InputFile& file, Findings& findings) {
  NetworkFile net;
  const std::int64_t errors_before = findings.count(Severity::error);
  float key = 0.0f;
  if (read_header(file, findings, net.header, key)) read_blocks(file, findings, net, key);
  net.readable = findings.count(Severity::error) == errors_before;
  return net;
}

}  // namespace tessaro::check
