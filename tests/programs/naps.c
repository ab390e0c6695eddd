/* For 1.5 s: a small computation, then a 1 ms sleep, again and again. */
#include <time.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

volatile unsigned long counter;

int main(void)
{
    const struct timespec nap = {0, 1000000};
    const double end = now() + 1.5;
    while (now() < end) {
        for (int i = 0; i < 20000; ++i)
            ++counter;
        nanosleep(&nap, 0);
    }
    return 0;
}
