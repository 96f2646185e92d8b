#include "check/check.h"

#include <algorithm>
#include <map>

#include "check/file_walk.h"
#include "check/render.h"
#include "check/rules.h"
#include "input/passes.h"
#include "textio/files.h"
#include "textio/run_end.h"

namespace tessaro::check {

namespace {

Findings find_faults(NetworkFile& file) {
  Findings findings;
  InputFile input(input_file_name);
  try {
    input.open_read_only();
  } catch (const RunEnd& end) {
    findings.add(Code::cannot_open, 0, 0, {failure_message(end)});
    return findings;
  }
  file = walk_network_file(input, findings);
  input.close();
  check_header(file.header, findings);
  check_branches(file, findings);
  check_elevations(file, findings);
  check_network(file, findings);
  return findings;
}

// The branches as read, in the tables a picture draws from; node numbers below 1 are left out
// of it. The node tables are not made: the picture draws the nodes the branches name.
void fill_network(const NetworkFile& file, Network& net) {
  net.n_branches = static_cast<std::int32_t>(file.branches.size());
  create_branch_tables(net);
  for (std::int32_t b = 1; b <= net.n_branches; ++b) {
    const BranchRecord& record = file.branches[static_cast<std::size_t>(b - 1)];
    net.branch_number[b] = record.number;
    net.first_node[b] = record.first_node;
    net.second_node[b] = record.second_node;
    net.branch_condition[b] = record.condition;
    net.n_nodes = std::max({net.n_nodes, record.first_node, record.second_node});
  }
  net.n_branches_read = net.n_branches;
}

// A finding on a branch line marks that branch; one on an elevation line, that node.
void mark_findings(const NetworkFile& file, const std::vector<Finding>& findings,
                   PictureMarks& marks) {
  std::map<std::int64_t, std::int32_t> branch_at_line;
  std::map<std::int64_t, std::int32_t> node_at_line;
  for (std::size_t k = 0; k < file.branches.size(); ++k) {
    branch_at_line[file.branches[k].line] = static_cast<std::int32_t>(k + 1);
  }
  for (const ElevationRecord& record : file.elevations) {
    if (record.node >= 1) node_at_line[record.line] = record.node;
  }
  for (const Finding& finding : findings) {
    if (finding.line == 0) continue;
    const std::string note =
        std::string(finding.severity == Severity::error ? "error: " : "warning: ") +
        finding.message;
    if (const auto branch = branch_at_line.find(finding.line); branch != branch_at_line.end()) {
      marks.branches.push_back({branch->second, note});
    } else if (const auto node = node_at_line.find(finding.line); node != node_at_line.end()) {
      marks.nodes.push_back({node->second, note});
    }
  }
}

}  // namespace

CheckResult check_network_file(Format format, CheckedNetwork* picture) {
  NetworkFile file;
  const Findings findings = find_faults(file);
  const std::vector<Finding> ordered = findings.in_file_order();
  CheckResult result;
  result.output = format == Format::json ? render_json(input_file_name, ordered)
                                         : render_text(input_file_name, ordered);
  result.exit_status = findings.count(Severity::error) == 0 ? 0 : 1;
  if (picture != nullptr) {
    fill_network(file, picture->net);
    mark_findings(file, ordered, picture->marks);
    picture->outcome = count_line(ordered);
    if (!picture->outcome.empty() && picture->outcome.back() == '\n') picture->outcome.pop_back();
  }
  return result;
}

}  // namespace tessaro::check
