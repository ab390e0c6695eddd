/* Touches BURST_MB MiB, frees it at once, then computes for 0.3 s of CPU. */
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double cpuSeconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

volatile unsigned long counter;

int main(void)
{
    const size_t bytes = (size_t)BURST_MB << 20;
    char *block = malloc(bytes);
    if (!block)
        return 2;
    memset(block, 1, bytes);
    __asm__ volatile("" : : "r"(block) : "memory");  /* the pages are really touched */
    free(block);
    const double end = cpuSeconds() + 0.3;
    while (cpuSeconds() < end) {
        for (int i = 0; i < 100000; ++i)
            ++counter;
    }
    return 0;
}
