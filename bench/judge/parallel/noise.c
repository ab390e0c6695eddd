/* The neighbour: "cpu N" computes like steady.c, "mem N" sweeps a 256 MB
   buffer N times, one cache line at a time, keeping the memory bus busy. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void)
{
    char mode[8] = "";
    long long n = 0;
    FILE *in = fopen("noise.in", "r");
    if (!in || fscanf(in, "%7s %lld", mode, &n) != 2)
        return 1;
    volatile unsigned long long sum = 0;
    if (mode[0] == 'm') {
        const size_t size = (size_t)256 << 20;
        unsigned char *buffer = malloc(size);
        if (!buffer)
            return 2;
        memset(buffer, 1, size);
        for (long long round = 0; round < n; ++round) {
            for (size_t i = 0; i < size; i += 64)
                buffer[i] += (unsigned char)round;
        }
        sum = buffer[size / 3];
    } else {
        for (long long i = 0; i < n; ++i)
            sum += (unsigned long long)i * i;
    }
    FILE *out = fopen("noise.out", "w");
    fputs("ok\n", out);
    fclose(out);
    return 0;
}
