#include "check/check.h"

#include "check/file_walk.h"
#include "check/render.h"
#include "check/rules.h"
#include "textio/files.h"
#include "textio/run_end.h"

namespace tessaro::check {

namespace {

Findings find_faults() {
  Findings findings;
  InputFile input(input_file_name);
  try {
    input.open_read_only();
  } catch (const RunEnd& end) {
    findings.add(Code::cannot_open, 0, 0, {failure_message(end)});
    return findings;
  }
  const NetworkFile file = walk_network_file(input, findings);
  input.close();
  check_header(file.header, findings);
  check_branches(file, findings);
  check_elevations(file, findings);
  check_network(file, findings);
  return findings;
}

}  // namespace

CheckResult check_network_file(Format format) {
  const Findings findings = find_faults();
  const std::vector<Finding> ordered = findings.in_file_order();
  CheckResult result;
  result.output = format == Format::json ? render_json(input_file_name, ordered)
                                         : render_text(input_file_name, ordered);
  result.exit_status = findings.count(Severity::error) == 0 ? 0 : 1;
  return result;
}

}  // namespace tessaro::check
