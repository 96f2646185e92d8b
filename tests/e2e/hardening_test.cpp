// Runs the built program where its files cannot be opened or written, on inputs too large to
// keep in the repository (made here), and on networks that must not run for ever. Every run
// starts in a fresh folder that holds a log file and a results file from an earlier run, and
// ends with the folder checked byte for byte.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* program = TESSARO_PROGRAM;

const std::string input_name = "Tessaro-net.txt";
const std::string log_name = "Log file.txt";
const std::string results_name = "Tessaro-res.txt";

// The example network and the results file it gives (tolerance 0.0001, iteration limit 100).
const std::string example_header = "1 0.000045\n2 0.001\n3 1000.0\n4 9.81\n5 0.0001\n6 100\n7\n";
const std::string example_branches =
    "1 1 'MAIN' 1 200000.0 2 -1.0 0.10 100.0 1\n"
    "2 2 'OUTLET' 2 -1.0 3 100000.0 0.08 50.0 1\n"
    "3 3 'FEED' 2 -0.01 4 0.01 0.05 20.0 2\n0\n";
const std::string example_elevations = "1 1 0.0\n2 2 5.0\n3 3 10.0\n4 4 0.0\n0\n";
const std::string example = example_header + example_branches + example_elevations;
const std::string example_results =
    " Branch No.  Branch Name    Flowrate  Pressure Difference\r\n"
    "    1          MAIN         .502E-02      .440E+04     Flow direction towards node            "
    "1\r\n"
    "    2          OUTLET       .489E-02      .630E+04     Flow direction from node               "
    "2\r\n"
    "    3          FEED         .100E-01      .106E+06     Flow direction towards node            "
    "2\r\n"
    " \r\n"
    "  Node     Pressure\r\n"
    "    1      .200E+06\r\n"
    "    2      .155E+06\r\n"
    "    3      .100E+06\r\n"
    "    4      .310E+06\r\n";

const std::string earlier_log =
    " Calculation processed successfully\r\n an earlier run's second line\r\n";
const std::string earlier_results = example_results;
const std::string success_log = " Calculation processed successfully\r\n";
const std::string stop_line = "Stop - Program terminated.\r\n";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// How the program's process is set up before it starts.
struct ProcessSetup {
  rlim_t file_size = RLIM_INFINITY;      // largest file it may write (SIGXFSZ ignored)
  rlim_t open_files = RLIM_INFINITY;     // descriptors it may hold
  rlim_t address_space = RLIM_INFINITY;  // memory it may map
  bool as_nobody = false;                // without the rights of root, if it has them
  bool folder_removed = false;           // the working folder is deleted under it
  std::chrono::seconds time_limit{60};
};

struct Outcome {
  int exit_status = -1;
  bool timed_out = false;
  std::string stdout_bytes;
  std::string stderr_bytes;
};

std::optional<passwd> nobody() {
  const passwd* entry = getpwnam("nobody");
  if (entry == nullptr) return std::nullopt;
  return *entry;
}

[[noreturn]] void start_program(const fs::path& folder, const ProcessSetup& setup, int out,
                                int err) {
  const int in = open("/dev/null", O_RDONLY);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  // The program starts with the three standard streams and nothing else.
  close_range(STDERR_FILENO + 1, ~0u, 0);
  if (chdir(folder.c_str()) != 0) _exit(126);
  if (setup.folder_removed && rmdir(folder.c_str()) != 0) _exit(126);
  // An ignored signal stays ignored across exec: a write past the size limit then fails with
  // EFBIG instead of ending the process.
  signal(SIGXFSZ, SIG_IGN);
  const rlimit file_size{setup.file_size, setup.file_size};
  const rlimit address_space{setup.address_space, setup.address_space};
  setrlimit(RLIMIT_FSIZE, &file_size);
  setrlimit(RLIMIT_AS, &address_space);
  // Opened while the rights are still there and run through the descriptor, so that the folders
  // above the program need not be open to nobody.
  const int program_fd = open(program, O_RDONLY | O_CLOEXEC);
  if (program_fd < 0) _exit(126);
  if (setup.as_nobody && geteuid() == 0) {
    const passwd user = *nobody();
    if (setgroups(0, nullptr) != 0 || setgid(user.pw_gid) != 0 || setuid(user.pw_uid) != 0) {
      _exit(126);
    }
  }
  // Last, so that nothing above needs a descriptor more.
  const rlimit open_files{setup.open_files, setup.open_files};
  setrlimit(RLIMIT_NOFILE, &open_files);
  char* const arguments[] = {const_cast<char*>(program), nullptr};
  fexecve(program_fd, arguments, environ);
  _exit(127);
}

