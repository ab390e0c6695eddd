/* Computes until its own CPU clock reads CPU_MS milliseconds. The clock is
   read every millisecond or so, so that nearly all of that time is user time
   (each read is a system call). */
#include <time.h>

volatile unsigned long counter;

int main(void)
{
    struct timespec t;
    do {
        for (int i = 0; i < 1000000; ++i)
            ++counter;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    } while (t.tv_sec * 1000.0 + t.tv_nsec / 1e6 < CPU_MS);
    return 0;
}
