/* Starts three long sleepers that try to outlive it: a plain child, a child
   in a session of its own, and a grandchild whose parent exits at once.
   Each reports its pid; the list goes to "pids.txt". Then exits, or loops
   forever with FAMILY_THEN_LOOP. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

static int report[2];

static void sleeper(void)
{
    const pid_t self = getpid();
    if (write(report[1], &self, sizeof self) != sizeof self)
        _exit(1);
    for (;;)
        pause();
}

int main(void)
{
    if (pipe(report) != 0)
        return 2;
    if (fork() == 0)
        sleeper();
    if (fork() == 0) {
        setsid();
        sleeper();
    }
    const pid_t middle = fork();
    if (middle == 0) {
        if (fork() == 0)
            sleeper();
        _exit(0);
    }
    waitpid(middle, 0, 0);

    FILE *list = fopen("pids.txt", "w");
    if (!list)
        return 3;
    for (int i = 0; i < 3; ++i) {
        pid_t pid;
        if (read(report[0], &pid, sizeof pid) != sizeof pid)
            return 4;
        fprintf(list, "%d\n", (int)pid);
    }
    fclose(list);
#ifdef FAMILY_THEN_LOOP
    for (volatile unsigned long n = 0;; ++n) {
    }
#endif
    return 0;
}
