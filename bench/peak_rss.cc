// peak_rss FILE PROGRAM [ARGS...]: runs PROGRAM and writes its peak resident size (kB) to FILE.
//
// Linux counts a process's peak from before its exec, so a child forked from a
// large process (the benchmark) reports the parent's size. This launcher is
// small when it forks, so the figure it reports is the program's own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 2;
  if (std::FILE* out = std::fopen(argv[1], "w")) {
    std::fprintf(out, "%ld\n", usage.ru_maxrss);
    std::fclose(out);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
