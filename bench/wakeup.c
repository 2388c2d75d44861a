// SPDX-License-Identifier: Apache-2.0
/* wakeup latency <tool> <document> <trials>
 * wakeup idle <tool> <document> <seconds>
 *
 * Runs vxm-tunnel (<tool>, on the store that VXM_STORE names) to time how
 * `wait` hears of a tunnel going down.
 *
 * latency: each trial starts the document's site, starts `wait`, lets it
 * settle in its loop, then runs `stop`, and takes the time from the moment
 * `stop` has exited to the moment `wait` has exited (negative when `wait`
 * was already gone). Prints the median, the lowest and the highest, in
 * microseconds.
 *
 * idle: starts the site and `wait`, lets it settle, then reports the CPU time
 * `wait` used and the times it was woken over <seconds> of nothing happening;
 * stops the site at the end. */

#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void die(const char* what) {
    fprintf(stderr, "wakeup: %s: %s\n", what, strerror(errno));
    exit(1);
}

/* Starts argv with standard output and input on /dev/null. */
static pid_t spawn(char* const argv[]) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int error = posix_spawn(&pid, argv[0], &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        die(argv[0]);
    }
    return pid;
}

static int reap(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) die("waitpid");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

static void run(char* const argv[]) {
    if (reap(spawn(argv)) != 0) {
        fprintf(stderr, "wakeup: %s %s failed\n", argv[0], argv[1]);
        exit(1);
    }
}

/* True once the process holds an inotify descriptor and sleeps: `wait` is
 * then in its loop, watching. */
static int watching(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd", (int)pid);
    DIR* folder = opendir(path);
    if (folder == NULL) return 0;
    int found = 0;
    struct dirent* entry;
    while (!found && (entry = readdir(folder)) != NULL) {
        char link[512], target[64];
        snprintf(link, sizeof link, "%s/%s", path, entry->d_name);
        ssize_t size = readlink(link, target, sizeof target - 1);
        if (size > 0) {
            target[size] = '\0';
            found = strcmp(target, "anon_inode:inotify") == 0;
        }
    }
    closedir(folder);
    if (!found) return 0;
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE* stat = fopen(path, "r");
    if (stat == NULL) return 0;
    char state = '?';
    int fields = fscanf(stat, "%*d (%*[^)]) %c", &state);
    fclose(stat);
    return fields == 1 && state == 'S';
}

static void settle(pid_t pid) {
    long long deadline = now_ns() + 5000000000LL;
    while (!watching(pid)) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fputs("wakeup: wait ended before watching\n", stderr);
            exit(1);
        }
        if (now_ns() > deadline) {
            fputs("wakeup: wait never settled\n", stderr);
            exit(1);
        }
        usleep(1000);
    }
    usleep(5000);
}

static int pidfd(pid_t pid) {
    int fd = (int)syscall(SYS_pidfd_open, pid, 0);
    if (fd < 0) die("pidfd_open");
    return fd;
}

static int by_value(const void* a, const void* b) {
    long long x = *(const long long*)a, y = *(const long long*)b;
    return (x > y) - (x < y);
}

static int latency(char* tool, char* document, int trials) {
    char* start[] = {tool, "start", "--config", document, NULL};
    char* wait[] = {tool, "wait", NULL};
    char* stop[] = {tool, "stop", NULL};
    long long* samples = calloc((size_t)trials, sizeof *samples);
    if (samples == NULL) die("calloc");
    for (int trial = 0; trial < trials; ++trial) {
        run(start);
        pid_t waiting = spawn(wait);
        settle(waiting);
        pid_t stopping = spawn(stop);
        struct pollfd fds[2] = {{pidfd(stopping), POLLIN, 0}, {pidfd(waiting), POLLIN, 0}};
        long long stopped = -1, woke = -1;
        while (stopped < 0 || woke < 0) {
            if (poll(fds, 2, 10000) <= 0) {
                fputs("wakeup: wait did not end within 10 s of stop\n", stderr);
                return 1;
            }
            long long at = now_ns();
            if (stopped < 0 && fds[0].revents != 0) stopped = at, fds[0].fd = -fds[0].fd - 1;
            if (woke < 0 && fds[1].revents != 0) woke = at, fds[1].fd = -fds[1].fd - 1;
        }
        close(-fds[0].fd - 1);
        close(-fds[1].fd - 1);
        if (reap(stopping) != 0 || reap(waiting) != 0) {
            fputs("wakeup: stop or wait failed\n", stderr);
            return 1;
        }
        samples[trial] = (woke - stopped) / 1000;
    }
    qsort(samples, (size_t)trials, sizeof *samples, by_value);
    long long median = trials % 2 ? samples[trials / 2] : (samples[trials / 2 - 1] + samples[trials / 2]) / 2;
    printf("median_us=%lld min_us=%lld max_us=%lld trials=%d\n", median, samples[0], samples[trials - 1], trials);
    free(samples);
    return 0;
}

/* CPU time in nanoseconds and voluntary context switches of a process. */
static void usage_of(pid_t pid, long long* cpu_ns, long long* switches) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/schedstat", (int)pid);
    FILE* file = fopen(path, "r");
    if (file == NULL || fscanf(file, "%lld", cpu_ns) != 1) die("schedstat");
    fclose(file);
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    file = fopen(path, "r");
    if (file == NULL) die("status");
    char line[256];
    *switches = -1;
    while (fgets(line, sizeof line, file) != NULL) {
        if (sscanf(line, "voluntary_ctxt_switches: %lld", switches) == 1) break;
    }
    fclose(file);
}

static int idle(char* tool, char* document, int seconds) {
    char* start[] = {tool, "start", "--config", document, NULL};
    char* wait[] = {tool, "wait", NULL};
    char* stop[] = {tool, "stop", NULL};
    run(start);
    pid_t waiting = spawn(wait);
    settle(waiting);
    long long cpu0, switches0, cpu1, switches1;
    usage_of(waiting, &cpu0, &switches0);
    sleep((unsigned)seconds);
    usage_of(waiting, &cpu1, &switches1);
    run(stop);
    if (reap(waiting) != 0) {
        fputs("wakeup: wait failed\n", stderr);
        return 1;
    }
    printf("cpu_ns=%lld wakeups=%lld seconds=%d\n", cpu1 - cpu0, switches1 - switches0, seconds);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 5 || (strcmp(argv[1], "latency") != 0 && strcmp(argv[1], "idle") != 0) || atoi(argv[4]) < 1) {
        fputs("Usage: wakeup latency <tool> <document> <trials> | wakeup idle <tool> <document> <seconds>\n", stderr);
        return 2;
    }
    if (strcmp(argv[1], "latency") == 0) return latency(argv[2], argv[3], atoi(argv[4]));
    return idle(argv[2], argv[3], atoi(argv[4]));
}
