/* Puts its work where a judge watching only the first process would miss it:
   BURNERS: two children burn 1.8 s of CPU each, never waited for;
   HOLDER: a child holds 512 MB while the parent idles;
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
#include <time.h>
#include <unistd.h>

#if defined(BURNERS)
static double cpuSeconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
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
    for (int i = 0; i < 2; ++i) {
        if (fork() == 0) {
            volatile unsigned long spin = 0;
            while (cpuSeconds() < 1.8)
                ++spin;
            return 0;
        }
    }
    sleep(3);
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
