/* Holds memory outside its private writable mappings, then exits 0:
   SHARED_CHILD  a forked child touches 256 MiB of MAP_SHARED|MAP_ANONYMOUS
   SCRATCH       60 MiB of heap, 60 MiB written to /tmp, 60 MiB to /dev/shm
   SHM_MAPPED    a 60 MiB file of /dev/shm, mapped shared and touched
   BOX_MAPPED    a 200 MiB file it makes in its work folder, mapped shared
   TMP_AT_EXIT   100 MiB written to /tmp just before it exits */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MB (1024L * 1024L)

__attribute__((unused)) static void spin(long ms)
{
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    do
        clock_gettime(CLOCK_MONOTONIC, &now);
    while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < ms);
}

__attribute__((unused)) static int fillFile(const char *path, long bytes)
{
    static char chunk[1 << 20];
    memset(chunk, 7, sizeof chunk);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return 0;
    for (long done = 0; done < bytes; done += sizeof chunk) {
        if (write(fd, chunk, sizeof chunk) != (ssize_t)sizeof chunk)
            return 0;
    }
    return close(fd) == 0;
}

__attribute__((unused)) static char *mapTouched(const char *path, long bytes)
{
    const int fd = path ? open(path, O_RDWR | O_CREAT | O_TRUNC, 0600) : -1;
    if (path && (fd < 0 || ftruncate(fd, bytes) != 0))
        return 0;
    char *area = mmap(0, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | (path ? 0 : MAP_ANONYMOUS), fd, 0);
    if (area == MAP_FAILED)
        return 0;
    memset(area, 1, bytes);
    return area;
}

int main(void)
{
#if defined(SHARED_CHILD)
    const pid_t child = fork();
    if (child == 0) {
        if (!mapTouched(0, 256 * MB))
            _exit(2);
        spin(300);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
#elif defined(SCRATCH)
    char *heap = malloc(60 * MB);
    if (!heap)
        return 2;
    memset(heap, 1, 60 * MB);
    if (!fillFile("/tmp/hold", 60 * MB) || !fillFile("/dev/shm/hold", 60 * MB))
        return 3;
    spin(300);
    return heap[12345] == 1 ? 0 : 4;
#elif defined(SHM_MAPPED)
    if (!mapTouched("/dev/shm/hold", 60 * MB))
        return 2;
    spin(300);
    return 0;
#elif defined(BOX_MAPPED)
    if (!mapTouched("big.bin", 200 * MB))
        return 2;
    spin(300);
    return 0;
#elif defined(TMP_AT_EXIT)
    return fillFile("/tmp/hold", 100 * MB) ? 0 : 3;
#endif
}
