/* Uses no CPU: sleeps SLEEP_MS (default 10 s), or with BLOCKED waits for a
   signal that never comes. */
#include <time.h>
#include <unistd.h>

#ifndef SLEEP_MS
#define SLEEP_MS 10000
#endif

int main(void)
{
#if defined(BLOCKED)
    for (;;)
        pause();
#else
    const struct timespec nap = {SLEEP_MS / 1000, (SLEEP_MS % 1000) * 1000000L};
    nanosleep(&nap, 0);
#endif
    return 0;
}
