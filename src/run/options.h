// The command line: every option of the program, declared in one place with its help text.
#pragma once

#include <string>

namespace tessaro {

enum class SolverChoice { classic, global };

struct RunOptions {
  SolverChoice solver = SolverChoice::classic;
  bool csv = false;       // full-precision tables of the solved state
  bool summary = false;   // a report of the run on standard error
  bool progress = false;  // a status line on standard error while the solver runs
  bool svg = false;       // a picture of the network and its results
  bool check = false;     // only check the network file: list its faults, write no other file
  bool json = false;      // the checker's findings as JSON
};

// What the command line asks for: a run with its options, or an answer and an exit status
// (help, version, a usage error), given before any file is touched.
struct CommandLine {
  RunOptions options;
  bool ends_now = false;
  int exit_status = 0;
  std::string stdout_text;
  std::string stderr_text;
};

inline constexpr int exit_usage = 2;

CommandLine parse_command_line(int argc, const char* const* argv);

}  // namespace tessaro
