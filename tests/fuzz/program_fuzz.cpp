// Runs the whole program on arbitrary input file contents, in process, in a folder of its own
// that also holds a log file and a results file left by an "earlier run". A run ends as at the
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
#include <new>
#include <string>
#include <string_view>

#include "fuzz_folder.h"
#include "input/passes.h"
#include "model/messages.h"
#include "model/network.h"
#include "model/table.h"
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
Ending run_program(RunEnd& end) {
  set_traps();
  if (sigsetjmp(trap_return, 1) != 0) {
    disable_fp_traps();
    close_input_left_open();
    return Ending::trapped;
  }
  try {
    try {
      run_calculation();
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

// A log written by a stop: one check sentence, or the two records of an exceeded balance.
bool is_stop_log(std::string_view log) {
  constexpr std::string_view sentences[] = {message::bad_condition_code,
                                            message::pressure_terminal_error,
                                            message::flowrate_terminal_error,
                                            message::elevation_count,
                                            message::no_junctions,
                                            message::elevation_order,
                                            message::branch_out_of_sequence,
                                            message::node_number_error,
                                            message::unconnected_node};
  const std::string limit = " " + std::string(message::iterations_exceeded) + "\r\n";
  if (log == limit) return true;
  if (starts_with(log, limit)) {
    const std::string_view second = log.substr(limit.size());
    return starts_with(second, " " + std::string(message::largest_imbalance)) &&
           second.find("\r\n") == second.size() - 2;
  }
  for (const std::string_view sentence : sentences) {
    if (starts_with(log, " " + std::string(sentence)) && log.find("\r\n") == log.size() - 2) {
      return true;
    }
  }
  return false;
}

bool is_failure_number(char failure_class, int number) {
  if (failure_class == 'M') return number >= 6201 && number <= 6205 && number != 6204;
  // Only the reader's failures: every file opens and every write succeeds here.
  return failure_class == 'F' && ((number >= 6100 && number <= 6105) || number == 6302 ||
                                  number == 6303 || (number >= 6500 && number <= 6504));
}

// What the files and the console must look like after each way of ending.
void check_ending(Ending ending, const RunEnd& end, bool results_open, std::string_view input) {
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
      break;
    case Ending::stopped:
      if (end.stdout_text != stop_line || !end.stderr_text.empty()) {
        fuzz::finding("a stop wrote other console text", end.stdout_text + end.stderr_text);
      }
      if (!is_stop_log(log)) fuzz::finding("a stop left a log without its sentence", log);
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
  fuzz::write_file(log_name, earlier_log);
  fuzz::write_file(results_name, earlier_results);
  results_opened();
  RunEnd end;
  const Ending ending = run_program(end);
  check_ending(ending, end, results_opened(), input);
  return 0;
}

// Runs that trap leave their tables behind (see above): no leak report at exit either.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}
