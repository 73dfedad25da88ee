// usermgr-bench-time REPS CMD [ARGS...] [--- CMD [ARGS...]]...: runs each
// command once to warm up, then REPS rounds of every command in turn (so
// that a change of the machine's load falls on all of them alike), stdout
// to /dev/null, and prints per command, in order, the medians "WALL_MS
// CPU_MS RSS_KB": wall time from fork to reaping, user + system time and
// peak RSS of the command and every process it waited for (wait4's
// accounting). A timer of its own, because perf stat or time(1) around the
// command put their own start-up, some 20 ms, into its wall time. Exits 1
// when a run fails, with the warm-up's stderr shown when that one did.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

struct Run {
  double wall_ms, cpu_ms, rss_kb;
};

// stderr goes to err_fd (the warm-up's to a file shown if it fails).
bool RunOnce(char** argv, int err_fd, Run* out) {
  double t0 = NowMs();
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(err_fd >= 0 ? err_fd : null, 2);
    execvp(argv[0], argv);
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid) return false;
  out->wall_ms = NowMs() - t0;
  out->cpu_ms = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
  out->rss_kb = double(ru.ru_maxrss);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::atoi(argv[1]) < 1) {
    std::fprintf(stderr, "usage: usermgr-bench-time REPS CMD [ARGS...] [--- CMD [ARGS...]]...\n");
    return 2;
  }
  int reps = std::atoi(argv[1]);
  // Each command's words, null-terminated in place of the separators.
  std::vector<char**> cmds{argv + 2};
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "---") == 0) {
      argv[i] = nullptr;
      cmds.push_back(argv + i + 1);
    }
  }
  for (char** c : cmds) {
    if (c[0] == nullptr) {
      std::fprintf(stderr, "usermgr-bench-time: an empty command\n");
      return 2;
    }
  }
  Run r;
  for (char** c : cmds) {
    FILE* err = std::tmpfile();
    if (!err || !RunOnce(c, fileno(err), &r)) {
      if (err) {
        std::rewind(err);
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, err)) > 0;) std::fwrite(buf, 1, n, stderr);
      }
      std::fprintf(stderr, "usermgr-bench-time: %s failed\n", c[0]);
      return 1;
    }
    std::fclose(err);
  }
  std::vector<std::vector<double>> wall(cmds.size()), cpu(cmds.size()), rss(cmds.size());
  for (int i = 0; i < reps; ++i) {
    for (size_t k = 0; k < cmds.size(); ++k) {
      if (!RunOnce(cmds[k], -1, &r)) {
        std::fprintf(stderr, "usermgr-bench-time: %s failed on run %d\n", cmds[k][0], i + 1);
        return 1;
      }
      wall[k].push_back(r.wall_ms);
      cpu[k].push_back(r.cpu_ms);
      rss[k].push_back(r.rss_kb);
    }
  }
  for (size_t k = 0; k < cmds.size(); ++k)
    std::printf("%.2f %.2f %.0f\n", Median(wall[k]), Median(cpu[k]), Median(rss[k]));
  return 0;
}
