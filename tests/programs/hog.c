/* Allocates HOG_MB MiB and touches every page, then exits. */
#include <stdlib.h>
#include <string.h>

int main(void)
{
    const size_t bytes = (size_t)HOG_MB << 20;
    char *block = malloc(bytes);
    if (!block)
        return 2;
    memset(block, 1, bytes);
    __asm__ volatile("" : : "r"(block) : "memory");
    return block[bytes / 2] == 1 ? 0 : 3;
}
