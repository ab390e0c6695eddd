/* Starts a thread and joins it, STARTS times; each thread touches STACK_MB
   MiB of its own stack (0: only sets a variable). */
#include <pthread.h>
#include <string.h>

static volatile int x;

static void *work(void *unused)
{
    (void)unused;
#if STACK_MB > 0
    char block[(size_t)STACK_MB << 20];
    memset(block, 1, sizeof block);
    __asm__ volatile("" : : "r"(block) : "memory");
    x = block[sizeof block / 2];
#else
    x = 1;
#endif
    return 0;
}

int main(void)
{
    for (int i = 0; i < STARTS; ++i) {
        pthread_t thread;
        if (pthread_create(&thread, 0, work, 0) != 0)
            return 2;
        pthread_join(thread, 0);
    }
    return x == 1 ? 0 : 3;
}
