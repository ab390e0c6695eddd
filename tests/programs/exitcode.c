int main(void)
{
    return EXIT_CODE;
}
