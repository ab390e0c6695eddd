/* cputime FILE COMMAND [ARGUMENT...]: runs the command and appends to FILE
   the CPU seconds, user and system, that it and every process it waited for
   used, with its wall time: "cpu 12.345678 wall 20.123456". Exits as the
   command did. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds(struct timeval t)
{
    return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: cputime FILE COMMAND [ARGUMENT...]\n");
        return 2;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid < 0)
        return 2;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    FILE *out = fopen(argv[1], "a");
    if (out) {
        fprintf(out, "cpu %.6f wall %.6f\n", seconds(usage.ru_utime) + seconds(usage.ru_stime),
                (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9);
        fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
