/* Writes 300 MiB to a file in its work directory. */
#include <stdio.h>
#include <string.h>

int main(void)
{
    static char chunk[1 << 20];
    memset(chunk, 'x', sizeof chunk);
    FILE *out = fopen("out.txt", "wb");
    if (!out)
        return 2;
    for (int i = 0; i < 300; ++i) {
        if (fwrite(chunk, 1, sizeof chunk, out) != sizeof chunk)
            return 4;
    }
    return fclose(out) == 0 ? 0 : 5;
}
