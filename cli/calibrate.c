/* qxj-calibrate: a fixed amount of CPU-bound work, the same on every machine,
   for a shard to time the way it times contestants' programs. Integer work in
   a table that fits the first-level cache: no system calls, no memory
   traffic, nothing but the core's speed. */
#include <stdint.h>

static uint32_t table[4096];

int main(void)
{
    uint32_t x = 2463534242u;
    uint32_t sum = 0;
    for (long i = 0; i < 12000000; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        table[x & 4095] += x;
        sum += table[(x >> 12) & 4095];
    }
    /* The result is used, so that none of the work can be left out. */
    return sum == 1u ? 1 : 0;
}
