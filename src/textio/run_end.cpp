#include "textio/run_end.h"

#include <unistd.h>

#include <cstdlib>

#include "model/messages.h"
#include "model/table.h"
#include "textio/files.h"

namespace tessaro {

namespace {

bool tag_names_file(std::string_view tag) {
  return tag == tag_read || tag == tag_write || tag == tag_open || tag == tag_close;
}

// Writes all of the text to a descriptor; what cannot be written is dropped.
void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

std::string failure_report(char failure_class, int number, std::string_view tag,
                           std::string_view file_name, std::string_view message) {
  std::string report = "\r\nrun-time error ";
  report += failure_class;
  report += std::to_string(number);
  report += tag;
  if (tag_names_file(tag)) {
    report += file_name;
    report += message.empty() ? ")\r\n" : ")\r\n- ";
  }
  report += message;
  report += "\r\n";
  return report;
}

void stop_run() {
  RunEnd end;
  end.exit_status = exit_stopped;
  end.stdout_text = stop_line;
  end.stopped = true;
  throw end;
}

void fail_run(char failure_class, int number, std::string_view tag, std::string_view file_name,
              std::string_view message) {
  RunEnd end;
  end.exit_status = exit_failed;
  end.stderr_text = failure_report(failure_class, number, tag, file_name, message);
  end.failure_class = failure_class;
  end.failure_number = number;
  throw end;
}

void terminate_run(const RunEnd& end) {
  close_open_files();
  write_all(STDOUT_FILENO, end.stdout_text);
  write_all(STDERR_FILENO, end.stderr_text);
  if (report_run_end != nullptr) report_run_end(end);
  std::_Exit(end.exit_status);
}

}  // namespace tessaro
