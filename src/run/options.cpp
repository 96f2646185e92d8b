#include "run/options.h"

#include <CLI/CLI.hpp>

namespace tessaro {

namespace {

constexpr const char* program_description =
    "Steady flow and pressure distribution of a pipe network. Reads \"Tessaro-net.txt\" in the "
    "working folder, writes \"Tessaro-res.txt\" and \"Log file.txt\".";

// The library's words for a flag given a value name the flag without its dashes.
std::string usage_error_text(std::string text) {
  constexpr std::string_view flag_value = " was given a disallowed flag override";
  if (text.size() > flag_value.size() && text.ends_with(flag_value)) {
    return "--" + text.substr(0, text.size() - flag_value.size()) + " takes no value";
  }
  return text;
}

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
  CLI::Option* csv =
      app.add_flag("--csv", options.csv,
                   "Also write the solved state in full precision to \"Tessaro-branches.csv\" and "
                   "\"Tessaro-nodes.csv\"");
  CLI::Option* summary = app.add_flag(
      "--summary", options.summary,
      "After the run, report counts, iterations, imbalance and times on standard error");
  CLI::Option* progress =
      app.add_flag("--progress", options.progress,
                   "While the solver runs, show a status line on standard error");
  app.add_flag("--svg", options.svg,
               "Also draw the network and its results to \"Tessaro-net.svg\" (on a stopped run, "
               "the network as far as it was read, its faulty part marked; with --check, the "
               "findings)");
  CLI::Option* check = app.add_flag(
      "--check", options.check,
      "Check \"Tessaro-net.txt\" without running: list every fault with its line and column "
      "on standard output, then a count line; writes and changes no file. Exit status 0 "
      "without an error, 1 with one or more");
  check->excludes(csv)->excludes(summary)->excludes(progress);

  // A flag takes no value: "--csv=1" is a usage error.
  for (CLI::Option* option : app.get_options()) {
    if (option->get_expected_min() == 0) option->disable_flag_override();
  }

  std::string format = "text";
  app.add_option("--format", format, "With --check: the findings as text (the default) or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->needs(check);

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
    line.stderr_text = "tessaro: " + usage_error_text(error.what()) + " (see 'tessaro --help')\n";
  }
  options.json = format == "json";
  return line;
}

}  // namespace tessaro
