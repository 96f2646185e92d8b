// Runs the built program on folders of reference runs and compares, byte for byte, the exit
// status, standard output, standard error and every file left in the working folder.
//
// A case folder holds input/ (the files in the working folder before the run; absent for a run
// in an empty folder) and expected/ (exit_status, stdout, stderr and every file afterwards). The
// message line of a class F failure report is worded by each implementation, so only its "- "
// start is compared.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string program_path;
std::vector<fs::path> case_roots;
fs::path expected_failures_file;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Cases listed as still expected to fail, one name a line ('#' starts a comment).
std::set<std::string> expected_failures() {
  std::set<std::string> names;
  std::ifstream in(expected_failures_file);
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    line.erase(std::remove_if(line.begin(), line.end(), ::isspace), line.end());
    if (!line.empty()) names.insert(line);
  }
  return names;
}

struct Outcome {
  int exit_status = -1;
  bool timed_out = false;
  std::string stdout_bytes;
  std::string stderr_bytes;
  std::map<std::string, std::string> files;
};

// Runs the program in `folder` with no standard input; stops it after `limit`.
Outcome run_program(const fs::path& folder, const fs::path& scratch,
                    std::chrono::seconds limit = std::chrono::seconds(120)) {
  const fs::path out_path = scratch / "stdout";
  const fs::path err_path = scratch / "stderr";
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execl(program_path.c_str(), program_path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  Outcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      outcome.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.exit_status = 128 + WTERMSIG(status);
  outcome.stdout_bytes = read_file(out_path);
  outcome.stderr_bytes = read_file(err_path);
  for (const auto& entry : fs::directory_iterator(folder)) {
    outcome.files[entry.path().filename().string()] = read_file(entry.path());
  }
  return outcome;
}

// A class F report with its message line blanked out after "- ".
std::string without_file_failure_message(const std::string& report) {
  if (report.rfind("\r\nrun-time error F", 0) != 0) return report;
  const std::size_t dash = report.find("\r\n- ", 2);
  if (dash == std::string::npos) return report;
  const std::size_t end = report.find("\r\n", dash + 4);
  return report.substr(0, dash + 4) + "<message>" +
         (end == std::string::npos ? std::string() : report.substr(end));
}

// Compares one run with its expected outcome; returns the differences, empty when it matches.
std::string compare_case(const fs::path& case_dir) {
  const fs::path scratch = fs::temp_directory_path() / ("tessaro-case-" + std::to_string(getpid()) +
                                                        "-" + case_dir.filename().string());
  fs::remove_all(scratch);
  const fs::path folder = scratch / "work";
  fs::create_directories(folder);
  if (fs::exists(case_dir / "input")) {
    for (const auto& entry : fs::directory_iterator(case_dir / "input")) {
      fs::copy_file(entry.path(), folder / entry.path().filename());
    }
  }
  const Outcome outcome = run_program(folder, scratch);

  std::ostringstream diff;
  const fs::path expected = case_dir / "expected";
  if (outcome.timed_out) diff << "the program did not end in time\n";
  const int expected_status = std::stoi(read_file(expected / "exit_status"));
  if (outcome.exit_status != expected_status) {
    diff << "exit status " << outcome.exit_status << ", expected " << expected_status << "\n";
  }
  if (outcome.stdout_bytes != read_file(expected / "stdout")) {
    diff << "stdout differs: [" << outcome.stdout_bytes << "]\n";
  }
  if (without_file_failure_message(outcome.stderr_bytes) !=
      without_file_failure_message(read_file(expected / "stderr"))) {
    diff << "stderr differs: [" << outcome.stderr_bytes << "]\n";
  }
  std::set<std::string> expected_files;
  for (const auto& entry : fs::directory_iterator(expected)) {
    const std::string name = entry.path().filename().string();
    if (name == "exit_status" || name == "stdout" || name == "stderr") continue;
    expected_files.insert(name);
    auto found = outcome.files.find(name);
    if (found == outcome.files.end()) {
      diff << "missing file " << name << "\n";
    } else if (found->second != read_file(entry.path())) {
      diff << "file " << name << " differs:\n" << found->second << "\n";
    }
  }
  for (const auto& [name, bytes] : outcome.files) {
    if (!expected_files.count(name)) diff << "unexpected file " << name << "\n";
  }
  fs::remove_all(scratch);
  return diff.str();
}

std::vector<fs::path> all_cases() {
  std::vector<fs::path> cases;
  for (const auto& root : case_roots) {
    if (!fs::is_directory(root)) continue;
    // A root may be one case itself.
    if (fs::is_directory(root / "expected")) {
      cases.push_back(root);
      continue;
    }
    for (const auto& entry : fs::directory_iterator(root)) {
      if (fs::is_directory(entry.path() / "expected")) cases.push_back(entry.path());
    }
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

class ReferenceCase : public testing::TestWithParam<fs::path> {};

TEST_P(ReferenceCase, MatchesByteForByte) {
  const fs::path case_dir = GetParam();
  const std::string name = case_dir.filename().string();
  const std::string diff = compare_case(case_dir);
  if (expected_failures().count(name)) {
    EXPECT_FALSE(diff.empty()) << name << " passes now: take it off the list of expected failures";
    if (!diff.empty()) GTEST_SKIP() << "expected to fail for now";
  } else {
    EXPECT_TRUE(diff.empty()) << name << ":\n" << diff;
  }
}

std::string case_name(const testing::TestParamInfo<fs::path>& info) {
  std::string name =
      info.param.parent_path().filename().string() + "_" + info.param.filename().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceCase, testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ReferenceCase);

// Usage: case_runner PROGRAM EXPECTED_FAILURES CASE_ROOT... [gtest flags]
// The cases are found before the test framework is set up, since that is when the parameterised
// tests are generated.
int main(int argc, char** argv) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind("--", 0) != 0) positional.emplace_back(argv[i]);
  }
  if (positional.size() < 2) return 2;
  program_path = fs::absolute(positional[0]).string();
  expected_failures_file = positional[1];
  for (std::size_t i = 2; i < positional.size(); ++i) {
    case_roots.emplace_back(fs::absolute(positional[i]));
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
