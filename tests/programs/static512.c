/* A 512 MiB static array of which only 1 MiB is ever touched. */
static char big[512u << 20];

int main(void)
{
    for (unsigned i = 0; i < (1u << 20); i += 4096)
        big[i] = 1;
    return big[4096] == 1 ? 0 : 3;
}
