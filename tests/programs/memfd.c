/* Fills MEMFD_MB MiB of memfd files through 1 MiB windows, keeping the files
   but never more than one window mapped, then exits. */
#define _GNU_SOURCE
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

int main(void)
{
    const size_t window = 1 << 20;
    const size_t perFile = 64;  /* windows */
    for (size_t done = 0; done < MEMFD_MB;) {
        const int fd = memfd_create("hold", 0);
        if (fd < 0 || ftruncate(fd, (off_t)(perFile * window)) != 0)
            return 2;
        for (size_t i = 0; i < perFile && done < MEMFD_MB; ++i, ++done) {
            char *part = mmap(0, window, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)(i * window));
            if (part == MAP_FAILED)
                return 2;
            memset(part, 1, window);
            munmap(part, window);
        }
    }
    return 0;
}