// Runs the program in `folder`; its console output goes through pipes, which no file size
// limit touches. A run past the time limit is killed and marked.
Outcome run_program(const fs::path& folder, const ProcessSetup& setup = {}) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
  const pid_t child = fork();
  if (child == 0) start_program(folder, setup, out[1], err[1]);
  close(out[1]);
  close(err[1]);

  Outcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + setup.time_limit;
  pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&outcome.stdout_bytes, &outcome.stderr_bytes};
  int open_streams = 2;
  while (open_streams > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      outcome.timed_out = true;
      break;
    }
    if (poll(streams, 2, 20) <= 0) continue;
    for (int s = 0; s < 2; ++s) {
      if (streams[s].fd < 0 || streams[s].revents == 0) continue;
      char block[4096];
      const ssize_t got = read(streams[s].fd, block, sizeof block);
      if (got > 0) {
        texts[s]->append(block, static_cast<std::size_t>(got));
      } else {
        close(streams[s].fd);
        streams[s].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& stream : streams) {
    if (stream.fd >= 0) close(stream.fd);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.exit_status = 128 + WTERMSIG(status);
  return outcome;
}

// The first lines of a class F report: the message line after "- " is each program's own.
std::string report_start(int number, const std::string& tag) {
  return "\r\nrun-time error F" + std::to_string(number) + tag + "\r\n- ";
}

testing::AssertionResult is_report(const std::string& report, int number, const std::string& tag) {
  const std::string start = report_start(number, tag);
  if (report.rfind(start, 0) == 0 && report.size() > start.size() + 2 &&
      report.find("\r\n", start.size()) == report.size() - 2) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure()
         << "report [" << report << "], expected it to start [" << start << "]";
}

constexpr fs::perms read_write = fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::group_write |
                                 fs::perms::others_read | fs::perms::others_write;

// Each test works in a fresh folder that everyone may use (the program may run as nobody),
// holding the input and the files of an earlier run.
class HardeningTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tessaro-hardening-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::permissions(folder_, fs::perms::all);
    for (const std::string& name : {log_name, results_name}) {
      write_file(folder_ / name, name == log_name ? earlier_log : earlier_results);
      fs::permissions(folder_ / name, read_write);
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  fs::path folder_;
};

// The run ended with a failure report and left every file as it found it.
void expect_failure_keeping_files(const Outcome& outcome, int number, const std::string& tag,
                                  const fs::path& folder) {
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.stdout_bytes, "");
  EXPECT_TRUE(is_report(outcome.stderr_bytes, number, tag));
  if (fs::is_regular_file(folder / log_name)) {
    EXPECT_EQ(read_file(folder / log_name), earlier_log);
  }
  if (fs::is_regular_file(folder / results_name)) {
    EXPECT_EQ(read_file(folder / results_name), earlier_results);
  }
}

// A folder where the program expects a file, and a file it may not touch: the open fails with
// the file's name, after the program has tried every access mode. Files without permission are
// opened as nobody when the tests run as root, since root may open any file.
TEST_F(HardeningTest, FileThatCannotBeOpenedEndsTheRunNamingIt) {
  const bool can_lose_rights = geteuid() != 0 || nobody().has_value();
  for (const std::string& name : {log_name, input_name, results_name}) {
    for (const bool as_folder : {true, false}) {
      SCOPED_TRACE(name + (as_folder ? " as a folder" : " without permission"));
      if (!as_folder && !can_lose_rights) continue;
      TearDown();
      SetUp();
      write_file(folder_ / input_name, example);
      if (as_folder) {
        fs::remove(folder_ / name);
        fs::create_directory(folder_ / name);
      } else {
        fs::permissions(folder_ / name, fs::perms::none);
      }
      ProcessSetup setup;
      setup.as_nobody = !as_folder;
      const Outcome outcome = run_program(folder_, setup);
      if (!as_folder) fs::permissions(folder_ / name, fs::perms::owner_read);
      expect_failure_keeping_files(outcome, 6414, ": OPEN(" + name + ")", folder_);
      if (name != input_name) {
        EXPECT_EQ(read_file(folder_ / input_name), example);
      }
    }
  }
  if (!can_lose_rights) GTEST_SKIP() << "running as root with no user nobody to run as";
}

