/* Starts 100 short-lived children one after another and writes how many
   could be started to "forks.txt". */
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

int main(void)
{
    int started = 0;
    for (int i = 0; i < 100; ++i) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(0);
        if (pid > 0) {
            ++started;
            waitpid(pid, 0, 0);
        }
    }
    FILE *out = fopen("forks.txt", "w");
    if (!out)
        return 3;
    fprintf(out, "%d\n", started);
    fclose(out);
    return 0;
}
