// The two ways a run ends early: stop_run after a check has logged its sentence, and fail_run
// with a run-time failure report on the console.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro {

// Statement tags of a run-time failure report.
inline constexpr std::string_view tag_read = ": READ(";
inline constexpr std::string_view tag_write = ": WRITE(";
inline constexpr std::string_view tag_open = ": OPEN(";
inline constexpr std::string_view tag_close = ": CLOSE(";
inline constexpr std::string_view tag_math = ": MATH\r\n- ";
inline constexpr std::string_view tag_storage = "\r\n- ";

// The console line of a run that a check or an iteration limit stopped.
inline constexpr std::string_view stop_line = "Stop - Program terminated.\r\n";

inline constexpr int exit_success = 0;
inline constexpr int exit_stopped = 0;
inline constexpr int exit_failed = 1;

// Thrown by stop_run and fail_run and caught once, by the program's entry point, which closes
// the open files, writes the console text and exits with the status. Carries the failure's class
// and number so that tests can tell failures apart.
struct RunEnd {
  int exit_status = exit_success;
  std::string stdout_text;
  std::string stderr_text;
  char failure_class = 0;  // 'F' or 'M' for a failure, 0 for a stop or a successful end
  int failure_number = 0;
  bool stopped = false;  // ended by stop_run
};

// Called by terminate_run after the console text and before the process exits, when an option
// adds a report on the run's end; none in a plain run.
inline void (*report_run_end)(const RunEnd& end) = nullptr;

// Writes "Stop - Program terminated." to standard output and ends the run with status 0.
[[noreturn]] void stop_run();

// Ends the run with status 1 after writing the failure report to standard error. The file name
// is shown only for the tags that name a file.
[[noreturn]] void fail_run(char failure_class, int number, std::string_view tag,
                           std::string_view file_name, std::string_view message);

// The report text of a run-time failure, as written to standard error.
std::string failure_report(char failure_class, int number, std::string_view tag,
                           std::string_view file_name, std::string_view message);

// Closes every open file (writing what is buffered first) and leaves the process with the
// status, after writing the console texts. Used by the entry point and by the trap handler.
[[noreturn]] void terminate_run(const RunEnd& end);

}  // namespace tessaro
