#include <stdio.h>

int main(void)
{
    FILE *in = fopen("split.input", "r");  /* wrong file name: in is NULL */
    FILE *out = fopen("split.out", "w");
    long n;
    fscanf(in, "%ld", &n);
    fprintf(out, "%ld %ld\n", n / 2, n - n / 2);
    return 0;
}
