/* Busy for 1.5 s of wall time, almost all of it in system calls. */
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(void)
{
    const double end = now() + 1.5;
    while (now() < end) {
        for (int i = 0; i < 1000; ++i)
            syscall(SYS_getppid);
    }
    return 0;
}
