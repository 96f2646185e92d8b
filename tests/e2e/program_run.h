// Runs the built program with arguments in a folder and takes what it leaves: exit status,
// standard output, standard error and every file of the folder.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tessaro::e2e {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Every file of a folder by name, with its bytes.
using FolderFiles = std::map<std::string, std::string>;
inline FolderFiles folder_files(const fs::path& folder) {
  FolderFiles files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = read_file(entry.path());
  }
  return files;
}

struct Outcome {
  int exit_status = -1;
  std::string stdout_bytes;
  std::string stderr_bytes;
};

// A fresh empty folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(fs::temp_directory_path() / ("tessaro-" + name + "-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline int wait_status(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

[[noreturn]] inline void exec_program(const std::string& program,
                                      const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// Runs the program in `folder` with no standard input.
inline Outcome run_in(const fs::path& folder, const std::string& program,
                      const std::vector<std::string>& args) {
  const fs::path out_path = folder.parent_path() / (folder.filename().string() + ".stdout");
  const fs::path err_path = folder.parent_path() / (folder.filename().string() + ".stderr");
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    exec_program(program, args);
  }
  Outcome outcome;
  outcome.exit_status = wait_status(child);
  outcome.stdout_bytes = read_file(out_path);
  outcome.stderr_bytes = read_file(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return outcome;
}

// Runs the program in `folder` with its standard error on a terminal; standard output goes to a
// file. Returns what the terminal received as stderr_bytes.
inline Outcome run_on_terminal(const fs::path& folder, const std::string& program,
                               const std::vector<std::string>& args) {
  const fs::path out_path = folder.parent_path() / (folder.filename().string() + ".stdout");
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    exec_program(program, args);
  }
  Outcome outcome;
  char block[4096];
  for (;;) {
    const ssize_t got = ::read(terminal, block, sizeof block);
    if (got <= 0) break;
    outcome.stderr_bytes.append(block, static_cast<std::size_t>(got));
  }
  ::close(terminal);
  outcome.exit_status = wait_status(child);
  outcome.stdout_bytes = read_file(out_path);
  fs::remove(out_path);
  return outcome;
}

// A comma-separated table with a header row (RFC 4180: quoted fields may hold commas and doubled
// quotes), its fields by row and column name.
struct CsvTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;

  bool has_column(const std::string& name) const {
    for (const auto& column : columns) {
      if (column == name) return true;
    }
    return false;
  }
  const std::string& text(std::size_t row, const std::string& name) const {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c] == name) return rows.at(row).at(c);
    }
    ADD_FAILURE() << "no column " << name;
    static const std::string none;
    return none;
  }
  double number(std::size_t row, const std::string& name) const {
    return std::strtod(text(row, name).c_str(), nullptr);
  }
};

// The fields of one row of a table.
inline std::vector<std::string> csv_fields(const std::string& row) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t k = 0; k < row.size(); ++k) {
    const char c = row[k];
    if (quoted && c == '"' && k + 1 < row.size() && row[k + 1] == '"') {
      fields.back() += '"';
      ++k;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The lines of a text, without their line ends (LF or CR LF).
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline CsvTable read_csv_table(const fs::path& path) {
  CsvTable table;
  const std::vector<std::string> lines = lines_of(read_file(path));
  if (lines.empty()) return table;
  table.columns = csv_fields(lines[0]);
  for (std::size_t k = 1; k < lines.size(); ++k) {
    if (!lines[k].empty()) table.rows.push_back(csv_fields(lines[k]));
  }
  return table;
}

}  // namespace tessaro::e2e