// Opening tries read and write, then read only, then write only: an input file that may only be
// read and a log file that may only be written serve the run; a results file that may only be
// read opens, and the first write to it fails.
TEST_F(HardeningTest, EachFileOpensInTheAccessModeItAllows) {
  if (geteuid() == 0 && !nobody()) GTEST_SKIP() << "running as root with no user nobody";
  ProcessSetup setup;
  setup.as_nobody = true;
  write_file(folder_ / input_name, example);
  fs::permissions(folder_ / input_name, fs::perms::owner_read | fs::perms::others_read);
  fs::permissions(folder_ / log_name, fs::perms::owner_write | fs::perms::others_write);
  fs::remove(folder_ / results_name);
  Outcome outcome = run_program(folder_, setup);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.stdout_bytes + outcome.stderr_bytes, "");
  EXPECT_EQ(read_file(folder_ / results_name), example_results);
  fs::permissions(folder_ / log_name, fs::perms::owner_read);
  EXPECT_EQ(read_file(folder_ / log_name), success_log);

  fs::permissions(folder_ / log_name, read_write);
  write_file(folder_ / log_name, earlier_log);
  write_file(folder_ / results_name, earlier_results);
  fs::permissions(folder_ / results_name, fs::perms::owner_read | fs::perms::others_read);
  outcome = run_program(folder_, setup);
  expect_failure_keeping_files(outcome, 6420, ": WRITE(" + results_name + ")", folder_);
}

// Opening a file in a working folder that no longer exists: no such path. Opening a file with
// every descriptor the process may hold in use: too many open files (the log file takes the last
// one, the input file finds none).
TEST_F(HardeningTest, OpenFailureNumbersFollowTheCause) {
  write_file(folder_ / input_name, example);
  ProcessSetup removed;
  removed.folder_removed = true;
  fs::remove(folder_ / log_name);
  fs::remove(folder_ / results_name);
  fs::remove(folder_ / input_name);
  const Outcome no_folder = run_program(folder_, removed);
  EXPECT_EQ(no_folder.exit_status, 1);
  EXPECT_TRUE(is_report(no_folder.stderr_bytes, 6416, ": OPEN(Log file.txt)"));

  SetUp();
  write_file(folder_ / input_name, example);
  ProcessSetup few_descriptors;
  few_descriptors.open_files = 4;
  const Outcome outcome = run_program(folder_, few_descriptors);
  expect_failure_keeping_files(outcome, 6417, ": OPEN(Tessaro-net.txt)", folder_);
}

// A full disk, made with a limit on the size of the files the process writes: the write fails
// with the file's name and status 1, and the run never reports success or a stop. The file holds
// what was written before the limit.
TEST_F(HardeningTest, WriteThatFailsEndsTheRunNamingTheFile) {
  write_file(folder_ / input_name, example);
  ProcessSetup full;
  full.file_size = 100;
  Outcome outcome = run_program(folder_, full);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.stdout_bytes, "");
  EXPECT_TRUE(is_report(outcome.stderr_bytes, 6420, ": WRITE(Tessaro-res.txt)"));
  EXPECT_EQ(read_file(folder_ / results_name), example_results.substr(0, 100));
  EXPECT_EQ(read_file(folder_ / log_name), earlier_log);

  // A check that fails: its sentence cannot be logged, so there is no stop line either.
  write_file(folder_ / results_name, earlier_results);
  write_file(folder_ / input_name, example_header + "1 1 'MAIN' 1 1 2 -1 0.1 100 3\n0\n");
  full.file_size = 10;
  outcome = run_program(folder_, full);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.stdout_bytes, "");
  EXPECT_TRUE(is_report(outcome.stderr_bytes, 6420, ": WRITE(Log file.txt)"));
  EXPECT_EQ(read_file(folder_ / log_name), std::string(" Check definition").substr(0, 10));
  EXPECT_EQ(read_file(folder_ / results_name), earlier_results);
}

