#include <stdio.h>

int main(void)
{
    long n, a, b;
    FILE *in = fopen("split.in", "r");
    FILE *out = fopen("split.out", "w");
    fscanf(in, "%ld", &n);
    b = n / 2;
    a = n - b;
    fprintf(out, "%ld %ld\n", a, b);
    fclose(out);
    return 0;
}
