// Runs the whole program on arbitrary input file contents, in process, in a folder of its own
// that also holds a log file and a results file left by an "earlier run": once with the classic
// solver, once with the global one (linked in) and its tables. A run ends as at the
// program's entry point: by returning (solved), with a RunEnd (stopped or failed), or with a
// trapped floating-point exception, which this harness's own SIGFPE handler turns into a jump
// back here after closing the open files as the program's handler would. Each way of ending must
// leave the files and the console as the run's rules say; any other outcome is a finding.
//
// A jump out of a trap skips the run's destructors: the harness closes the input file that was
// left open, and the tables of such a run are not given back (leak detection is off for this
// target). Inputs whose iteration limit exceeds 100 are passed over: their run time is bounded by
// the file's own limit, which can be made as large as the reader allows.
#include <dirent.h>
#include <fenv.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "fuzz_folder.h"
#include "input/passes.h"
#include "model/messages.h"
#include "model/network.h"
#include "model/table.h"
#include "run/extensions.h"
#include "run/options.h"
#include "run/run.h"
#include "textio/files.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace {

using namespace tessaro;

constexpr std::int32_t largest_iteration_limit = 100;
const std::string input_name(input_file_name);
const std::string log_name(log_file_name);
const std::string results_name(results_file_name);
const std::string branch_table_name = "Tessaro-branches.csv";
const std::string node_table_name = "Tessaro-nodes.csv";
const std::string earlier_log = " Calculation processed successfully\r\n(an earlier run)\r\n";
const std::string earlier_results = " (results of an earlier run)\r\n";
constexpr std::string_view results_header =
    " Branch No.  Branch Name    Flowrate  Pressure Difference\r\n";

std::string input_path;
// Reports the files opened in the folder, to tell whether a run opened the results file.
int open_events = -1;
sigjmp_buf trap_return;

void on_trap(int, siginfo_t*, void*) {
  close_open_files();
  siglongjmp(trap_return, 1);
}

// The program's traps, with this harness's handler in place of the program's.
void set_traps() {
  enable_fp_traps();
  struct sigaction action {};
  action.sa_sigaction = on_trap;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
}

// Closes the input file that a trapped run left open.
void close_input_left_open() {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return;
  while (const dirent* entry = readdir(fds)) {
    const int fd = atoi(entry->d_name);
    if (fd <= STDERR_FILENO || fd == dirfd(fds)) continue;
    char target[PATH_MAX];
    const ssize_t length =
        readlink(("/proc/self/fd/" + std::string(entry->d_name)).c_str(), target, sizeof target);
    if (length > 0 && std::string_view(target, static_cast<std::size_t>(length)) == input_path) {
      close(fd);
    }
  }
  closedir(fds);
}

bool iteration_limit_too_large() {
  Network net;
  InputFile file(input_file_name);
  try {
    file.open();
    read_header(net, file);
  } catch (const RunEnd&) {
    return false;
  }
  return net.max_iterations > largest_iteration_limit;
}

// Whether the results file was opened since the last call.
bool results_opened() {
  bool opened = false;
  alignas(inotify_event) char events[4096];
  ssize_t got;
  while ((got = read(open_events, events, sizeof events)) > 0) {
    for (const char* at = events; at < events + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len > 0 && results_name == event->name) opened = true;
      at += sizeof(inotify_event) + event->len;
    }
  }
  return opened;
}

enum class Ending { solved, stopped, failed, trapped };

