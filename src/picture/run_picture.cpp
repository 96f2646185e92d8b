#include "picture/run_picture.h"

#include "model/messages.h"
#include "textio/log.h"

namespace tessaro {

std::string run_outcome(bool stopped) {
  if (!stopped) return std::string(message::success);
  return "stopped: " + first_log_line();
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
  } else if (number && sentence == message::diameter_not_positive) {
    marks.branches.push_back({*number, "diameter not above zero"});
  } else if (number && sentence == message::length_negative) {
    marks.branches.push_back({*number, "negative length"});
  } else if (number && sentence == message::zero_length_fixed_heads) {
    marks.nodes.push_back({*number, "zero-length branches join two different fixed heads here"});
  } else if (number && sentence == message::floating_part_node) {
    marks.nodes.push_back(
        {*number, "no fixed head, and the given flowrates of its part do not balance"});
  }
  return marks;
}

}  // namespace tessaro
