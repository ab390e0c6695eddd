/* Puts its work where a judge watching only the first process would miss it:
   BURNERS: two children burn 1.8 s of user time each, never waited for (the
   parent looks until they have ended, without reaping them);
   HOLDER: a child holds 512 MB while the parent idles;
   ORPHANS: two children compute for ever, never waited for; the parent ends
   once each has 0.6 s of user time, however the machine shares its CPUs;
   RAW_THREADS: up to 2000 threads made with a raw clone, counted in
   "threads.txt". */
#define _GNU_SOURCE
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#if defined(BURNERS) || defined(ORPHANS)
#include <fcntl.h>
#include <sys/resource.h>

/* The user time a judge counts; asked rarely, so that little else is spent. */
static double userSeconds(void)
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
}
#endif

#if defined(RAW_THREADS)
static int sleepForever(void *unused)
{
    (void)unused;
    for (;;)
        pause();
    return 0;
}
#endif

int main(void)
{
#if defined(BURNERS)
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        if ((children[i] = fork()) == 0) {
            volatile unsigned long spin = 0;
            while ((++spin & 0xfffff) != 0 || userSeconds() < 1.8) {
            }
            return 0;
        }
    }
    /* Until both have ended, however busy the machine: looked at, never reaped. */
    const struct timespec nap = {0, 10000000};
    for (int ended = 0; ended < 2; nanosleep(&nap, 0)) {
        ended = 0;
        for (int i = 0; i < 2; ++i) {
            siginfo_t info;
            info.si_pid = 0;
            ended += waitid(P_PID, (id_t)children[i], &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
        }
    }
#elif defined(ORPHANS)
    int ready[2];
    if (pipe(ready) != 0)
        return 2;
    for (int i = 0; i < 2; ++i) {
        if (fork() == 0) {
            volatile unsigned long spin = 0;
            for (int told = 0;; ++spin) {
                if (!told && (spin & 0xfffff) == 0 && userSeconds() >= 0.6)
                    told = write(ready[1], "x", 1) == 1;
            }
        }
    }
    /* Napping, not blocked: a parent waiting on its busy children is not idle. */
    fcntl(ready[0], F_SETFL, O_NONBLOCK);
    const struct timespec nap = {0, 10000000};
    for (int told = 0; told < 2; nanosleep(&nap, 0)) {
        char byte;
        while (read(ready[0], &byte, 1) == 1)
            ++told;
    }
#elif defined(HOLDER)
    if (fork() == 0) {
        const size_t size = (size_t)512 << 20;
        volatile char *block = malloc(size);
        for (size_t i = 0; block && i < size; i += 4096)
            block[i] = 1;
        sleep(5);
        return 0;
    }
    sleep(3);
#elif defined(RAW_THREADS)
    int made = 0;
    for (int i = 0; i < 2000; ++i) {
        char *stack = mmap(NULL, 65536, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (stack == MAP_FAILED)
            break;
        const int flags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM;
        if (clone(sleepForever, stack + 65536, flags, NULL) < 0)
            break;
        ++made;
    }
    FILE *out = fopen("threads.txt", "w");
    if (out) {
        fprintf(out, "%d\n", made);
        fclose(out);
    }
#endif
    return 0;
}
