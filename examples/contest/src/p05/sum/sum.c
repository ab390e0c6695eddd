#include <stdio.h>

int main(void)
{
    FILE *in = fopen("sum.in", "r");
    FILE *out = fopen("sum.out", "w");
    long long n, x, s = 0
    fscanf(in, "%lld", &n);
    while (n-- > 0 && fscanf(in, "%lld", &x) == 1)
        s += x;
    fprintf(out, "%lld\n", s);
    return 0;
}
