/* Times whole processes: for every benchmark of a plan, runs the command
 * line the given number of times and prints one record per run with wall
 * time, CPU time (user + system) and peak resident memory of the child.
 *
 * Built static and small on purpose: the kernel counts the memory a child
 * had before its exec into its peak, so the parent's own size is a floor
 * under every measurement. Children start through posix_spawn (a vfork),
 * which also keeps the start-up cost that the parent adds low and equal for
 * every command.
 *
 * Plan: one benchmark per line, fields separated by TAB:
 *   NAME  RUNS  STDIN  STDOUT  CWD  ARGV0  ARGV1 ...
 * STDIN and STDOUT are paths ("-" means /dev/null). CWD is "." (unchanged),
 * a directory, or "fresh:DIR": DIR is created (mode 0755) before every run,
 * the child runs inside it, and it is removed again after the run, outside
 * the timed span.
 *
 * Benchmarks run interleaved, one run of each per round, so that a change
 * of machine load hits every benchmark alike. Two untimed warm-up runs of
 * each come first. Any exit status other than 0 stops everything.
 *
 * Output: NAME TAB RUN TAB WALL_NS TAB CPU_US TAB MAXRSS_KB, one line a run.
 *
 * With -m, each benchmark runs once more, stopped (ptrace) just before it
 * exits, to split its resident memory: the output is then NAME TAB HWM_KB
 * TAB RSS_KB TAB ANON_KB TAB FILE_KB, from /proc/PID/status and
 * /proc/PID/smaps_rollup (file-backed pages are mostly the C library's code,
 * shared with every other process).
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <ftw.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

enum { max_benchmarks = 48, max_words = 12, line_size = 1024 };

struct benchmark {
  char line[line_size];
  char *name;
  long runs;
  char *stdin_path;
  char *stdout_path;
  char *cwd;
  char *fresh_dir;
  char *argv[max_words + 1];
};

static struct benchmark plan[max_benchmarks];
static int plan_size;

static void fail(const char *what, const char *detail) {
  fprintf(stderr, "runner: %s: %s\n", what, detail);
  exit(2);
}

static void read_plan(const char *path) {
  FILE *file = fopen(path, "r");
  if (!file) fail("cannot open plan", path);
  char line[line_size];
  while (fgets(line, sizeof line, file)) {
    if (line[0] == '\n' || line[0] == '#') continue;
    if (plan_size == max_benchmarks) fail("too many benchmarks", path);
    struct benchmark *b = &plan[plan_size++];
    line[strcspn(line, "\n")] = 0;
    strcpy(b->line, line);
    char *fields[max_words + 5];
    int n = 0;
    for (char *state = b->line, *f; (f = strsep(&state, "\t")) != NULL;) {
      if (n == max_words + 5) fail("too many words", line);
      fields[n++] = f;
    }
    if (n < 6) fail("short plan line", line);
    b->name = fields[0];
    b->runs = strtol(fields[1], NULL, 10);
    b->stdin_path = strcmp(fields[2], "-") == 0 ? "/dev/null" : fields[2];
    b->stdout_path = strcmp(fields[3], "-") == 0 ? "/dev/null" : fields[3];
    b->cwd = fields[4];
    b->fresh_dir = strncmp(b->cwd, "fresh:", 6) == 0 ? b->cwd + 6 : NULL;
    if (b->fresh_dir) b->cwd = b->fresh_dir;
    for (int i = 5; i < n; ++i) b->argv[i - 5] = fields[i];
    b->argv[n - 5] = NULL;
  }
  fclose(file);
}

static int remove_entry(const char *path, const struct stat *status, int type, struct FTW *ftw) {
  (void)status, (void)type, (void)ftw;
  return remove(path);
}

static void remove_tree(const char *dir) {
  if (nftw(dir, remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0) fail("cannot remove", dir);
}

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* One run; returns the wall time and fills the child's resource usage. */
static long long run_once(struct benchmark *b, struct rusage *usage) {
  if (b->fresh_dir) {
    if (mkdir(b->fresh_dir, 0755) != 0 || chmod(b->fresh_dir, 0755) != 0)
      fail("cannot create stage", b->fresh_dir);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, b->stdin_path, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, b->stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (strcmp(b->cwd, ".") != 0) posix_spawn_file_actions_addchdir_np(&actions, b->cwd);

  long long start = now_ns();
  pid_t pid;
  if (posix_spawn(&pid, b->argv[0], &actions, NULL, b->argv, environ) != 0)
    fail("cannot start", b->argv[0]);
  int status;
  if (wait4(pid, &status, 0, usage) != pid) fail("wait failed", b->name);
  long long wall = now_ns() - start;

  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("command failed", b->name);
  if (b->fresh_dir) remove_tree(b->fresh_dir);
  return wall;
}

/* The value in kB of the line that starts with KEY in a /proc file. */
static long proc_value(pid_t pid, const char *file, const char *key) {
  char path[64], line[256];
  snprintf(path, sizeof path, "/proc/%d/%s", (int)pid, file);
  FILE *f = fopen(path, "r");
  if (!f) fail("cannot read", path);
  long value = -1;
  size_t key_length = strlen(key);
  while (fgets(line, sizeof line, f))
    if (strncmp(line, key, key_length) == 0) value = strtol(line + key_length, NULL, 10);
  fclose(f);
  if (value < 0) fail("no such field", key);
  return value;
}

static void memory_once(struct benchmark *b) {
  if (b->fresh_dir && (mkdir(b->fresh_dir, 0755) != 0 || chmod(b->fresh_dir, 0755) != 0))
    fail("cannot create stage", b->fresh_dir);
  pid_t pid = fork();
  if (pid < 0) fail("fork", b->name);
  if (pid == 0) {
    int in = open(b->stdin_path, O_RDONLY);
    int out = open(b->stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    if (strcmp(b->cwd, ".") != 0 && chdir(b->cwd) != 0) _exit(126);
    ptrace(PTRACE_TRACEME, 0, NULL, NULL);
    execv(b->argv[0], b->argv);
    _exit(127);
  }
  int status;
  if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) fail("no exec stop", b->name);
  ptrace(PTRACE_SETOPTIONS, pid, NULL, (void *)(long)PTRACE_O_TRACEEXIT);
  ptrace(PTRACE_CONT, pid, NULL, NULL);
  for (;;) {
    if (waitpid(pid, &status, 0) != pid) fail("wait failed", b->name);
    if (WIFEXITED(status) || WIFSIGNALED(status)) fail("exited untraced", b->name);
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) break;
    ptrace(PTRACE_CONT, pid, NULL, (void *)(long)WSTOPSIG(status));
  }
  long hwm = proc_value(pid, "status", "VmHWM:");
  long rss = proc_value(pid, "smaps_rollup", "Rss:");
  long anon = proc_value(pid, "smaps_rollup", "Anonymous:");
  ptrace(PTRACE_CONT, pid, NULL, NULL);
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    fail("command failed", b->name);
  if (b->fresh_dir) remove_tree(b->fresh_dir);
  printf("%s\t%ld\t%ld\t%ld\t%ld\n", b->name, hwm, rss, anon, rss - anon);
}

int main(int argc, char **argv) {
  int memory = argc == 3 && strcmp(argv[1], "-m") == 0;
  if (argc != 2 && !memory) {
    fprintf(stderr, "usage: runner [-m] PLAN\n");
    return 2;
  }
  read_plan(argv[argc - 1]);
  if (memory) {
    for (int i = 0; i < plan_size; ++i) memory_once(&plan[i]);
    return 0;
  }
  struct rusage usage;
  for (int warm = 0; warm < 2; ++warm)
    for (int i = 0; i < plan_size; ++i) run_once(&plan[i], &usage);

  long most = 0;
  for (int i = 0; i < plan_size; ++i)
    if (plan[i].runs > most) most = plan[i].runs;
  for (long round = 0; round < most; ++round) {
    for (int i = 0; i < plan_size; ++i) {
      if (round >= plan[i].runs) continue;
      long long wall = run_once(&plan[i], &usage);
      long long cpu = (long long)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec +
                      (long long)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec;
      printf("%s\t%ld\t%lld\t%lld\t%ld\n", plan[i].name, round, wall, cpu, usage.ru_maxrss);
    }
    fflush(stdout);
  }
  return 0;
}
