#include <unistd.h>

int main(void)
{
    sleep(10);
    return 0;
}