// Tables that do not fit in the memory the process may map: a file of two million key-only
// branch lines asks for about 200 MB of branch tables after pass 1.
TEST_F(HardeningTest, TablesBeyondTheMemoryEndTheRun) {
#ifdef TESSARO_SANITIZED
  GTEST_SKIP() << "the address sanitizer maps more memory than the limit allows";
#endif
  std::string lines;
  for (int line = 0; line < 2'000'000; ++line) lines += "1\n";
  write_file(folder_ / input_name, example_header + lines + "0\n" + example_elevations);
  ProcessSetup small;
  small.address_space = 128u << 20;
  const Outcome outcome = run_program(folder_, small);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.stdout_bytes, "");
  EXPECT_EQ(outcome.stderr_bytes.rfind("\r\nrun-time error F6772\r\n- ", 0), 0u)
      << outcome.stderr_bytes;
  EXPECT_EQ(read_file(folder_ / log_name), earlier_log);
  EXPECT_EQ(read_file(folder_ / results_name), earlier_results);
}

// Inputs far larger than any real network file, read to the same results as the example: a
// header line carrying a comment of 1 MB, a value of 260 characters (the longest a plain value
// may be), a quoted name of 10,000 characters (kept in 10), and 10 MB of zero-key lines between
// the two blocks, which every pass reads through. A value of 10,000 digits is too long.
TEST_F(HardeningTest, LargeInputsReadAsTheirSmallEquivalents) {
  const std::string megabyte_comment(1 << 20, 'x');
  std::string long_value = "0.000045";
  long_value.resize(260, '0');
  const std::string long_name = "'MAIN" + std::string(10'000 - 4, ' ') + "'";
  std::string zero_lines;
  for (int line = 0; line < 5'000'000; ++line) zero_lines += "0\n";
  const std::string variants[] = {
      "1 0.000045 " + megabyte_comment + "\n" + example.substr(example.find('\n') + 1),
      "1 " + long_value + "\n" + example.substr(example.find('\n') + 1),
      example_header + example_branches.substr(0, 4) + long_name + example_branches.substr(10) +
          example_elevations,
      example_header + example_branches + zero_lines + example_elevations};
  for (const std::string& input : variants) {
    SCOPED_TRACE(input.substr(0, 60));
    write_file(folder_ / input_name, input);
    write_file(folder_ / log_name, earlier_log);
    write_file(folder_ / results_name, earlier_results + "an earlier line\r\n");
    ProcessSetup quick;
    quick.time_limit = std::chrono::seconds(30);
    const Outcome outcome = run_program(folder_, quick);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.stdout_bytes + outcome.stderr_bytes, "");
    EXPECT_EQ(read_file(folder_ / log_name), success_log);
    EXPECT_EQ(read_file(folder_ / results_name), example_results);
  }

  write_file(folder_ / input_name, "1 " + std::string(10'000, '1') + "\n" + example);
  write_file(folder_ / log_name, earlier_log);
  write_file(folder_ / results_name, earlier_results);
  expect_failure_keeping_files(run_program(folder_), 6105, ": READ(Tessaro-net.txt)", folder_);
}

// Networks that would run for ever without the program's own bounds must stop within seconds:
// a node that no branch names (the results walk could never reach it), and two pipes whose
// Reynolds numbers flip between laminar and turbulent flow after every friction update, with the
// largest iteration limit the file can give.
TEST_F(HardeningTest, EndlessNetworksStopWithinSeconds) {
  const struct {
    std::string input;
    std::string log;
  } endless[] = {
      {example_header +
           "1 1 'MAIN' 1 200000.0 2 -1.0 0.10 100.0 1\n"
           "2 2 'OUTLET' 2 -1.0 4 100000.0 0.08 50.0 1\n0\n" +
           example_elevations,
       " Node not connected to any branch:          3\r\n"},
      {"1 0\n2 1.118e-6\n3 1\n4 1\n5 1.0e-6\n6 2147483647\n7\n"
       "1 1 'UP' 1 30 2 -1 0.01 100 1\n2 2 'DOWN' 2 -1 3 10 0.01 100 1\n0\n"
       "1 1 0\n2 2 0\n3 3 0\n0\n",
       " Maximum iterations exceeded\r\n"},
  };
  for (const auto& network : endless) {
    SCOPED_TRACE(network.log);
    write_file(folder_ / input_name, network.input);
    write_file(folder_ / log_name, earlier_log);
    ProcessSetup bounded;
    bounded.time_limit = std::chrono::seconds(5);
    const Outcome outcome = run_program(folder_, bounded);
    EXPECT_FALSE(outcome.timed_out) << "the program did not end within 5 seconds";
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.stdout_bytes, stop_line);
    EXPECT_EQ(outcome.stderr_bytes, "");
    EXPECT_EQ(read_file(folder_ / log_name), network.log);
    EXPECT_EQ(read_file(folder_ / results_name), earlier_results);
  }
}

}  // namespace
