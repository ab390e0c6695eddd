volatile unsigned long counter;

int main(void)
{
    for (;;)
        ++counter;
}
