#include "picture/run_picture.h"

#include "model/messages.h"
#include "textio/log.h"

namespace tessaro {

std::string run_outcome(bool stopped) {
  if (!stopped) return std::string(message::success);
  std::string outcome = "stopped: ";
  for (const char c : first_log_sentence()) outcome += c == '\t' ? ' ' : c;
  if (const auto number = first_log_number()) outcome += " " + std::to_string(*number);
  return outcome;
}

PictureMarks stop_marks(const Network& net) {
  PictureMarks marks;
  const std::string_view sentence = first_log_sentence();
  const auto number = first_log_number();
  if (sentence == message::bad_condition_code) {
    // The code is checked as soon as its record is read: the branch read last.
    marks.branches.push_back({net.n_branches_read, "condition code not 0, 1 or 2"});
  } else if (number && sentence == message::pressure_terminal_error) {
    marks.branches.push_back({*number, "pressure terminal data: no end marked negative"});
  } else if (number && sentence == message::flowrate_terminal_error) {
    marks.branches.push_back({*number, "flowrate terminal data: end flows not opposite"});
  } else if (number && sentence == message::branch_out_of_sequence) {
    marks.branches.push_back({*number, "branch number not matching its position"});
  } else if (number && sentence == message::node_number_error) {
    marks.branches.push_back({*number, "node number below 1"});
  } else if (number && sentence == message::unconnected_node) {
    marks.nodes.push_back({*number, "no branch names this node"});
  }
  return marks;
}

}  // namespace tessaro
