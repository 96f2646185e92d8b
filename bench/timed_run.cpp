// timed_run STDERR-FILE COMMAND [ARGUMENT...]: runs the command in the working folder with its
// standard output discarded and its standard error to STDERR-FILE, and prints its wall
// time in seconds (the monotonic clock around its start and end) and its peak resident memory in
// kB, as the system accounts it to the finished child. Exits with 1 if the command could not be
// started or did not end normally; the command's own exit status is printed third.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

extern char** environ;

namespace {

double now_seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: timed_run STDERR-FILE COMMAND [ARGUMENT...]\n");
    return 1;
  }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, argv[1], O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  const double start = now_seconds();
  pid_t child = 0;
  const int failed = posix_spawnp(&child, argv[2], &files, nullptr, argv + 2, environ);
  posix_spawn_file_actions_destroy(&files);
  if (failed != 0) {
    std::fprintf(stderr, "timed_run: cannot start %s\n", argv[2]);
    return 1;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) return 1;
  const double seconds = now_seconds() - start;
  std::printf("%.4f %ld %d\n", seconds, usage.ru_maxrss, WEXITSTATUS(status));
  return 0;
}
