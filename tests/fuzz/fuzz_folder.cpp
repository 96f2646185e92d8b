#include "fuzz_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tessaro::fuzz {

namespace {

std::string folder;

void remove_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace

std::string enter_fresh_folder(std::string_view purpose) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / ("tessaro-" + std::string(purpose) + "-XXXXXX"))
          .string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    std::perror("fuzz folder");
    std::abort();
  }
  folder = pattern;
  std::atexit(remove_folder);
  return folder;
}

void write_file(const std::string& name, std::string_view bytes) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    std::perror(name.c_str());
    std::abort();
  }
  ::close(fd);
}

std::string read_file(const std::string& name) {
  std::string bytes;
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char block[4096];
  ssize_t got;
  while ((got = ::read(fd, block, sizeof block)) > 0)
    bytes.append(block, static_cast<std::size_t>(got));
  ::close(fd);
  return bytes;
}

void finding(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "\nFINDING: %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace tessaro::fuzz
