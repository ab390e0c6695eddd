#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Tries every split, remembering all products in a table far too large. */
int main(void)
{
    FILE *in = fopen("split.in", "r");
    FILE *out = fopen("split.out", "w");
    long n, a, best = 1;
    size_t size = 100u << 20;
    long *products = malloc(size);
    if (!products)
        return 1;
    memset(products, 0, size);
    fscanf(in, "%ld", &n);
    for (a = 1; a < n && a < (long)(size / sizeof *products); a++) {
        products[a] = a * (n - a);
        if (products[a] > products[best])
            best = a;
    }
    fprintf(out, "%ld %ld\n", best, n - best);
    return 0;
}
