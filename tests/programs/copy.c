/* Copies its standard input to its standard output. */
#include <unistd.h>

int main(void)
{
    static char buffer[1 << 16];
    ssize_t got;
    while ((got = read(0, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const ssize_t put = write(1, buffer + at, (size_t)(got - at));
            if (put < 0)
                return 2;
            at += put;
        }
    }
    return got < 0 ? 3 : 0;
}
