#include <stdio.h>

/* Adds one at a time: right, but far too slow for big numbers. */
int main(void)
{
    FILE *in = fopen("sum.in", "r");
    FILE *out = fopen("sum.out", "w");
    long long n, x, k, s = 0;
    fscanf(in, "%lld", &n);
    while (n-- > 0 && fscanf(in, "%lld", &x) == 1)
        for (k = 0; k < x; k++)
            s++;
    fprintf(out, "%lld\n", s);
    return 0;
}
