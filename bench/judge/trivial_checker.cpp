// The least a checker can do: accept, writing its verdict to the fourth argument.
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    std::FILE *verdict = std::fopen(argv[4], "w");
    if (!verdict)
        return 1;
    std::fputs("1\nok\n", verdict);
    return std::fclose(verdict) == 0 ? 0 : 1;
}
