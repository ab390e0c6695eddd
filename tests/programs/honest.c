/* Writes 300 blocks of 16 KiB to out.txt, a little computing between them,
   and fails with exit code 4 on the first write that does not go through. */
#include <stdio.h>
#include <string.h>

int main(void)
{
    static char block[16 << 10];
    FILE *out = fopen("out.txt", "wb");
    if (!out)
        return 2;
    volatile unsigned long sink = 0;
    for (int i = 0; i < 300; ++i) {
        memset(block, 'a' + i % 26, sizeof block);
        if (fwrite(block, 1, sizeof block, out) != sizeof block || fflush(out) != 0)
            return 4;
        for (unsigned long k = 0; k < 2000000; ++k)
            sink += k;
    }
    return fclose(out) == 0 ? 0 : 5;
}
