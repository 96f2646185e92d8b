// Feeds arbitrary bytes to the checker as the network file, in a folder of its own that also
// holds a log file of an earlier run. The checker must end with a count line that agrees with
// the findings listed before it, an exit status of 0 or 1 that agrees with the count, JSON that
// lists as many findings, and a folder exactly as it was: any other outcome is a finding. The
// checker runs as at the program's entry point, with the floating-point traps off.
#include <dirent.h>

#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "check/check.h"
#include "fuzz_folder.h"
#include "textio/files.h"

namespace {

using namespace tessaro;

const std::string input_name(input_file_name);
const std::string log_name(log_file_name);
const std::string earlier_log = " Calculation processed successfully\r\n";

std::set<std::string> folder_names() {
  std::set<std::string> names;
  DIR* folder = opendir(".");
  while (const dirent* entry = readdir(folder)) names.insert(entry->d_name);
  closedir(folder);
  return names;
}

std::size_t count_of(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The severity of a finding line, "file[:line[:column]]: severity: message"; empty for another
// line. The message itself may quote any printable text of the file.
std::string_view severity_of(std::string_view line) {
  if (line.substr(0, input_name.size()) != input_name) return {};
  line.remove_prefix(input_name.size());
  for (int k = 0; k < 2 && line.size() > 1 && line[0] == ':' &&
                  std::isdigit(static_cast<unsigned char>(line[1]));
       ++k) {
    line.remove_prefix(1);
    while (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
      line.remove_prefix(1);
  }
  for (const std::string_view severity : {"error", "warning"}) {
    const std::string mark = ": " + std::string(severity) + ": ";
    if (line.substr(0, mark.size()) == mark) return severity;
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_fresh_folder("check-fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::write_file(input_name, input);
  fuzz::write_file(log_name, earlier_log);
  const std::set<std::string> names = folder_names();

  const check::CheckResult text = check::check_network_file(check::Format::text);
  const check::CheckResult json = check::check_network_file(check::Format::json);

  std::size_t errors = 0;
  std::size_t warnings = 0;
  std::string_view rest = text.output;
  for (std::size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
    const std::string_view severity = severity_of(rest.substr(0, end));
    errors += severity == "error" ? 1 : 0;
    warnings += severity == "warning" ? 1 : 0;
    rest.remove_prefix(end + 1);
  }
  const std::string count_line = std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
                                 std::to_string(warnings) +
                                 (warnings == 1 ? " warning\n" : " warnings\n");
  const std::string_view output = text.output;
  if (output.size() < count_line.size() ||
      output.substr(output.size() - count_line.size()) != count_line) {
    fuzz::finding("the count line does not agree with the findings", text.output);
  }
  if (text.exit_status != (errors == 0 ? 0 : 1) || json.exit_status != text.exit_status) {
    fuzz::finding("the exit status does not agree with the findings", text.output);
  }
  if (count_of(json.output, "\"severity\": \"") != errors + warnings ||
      json.output.front() != '[' || json.output.substr(json.output.size() - 2) != "]\n") {
    fuzz::finding("the JSON does not list the same findings", json.output);
  }
  if (fuzz::read_file(input_name) != input) fuzz::finding("the input file was changed");
  if (fuzz::read_file(log_name) != earlier_log) fuzz::finding("the log file was changed");
  if (folder_names() != names) fuzz::finding("a file was created");
  return 0;
}
