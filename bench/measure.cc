// Runs one command, or a pipeline of commands, and prints what it cost: wall time, the user and
// system CPU time of all its processes, and their peak resident memory.
//
//   measure <stdout-file> <command> [<arg> ...] [| <command> [<arg> ...] ...]
//
// The pipeline's standard input is /dev/null and its standard output goes to <stdout-file>
// ("-" for /dev/null); standard error is left alone. One line is printed:
//
//   <wall s> <user s> <sys s> <sum of peak RSS KiB> <largest peak RSS KiB> <status>
//
// status is 0 when every process exited with 0, else the first non-zero exit status (128 plus
// the signal number for a process killed by a signal).
//
// The bench script, written in Python, calls this rather than starting the commands itself: a
// process's peak RSS counts the memory of the process that forked it up to its exec, and a
// Python interpreter is larger than most of what is measured here.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kMaxStages = 8;

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <stdout-file> <command> [<arg> ...] [| <command> ...]\n",
                 argv[0]);
    return 2;
  }

  // Split the command line at "|" in place: each stage's argv ends where its "|" was.
  char** stages[kMaxStages];
  int stage_count = 0;
  stages[stage_count++] = argv + 2;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "|") != 0) continue;
    if (stage_count == kMaxStages || i + 1 == argc) {
      std::fprintf(stderr, "measure: bad pipeline\n");
      return 2;
    }
    argv[i] = nullptr;
    stages[stage_count++] = argv + i + 1;
  }

  const bool to_null = std::strcmp(argv[1], "-") == 0;
  const int sink = open(to_null ? "/dev/null" : argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int source = open("/dev/null", O_RDONLY);
  if (sink < 0 || source < 0) {
    std::fprintf(stderr, "measure: cannot open %s\n", argv[1]);
    return 2;
  }

  pid_t pids[kMaxStages];
  const double start = now();
  int input = source;
  for (int s = 0; s < stage_count; ++s) {
    int pipe_ends[2] = {-1, -1};
    const bool last = s == stage_count - 1;
    if (!last && pipe(pipe_ends) != 0) {
      std::perror("measure: pipe");
      return 2;
    }
    const int output = last ? sink : pipe_ends[1];
    pids[s] = fork();
    if (pids[s] == 0) {
      dup2(input, STDIN_FILENO);
      dup2(output, STDOUT_FILENO);
      // Every descriptor opened here is closed so that each pipe sees its end of file.
      for (int fd = 3; fd < 64; ++fd) close(fd);
      execvp(stages[s][0], stages[s]);
      std::fprintf(stderr, "measure: cannot run %s\n", stages[s][0]);
      _exit(127);
    }
    if (input != source) close(input);
    if (!last) close(pipe_ends[1]);
    input = last ? -1 : pipe_ends[0];
  }

  double user = 0;
  double sys = 0;
  long rss_sum = 0;
  long rss_max = 0;
  int status_out = 0;
  for (int s = 0; s < stage_count; ++s) {
    int status = 0;
    rusage usage;
    if (wait4(pids[s], &status, 0, &usage) < 0) {
      std::perror("measure: wait4");
      return 2;
    }
    user += seconds(usage.ru_utime);
    sys += seconds(usage.ru_stime);
    rss_sum += usage.ru_maxrss;
    if (usage.ru_maxrss > rss_max) rss_max = usage.ru_maxrss;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (status_out == 0) status_out = code;
  }
  const double wall = now() - start;
  std::printf("%.6f %.6f %.6f %ld %ld %d\n", wall, user, sys, rss_sum, rss_max, status_out);
  return 0;
}
