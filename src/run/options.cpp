#include "run/options.h"

#include <CLI/CLI.hpp>

namespace tessaro {

namespace {

constexpr const char* program_description =
    "Steady flow and pressure distribution of a pipe network. Reads \"Tessaro-net.txt\" in the "
    "working folder, writes \"Tessaro-res.txt\" and \"Log file.txt\".";

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  RunOptions& options = line.options;
  std::string solver_name = "classic";

  CLI::App app(program_description, "tessaro");
  app.set_version_flag("--version", std::string("tessaro ") + TESSARO_VERSION,
                       "Print the version and exit");
  app.add_option("--solver", solver_name,
                 "The solver: \"classic\" balances one junction at a time (the default), "
                 "\"global\" solves all heads at once by Newton's method to machine precision")
      ->check(CLI::IsMember({"classic", "global"}));
  app.add_flag("--csv", options.csv,
               "Also write the solved state in full precision to \"Tessaro-branches.csv\" and "
               "\"Tessaro-nodes.csv\"");
  app.add_flag("--summary", options.summary,
               "After the run, report counts, iterations, imbalance and times on standard error");
  app.add_flag("--progress", options.progress,
               "While the solver runs, show a status line on standard error");

  // A flag takes no value: "--csv=1" is a usage error.
  for (CLI::Option* option : app.get_options()) {
    if (option->get_expected_min() == 0) option->disable_flag_override();
  }

  try {
    app.parse(argc, argv);
    options.solver = solver_name == "global" ? SolverChoice::global : SolverChoice::classic;
  } catch (const CLI::CallForHelp&) {
    line.ends_now = true;
    line.stdout_text = app.help();
  } catch (const CLI::CallForVersion& answer) {
    line.ends_now = true;
    line.stdout_text = std::string(answer.what()) + "\n";
  } catch (const CLI::ParseError& error) {
    line.ends_now = true;
    line.exit_status = exit_usage;
    line.stderr_text = std::string("tessaro: ") + error.what() + " (see 'tessaro --help')\n";
  }
  return line;
}

}  // namespace tessaro
