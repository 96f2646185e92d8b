#include "picture/run_picture.h"

#include "model/messages.h"
#include "textio/log.h"

namespace tessaro {

std::string run_outcome(bool stopped) {
  if (!stopped) return std::string(message::success);
  return "stopped: " + first_log_line();
}

namespace {

// The part of the network that a stop's log sentence names by its number, and what is wrong.
struct StopMark {
  std::string_view sentence;
  bool on_branch;  // the number is a branch's, else a node's
  std::string_view note;
};

constexpr StopMark marks_by_sentence[] = {
    {message::pressure_terminal_error, true, "pressure terminal data: no end marked negative"},
    {message::flowrate_terminal_error, true, "flowrate terminal data: end flows not opposite"},
    {message::branch_out_of_sequence, true, "branch number not matching its position"},
    {message::node_number_error, true, "node number below 1"},
    {message::unconnected_node, false, "no branch names this node"},
    {message::diameter_not_positive, true, "diameter not above zero"},
    {message::length_negative, true, "negative length"},
    {message::zero_length_fixed_heads, false,
     "zero-length branches join two different fixed heads here"},
    {message::floating_part_node, false,
     "no fixed head, and the given flowrates of its part do not balance"},
};

}  // namespace

PictureMarks stop_marks(const Network& net) {
  PictureMarks marks;
  const std::string_view sentence = first_log_sentence();
  if (sentence == message::bad_condition_code) {
    // The code is checked as soon as its record is read: the branch read last.
    marks.branches.push_back({net.n_branches_read, "condition code not 0, 1 or 2"});
    return marks;
  }
  const auto number = first_log_number();
  if (!number) return marks;
  for (const StopMark& mark : marks_by_sentence) {
    if (sentence != mark.sentence) continue;
    (mark.on_branch ? marks.branches : marks.nodes).push_back({*number, std::string(mark.note)});
  }
  return marks;
}

}  // namespace tessaro
