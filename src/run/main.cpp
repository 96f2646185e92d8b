// Tessaro: steady flow and pressure distribution of a pipe network. Reads "Tessaro-net.txt" in
// the working folder, writes "Tessaro-res.txt" and "Log file.txt".
#include <unistd.h>

#include <new>
#include <optional>
#include <string_view>

#include "check/check.h"
#include "model/table.h"
#include "monitor/run_monitor.h"
#include "run/extensions.h"
#include "run/options.h"
#include "run/run.h"
#include "textio/files.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace {

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// The run itself: every way out of it passes through terminate_run, which closes the files.
[[noreturn]] void run(const tessaro::RunOptions& options, tessaro::RunMonitor* monitor) {
  try {
    try {
      tessaro::run_calculation(options, monitor);
    } catch (const std::bad_alloc&) {
      tessaro::fail_table_storage();
    }
  } catch (const tessaro::RunEnd& end) {
    tessaro::terminate_run(end);
  }
  tessaro::terminate_run(tessaro::RunEnd{});
}

std::optional<tessaro::RunMonitor> monitor;

void report_to_monitor(const tessaro::RunEnd& end) {
  const bool solved =
      end.exit_status == tessaro::exit_success && !end.stopped && end.failure_class == 0;
  monitor->finish(solved ? nullptr : &end);
}

// Whether a module asked for is loaded; says why not on standard error.
bool loaded(std::string_view what, const std::string& fault) {
  if (fault.empty()) return true;
  write_all(STDERR_FILENO, "tessaro: " + std::string(what) + " cannot be loaded: " + fault + "\n");
  return false;
}

// The check of the network file, and with --svg the picture of its findings, the one file the
// check may write.
int check(const tessaro::RunOptions& options) {
  const auto format = options.json ? tessaro::check::Format::json : tessaro::check::Format::text;
  tessaro::check::CheckedNetwork checked;
  const tessaro::check::CheckResult result =
      tessaro::check::check_network_file(format, options.svg ? &checked : nullptr);
  write_all(STDOUT_FILENO, result.output);
  if (options.svg) {
    try {
      tessaro::picture_module().write_picture(
          checked.net, nullptr, checked.marks,
          {std::string(tessaro::input_file_name), "", "checked: " + checked.outcome,
           "findings of the check"});
    } catch (const tessaro::RunEnd& end) {
      tessaro::terminate_run(end);
    }
  }
  return result.exit_status;
}

}  // namespace

int main(int argc, char** argv) {
  // Without arguments the run starts at once, with the floating-point traps set.
  if (argc <= 1) {
    tessaro::enable_fp_traps();
    run({}, nullptr);
  }

  // Options are read before any file is touched; a usage error ends here.
  const tessaro::CommandLine line = tessaro::parse_command_line(argc, argv);
  if (line.ends_now) {
    write_all(STDOUT_FILENO, line.stdout_text);
    write_all(STDERR_FILENO, line.stderr_text);
    return line.exit_status;
  }
  const tessaro::RunOptions& options = line.options;
  // The picture and the global solver live in the extension module, loaded before any file is
  // touched.
  if (options.svg && !loaded("the picture", tessaro::load_picture_module())) return 1;
  if (options.solver == tessaro::SolverChoice::global &&
      !loaded("the global solver", tessaro::load_global_module())) {
    return 1;
  }
  // The check reads the network file only; it runs with the floating-point traps off and holds
  // them itself where it evaluates the run's arithmetic.
  if (options.check) return check(options);
  if (options.summary || options.progress) {
    monitor.emplace(options.summary, options.progress,
                    options.solver == tessaro::SolverChoice::global ? "global" : "classic");
    tessaro::solver_events = &*monitor;
    tessaro::report_run_end = report_to_monitor;
  }
  tessaro::enable_fp_traps();
  run(options, monitor ? &*monitor : nullptr);
}
