/* Dies by a signal: SIGSEGV, SIGABRT from a failed assert, or SIGFPE. */
#undef NDEBUG
#include <assert.h>

volatile int zero = 0;
volatile int one = 1;

int main(void)
{
#if defined(CRASH_SEGV)
    *(volatile int *)(long)zero = 1;
#elif defined(CRASH_ASSERT)
    assert(zero == 1);
#elif defined(CRASH_FPE)
    return one / zero;
#endif
    return 0;
}
