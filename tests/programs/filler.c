/* Tries to take all the disk it can from its work folder: space kept beyond
   a file's end (in the folder and on standard output), files as large as it
   may write until the space runs out, then empty files until the names run
   out. Reports what it got in fill.txt, after making room for it. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int keptSpace(int fd)
{
    return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1LL << 30) == 0 ? 0 : errno;
}

int main(void)
{
    static char chunk[1 << 20];
    memset(chunk, 'x', sizeof chunk);
    signal(SIGXFSZ, SIG_IGN);

    const int kept = open("kept.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int keptError = kept < 0 ? errno : keptSpace(kept);
    const int stdoutError = keptSpace(1);

    long long bytes = 0;
    int bytesError = 0;
    int junk = 0;
    for (; !bytesError && junk < 64; ++junk) {
        char name[32];
        snprintf(name, sizeof name, "junk%d", junk);
        const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            bytesError = errno;
            break;
        }
        for (;;) {
            const ssize_t written = write(fd, chunk, sizeof chunk);
            if (written > 0) {
                bytes += written;
                continue;
            }
            if (errno != EFBIG)
                bytesError = errno;
            break;
        }
        close(fd);
    }
    const int grown = open("grown.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int growError = grown < 0 ? errno : (fallocate(grown, 0, 0, 1LL << 30) == 0 ? 0 : errno);

    int files = 0;
    int filesError = 0;
    for (; files < 1000000; ++files) {
        char name[32];
        snprintf(name, sizeof name, "empty%d", files);
        const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            filesError = errno;
            break;
        }
        close(fd);
    }

    unlink("junk0");
    unlink("empty0");
    unlink("empty1");
    FILE *report = fopen("fill.txt", "w");
    if (!report)
        return 2;
    fprintf(report, "kept=%d\nstdout_kept=%d\nbytes=%lld\nbytes_error=%d\ngrow_error=%d\nfiles=%d\nfiles_error=%d\n",
            keptError, stdoutError, bytes, bytesError, growError, files, filesError);
    return fclose(report) == 0 ? 0 : 3;
}
