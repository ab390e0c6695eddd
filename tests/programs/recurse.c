/* 1,000,000 nested calls; built without optimisation so each keeps its frame. */
static int depth(int n)
{
    volatile int local = n;
    if (n == 0)
        return 0;
    return depth(n - 1) + (local & 1);
}

int main(void)
{
    return depth(1000000) == 500000 ? 0 : 3;
}
