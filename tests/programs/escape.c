/* Tries what a contestant's program must not manage, and reports each try as
   "name=1" (it worked) or "name=0" in "escape.txt". What to reach is read from
   "targets.txt": a file of the contest, a file of the judge's home, and a TCP
   port the judge listens on at 127.0.0.1. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static int canRead(const char *path)
{
    const int fd = open(path, O_RDONLY);
    char byte;
    const int ok = fd >= 0 && read(fd, &byte, 1) >= 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

static int canCreate(const char *path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 0;
    const int ok = write(fd, "x", 1) == 1;
    close(fd);
    return ok;
}

static int canConnect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int ok = connect(fd, (struct sockaddr *)&address, sizeof address) == 0;
    close(fd);
    return ok;
}

static int otherProcesses(void)
{
    DIR *dir = opendir("/proc");
    if (!dir)
        return 0;
    int count = 0;
    const long self = (long)getpid();
    for (struct dirent *e; (e = readdir(dir));) {
        char *end;
        const long pid = strtol(e->d_name, &end, 10);
        /* the run's own init is not another program */
        if (pid > 1 && *end == 0 && pid != self)
            ++count;
    }
    closedir(dir);
    return count;
}

int main(void)
{
    char contestFile[4096] = "", homeFile[4096] = "";
    int port = 0;
    FILE *targets = fopen("targets.txt", "r");
    if (!targets || fscanf(targets, "%4095[^\n]\n%4095[^\n]\n%d", contestFile, homeFile, &port) != 3)
        return 2;
    fclose(targets);

    struct rlimit cpu;
    getrlimit(RLIMIT_CPU, &cpu);
    struct rlimit raised = {RLIM_INFINITY, RLIM_INFINITY};

    FILE *out = fopen("escape.txt", "w");
    if (!out)
        return 3;
    fprintf(out, "contest=%d\n", canRead(contestFile));
    fprintf(out, "parent=%d\n", canRead("../data/secret.ans"));
    fprintf(out, "home=%d\n", canRead(homeFile));
    fprintf(out, "shadow=%d\n", canRead("/etc/shadow"));
    fprintf(out, "passwd=%d\n", canRead("/etc/passwd"));
    fprintf(out, "write_usr=%d\n", canCreate("/usr/qxj-escape"));
    fprintf(out, "write_root=%d\n", canCreate("/qxj-escape"));
    fprintf(out, "write_parent=%d\n", canCreate("../qxj-escape"));
    fprintf(out, "write_tmp=%d\n", canCreate("/tmp/qxj-escape"));
    fprintf(out, "write_shm=%d\n", canCreate("/dev/shm/qxj-escape"));
    fprintf(out, "connect=%d\n", canConnect(port));
    fprintf(out, "others=%d\n", otherProcesses());
    fprintf(out, "raise_limit=%d\n", setrlimit(RLIMIT_CPU, &raised) == 0 && cpu.rlim_max != RLIM_INFINITY);
    fprintf(out, "kill_all=%d\n", kill(-1, SIGKILL) == 0);
    /* a user namespace of its own would give it every capability inside */
    fprintf(out, "new_namespace=%d\n", unshare(CLONE_NEWUSER) == 0);
    fprintf(out, "done=1\n");
    fclose(out);
    return 0;
}
