/* A fixed amount of work: the number of rounds is read from steady.in, so
   that the benchmark can calibrate it to a given CPU time. */
#include <stdio.h>

int main(void)
{
    long long rounds = 0;
    FILE *in = fopen("steady.in", "r");
    if (!in || fscanf(in, "%lld", &rounds) != 1)
        return 1;
    volatile unsigned long long sum = 0;
    for (long long i = 0; i < rounds; ++i)
        sum += (unsigned long long)i * i;
    FILE *out = fopen("steady.out", "w");
    fputs("ok\n", out);
    fclose(out);
    return 0;
}
