#include <fstream>

int main()
{
    std::ifstream in("sum.in");
    std::ofstream out("sum.out");
    long long n = 0, x = 0, total = 0;
    in >> n;
    for (long long i = 0; i < n && in >> x; ++i)
        total += x;
    out << total << '\n';
}
