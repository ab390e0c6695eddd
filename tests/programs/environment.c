/* Writes its whole environment to "environment.txt", one variable a line. */
#include <stdio.h>

extern char **environ;

int main(void)
{
    FILE *out = fopen("environment.txt", "w");
    if (!out)
        return 1;
    for (char **variable = environ; *variable; ++variable)
        fprintf(out, "%s\n", *variable);
    return fclose(out) == 0 ? 0 : 1;
}
