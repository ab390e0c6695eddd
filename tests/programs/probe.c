/* Reports how it was started, as "key=value" lines in "probe.txt". */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

static int isNullDevice(int fd, const struct stat *null)
{
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == null->st_rdev;
}

static unsigned long long softLimit(int resource)
{
    struct rlimit limit;
    getrlimit(resource, &limit);
    return limit.rlim_cur == RLIM_INFINITY ? 0ULL - 1 : (unsigned long long)limit.rlim_cur;
}

int main(int argc, char **argv)
{
    (void)argv;
    char byte;
    const ssize_t got = read(0, &byte, 1);

    struct stat null;
    stat("/dev/null", &null);
    const int nullStreams = isNullDevice(0, &null) && isNullDevice(1, &null) && isNullDevice(2, &null);

    int extraFds = 0;
    for (int fd = 3; fd < 1024; ++fd)
        extraFds += fcntl(fd, F_GETFD) != -1;

    sigset_t blocked;
    sigprocmask(SIG_BLOCK, 0, &blocked);
    int blockedCount = 0;
    for (int s = 1; s < NSIG; ++s)
        blockedCount += sigismember(&blocked, s) == 1;
    struct sigaction pipeAction;
    sigaction(SIGPIPE, 0, &pipeAction);

    char cwd[4096] = "";
    if (!getcwd(cwd, sizeof cwd))
        cwd[0] = 0;

    FILE *out = fopen("probe.txt", "w");
    if (!out)
        return 2;
    fprintf(out, "args=%d\n", argc);
    fprintf(out, "stdin=%s\n", got == 0 ? "eof" : got > 0 ? "data" : "error");
    fprintf(out, "null=%d\n", nullStreams);
    fprintf(out, "fds=%d\n", extraFds);
    fprintf(out, "session=%d\n", getsid(0) == getpid());
    fprintf(out, "core=%llu\n", softLimit(RLIMIT_CORE));
    fprintf(out, "stack=%llu\n", softLimit(RLIMIT_STACK));
    fprintf(out, "fsize=%llu\n", softLimit(RLIMIT_FSIZE));
    fprintf(out, "cpu=%llu\n", softLimit(RLIMIT_CPU));
    fprintf(out, "blocked=%d\n", blockedCount);
    fprintf(out, "sigpipe=%s\n", pipeAction.sa_handler == SIG_DFL ? "default" : "changed");
    fprintf(out, "cwd=%s\n", cwd);
    fprintf(out, "uid=%d\n", (int)getuid());
    /* What a hostile program would try: signal the judge, write beside its
       work directory. */
    fprintf(out, "signal_judge=%d\n", kill(getppid(), 0) == 0);
    const int escape = open("../probe_escape.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    fprintf(out, "escape=%d\n", escape >= 0);
    return fclose(out) == 0 ? 0 : 3;
}
