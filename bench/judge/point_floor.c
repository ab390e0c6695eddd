/* The least a judge can do for one test point, as a floor for qxj-judge's
 * cost per point: empty the work folder, copy the program and the input into
 * it, spawn the program there and wait, spawn the checker with the judge's
 * four arguments (input, answer, output, verdict) and wait, read the verdict.
 * No sandbox, no limits, no measuring.
 *
 * Usage: bench_point_floor PROBLEM_DIR EXECUTABLE CHECKER WORK_DIR POINTS
 * Points are PROBLEM_DIR/<k>.in and <k>.ans; the program reads sum.in and
 * writes sum.out. Prints the median time of a point in ms. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static double nowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int emptyFolder(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    return closedir(dir);
}

static int copyFile(const char *from, const char *to, mode_t mode)
{
    int in = open(from, O_RDONLY | O_CLOEXEC);
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    char buffer[65536];
    ssize_t n;
    int ok = in >= 0 && out >= 0;
    while (ok && (n = read(in, buffer, sizeof buffer)) > 0)
        ok = write(out, buffer, (size_t)n) == n;
    if (in >= 0)
        close(in);
    if (out >= 0)
        close(out);
    return ok ? 0 : -1;
}

static int spawnAndWait(const char *dir, char **argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir);
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, NULL, argv, environ) == 0)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

static int compareDoubles(const void *a, const void *b)
{
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: %s PROBLEM_DIR EXECUTABLE CHECKER WORK_DIR POINTS\n", argv[0]);
        return 2;
    }
    const char *problem = argv[1], *exe = argv[2], *checker = argv[3], *work = argv[4];
    const int points = atoi(argv[5]);
    if (points < 1)
        return 2;
    mkdir(work, 0755);
    double *ms = calloc((size_t)points, sizeof *ms);
    char in[4096], ans[4096], workExe[4096], workIn[4096], out[4096], verdict[4096];
    snprintf(workExe, sizeof workExe, "%s/sum", work);
    snprintf(workIn, sizeof workIn, "%s/sum.in", work);
    snprintf(out, sizeof out, "%s/sum.out", work);
    snprintf(verdict, sizeof verdict, "%s/check_info.txt", work);
    int accepted = 0;
    for (int k = 1; k <= points; ++k) {
        snprintf(in, sizeof in, "%s/%d.in", problem, k);
        snprintf(ans, sizeof ans, "%s/%d.ans", problem, k);
        const double start = nowMs();
        emptyFolder(work);
        copyFile(exe, workExe, 0755);
        copyFile(in, workIn, 0644);
        char *program[] = {workExe, NULL};
        spawnAndWait(work, program);
        char *check[] = {(char *)checker, in, ans, out, verdict, NULL};
        spawnAndWait(work, check);
        char line[256] = "";
        FILE *file = fopen(verdict, "r");
        if (file) {
            if (fgets(line, sizeof line, file))
                accepted += atof(line) >= 1.0 || line[0] == 'A';
            fclose(file);
        }
        ms[k - 1] = nowMs() - start;
    }
    qsort(ms, (size_t)points, sizeof *ms, compareDoubles);
    const double median = points % 2 ? ms[points / 2] : (ms[points / 2 - 1] + ms[points / 2]) / 2;
    printf("%.4f %d\n", median, accepted);
    free(ms);
    return 0;
}