// Runs the program as its entry point does and tells how the run ended.
Ending run_program(const RunOptions& options, RunEnd& end) {
  set_traps();
  if (sigsetjmp(trap_return, 1) != 0) {
    disable_fp_traps();
    close_input_left_open();
    return Ending::trapped;
  }
  try {
    try {
      run_calculation(options);
    } catch (const std::bad_alloc&) {
      fail_table_storage();
    }
  } catch (const RunEnd& caught) {
    disable_fp_traps();
    close_open_files();
    end = caught;
    return end.exit_status == exit_stopped ? Ending::stopped : Ending::failed;
  }
  disable_fp_traps();
  return Ending::solved;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// A log written by a stop: one check sentence, or the two records of an exceeded balance; with
// the global solver also one of its own sentences, or the two records of a part that cannot
// balance.
bool is_stop_log(std::string_view log, bool global) {
  constexpr std::string_view sentences[] = {message::bad_condition_code,
                                            message::pressure_terminal_error,
                                            message::flowrate_terminal_error,
                                            message::elevation_count,
                                            message::no_junctions,
                                            message::elevation_order,
                                            message::branch_out_of_sequence,
                                            message::node_number_error,
                                            message::unconnected_node};
  constexpr std::string_view global_sentences[] = {
      message::roughness_negative,      message::viscosity_not_positive,
      message::density_not_positive,    message::gravity_not_positive,
      message::diameter_not_positive,   message::length_negative,
      message::zero_length_fixed_heads, message::factorisation_failed};
  // A first record, and a second one that begins with `second` when that is not empty.
  auto records = [&](std::string_view first, std::string_view second) {
    const std::string start = " " + std::string(first);
    if (!starts_with(log, start)) return false;
    const std::size_t end = log.find("\r\n");
    if (end == std::string_view::npos) return false;
    if (second.empty()) return end == log.size() - 2;
    const std::string_view rest = log.substr(end + 2);
    return starts_with(rest, " " + std::string(second)) && rest.find("\r\n") == rest.size() - 2;
  };
  if (log == " " + std::string(message::iterations_exceeded) + "\r\n" ||
      records(message::iterations_exceeded, message::largest_imbalance)) {
    return true;
  }
  for (const std::string_view sentence : sentences) {
    if (records(sentence, {})) return true;
  }
  if (!global) return false;
  for (const std::string_view sentence : global_sentences) {
    if (records(sentence, {})) return true;
  }
  return records(message::floating_part_node, message::floating_part_inflow);
}

bool is_failure_number(char failure_class, int number) {
  if (failure_class == 'M') return number >= 6201 && number <= 6205 && number != 6204;
  // Only the reader's failures: every file opens and every write succeeds here.
  return failure_class == 'F' && ((number >= 6100 && number <= 6105) || number == 6302 ||
                                  number == 6303 || (number >= 6500 && number <= 6504));
}

// What the files and the console must look like after each way of ending; a solved global run
// has written its two tables too.
void check_ending(Ending ending, const RunEnd& end, bool results_open, std::string_view input,
                  bool global) {
  const std::string log = fuzz::read_file(log_name);
  const std::string results = fuzz::read_file(results_name);
  if (fuzz::read_file(input_name) != input) fuzz::finding("the input file was changed");
  // A run-time failure or trap that comes after the results file has been opened comes while
  // the results are written: the records written so far, the header first, are then in the
  // file, which the first of them has cut. Before that the file is kept.
  const bool results_kept_or_cut =
      results_open ? starts_with(results, results_header) : results == earlier_results;
  switch (ending) {
    case Ending::solved:
      if (log != " " + std::string(message::success) + "\r\n") {
        fuzz::finding("a solved run left another log", log);
      }
      if (!starts_with(results, results_header)) {
        fuzz::finding("a solved run left no results", results);
      }
      if (global && (!starts_with(fuzz::read_file(branch_table_name), "branch,name,") ||
                     !starts_with(fuzz::read_file(node_table_name), "node,kind,"))) {
        fuzz::finding("a solved global run left no tables");
      }
      break;
    case Ending::stopped:
      if (end.stdout_text != stop_line || !end.stderr_text.empty()) {
        fuzz::finding("a stop wrote other console text", end.stdout_text + end.stderr_text);
      }
      if (!is_stop_log(log, global)) fuzz::finding("a stop left a log without its sentence", log);
      if (results != earlier_results) fuzz::finding("a stop changed the results file", results);
      break;
    case Ending::failed:
      if (!is_failure_number(end.failure_class, end.failure_number) ||
          !starts_with(end.stderr_text, "\r\nrun-time error ") || !end.stdout_text.empty()) {
        fuzz::finding("an unexpected run-time failure", end.stderr_text);
      }
      [[fallthrough]];
    case Ending::trapped:
      if (log != earlier_log) fuzz::finding("a run-time failure changed the log file", log);
      if (!results_kept_or_cut) fuzz::finding("a run-time failure spoilt the results", results);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string folder = fuzz::enter_fresh_folder("program-fuzz");
  input_path = folder + "/" + input_name;
  use_global_module(tessaro_global_module());
  open_events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (open_events < 0 || inotify_add_watch(open_events, folder.c_str(), IN_OPEN) < 0) {
    fuzz::finding("cannot watch the fuzz folder");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::write_file(input_name, input);
  if (iteration_limit_too_large()) return -1;
  for (const bool global : {false, true}) {
    fuzz::write_file(log_name, earlier_log);
    fuzz::write_file(results_name, earlier_results);
    std::remove(branch_table_name.c_str());
    std::remove(node_table_name.c_str());
    results_opened();
    RunOptions options;
    options.solver = global ? SolverChoice::global : SolverChoice::classic;
    options.csv = global;
    RunEnd end;
    const Ending ending = run_program(options, end);
    check_ending(ending, end, results_opened(), input, global);
  }
  return 0;
}

// Runs that trap leave their tables behind (see above): no leak report at exit either.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}
